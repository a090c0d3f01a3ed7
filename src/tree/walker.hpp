#pragma once

#include <cstdint>

#include "primitives/bytes.hpp"
#include "primitives/output.hpp"
#include "source/source.hpp"

namespace boxwalk {

// Deepest level that is still walked; a range below it gets one
// "[nesting too deep]" line, so hostile nesting bounds stack and output.
inline constexpr unsigned kMaxDepth = 1000;

// Writes two spaces per level.
inline void indent(Output& out, unsigned depth) { out.fill(' ', std::size_t{depth} * 2); }

// Prints one line per atom of `source` between `start` and `end` (absolute
// offsets) at `depth`, descending into containers. The range is cut back to
// the data first; a range of fewer than 8 bytes, or with start beyond end,
// prints nothing. A malformed atom gets a "[malformed ...]" line and ends
// the range. A failed read ends every range without a line.
void walk_container(Source& source, std::uint64_t start, std::uint64_t end, unsigned depth,
                    Output& out);
// The same over bytes in memory.
void walk_container(ByteView data, std::uint64_t start, std::uint64_t end, unsigned depth,
                    Output& out);

}  // namespace boxwalk
