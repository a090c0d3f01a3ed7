#include "tags/reader.hpp"

#include "tree/scan.hpp"

namespace boxwalk {

TagReport read_tags(Source& source) {
    TagReport report;
    report.kind = source.size() == 0 ? FileKind::empty : FileKind::unknown;
    for (std::uint64_t pos = 0; room_for(pos, source.size(), 8);) {
        Atom atom;
        if (!read_top_level_atom(source, pos, atom)) {
            break;
        }
        if (atom.is("moov")) {
            report.kind = FileKind::mp4;
            report.moov = FileRange{atom.pos, atom.header.size};
            break;
        }
        pos = atom.end;
    }
    return report;
}

}  // namespace boxwalk
