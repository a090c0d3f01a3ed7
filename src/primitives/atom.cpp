#include "primitives/atom.hpp"

namespace boxwalk {

std::optional<AtomHeader> read_atom_header(ByteView bytes, std::uint64_t pos) {
    const auto size32 = read_u32_be(bytes, pos);
    if (!size32 || !fits(bytes, pos, 8)) {
        return std::nullopt;
    }
    if (*size32 == 0) {
        return AtomHeader{bytes.size() - pos, 8};
    }
    if (*size32 == 1) {
        const auto large = read_u64_be(bytes, pos + 8);
        if (!large) {
            return std::nullopt;
        }
        return AtomHeader{*large, 16};
    }
    return AtomHeader{*size32, 8};
}

std::optional<Atom> read_atom(ByteView bytes, std::uint64_t pos) {
    const auto header = read_atom_header(bytes, pos);
    if (!header) {
        return std::nullopt;
    }
    // The header lies inside `bytes`, so pos + header_len cannot wrap.
    return Atom{pos, *header, pos + header->header_len, sat_add(pos, header->size),
                type_code_text(bytes, pos)};
}

std::string type_code_text(ByteView bytes, std::uint64_t pos) {
    std::string text(4, '?');
    if (!fits(bytes, pos, 8)) {
        return text;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        const std::uint8_t byte = bytes[static_cast<std::size_t>(pos) + 4 + i];
        if (byte >= 0x20 && byte <= 0x7E) {
            text[i] = static_cast<char>(byte);
        } else if (byte == 0xA9) {
            text[i] = '@';
        }
    }
    return text;
}

}  // namespace boxwalk
