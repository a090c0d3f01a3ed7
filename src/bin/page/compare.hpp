#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Two outputs of the program compared line by line, as the page's "before
// and after" shows them and saves them: the shortest edit script from dtl
// (Debian's libdtl-dev, an O(NP) diff), within a bound on its work, written
// as the hunks of a unified diff that `patch` applies to the first output to
// give the second.
namespace boxwalk {

// One output's lines as `patch` reads them: its text cut after each line
// feed (so a line of the program's that holds line feeds of its own counts
// as several), the last line perhaps without one.
struct OutputLines {
    explicit OutputLines(std::string_view output);

    std::string_view text;
    std::vector<std::size_t> ends;  // where each line ends, its line feed included

    std::size_t size() const { return ends.size(); }
    // Line i with its line feed.
    std::string_view line(std::size_t i) const;
};

// How far the search for the shortest script may go before it stops and
// writes a script that is correct but longer than the shortest.
struct CompareBound {
    // Line comparisons in the search. Its steps are bounded by dtl itself
    // (dtl::MAX_CORDINATES_SIZE, two million).
    std::uint64_t comparisons = std::uint64_t{48} << 20;
};

struct Comparison {
    // The unified diff's hunks, three lines of context each, in exact bytes:
    // everything after its two header lines. A last line without a line
    // feed is followed by "\ No newline at end of file", as `diff` writes it.
    std::string hunks;
    // Four numbers a hunk: its first line in the first output and how many
    // lines of it the hunk holds, then the same in the second. Lines count
    // from 0.
    std::vector<std::uint32_t> ranges;
    // One mark a line of the hunks, in order: ' ' kept, '-' removed, '+'
    // added.
    std::string marks;
    // The lines of each output, and those the script removes from the
    // first and adds from the second.
    std::uint64_t first_lines = 0;
    std::uint64_t second_lines = 0;
    std::uint64_t removed = 0;
    std::uint64_t added = 0;
    // The lines of one output that no line of the other matches, a line
    // counted as often as it occurs more often there than in the other: no
    // script removes (adds) fewer lines.
    std::uint64_t only_first = 0;
    std::uint64_t only_second = 0;
    // Whether the search stopped at the bound. When it does, the script
    // still turns the first output into the second.
    bool bounded = false;
};

// Compares the outputs `first` and `second`. `progress` hears, now and then, the share
// of the bound's work done so far (0 to 1).
Comparison compare_outputs(std::string_view first, std::string_view second,
                           const CompareBound& bound,
                           const std::function<void(double)>& progress = {});

}  // namespace boxwalk
