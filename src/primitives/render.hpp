#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "primitives/bytes.hpp"
#include "primitives/output.hpp"
#include "primitives/text.hpp"

namespace boxwalk {

// Each rendering comes twice: as a string, for tests, and as the form that
// the printers use, which formats the same text straight into an Output.

// Longest run of payload bytes that a preview shows.
inline constexpr std::size_t kPreviewLimit = 80;
// What a preview of binary bytes starts with, and what follows a preview
// of a payload longer than it shows.
inline constexpr std::string_view kHexLabel = "hex: ";
inline constexpr std::string_view kCutMark = "...";
// The most characters a preview takes: hex, two digits a byte and a space
// between them, or quoted text whose every byte is a line feed shown as
// \n; then the cut mark.
inline constexpr std::size_t kLongestPreview =
    std::max(kHexLabel.size() + 3 * kPreviewLimit - 1, 1 + 2 * kPreviewLimit + 1) + kCutMark.size();
static_assert(kLongestPreview <= Output::kRoom);

// `value` in plain decimal: no sign, grouping or leading zeros.
std::string decimal(std::uint64_t value);
inline void write_decimal(Output& out, std::uint64_t value) {
    out.commit(place_decimal(out.room(), value));
}

// Each byte as two lower-case hex digits, `separator` between neighbours.
std::string hex_join(ByteView bytes, std::string_view separator);
// The same with nothing between them, for the printers.
void write_hex(Output& out, ByteView bytes);

// A payload as "\"text\"" when its first 80 bytes are text (tab, line feed,
// carriage return, NUL, 0x20..0x7E or 0x80..0xFF, forming valid UTF-8), with
// trailing NULs removed and line feeds shown as \n; otherwise as
// "hex: " and the bytes. "..." follows when the payload is longer than 80.
std::string preview_payload(ByteView payload);
// The same for a payload of `payload_size` bytes from `head`, its first
// bytes (all of them, or at least kPreviewLimit), placed at `at` (see
// Output::room), at most kLongestPreview bytes stored. Where it ends.
inline char* place_preview(char* at, ByteView head, std::uint64_t payload_size);
inline void write_preview(Output& out, ByteView head, std::uint64_t payload_size) {
    out.commit(place_preview(out.room(), head, payload_size));
}

namespace detail {

// Places `bytes` at `at` when every one of them is printable ASCII
// (0x20..0x7E); where they end, or null when one is not (what was placed is
// then left to be overwritten). Eight at a time, each word tested and
// stored as it is, the last eight overlapping those before when the length
// is no multiple of eight.
inline char* place_printable_ascii(char* at, ByteView bytes) {
    const std::uint8_t* const from = bytes.data();
    const std::size_t size = bytes.size();
    if (size < 8) {
        for (std::size_t i = 0; i < size; ++i) {
            if (from[i] < 0x20 || from[i] > 0x7E) {
                return nullptr;
            }
            at[i] = static_cast<char>(from[i]);
        }
        return at + size;
    }
    const auto copy_word = [at, from](std::size_t pos) {
        std::uint64_t word = 0;
        std::memcpy(&word, from + pos, sizeof word);
        std::memcpy(at + pos, &word, sizeof word);
        return all_printable_ascii(word);
    };
    for (std::size_t pos = 0; pos + 8 < size; pos += 8) {
        if (!copy_word(pos)) {
            return nullptr;
        }
    }
    return copy_word(size - 8) ? at + size : nullptr;
}

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

// True when a preview shows `bytes`, which are not all printable ASCII, as
// text, which then needs a closer look (place_text); false for hex.
inline bool shown_as_text(ByteView bytes) {
    unsigned classes = kPrintable;
    for (const std::uint8_t byte : bytes) {
        classes |= kByteClass[byte];
        if ((classes & kBinaryByte) != 0) {
            return false;
        }
    }
    return (classes & kHighByte) == 0 || is_valid_utf8(bytes);
}

// Text that is not plain ASCII: without its trailing NUL bytes, each line
// feed as \n.
char* place_text(char* at, ByteView bytes);

// Each byte as two hex digits with a space between neighbours, each byte
// one copy of its table entry (see kHexDigits), eight at a time where they
// can be: two bytes stored past the end.
inline char* place_spaced_hex(char* at, ByteView bytes) {
    const std::uint8_t* from = bytes.data();
    const std::uint8_t* const end = from + bytes.size();
    for (; end - from >= 8; from += 8, at += 24) {
        for (std::size_t i = 0; i < 8; ++i) {
            std::memcpy(at + 3 * i, kHexDigits[from[i]].data(), 4);
        }
    }
    for (; from != end; ++from, at += 3) {
        std::memcpy(at, kHexDigits[*from].data(), 4);
    }
    return bytes.empty() ? at : at - 1;
}

}  // namespace detail

inline char* place_preview(char* at, ByteView head, std::uint64_t payload_size) {
    // The caller's bounds hold: `head` is all of `shown`.
    const ByteView shown(head.data(), std::min(head.size(), kPreviewLimit));
    // Most previews are plain ASCII, quoted as they are.
    char* end = detail::place_printable_ascii(at + 1, shown);
    if (end != nullptr) {
        *at = '"';
        *end++ = '"';
    } else if (detail::shown_as_text(shown)) {
        *at = '"';
        end = detail::place_text(at + 1, shown);
        *end++ = '"';
    } else {
        end = detail::place_spaced_hex(place(at, kHexLabel), shown);
    }
    return payload_size > kPreviewLimit ? place(end, kCutMark) : end;
}

}  // namespace boxwalk
