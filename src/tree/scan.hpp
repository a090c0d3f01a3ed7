#pragma once

#include <cstdint>

#include "primitives/atom.hpp"
#include "primitives/bytes.hpp"
#include "primitives/output.hpp"
#include "source/source.hpp"

// The top of the scan: the first top-level moov, its children, and the walk
// of every udta child.
namespace boxwalk {

// Lists the first top-level moov of `source`: its line, a line per child,
// and the walk of every udta child. Prints nothing when there is none.
void scan_top_level(Source& source, Output& out);
// The same over bytes in memory.
void scan_top_level(ByteView data, Output& out);

// The rules of the listing, which the stream source follows too to keep
// what the scan will read.

// The atom at `pos` as the top-level scan takes it. False, ending the scan,
// when its header is not wholly inside the data or the atom is shorter than
// its header. The scan stops at the first moov and otherwise goes on at the
// atom's end (the end of the data for a size of 0).
inline bool read_top_level_atom(Source& source, std::uint64_t pos, Atom& atom) {
    return read_atom(source, pos, atom) && atom.whole();
}

// Calls `take(child)` for each child of `moov` that the listing shows, in
// order. moov's declared end may lie past a truncated file: the listing ends
// at the first child header that is not wholly inside the data. A child's
// size is taken as its header states it: a size of 0 runs to the end of the
// data, and a 64-bit size of 0, which would never advance, ends the listing.
// A udta child is walked to its own end, past moov's when it reaches there.
template <typename Take>
void for_each_listed_child(Source& source, const Atom& moov, Take&& take) {
    for (std::uint64_t off = moov.payload_start; room_for(off, moov.end, 8);) {
        Atom child;
        if (!read_atom(source, off, child)) {
            return;
        }
        take(child);
        if (child.header.size == 0) {
            return;
        }
        off = child.end;
    }
}

// How far a walk of the children of `atom` reads: to its end, and the 8
// bytes after of a 64-bit header that starts in its last 8.
inline std::uint64_t walk_reach(const Atom& atom) { return sat_add(atom.end, kHeaderLookahead); }

}  // namespace boxwalk
