#include "tree/walker.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "primitives/atom.hpp"
#include "primitives/render.hpp"
#include "tree/item_list.hpp"
#include "tree/xtra.hpp"

namespace boxwalk {
namespace {

// How the walk treats an atom, by its type.
enum class Kind : std::uint8_t { leaf, container, meta, ilst, xtra };

// The type code text as one word, in the machine's byte order: the word a
// load of its four bytes gives.
constexpr std::uint32_t type_word(std::array<char, 4> chars) {
    const auto byte = [&chars](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(chars[i]));
    };
    if constexpr (std::endian::native == std::endian::little) {
        return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
    } else {
        return byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    }
}

// Types that are not leaves, in a table of 16 slots that a multiplication
// picks from: one load and one compare per atom. The multiplier puts each
// type in a slot of its own in either byte order; a collision would stop
// the build.
constexpr std::uint32_t kSlotFactor = 116041;
constexpr std::size_t slot(std::uint32_t word) {
    return static_cast<std::size_t>(static_cast<std::uint32_t>(word * kSlotFactor) >> 28);
}

struct KindSlot {
    std::uint32_t word = 0;
    Kind kind = Kind::leaf;
};

constexpr std::array<KindSlot, 16> kKinds = [] {
    constexpr std::array<std::pair<std::array<char, 4>, Kind>, 10> kTypes = {{
        {{'m', 'o', 'o', 'v'}, Kind::container},
        {{'u', 'd', 't', 'a'}, Kind::container},
        {{'m', 'e', 't', 'a'}, Kind::meta},
        {{'t', 'r', 'a', 'k'}, Kind::container},
        {{'m', 'd', 'i', 'a'}, Kind::container},
        {{'m', 'i', 'n', 'f'}, Kind::container},
        {{'s', 't', 'b', 'l'}, Kind::container},
        {{'e', 'd', 't', 's'}, Kind::container},
        // Walked by their own decoders, never as atoms.
        {{'i', 'l', 's', 't'}, Kind::ilst},
        {{'X', 't', 'r', 'a'}, Kind::xtra},
    }};
    std::array<KindSlot, 16> table{};
    for (const auto& [chars, kind] : kTypes) {
        KindSlot& entry = table[slot(type_word(chars))];
        if (entry.kind != Kind::leaf) {
            throw "two types share a slot";
        }
        entry = {type_word(chars), kind};
    }
    return table;
}();

// What a line of an atom of `kind` shows.
constexpr LineKind line_kind(Kind kind) {
    switch (kind) {
        case Kind::container:
        case Kind::meta:
            return LineKind::container;
        case Kind::ilst:
            return LineKind::item_list;
        case Kind::xtra:
            return LineKind::xtra;
        case Kind::leaf:
            break;
    }
    return LineKind::leaf;
}

// Lines up to this deep in the tree are indented in place, with the rest
// of their start after: 2 spaces a level, the indent stored whole.
constexpr std::size_t kShortIndent = 30;
// The rest of a leaf's line may follow in place: a short preview and the
// line end.
static_assert(kShortIndent + 4 + 7 + 20 + 2 + detail::kShortPreviewRoom + 1 <= Output::kRoom);
constexpr auto kSpaces = [] {
    std::array<char, kShortIndent> spaces{};
    spaces.fill(' ');
    return spaces;
}();

Kind kind_of(const Atom& atom) {
    const std::uint32_t word = type_word(atom.type_chars);
    const KindSlot& entry = kKinds[slot(word)];
    return entry.word == word ? entry.kind : Kind::leaf;
}

}  // namespace

void indent(Output& out, unsigned depth) { out.fill(' ', std::size_t{depth} * 2); }

