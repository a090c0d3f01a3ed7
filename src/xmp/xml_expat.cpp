// The XML parser of the native programs on Linux and the like: expat, with
// no entity resolved (a DOCTYPE, where entities would be declared, stops
// the parse) and nothing fetched (no handler for external entities).
#include <expat.h>

#include <memory>
#include <vector>

#include "primitives/render.hpp"
#include "xmp/xml.hpp"

namespace boxwalk::xml {
namespace {

struct Parse {
    XML_Parser parser = nullptr;
    Events* events = nullptr;
    std::vector<Attribute> attributes;
    bool doctype = false;

    // The bytes of the event at hand.
    Span current() const {
        const XML_Index at = XML_GetCurrentByteIndex(parser);
        const int count = XML_GetCurrentByteCount(parser);
        if (at < 0 || count < 0) {
            return {};
        }
        return {static_cast<std::size_t>(at),
                static_cast<std::size_t>(at) + static_cast<std::size_t>(count)};
    }
};

void XMLCALL on_start(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto& parse = *static_cast<Parse*>(data);
    parse.attributes.clear();
    for (const XML_Char** each = attributes; each[0] != nullptr; each += 2) {
        parse.attributes.push_back({each[0], each[1]});
    }
    parse.events->start(name, parse.attributes, parse.current());
}

void XMLCALL on_end(void* data, const XML_Char*) {
    auto& parse = *static_cast<Parse*>(data);
    parse.events->end(parse.current());
}

void XMLCALL on_text(void* data, const XML_Char* text, int length) {
    auto& parse = *static_cast<Parse*>(data);
    parse.events->text(std::string_view(text, static_cast<std::size_t>(length)), parse.current());
}

void XMLCALL on_doctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    auto& parse = *static_cast<Parse*>(data);
    parse.doctype = true;
    XML_StopParser(parse.parser, XML_FALSE);
}

struct Free {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

}  // namespace

std::optional<std::string> parse(std::string_view document, Events& events) {
    // UTF-8 whatever the document declares: the text has been made UTF-8.
    const std::unique_ptr<XML_ParserStruct, Free> parser(XML_ParserCreate("UTF-8"));
    if (!parser) {
        return "out of memory";
    }
    Parse parse{parser.get(), &events, {}, false};
    XML_SetUserData(parser.get(), &parse);
    XML_SetElementHandler(parser.get(), on_start, on_end);
    XML_SetCharacterDataHandler(parser.get(), on_text);
    XML_SetStartDoctypeDeclHandler(parser.get(), on_doctype);
    XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);
    // expat takes its input in pieces counted by an int.
    constexpr std::size_t kPiece = std::size_t{1} << 30;
    XML_Status status = XML_STATUS_OK;
    do {
        const std::size_t size = std::min(document.size(), kPiece);
        const bool last = size == document.size();
        status = XML_Parse(parser.get(), document.data(), static_cast<int>(size), last);
        document.remove_prefix(size);
    } while (status == XML_STATUS_OK && !document.empty());
    if (parse.doctype) {
        return "declares a DOCTYPE, which is refused";
    }
    if (status != XML_STATUS_OK) {
        const XML_Index at = XML_GetCurrentByteIndex(parser.get());
        return std::string(XML_ErrorString(XML_GetErrorCode(parser.get()))) + " at byte " +
               decimal(at < 0 ? 0 : static_cast<std::uint64_t>(at));
    }
    return std::nullopt;
}

}  // namespace boxwalk::xml
