#include "tree/scan.hpp"

#include <optional>
#include <string_view>

#include "primitives/render.hpp"
#include "tree/walker.hpp"

namespace boxwalk {
namespace {

// The first top-level atom whose type is moov; empty when there is none or
// the scan ends first.
std::optional<Atom> find_moov(Source& source) {
    for (std::uint64_t pos = 0; room_for(pos, source.size(), 8);) {
        Atom atom;
        if (!read_top_level_atom(source, pos, atom)) {
            return std::nullopt;
        }
        if (atom.is("moov")) {
            return atom;
        }
        // An atom that reaches past the data ends the loop through its test.
        pos = atom.end;
    }
    return std::nullopt;
}

// The line of moov (no indent) or of one of its children (two spaces).
void write_listed(Output& out, std::string_view indent, const Atom& atom) {
    out.locate({indent.empty() ? LineKind::moov : LineKind::child,
                {atom.pos, atom.header.size},
                atom.type_chars});
    out.write(indent);
    out.write(atom.type());
    out.write(" (size=");
    write_decimal(out, atom.header.size);
    out.write(", @ ");
    write_decimal(out, atom.pos);
    out.line(")");
}

}  // namespace

void scan_top_level(Source& source, Output& out) {
    const auto moov = find_moov(source);
    if (!moov) {
        return;
    }
    write_listed(out, "", *moov);
    for_each_listed_child(source, *moov, [&](const Atom& child) {
        write_listed(out, "  ", child);
        if (child.is("udta")) {
            walk_container(source, child.payload_start, child.end, 2, out);
        }
    });
}

void scan_top_level(ByteView data, Output& out) {
    MemorySource source(data);
    scan_top_level(source, out);
}

}  // namespace boxwalk
