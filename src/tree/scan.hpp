#pragma once

#include "primitives/bytes.hpp"
#include "primitives/output.hpp"
#include "source/source.hpp"
#include "tree/plan.hpp"

// The top of the scan: the first top-level moov, its children, and the walk
// of every udta child, as the console's plan reads them.
namespace boxwalk {

// Lists the first top-level moov of `source`: its line, a line per child,
// and the walk of every udta child. Prints nothing when there is none.
void scan_top_level(Source& source, Output& out);
// The same over bytes in memory.
void scan_top_level(ByteView data, Output& out);

}  // namespace boxwalk
