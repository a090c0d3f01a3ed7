#include "tree/walker.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>

#include "primitives/atom.hpp"
#include "primitives/render.hpp"
#include "tree/item_list.hpp"
#include "tree/xtra.hpp"

namespace boxwalk {
namespace {

// How the walk treats an atom, by its type.
enum class Kind : std::uint8_t { leaf, container, meta, ilst, xtra };

struct KindRow {
    std::string_view type;
    Kind kind;
};

// The types that are no leaves, one row a type, in no particular order:
// containers are walked into, meta after its 4-byte version and flags, ilst
// and Xtra by their own decoders, never as atoms. Any other type is a leaf.
// clang-format off
constexpr KindRow kKinds[] = {
    {"moov", Kind::container},
    {"udta", Kind::container},
    {"meta", Kind::meta},
    {"trak", Kind::container},
    {"mdia", Kind::container},
    {"minf", Kind::container},
    {"stbl", Kind::container},
    {"edts", Kind::container},
    {"ilst", Kind::ilst},
    {"Xtra", Kind::xtra},
};
// clang-format on

// kKinds by the type's four characters as one word, as a load of them
// gives it, in a table of slots that a multiplication picks from: each type
// in the first free slot from its own, the slots at least four times as
// many as the types, so that any types fit in either byte order and a
// leaf's type most often meets an empty slot at once. On the walk's hot
// path: a load and a compare or two per atom, where the rows take two a
// row (see bench/README.md).
struct KindSlot {
    std::uint32_t word = 0;  // no type's: the characters are never NUL
    Kind kind = Kind::leaf;
};

constexpr std::size_t kSlotBits = std::bit_width(4 * std::size(kKinds) - 1);
constexpr std::size_t kSlots = std::size_t{1} << kSlotBits;

// The word that a load of the type code text `type` gives.
constexpr std::uint32_t word_of(std::string_view type) {
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t shift = std::endian::native == std::endian::little ? i : 3 - i;
        word |= std::uint32_t{static_cast<unsigned char>(type[i])} << (8 * shift);
    }
    return word;
}

constexpr std::size_t first_slot(std::uint32_t word) {
    return static_cast<std::uint32_t>(word * 0x9E3779B1u) >> (32 - kSlotBits);
}

constexpr auto kKindSlots = [] {
    std::array<KindSlot, kSlots> slots{};
    for (const KindRow& row : kKinds) {
        if (row.type.size() != 4) {
            throw "a type is four characters";
        }
        std::size_t slot = first_slot(word_of(row.type));
        while (slots[slot].kind != Kind::leaf) {
            slot = (slot + 1) % kSlots;
        }
        slots[slot] = {word_of(row.type), row.kind};
    }
    return slots;
}();

Kind kind_of(const Atom& atom) {
    std::uint32_t word = 0;
    std::memcpy(&word, atom.type_chars.data(), sizeof word);
    // The type's own slot, or the first after it that holds it or none.
    std::size_t slot = first_slot(word);
    while (kKindSlots[slot].kind != Kind::leaf && kKindSlots[slot].word != word) {
        slot = (slot + 1) % kSlots;
    }
    return kKindSlots[slot].kind;
}

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

// meta's version and flags, before its children.
constexpr std::uint64_t kMetaPrefix = 4;

// An atom's line: its type, kSizeOpen, its size and what follows by its
// kind, then a leaf's preview.
constexpr std::string_view kSizeOpen = " (size=";
constexpr std::string_view after_size(Kind kind) {
    return kind == Kind::leaf ? ") " : kind == Kind::meta ? " (skip 4 byte vfh))" : ")";
}

// The longest line placed whole, its indent in place and its line feed
// included.
constexpr std::size_t kLongestLine = [] {
    std::size_t longest = 0;
    for (const Kind kind : {Kind::leaf, Kind::container, Kind::meta, Kind::ilst, Kind::xtra}) {
        const std::size_t preview = kind == Kind::leaf ? kLongestPreview : 0;
        longest = std::max(longest, kSpaces.size() + sizeof(Atom::type_chars) + kSizeOpen.size() +
                                        kLongestDecimal + after_size(kind).size() + preview + 1);
    }
    return longest;
}();
static_assert(kLongestLine <= Output::kRoom);

// Reads the header of the atom at `pos` into `atom`, and sets `ahead` to
// the bytes at hand from `pos` on. False when it cannot be read: a failed
// read, or a 64-bit size cut off by the end of the data.
bool read_header(Source& source, std::uint64_t pos, Atom& atom, ByteView& ahead) {
    // Most atoms, header and preview, lie in the bytes at hand: taken from
    // there they cost no read call, and what they are is what the reads
    // would return.
    ahead = source.held(pos);
    if (ahead.size() >= kLongestHeader) {
        return read_atom_head(ahead, pos, source.size(), atom);
    }
    if (!read_atom(source, pos, atom)) {
        return false;
    }
    ahead = source.held(pos);
    return true;
}

// Sets `preview` to the first bytes of a leaf's payload that its preview
// shows, from `ahead` (the bytes at hand from the atom on) when they are
// there. False on a failed read.
bool read_preview(Source& source, const Atom& atom, ByteView ahead, ByteView& preview) {
    const auto shown = static_cast<std::size_t>(
        std::min<std::uint64_t>(atom.end - atom.payload_start, kPreviewLimit));
    const auto header_len = static_cast<std::size_t>(atom.header.header_len);
    if (ahead.size() >= header_len && ahead.size() - header_len >= shown) {
        preview = ByteView(ahead.data() + header_len, shown);  // inside, as tested
        return true;
    }
    preview = source.read(atom.payload_start, shown);
    return preview.size() == shown;
}

// The line of an atom that its range holds, at `depth`; a leaf's with the
// preview of `preview`, the first bytes of its payload.
void write_atom_line(Output& out, unsigned depth, const Atom& atom, Kind kind, ByteView preview) {
    if (out.locates()) {
        out.locate({line_kind(kind), {atom.pos, atom.header.size}, atom.type_chars});
    }
    char* at = start_line(out, depth);
    at = place_decimal(place(place(at, atom.type()), kSizeOpen), atom.header.size);
    if (kind == Kind::leaf) {
        at = place_preview(place(at, after_size(Kind::leaf)), preview,
                           atom.end - atom.payload_start);
    } else {
        at = place(at, after_size(kind));
    }
    out.commit_line(at);
}

// The line of an atom that does not fit its range, which ends the range.
void write_malformed(Output& out, unsigned depth, const Atom& atom) {
    out.locate({LineKind::malformed, {atom.pos, atom.header.size}});
    indent(out, depth);
    out.write("[malformed @ ");
    write_decimal(out, atom.pos);
    out.write(", size=");
    write_decimal(out, atom.header.size);
    out.line("]");
}

// What lies beneath the line of an atom that is no leaf: its children, or
// the items or entries of its decoder.
void walk_inside(Source& source, const Atom& atom, Kind kind, unsigned depth, Output& out) {
    switch (kind) {
        case Kind::ilst:
            describe_ilst(source, atom.payload_start, atom.end, depth, out);
            break;
        case Kind::xtra:
            describe_xtra(source, atom.payload_start, atom.end, depth, out);
            break;
        case Kind::container:
            walk_container(source, atom.payload_start, atom.end, depth + 1, out);
            break;
        case Kind::meta:
            walk_container(source, atom.payload_start + kMetaPrefix, atom.end, depth + 1, out);
            break;
        case Kind::leaf:
            break;
    }
}

}  // namespace

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
        Atom atom;
        ByteView ahead;
        if (!read_header(source, pos, atom, ahead)) {
            return;
        }
        if (!atom.within(end)) {
            write_malformed(out, depth, atom);
            return;
        }
        const Kind kind = kind_of(atom);
        ByteView preview;
        if (kind == Kind::leaf && !read_preview(source, atom, ahead, preview)) {
            return;
        }
        write_atom_line(out, depth, atom, kind, preview);
        if (kind != Kind::leaf) {
            walk_inside(source, atom, kind, depth, out);
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
