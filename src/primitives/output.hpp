#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace boxwalk {

// Why output could not be written.
struct WriteFailure {
    bool closed_pipe = false;  // the reader went away; ends the run quietly
    std::string message;       // "{system message} (os error {code})"
};

// What a line shows, for viewers that map lines to the file.
enum class LineKind : std::uint8_t {
    none,       // a line that shows no bytes of the file
    moov,       // the first top-level moov
    child,      // an atom directly inside that moov
    container,  // an atom walked into: meta, udta, trak, ...
    item_list,  // ilst, whose items are decoded
    xtra,       // Xtra, whose entries are decoded
    leaf,       // any other atom, with a preview of its payload
    item,       // an ilst item other than ----
    freeform,   // a ---- item
    entry,      // an Xtra entry
    malformed,  // an atom or Xtra entry that does not fit where it stands
};

// Bytes of the file: [pos, pos + size).
struct FileRange {
    std::uint64_t pos = 0;
    std::uint64_t size = 0;
};

// Where a line's bytes lie and what they hold. An atom or an entry lies as
// its header declares it, so possibly reaching past the file; the other
// ranges lie inside it and were checked as the line was.
struct Located {
    Located() = default;
    Located(LineKind line_kind, FileRange line_bytes, std::array<char, 4> type_chars = {})
        : kind(line_kind), bytes(line_bytes), type(type_chars) {}

    LineKind kind = LineKind::none;
    FileRange bytes;
    std::array<char, 4> type{};  // an atom's type code text
    // The tag's key as stored: an item's four type bytes, a ---- item's mean
    // text, an Xtra entry's name.
    std::optional<FileRange> key;
    std::optional<FileRange> name;  // a ---- item's name text
    // An item's value (its data child after the type indicator and locale),
    // or the data of an Xtra entry's first value, with the type of either.
    std::optional<FileRange> value;
    std::uint32_t value_type = 0;
};

// Where lines go. Text is UTF-8 and may hold any character, NUL and line
// feed included, when it comes from the file or the command line; so every
// write carries its length, and the break that ends a line is a call of its
// own. Text may be cut anywhere between writes, inside a UTF-8 sequence too:
// a sink that treats characters (a terminal's escaping, a console's wide
// text) joins them again. A console sink decides buffering and escaping,
// and keeps the first write failure for the driver to report.
class Output {
public:
    virtual ~Output() = default;
    // Appends `text` to the current line.
    virtual void write(std::string_view text) = 0;
    // Ends the current line.
    virtual void end_line() = 0;
    void line(std::string_view text) {
        write(text);
        end_line();
    }
    // Pushes out anything buffered; the first failed write, if there was one.
    virtual std::optional<WriteFailure> flush() { return std::nullopt; }
    // Called before a line that shows bytes of the file, with what they are.
    // For viewers that map lines to the file; a console ignores it.
    virtual void locate(const Located& line) { static_cast<void>(line); }
};

// Gathers short pieces of one line (digits, a character's bytes) in a small
// buffer and hands them to `out` in few writes. The rest is written by
// flush() or when the writer goes away.
class PieceWriter {
public:
    explicit PieceWriter(Output& out) : out_(out) {}
    ~PieceWriter() { flush(); }
    PieceWriter(const PieceWriter&) = delete;
    PieceWriter& operator=(const PieceWriter&) = delete;

    void put(std::string_view piece) {
        if (piece.empty()) {
            return;  // its pointer may be null, which memcpy must not get
        }
        if (piece.size() > sizeof text_ - used_) {
            flush();
            if (piece.size() > sizeof text_) {
                out_.write(piece);
                return;
            }
        }
        std::memcpy(text_ + used_, piece.data(), piece.size());
        used_ += piece.size();
    }
    void put(char c) {
        if (used_ == sizeof text_) {
            flush();
        }
        text_[used_++] = c;
    }
    void flush() {
        if (used_ != 0) {
            out_.write(std::string_view(text_, used_));
            used_ = 0;
        }
    }

private:
    Output& out_;
    char text_[256];
    std::size_t used_ = 0;
};

// Collects everything written, for tests.
class StringOutput final : public Output {
public:
    void write(std::string_view text) override { text_.append(text); }
    void end_line() override { text_.push_back('\n'); }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// Everything that `write` sends to the Output it is given, as one string.
template <typename Write>
std::string written_text(Write write) {
    StringOutput out;
    write(out);
    return out.text();
}

}  // namespace boxwalk
