#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "primitives/bytes.hpp"
#include "primitives/output.hpp"

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
void write_preview(Output& out, ByteView head, std::uint64_t payload_size);

}  // namespace boxwalk