void walk_container(Source& source, std::uint64_t start, std::uint64_t end, unsigned depth,
                    Output& out) {
    // A range can reach past a truncated file; nothing beyond the data is
    // ever read, so the tests below run against the cut end.
    end = std::min(end, source.size());
    if (depth > kMaxDepth) {
        if (room_for(start, end, 8)) {
            indent(out, depth);
            out.line("[nesting too deep]");
        }
        return;
    }
    for (std::uint64_t pos = start; room_for(pos, end, 8);) {
        // Most atoms, header and preview, lie in the bytes at hand: taken
        // from there they cost no read call, and what they are is what the
        // reads would return.
        ByteView ahead = source.held(pos);
        Atom atom;
        if (ahead.size() >= kLongestHeader) {
            read_atom_head(ahead, pos, source.size(), atom);  // a whole header: never false
        } else if (read_atom(source, pos, atom)) {
            ahead = source.held(pos);  // what the reads brought
        } else {
            return;  // a 64-bit size cut off by the end of the data, or a failed read
        }
        if (!atom.within(end)) {
            out.locate({LineKind::malformed, {pos, atom.header.size}});
            indent(out, depth);
            out.write("[malformed @ ");
            write_decimal(out, pos);
            out.write(", size=");
            write_decimal(out, atom.header.size);
            out.line("]");
            return;
        }
        const Kind kind = kind_of(atom);
        const std::uint64_t payload_size = atom.end - atom.payload_start;
        // A leaf's preview: its first bytes, up to its own end.
        ByteView preview;
        if (kind == Kind::leaf) {
            const auto shown =
                static_cast<std::size_t>(std::min<std::uint64_t>(payload_size, kPreviewLimit));
            const auto header_len = static_cast<std::size_t>(atom.header.header_len);
            if (ahead.size() >= header_len && ahead.size() - header_len >= shown) {
                preview = ByteView(ahead.data() + header_len, shown);
            } else {
                preview = source.read(atom.payload_start, shown);
                if (preview.size() < shown) {
                    return;  // a failed read
                }
            }
        }
        if (out.locates()) {
            out.locate({line_kind(kind), {pos, atom.header.size}, atom.type_chars});
        }
        // The indent, the type, " (size=", the size and after a leaf's
        // ") ", formatted in place at once: up to kShortIndent spaces (all
        // of them stored), 4, 7 (stored as 8), up to 20 and 2 characters.
        // Deeper lines indent apart.
        char* text = nullptr;
        if (depth <= kShortIndent / 2) {
            text = out.room();
            std::memcpy(text, kSpaces.data(), kShortIndent);
            text += std::size_t{depth} * 2;
        } else {
            indent(out, depth);
            text = out.room();
        }
        std::memcpy(text, atom.type_chars.data(), 4);
        std::memcpy(text + 4, " (size=", 8);
        text = std::to_chars(text + 11, text + 31, atom.header.size).ptr;
        if (kind == Kind::leaf) {
            std::memcpy(text, ") ", 2);
            text += 2;
            // A short preview goes on in place, ending the line.
            char* const line_end =
                detail::format_short_preview(text, preview, payload_size > kPreviewLimit);
            if (line_end != nullptr) {
                out.commit_line(line_end);
                pos = atom.end;
                continue;
            }
        }
        out.commit(text);
        switch (kind) {
            case Kind::leaf:
                write_preview(out, preview, payload_size);
                out.end_line();
                break;
            // ilst and Xtra get the container line and their own decoders.
            case Kind::ilst:
                out.line(")");
                describe_ilst(source, atom.payload_start, atom.end, depth, out);
                break;
            case Kind::xtra:
                out.line(")");
                describe_xtra(source, atom.payload_start, atom.end, depth, out);
                break;
            case Kind::container:
            case Kind::meta: {
                // meta carries a 4-byte version and flags field before its children.
                const bool meta = kind == Kind::meta;
                out.line(meta ? " (skip 4 byte vfh))" : ")");
                walk_container(source, atom.payload_start + (meta ? 4 : 0), atom.end, depth + 1,
                               out);
                break;
            }
        }
        pos = atom.end;
    }
}

void walk_container(ByteView data, std::uint64_t start, std::uint64_t end, unsigned depth,
                    Output& out) {
    MemorySource source(data);
    walk_container(source, start, end, depth, out);
}

}  // namespace boxwalk
