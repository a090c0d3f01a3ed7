#include "tree/walker.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "primitives/atom.hpp"
#include "primitives/render.hpp"
#include "tree/item_list.hpp"
#include "tree/xtra.hpp"

namespace boxwalk {
namespace {

// Walked as containers, in the order they are tested.
constexpr std::array<std::string_view, 9> kContainerTypes = {"moov", "udta", "meta", "ilst", "trak",
                                                             "mdia", "minf", "stbl", "edts"};

bool is_container(const Atom& atom) {
    return std::any_of(kContainerTypes.begin(), kContainerTypes.end(),
                       [&atom](std::string_view name) { return atom.is(name); });
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
        Atom atom;
        if (!read_atom(source, pos, atom)) {
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
        const bool ilst = atom.is("ilst");
        const bool xtra = !ilst && atom.is("Xtra");
        const bool container = !ilst && !xtra && is_container(atom);
        const std::uint64_t payload_size = atom.end - atom.payload_start;
        // A leaf's preview: its first bytes, up to its own end.
        ByteView preview;
        if (!ilst && !xtra && !container) {
            const auto shown =
                static_cast<std::size_t>(std::min<std::uint64_t>(payload_size, kPreviewLimit));
            preview = source.read(atom.payload_start, shown);
            if (preview.size() < shown) {
                return;  // a failed read
            }
        }
        out.locate({ilst        ? LineKind::item_list
                    : xtra      ? LineKind::xtra
                    : container ? LineKind::container
                                : LineKind::leaf,
                    {pos, atom.header.size},
                    atom.type_chars});
        indent(out, depth);
        out.write(atom.type());
        out.write(" (size=");
        write_decimal(out, atom.header.size);
        // ilst and Xtra get the container line and their own decoders; the
        // ilst test comes first, so an item list is never walked as atoms.
        if (ilst) {
            out.line(")");
            describe_ilst(source, atom.payload_start, atom.end, depth, out);
        } else if (xtra) {
            out.line(")");
            describe_xtra(source, atom.payload_start, atom.end, depth, out);
        } else if (container) {
            // meta carries a 4-byte version and flags field before its children.
            const bool meta = atom.is("meta");
            out.line(meta ? " (skip 4 byte vfh))" : ")");
            walk_container(source, atom.payload_start + (meta ? 4 : 0), atom.end, depth + 1, out);
        } else {
            out.write(") ");
            write_preview(out, preview, payload_size);
            out.end_line();
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
