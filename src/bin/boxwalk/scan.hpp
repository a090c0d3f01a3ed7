#pragma once

#include <cstdint>

#include "primitives/bytes.hpp"
#include "primitives/output.hpp"

// The top of the scan: the first top-level moov, its children, and the walk
// of every udta child; and the plan of the bytes that scan can read, made by
// the same loops.
namespace boxwalk {

// Lists the first top-level moov of `data`: its line, a line per child, and
// the walk of every udta child. Prints nothing when there is no moov.
void scan_top_level(ByteView data, Output& out);

// What a plan asks for: the file's bytes [pos, pos + count) put in place in
// the view being planned, the run cut at the view's end. False when they
// cannot be had, which ends the plan.
class ReadPlanner {
public:
    virtual bool fetch(std::uint64_t pos, std::uint64_t count) = 0;

protected:
    ~ReadPlanner() = default;
};

// Asks `planner` for every byte that scan_top_level(data) can read, in the
// order the scan meets them, before reading any of them itself: the header
// of each top-level atom up to the first moov, the header of each child of
// moov, and each udta child's range with the header room after its end.
// Everything else, media data above all, is never asked for. `data` needs
// only the fetched bytes in place, so a view whose other bytes cannot be
// read is planned safely. False when a fetch failed.
bool plan_reads(ByteView data, ReadPlanner& planner);

}  // namespace boxwalk
