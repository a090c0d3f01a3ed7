#include "primitives/atom.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace boxwalk {

namespace {

// The character that shows each type byte: 0x20..0x7E as they are, 0xA9 as
// '@', anything else as '?'. A table, so that no byte costs a branch.
constexpr std::array<std::uint8_t, 256> kShown = [] {
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
std::array<char, 4> type_chars(const std::uint8_t* type) {
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        // Character i goes where memcpy will put it at index i.
        const std::size_t shift = std::endian::native == std::endian::little ? i : 3 - i;
        word |= std::uint32_t{kShown[type[i]]} << (8 * shift);
    }
    std::array<char, 4> text;
    std::memcpy(text.data(), &word, text.size());
    return text;
}

}  // namespace

bool read_atom_head(ByteView head, std::uint64_t pos, std::uint64_t length, Atom& atom) {
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
    atom.type_chars = type_chars(head.data() + 4);
    return true;
}

bool read_atom(ByteView bytes, std::uint64_t pos, Atom& atom) {
    if (pos > bytes.size()) {
        return false;
    }
    const ByteView head = bytes.subspan(
        static_cast<std::size_t>(pos),
        static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size() - pos, kLongestHeader)));
    return read_atom_head(head, pos, bytes.size(), atom);
}

std::optional<AtomHeader> read_atom_header(ByteView bytes, std::uint64_t pos) {
    Atom atom;
    if (!read_atom(bytes, pos, atom)) {
        return std::nullopt;
    }
    return atom.header;
}

std::string type_code_text(ByteView bytes, std::uint64_t pos) {
    if (!fits(bytes, pos, 8)) {
        return std::string(4, '?');
    }
    const std::array<char, 4> text = type_chars(bytes.data() + pos + 4);
    return std::string(text.data(), text.size());
}

}  // namespace boxwalk
