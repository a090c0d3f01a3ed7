#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// An XML parser as the XMP reader needs one: events for elements and text,
// with where each lies in the document, from a kept parser picked in CMake
// (expat, or XmlLite on Windows). No entity is resolved and nothing is
// fetched: a document that declares a DOCTYPE is refused outright.
namespace boxwalk::xml {

// Bytes of the document: [begin, end). Empty (begin == end == kNowhere)
// where the parser cannot say.
inline constexpr std::size_t kNowhere = ~std::size_t{0};
struct Span {
    std::size_t begin = kNowhere;
    std::size_t end = kNowhere;

    bool known() const { return begin != kNowhere && end != kNowhere && begin <= end; }
};

// An attribute as written: its qualified name and its value, references
// replaced.
struct Attribute {
    std::string_view name;
    std::string_view value;
};

// What the parser meets, in document order. Names are qualified names as
// written (dc:title); text is UTF-8.
class Events {
public:
    virtual ~Events() = default;
    // A start tag (or an empty-element tag) and its attributes; `tag` is
    // the tag's bytes.
    virtual void start(std::string_view name, std::span<const Attribute> attributes, Span tag) = 0;
    // The end of the element last started and not ended: its end tag's bytes
    // (after an empty-element tag, an empty span where it ends).
    virtual void end(Span tag) = 0;
    // Character data, in one or more pieces; `raw` is the piece's bytes as
    // written (a reference as written, before it is replaced).
    virtual void text(std::string_view text, Span raw) = 0;
};

// Parses `document`, UTF-8 whatever it declares, handing what it meets to
// `events`. Empty when the document is well-formed and declares no
// DOCTYPE; otherwise what is wrong, in words ("not well-formed (invalid
// token) at byte 12"); the events up to there have been handed on.
std::optional<std::string> parse(std::string_view document, Events& events);

}  // namespace boxwalk::xml
