#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "primitives/bytes.hpp"

// Values turned into the text the records hold. Every text returned here is
// valid UTF-8, whatever the bytes were; nothing is escaped: a control
// character stays itself, for the one who shows it to escape.
namespace boxwalk {

// The most bytes of one value that a record holds as text; a longer value
// is cut at a character's end.
inline constexpr std::size_t kTextLimit = std::size_t{1} << 20;
// The most bytes of a value that a record shows as hex.
inline constexpr std::size_t kHexLimit = 64;

// Each text below is put into `text`, whose storage is then used again (a
// reader of many tags fills the same strings for each); the texts that
// other callers want too also come returned.

// `bytes` as UTF-8, each maximal ill-formed subpart as one U+FFFD, without
// trailing NULs. When `cut`, the bytes are the start of a longer text, and a
// character that they end inside of is left out whole.
std::string utf8_text(ByteView bytes, bool cut);
void utf8_text(ByteView bytes, bool cut, std::string& text);

// `bytes` as UTF-16 code units, big- or little-endian, without trailing
// NULs: an odd last byte is ignored and an unpaired surrogate is U+FFFD.
// When `cut`, a high surrogate at the end, whose pair was cut off, is left
// out.
std::string utf16_text(ByteView bytes, bool big_endian, bool cut);
void utf16_text(ByteView bytes, bool big_endian, bool cut, std::string& text);

// `bytes` in the Mac OS Roman encoding, without trailing NULs.
void mac_roman_text(ByteView bytes, std::string& text);

// Each byte as the character of its number (ISO 8859-1): four type bytes
// as text, 0xA9 as ©.
std::string latin1_text(ByteView bytes);
void latin1_text(ByteView bytes, std::string& text);

// Each byte as two lower-case hex digits, a space between neighbours.
void hex_text(ByteView bytes, std::string& text);

// A 16-bit language code as three ISO 639-2/T letters: below 0x400 a
// Macintosh language code, otherwise three letters packed in five bits each
// (the top bit is padding). Empty for a code with no letters.
std::string language_text(std::uint16_t code);

// `value` in plain decimal.
std::string decimal_text(std::uint64_t value);

// `value` in decimal with a comma between groups of three digits.
std::string grouped(std::uint64_t value);

// The number in the fewest significant digits that read back as it.
std::string float_text(float value);
std::string double_text(double value);

// A Windows FILETIME, 100-nanosecond steps since 1601-01-01 UTC, as
// "2023-01-02 03:04:05 UTC", with the fraction of a second when it has one.
std::string filetime_text(std::uint64_t ticks);

// A place in 16.16 fixed-point degrees and metres as ISO 6709 text:
// "+48.8577+002.2945+35/".
std::string iso6709_text(std::int32_t latitude, std::int32_t longitude, std::int32_t altitude);

// The big-endian number in `bytes` (at most 8 of them).
std::uint64_t big_endian(ByteView bytes);

// The big-endian integer in `bytes` (1 to 8 of them) in decimal, its top
// bit a sign when `is_signed`.
std::string integer_text(ByteView bytes, bool is_signed);

}  // namespace boxwalk
