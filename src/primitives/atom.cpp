#include "primitives/atom.hpp"

#include <algorithm>

namespace boxwalk {

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
    const std::array<char, 4> text = detail::type_chars(bytes.data() + pos + 4);
    return std::string(text.data(), text.size());
}

}  // namespace boxwalk
