#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "primitives/bytes.hpp"
#include "primitives/output.hpp"

namespace boxwalk {

// Each byte's two lower-case hex digits, then a space and a filler: four
// bytes a byte, so that a dump with spaces between the bytes places each
// with one four-byte copy, whose last byte the next byte overwrites.
inline constexpr auto kHexDigits = [] {
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::array<std::array<char, 4>, 256> digits{};
    for (std::size_t byte = 0; byte < digits.size(); ++byte) {
        digits[byte] = {kDigits[byte >> 4], kDigits[byte & 0x0F], ' ', ' '};
    }
    return digits;
}();

// Bytes as the characters they hold, for writing.
inline std::string_view as_chars(ByteView bytes) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Writes the UTF-8 encoding of `code_point`, which must be a scalar value
// (not a surrogate, at most U+10FFFF), at `at`; the end of its 1 to 4 bytes.
char* encode_utf8(char32_t code_point, char* at);

// Appends the UTF-8 encoding of `code_point`, a scalar value.
void append_utf8(std::string& text, char32_t code_point);
inline void write_utf8(Output& out, char32_t code_point) {
    if (code_point < 0x80) {
        out.put(static_cast<char>(code_point));
    } else {
        out.commit(encode_utf8(code_point, out.room()));
    }
}

// Decodes the UTF-16 code units unit_at(0) .. unit_at(count - 1), handing
// each code point to `emit`: a high surrogate followed by a low one is one
// code point, and every other surrogate unit is U+FFFD (the unit after an
// unpaired high surrogate is decoded on its own).
template <typename UnitAt, typename Emit>
void decode_utf16(std::size_t count, UnitAt&& unit_at, Emit&& emit) {
    const auto is_high = [](char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; };
    const auto is_low = [](char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
    for (std::size_t i = 0; i < count; ++i) {
        const char32_t unit = unit_at(i);
        if (is_high(unit) && i + 1 < count && is_low(unit_at(i + 1))) {
            emit(0x10000 + ((unit - 0xD800) << 10) + (unit_at(i + 1) - 0xDC00));
            ++i;
        } else {
            emit(is_high(unit) || is_low(unit) ? char32_t{0xFFFD} : unit);
        }
    }
}

// The length of the UTF-8 sequence that `text` ends inside of: a lead byte
// followed by fewer continuation bytes than it announces (at most 3 bytes),
// or 0 when the last sequence is complete or no sequence at all.
std::size_t unfinished_utf8_tail(std::string_view text);

// True when `bytes` is well-formed UTF-8 as a whole; a sequence cut at the
// end makes it ill-formed.
bool is_valid_utf8(ByteView bytes);

// `bytes` decoded as UTF-8 with every maximal ill-formed subpart replaced by
// one U+FFFD, the substitution the Unicode Standard recommends. Never fails.
// write_lenient_utf8 sends the same text to `out`, well-formed runs as they
// are.
std::string lenient_utf8(ByteView bytes);
std::string lenient_utf8(std::string_view bytes);
void write_lenient_utf8(Output& out, ByteView bytes);

// Joins text that was cut anywhere into runs of whole UTF-8 sequences: an
// unfinished sequence at the end of one piece waits for the next.
class Utf8Joiner {
public:
    // What was held back followed by `text`, less an unfinished sequence at
    // its end, which is held back in turn. Valid until the next call.
    std::string_view join(std::string_view text);
    // What is held back, given up as it is: the text ends here.
    std::string_view finish();

private:
    std::string joined_;
    char held_[3] = {};
    std::size_t held_size_ = 0;
};

// Escapes text for a terminal: every control character except tab
// (U+0000..U+0008, U+000A..U+001F, U+007F and the C1 range U+0080..U+009F)
// is written as \x and two lower-case hex digits of its code point, so that
// text from a file cannot drive the terminal it is shown on. Other bytes pass
// unchanged. Pieces are joined first, so a C1 control split between two
// pieces (C2 | 9B) is escaped all the same.
class TerminalEscaper {
public:
    // Appends `text`, escaped, to `target`.
    void append(std::string& target, std::string_view text);
    // Appends what is held back as it is: the text ends here.
    void finish(std::string& target);

private:
    Utf8Joiner joiner_;
};

// Appends `text` escaped as one whole piece; a sequence cut off at its end
// passes unchanged.
void append_escaped(std::string& target, std::string_view text);

}  // namespace boxwalk
