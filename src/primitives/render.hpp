#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "primitives/bytes.hpp"
#include "primitives/output.hpp"
#include "primitives/text.hpp"

namespace boxwalk {

// Each rendering comes twice: as a string, and as write_* that sends the
// same text to an Output in pieces without building it, for the printers.

// Longest run of payload bytes that a preview shows.
inline constexpr std::size_t kPreviewLimit = 80;

// `value` in plain decimal: no sign, grouping or leading zeros.
std::string decimal(std::uint64_t value);
inline void write_decimal(Output& out, std::uint64_t value) {
    char* const at = out.room();
    out.commit(std::to_chars(at, at + 20, value).ptr);
}

// Each byte as two lower-case hex digits, `separator` between neighbours.
std::string hex_join(ByteView bytes, std::string_view separator);
void write_hex(Output& out, ByteView bytes, std::string_view separator);

// A payload as "\"text\"" when its first 80 bytes are text (tab, line feed,
// carriage return, NUL, 0x20..0x7E or 0x80..0xFF, forming valid UTF-8), with
// trailing NULs removed and line feeds shown as \n; otherwise as
// "hex: " and the bytes. "..." follows when the payload is longer than 80.
std::string preview_payload(ByteView payload);
void write_preview(Output& out, ByteView payload);
// The same from the first bytes of a payload of `payload_size` bytes: all
// of them, or at least kPreviewLimit.
inline void write_preview(Output& out, ByteView head, std::uint64_t payload_size);

namespace detail {

// Each byte's two hex digits and a space, as the four bytes of a word in
// memory order (the fourth is a space too and gets overwritten): a byte of
// a spaced dump costs one load and one store.
inline constexpr auto kSpacedHex = [] {
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::array<std::array<char, 4>, 256> spaced{};
    for (std::size_t byte = 0; byte < spaced.size(); ++byte) {
        spaced[byte] = {kDigits[byte >> 4], kDigits[byte & 0x0F], ' ', ' '};
    }
    return spaced;
}();

// How a preview sorts a byte, as bits that a payload's bytes or together.
enum ByteClass : std::uint8_t {
    kPrintable = 0,    // 0x20..0x7E, shown as it is
    kTextControl = 1,  // NUL, tab, carriage return: text, but not plain
    kLineFeed = 2,     // text, shown as \n
    kHighByte = 4,     // from 0x80 on: text when the bytes are valid UTF-8
    kBinaryByte = 8,   // any other: the payload is binary
};

inline constexpr auto kByteClass = [] {
    std::array<std::uint8_t, 256> classes{};
    for (std::size_t byte = 0; byte < classes.size(); ++byte) {
        classes[byte] = byte >= 0x20 && byte <= 0x7E                   ? kPrintable
                        : byte == 0x0A                                 ? kLineFeed
                        : byte == 0x00 || byte == 0x09 || byte == 0x0D ? kTextControl
                        : byte >= 0x80                                 ? kHighByte
                                                                       : kBinaryByte;
    }
    return classes;
}();

// True when each of the eight bytes of `word` is in 0x20..0x7E. A high bit
// marks a byte below 0x20, at 0x7F or from 0x80 on; a borrow or carry
// crosses into the next byte only from one that is marked itself, so the
// test is exact for the word as a whole.
constexpr bool printable_word(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    return ((((word - kOnes * 0x20) & ~word) | ((word + kOnes) | word)) & kOnes * 0x80) == 0;
}

// The longest preview formatted in place at once, and the most bytes it
// stores.
inline constexpr std::size_t kShortPreview = 16;
inline constexpr std::size_t kShortPreviewRoom = 56;
static_assert(kShortPreviewRoom <= Output::kRoom);

// write_preview of 1 to kShortPreview bytes that are printable ASCII or
// binary, formatted in place at `text` (see Output::room), up to
// kShortPreviewRoom bytes stored; where it ends, or null for any other preview, left to
// write_general_preview.
inline char* format_short_preview(char* text, ByteView shown, bool cut) {
    const std::size_t size = shown.size();
    if (size == 0 || size > kShortPreview) {
        return nullptr;
    }
    // The bytes in two words that may overlap, each byte in one of them at
    // least (fewer than 8 fill one, the rest spaces). The loads' bounds
    // keep them inside `shown`.
    const std::uint8_t* const at = shown.data();
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    if (size >= 8) {
        std::memcpy(&first, at, 8);
        std::memcpy(&last, at + size - 8, 8);
    } else if (size >= 4) {
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        std::memcpy(&low, at, 4);
        std::memcpy(&high, at + size - 4, 4);
        first = last = low | std::uint64_t{high} << 32;
    } else {
        first = last = 0x2020202020000000 | at[0] | std::uint64_t{at[size / 2]} << 8 |
                       std::uint64_t{at[size - 1]} << 16;
    }
    if (printable_word(first) && printable_word(last)) {
        text[0] = '"';
        if (size >= 8) {
            std::memcpy(text + 1, &first, 8);
            std::memcpy(text + 1 + size - 8, &last, 8);
        } else {
            for (std::size_t i = 0; i < size; ++i) {
                text[1 + i] = static_cast<char>(at[i]);
            }
        }
        std::memcpy(text + 1 + size, "\"...", 4);
        return text + 2 + size + (cut ? 3 : 0);
    }
    // Binary from its first byte of that class, most often one of the
    // first few; else binary when it holds bytes from 0x80 on that are no
    // valid UTF-8.
    unsigned classes = kPrintable;
    std::size_t i = 0;
    for (; i < size && (classes & kBinaryByte) == 0; ++i) {
        classes |= kByteClass[at[i]];
    }
    if ((classes & kBinaryByte) == 0 && ((classes & kHighByte) == 0 || is_valid_utf8(shown))) {
        return nullptr;  // text that needs a closer look
    }
    // "hex: ", each byte three characters and one more stored past them,
    // "...": 5 + 3 * 16 + 3 bytes at most, within the room.
    static_assert(5 + 3 * kShortPreview + 3 <= kShortPreviewRoom);
    std::memcpy(text, "hex: ", 5);
    text += 5;
    for (i = 0; i < size; ++i) {
        std::memcpy(text + 3 * i, kSpacedHex[at[i]].data(), 4);
    }
    text += 3 * size - 1;  // no space after the last byte
    std::memcpy(text, "...", 3);
    return text + (cut ? 3 : 0);
}

// write_preview of any bytes.
void write_general_preview(Output& out, ByteView head, std::uint64_t payload_size);

}  // namespace detail

inline void write_preview(Output& out, ByteView head, std::uint64_t payload_size) {
    char* const end = detail::format_short_preview(out.room(), head, payload_size > kPreviewLimit);
    if (end != nullptr) {
        out.commit(end);
    } else {
        detail::write_general_preview(out, head, payload_size);
    }
}

}  // namespace boxwalk
