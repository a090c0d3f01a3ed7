#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "primitives/atom.hpp"
#include "primitives/bytes.hpp"
#include "source/source.hpp"

// What a program reads of a file, stated once: a plan of rows, each saying
// how much of an atom of a type is read where it stands. The scan follows
// it, and so does the keeper of a stream, which keeps of the stream exactly
// what the scan will read.
namespace boxwalk {

// How much of an atom is read.
enum class Take : std::uint8_t {
    header,    // its header only
    children,  // its header and its children's, each as the rows of their level say
    whole,     // all of it, with the bytes after its end that a walk of it reads
};

// At `where`, an atom of `type` is read as `take`. `where` names the atoms
// above, outermost first, joined by '/': "" is the top level, "moov" the
// inside of the first top-level moov. The type "*" stands for any type that
// no other row of that level names.
struct PlanRow {
    std::string_view where;
    std::string_view type;
    Take take;
};

struct ReadPlan {
    std::span<const PlanRow> rows;
    // Whether the top level is read on after the first atom read for its
    // children, the first moov; the console's scan ends with it. Later
    // atoms of that type are read as "*" would be.
    bool past_first_moov = false;
    // How many of the file's first bytes are read whatever they hold: what
    // tells the kind of a file that holds no atoms.
    std::uint64_t head = 0;
};

// What the console shows: the first top-level moov, a line for each of its
// children, and the walk of each udta among them.
inline constexpr PlanRow kConsoleRows[] = {
    {"", "moov", Take::children},
    {"", "*", Take::header},
    {"moov", "udta", Take::whole},
    {"moov", "*", Take::header},
};
inline constexpr ReadPlan kConsolePlan{kConsoleRows, false};

// Every tag a file holds: beyond the console's, an XMP uuid atom at the top
// level wherever it stands, moov's meta, each track's children with its
// udta and meta, and the first 512 bytes, which say what a file is that
// holds no MP4 atoms.
inline constexpr PlanRow kEveryTagRows[] = {
    {"", "moov", Take::children},
    {"", "uuid", Take::whole},
    {"", "*", Take::header},
    {"moov", "udta", Take::whole},
    {"moov", "meta", Take::whole},
    {"moov", "trak", Take::children},
    {"moov", "*", Take::header},
    {"moov/trak", "udta", Take::whole},
    {"moov/trak", "meta", Take::whole},
    {"moov/trak", "*", Take::header},
};
inline constexpr ReadPlan kEveryTagPlan{kEveryTagRows, true, 512};

// The atom at `pos` as the top level takes it. False, ending the top level,
// when its header is not wholly inside the data or the atom is shorter
// than its header. The next atom starts at its end (the end of the data for
// a size of 0).
inline bool read_top_level_atom(Source& source, std::uint64_t pos, Atom& atom) {
    return read_atom(source, pos, atom) && atom.whole();
}

// How far a walk of the children of `atom` reads: to its end, and the 8
// bytes after of a 64-bit header that starts in its last 8.
inline std::uint64_t walk_reach(const Atom& atom) { return sat_add(atom.end, kHeaderLookahead); }

// An atom that a plan reads, and how.
struct Planned {
    Atom atom;
    Take take = Take::header;
    unsigned depth = 0;  // 0 at the top level, 1 inside moov, ...
};

// A walk of a plan over a source, one header a step, in file order: the top
// level, and the children of each atom that the plan reads for them.
// Children are read as their parent's header states them: while 8 bytes
// remain before its end (which may lie past a truncated file) and the end
// of the level it stands in, a child's size as it is (a size of 0 runs to
// the end of the data), and a 64-bit size of 0, which would never advance,
// ends them. So the headers it reads never lie before one read already;
// an atom read whole may reach past its parent.
class PlanWalk {
public:
    explicit PlanWalk(const ReadPlan& plan);

    // Where the header that the next step reads lies, once the levels that
    // end before it are closed; empty when the walk is done.
    std::optional<std::uint64_t> next(const Source& source);
    // Reads the header at next(): the atom and how the plan reads it.
    // Empty when it cannot be read, which ends the level it stands in.
    std::optional<Planned> step(Source& source);

private:
    // The deepest level a plan may name, the top level counted.
    static constexpr std::size_t kDeepest = 4;

    struct Level {
        std::uint64_t pos = 0;
        std::uint64_t end = 0;       // the parent's end; the data's at the top level
        std::array<char, 4> type{};  // the parent's type
        bool ended = false;
    };

    Take take_of(const Atom& atom) const;

    ReadPlan plan_;
    std::array<Level, kDeepest> levels_{};
    std::size_t depth_ = 1;  // levels_[0] is the top level
    bool first_moov_read_ = false;
};

// Calls `visit(planned)` for each atom that `plan` reads of `source`, in
// file order: a parent before its children.
template <typename Visit>
void for_each_planned(Source& source, const ReadPlan& plan, Visit&& visit) {
    PlanWalk walk(plan);
    while (walk.next(source)) {
        if (const std::optional<Planned> planned = walk.step(source)) {
            visit(*planned);
        }
    }
}

}  // namespace boxwalk
