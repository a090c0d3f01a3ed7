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

namespace {

// The type code text of the four type bytes at `type`.
std::array<char, 4> type_chars(const std::uint8_t* type) {
    std::array<char, 4> text{};
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint8_t byte = type[i];
        text[i] = byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : byte == 0xA9 ? '@' : '?';
    }
    return text;
}

}  // namespace

std::optional<Atom> read_atom(ByteView bytes, std::uint64_t pos) {
    const auto header = read_atom_header(bytes, pos);
    if (!header) {
        return std::nullopt;
    }
    // The header lies inside `bytes`, so pos + header_len cannot wrap.
    return Atom{pos, *header, pos + header->header_len, sat_add(pos, header->size),
                type_chars(bytes.data() + pos + 4)};
}

std::string type_code_text(ByteView bytes, std::uint64_t pos) {
    if (!fits(bytes, pos, 8)) {
        return std::string(4, '?');
    }
    const std::array<char, 4> text = type_chars(bytes.data() + pos + 4);
    return std::string(text.data(), text.size());
}

}  // namespace boxwalk
