#pragma once

#include <cstdint>
#include <string>

#include "primitives/bytes.hpp"
#include "primitives/output.hpp"
#include "source/source.hpp"

namespace boxwalk {

// Prints one line per entry of the Xtra payload between `start` and `end`
// (absolute offsets, end within the data), two spaces deeper than `depth`:
// the name, the value count and the first value. A damaged entry gets a
// "[malformed Xtra ...]" line (offsets relative to the payload) and ends the
// store.
void describe_xtra(Source& source, std::uint64_t start, std::uint64_t end, unsigned depth,
                   Output& out);
// The same for a payload in memory.
void describe_xtra(ByteView payload, unsigned depth, Output& out);

// The text of one value by its type: UTF-16 text (8), an unsigned 64-bit
// integer (19), a date's bytes (21), or the type and up to 32 bytes.
std::string xtra_value_text(std::uint16_t value_type, ByteView data);

// UTF-16LE units as UTF-8: an odd last byte and one trailing zero unit are
// dropped, unpaired surrogates become U+FFFD.
std::string utf16le_text(ByteView data);

}  // namespace boxwalk
