#include "tree/scan.hpp"

#include <string_view>

#include "primitives/render.hpp"
#include "tree/walker.hpp"

namespace boxwalk {
namespace {

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
    // The plan reads the first moov for its children and each udta among
    // them whole: those are the lines.
    for_each_planned(source, kConsolePlan, [&](const Planned& planned) {
        const Atom& atom = planned.atom;
        if (planned.depth == 0) {
            if (planned.take == Take::children) {
                write_listed(out, "", atom);
            }
            return;
        }
        write_listed(out, "  ", atom);
        if (planned.take == Take::whole) {
            walk_container(source, atom.payload_start, atom.end, 2, out);
        }
    });
}

void scan_top_level(ByteView data, Output& out) {
    MemorySource source(data);
    scan_top_level(source, out);
}

}  // namespace boxwalk
