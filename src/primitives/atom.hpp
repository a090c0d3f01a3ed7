#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "primitives/bytes.hpp"

namespace boxwalk {

// An atom's declared size (from its first byte, header included) and where
// its payload starts relative to that byte (8, or 16 with a 64-bit size).
struct AtomHeader {
    std::uint64_t size = 0;
    std::uint64_t header_len = 0;
};

// The header of the atom at `pos`. A size field of 0 runs to the end of
// `bytes`; 1 takes the 64-bit size that follows the type. Sizes are returned
// unchecked. Empty when the header is not wholly inside `bytes`: fewer than
// 8 bytes at `pos`, or fewer than 16 when the 64-bit size is announced.
std::optional<AtomHeader> read_atom_header(ByteView bytes, std::uint64_t pos);

// The atom's four type bytes (pos+4..pos+7) as four printable characters:
// 0x20..0x7E as they are, 0xA9 as '@', anything else as '?'. Four '?' when
// the type bytes are not inside `bytes`.
std::string type_code_text(ByteView bytes, std::uint64_t pos);

}  // namespace boxwalk
