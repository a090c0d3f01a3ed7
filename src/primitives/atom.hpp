#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

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

// An atom whose header was read: where it lies, as its header declares it.
struct Atom {
    std::uint64_t pos = 0;
    AtomHeader header;
    std::uint64_t payload_start = 0;   // offset + header length
    std::uint64_t end = 0;             // offset + declared size, kBeyondEveryEnd past 2^64 - 1
    std::array<char, 4> type_chars{};  // the type code text

    std::string_view type() const { return std::string_view(type_chars.data(), type_chars.size()); }
    // True when the type code text is `name`: four characters compared as
    // one word, on the hot path of every walk.
    bool is(std::string_view name) const {
        return name.size() == 4 && std::memcmp(type_chars.data(), name.data(), 4) == 0;
    }

    // Not shorter than its own header.
    bool whole() const { return header.size >= header.header_len; }
    // Whole and ending at or before `limit`: an atom that a range can hold.
    bool within(std::uint64_t limit) const { return whole() && end <= limit; }
};

namespace detail {

// The character that shows each type byte: 0x20..0x7E as they are, 0xA9 as
// '@', anything else as '?'. A table, so that no byte costs a branch.
inline constexpr std::array<std::uint8_t, 256> kShown = [] {
    std::array<std::uint8_t, 256> shown{};
    for (std::size_t byte = 0; byte < shown.size(); ++byte) {
        shown[byte] = static_cast<std::uint8_t>(byte >= 0x20 && byte <= 0x7E ? byte
                                                : byte == 0xA9               ? '@'
                                                                             : '?');
    }
    return shown;
}();

// The type code text of the four type bytes at `type`. The characters are
// gathered in a register and stored at once: Atom::is reads them back as
// one word, which four separate byte stores would stall.
inline std::array<char, 4> type_chars(const std::uint8_t* type) {
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        // Character i goes where memcpy puts it, at index i.
        const std::size_t shift = std::endian::native == std::endian::little ? i : 3 - i;
        word |= std::uint32_t{kShown[type[i]]} << (8 * shift);
    }
    std::array<char, 4> text;
    std::memcpy(text.data(), &word, text.size());
    return text;
}

}  // namespace detail

// The most bytes an atom header takes: a 64-bit size after the type.
inline constexpr std::uint64_t kLongestHeader = 16;

// How far past the end of a range a walk of it reads: a 64-bit header that
// starts in the range's last 8 bytes.
inline constexpr std::uint64_t kHeaderLookahead = kLongestHeader - 8;

// Fills `atom` with the atom at `pos` of data `length` bytes long, from
// `head`, the bytes read at `pos` (up to kLongestHeader are looked at): its
// header, ends and type, unchecked, so that each caller decides what a short
// or overlong atom means to it. False, `atom` then unspecified, when `head`
// does not hold the whole header. Filled in place, not returned: GCC copies
// a returned object of this size through the stack in pieces of another
// width, which stalls the reads of it that follow on every walk.
inline bool read_atom_head(ByteView head, std::uint64_t pos, std::uint64_t length, Atom& atom) {
    const auto size32 = read_u32_be(head, 0);
    if (!size32 || head.size() < 8) {
        return false;
    }
    std::uint64_t size = *size32;
    std::uint64_t header_len = 8;
    if (*size32 == 0) {
        size = length - pos;
    } else if (*size32 == 1) {
        const auto large = read_u64_be(head, 8);
        if (!large) {
            return false;
        }
        size = *large;
        header_len = 16;
    }
    atom.pos = pos;
    atom.header.size = size;
    atom.header.header_len = header_len;
    // The header lies inside the data, so pos + header_len cannot wrap.
    atom.payload_start = pos + header_len;
    atom.end = sat_add(pos, size);
    atom.type_chars = detail::type_chars(head.data() + 4);
    return true;
}

// read_atom_head on the bytes of `bytes` at `pos`.
bool read_atom(ByteView bytes, std::uint64_t pos, Atom& atom);

}  // namespace boxwalk
