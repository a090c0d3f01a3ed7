#pragma once

#include <cstdint>
#include <string_view>

#include "primitives/bytes.hpp"
#include "primitives/output.hpp"
#include "source/source.hpp"

namespace boxwalk {

// Deepest level that is still walked; a range below it gets one
// "[nesting too deep]" line, so hostile nesting bounds stack and output.
inline constexpr unsigned kMaxDepth = 1000;

// Writes two spaces per level.
inline void indent(Output& out, unsigned depth) { out.fill(' ', std::size_t{depth} * 2); }

// Lines of up to kShortIndent levels are indented in place with the rest of
// the line (see start_line): one store of all of kSpaces.
inline constexpr std::string_view kSpaces = "                              ";
inline constexpr unsigned kShortIndent = kSpaces.size() / 2;

// Starts a line at `depth`: where, in the output's room (see Output::room),
// the line goes on after its indent. Up to kShortIndent levels the indent is
// placed there too, with the line, where writing it apart would keep the
// line's start waiting on the output (see bench/README.md); a deeper one is
// written apart. The line's bounded parts are placed from there and
// committed together, at most Output::kRoom - kSpaces.size() bytes.
inline char* start_line(Output& out, unsigned depth) {
    if (depth <= kShortIndent) {
        return place(out.room(), kSpaces) - kSpaces.size() + 2 * std::size_t{depth};
    }
    indent(out, depth);
    return out.room();
}

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
