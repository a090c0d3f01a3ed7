#include "bin/boxwalk/scan.hpp"

#include <algorithm>
#include <optional>

#include "primitives/atom.hpp"
#include "primitives/render.hpp"
#include "tree/walker.hpp"

namespace boxwalk {
namespace {

// The most bytes read_atom looks at: a header with a 64-bit size.
constexpr std::uint64_t kLongestHeader = 16;

// The scan itself needs every byte in place already.
constexpr auto kAllInPlace = [](std::uint64_t, std::uint64_t) { return true; };

// The first top-level atom whose type is moov. Each header is asked of
// `need` before it is read. Empty when there is none, or when an atom
// shorter than its own header, or an unreadable header, ends the scan first.
template <typename Need>
std::optional<Atom> find_moov(ByteView data, Need&& need) {
    for (std::uint64_t pos = 0; fits(data, pos, 8);) {
        if (!need(pos, kLongestHeader)) {
            return std::nullopt;
        }
        Atom atom;
        if (!read_atom(data, pos, atom) || !atom.whole()) {
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

// Calls `visit` on each child of `moov` in order, each header asked of
// `need` before it is read, until `visit` returns false. A child's size is
// taken as its header states it, not checked against the header's length.
template <typename Need, typename Visit>
void for_each_moov_child(ByteView data, const Atom& moov, Need&& need, Visit&& visit) {
    for (std::uint64_t off = moov.payload_start; room_for(off, moov.end, 8);) {
        // moov's declared end may lie past a truncated file: the listing
        // ends at the first child header that is not wholly inside the data.
        if (!need(off, kLongestHeader)) {
            return;
        }
        Atom child;
        if (!read_atom(data, off, child) || !visit(child)) {
            return;
        }
        // A 64-bit size of 0 would never advance.
        if (child.header.size == 0) {
            return;
        }
        off = child.end;
    }
}

}  // namespace

void scan_top_level(ByteView data, Output& out) {
    const auto moov = find_moov(data, kAllInPlace);
    if (!moov) {
        return;
    }
    out.write("moov (size=");
    write_decimal(out, moov->header.size);
    out.write(", @ ");
    write_decimal(out, moov->pos);
    out.line(")");
    for_each_moov_child(data, *moov, kAllInPlace, [&](const Atom& child) {
        out.write("  ");
        out.write(child.type());
        out.write(" (size=");
        write_decimal(out, child.header.size);
        out.write(", @ ");
        write_decimal(out, child.pos);
        out.line(")");
        if (child.is("udta")) {
            walk_container(data, child.payload_start, child.end, 2, out);
        }
        return true;
    });
}

bool plan_reads(ByteView data, ReadPlanner& planner) {
    bool fetched = true;
    const auto need = [&](std::uint64_t pos, std::uint64_t count) {
        fetched = fetched && planner.fetch(pos, count);
        return fetched;
    };
    const auto moov = find_moov(data, need);
    if (moov) {
        for_each_moov_child(data, *moov, need, [&](const Atom& child) {
            if (!child.is("udta")) {
                return true;
            }
            // What walk_container reads of its range: nothing past the data,
            // and at most kWalkLookahead bytes past the range's end.
            const std::uint64_t end = std::min<std::uint64_t>(child.end, data.size());
            return child.payload_start >= end ||
                   need(child.payload_start, end - child.payload_start + kWalkLookahead);
        });
    }
    return fetched;
}

}  // namespace boxwalk
