#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "contract/contract.hpp"

namespace boxwalk {

// Why output could not be written.
struct WriteFailure {
    bool closed_pipe = false;  // the reader went away; ends the run quietly
    std::string message;       // "{system message} (os error {code})"
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
// own.
//
// Writers format straight into the output's own buffer: write() and put()
// copy, room() and commit() let digits and characters be made in place. A
// sink sees the text only when the buffer is handed on to it (hand_on): the
// first `capacity` bytes whenever that many are waiting, whatever is left
// on flush(), and for a sink that works by lines, each line's text at its
// end (line_ended). Handed-on text may be cut anywhere, inside a UTF-8
// sequence too: a sink that treats characters (a terminal's escaping, a
// console's wide text) joins them again. A console sink decides buffering
// and escaping, and keeps the first write failure for the driver to report.
class Output {
public:
    // Bytes that a writer may format in place at once, after room(): a
    // leaf's whole line fits (the walker checks it against its text).
    static constexpr std::size_t kRoom = 512;

    virtual ~Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // Appends `text` to the current line.
    void write(std::string_view text) {
        if (text.size() > kShortWrite) {
            write_long(text);
            return;
        }
        copy_short(next_, text.data(), text.size());
        commit(next_ + text.size());
    }
    void put(char c) {
        *next_++ = c;
        if (next_ == limit_) {
            spill();
        }
    }
    // Appends `count` copies of `c`, in steps of the room.
    void fill(char c, std::size_t count) {
        for (std::size_t step = 0; count > 0; count -= step) {
            step = count < kRoom ? count : kRoom;
            std::memset(next_, c, step);
            commit(next_ + step);
        }
    }
    // Where up to kRoom bytes may be formatted in place; commit() then takes
    // the bytes up to `end`.
    char* room() { return next_; }
    void commit(char* end) {
        next_ = end;
        if (next_ >= limit_) {
            spill();
        }
    }

    // Ends the current line.
    void end_line() {
        if (by_line_) {
            line_ended();
        } else {
            put('\n');
        }
    }
    // Ends the current line formatted in place up to `end` (see room()):
    // commit(end) and end_line(), the line end stored with the rest when it
    // goes into the buffer.
    void commit_line(char* end) {
        if (by_line_) {
            commit(end);
            line_ended();
        } else {
            *end = '\n';
            commit(end + 1);
        }
    }
    void line(std::string_view text) {
        write(text);
        end_line();
    }

    // Hands on anything buffered; the first failed write, if there was one.
    virtual std::optional<WriteFailure> flush() {
        drain();
        return std::nullopt;
    }
    // Called before a line that shows bytes of the file, with what they are.
    // For viewers that map lines to the file (see located()); a sink made
    // without `locates`, a console, costs no call per line.
    void locate(const Located& line) {
        if (locates_) {
            located(line);
        }
    }
    // Whether locate() is heard: a hot loop builds what it passes only then.
    bool locates() const { return locates_; }
    // Whether the sink takes every value of an item (another_value), not
    // only the first, which the line shows. Those values are read only for
    // a sink that asks, as no line of the console shows them.
    virtual bool wants_every_value() const { return false; }
    // After locate(), before the line's text: an item's next value and its
    // type, or none for values beyond those reported.
    virtual void another_value(std::optional<FileRange> value, std::uint32_t type) {
        static_cast<void>(value);
        static_cast<void>(type);
    }

protected:
    // A buffer of `capacity` bytes (at least 1); with `by_line`, line ends
    // go to line_ended() instead of into the buffer; with `locates`, each
    // line's range goes to located().
    explicit Output(std::size_t capacity, bool by_line = false, bool locates = false);

    // Takes text that leaves the buffer, in the order written.
    virtual void hand_on(std::string_view text) = 0;
    // The current line ends: the text written since the last hand-on is in
    // buffered(). Called only for a sink made `by_line`.
    virtual void line_ended() {}
    // What the line that follows shows (see locate). Called only for a
    // sink made `locates`.
    virtual void located(const Located& line) { static_cast<void>(line); }

    std::string_view buffered() const {
        return std::string_view(buffer_.get(), static_cast<std::size_t>(next_ - buffer_.get()));
    }
    // Empties the buffer without handing it on.
    void discard() { next_ = buffer_.get(); }
    // Hands on what the buffer holds, if anything, and empties it.
    void drain();

private:
    // Most pieces of a line are short, and a copy of a size known only when
    // it runs is a library call that costs more than the copy (see
    // bench/README.md): up to kShortWrite bytes are copied here, in two
    // copies of a fixed size that may overlap.
    static constexpr std::size_t kShortWrite = 32;
    static void copy_short(char* to, const char* from, std::size_t size) {
        if (size >= 16) {
            std::memcpy(to, from, 16);
            std::memcpy(to + size - 16, from + size - 16, 16);
        } else if (size >= 8) {
            std::memcpy(to, from, 8);
            std::memcpy(to + size - 8, from + size - 8, 8);
        } else if (size >= 4) {
            std::memcpy(to, from, 4);
            std::memcpy(to + size - 4, from + size - 4, 4);
        } else if (size > 0) {
            to[0] = from[0];
            to[size / 2] = from[size / 2];
            to[size - 1] = from[size - 1];
        }
    }
    void write_long(std::string_view text);
    void spill();

    // kRoom bytes past the limit take what room() formats beyond it.
    std::unique_ptr<char[]> buffer_;
    char* next_;
    char* limit_;
    bool by_line_;
    bool locates_;
};

// Formatting in place (see Output::room): each places its text at `at` and
// returns where it ends.
inline char* place(char* at, std::string_view text) {
    std::memcpy(at, text.data(), text.size());
    return at + text.size();
}

// The most digits of a 64-bit number in decimal.
inline constexpr std::size_t kLongestDecimal = 20;

inline char* place_decimal(char* at, std::uint64_t value) {
    return std::to_chars(at, at + kLongestDecimal, value).ptr;
}

// Collects everything written, for tests.
class StringOutput final : public Output {
public:
    StringOutput() : Output(256) {}
    const std::string& text() {
        drain();
        return text_;
    }

private:
    void hand_on(std::string_view text) override { text_.append(text); }

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
