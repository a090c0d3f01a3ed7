#include "tree/plan.hpp"

#include <algorithm>

namespace boxwalk {

PlanWalk::PlanWalk(const ReadPlan& plan) : plan_(plan) {}

std::optional<std::uint64_t> PlanWalk::next(const Source& source) {
    while (depth_ > 0) {
        const Level& level = levels_[depth_ - 1];
        const std::uint64_t end = depth_ == 1 ? source.size() : level.end;
        if (!level.ended && room_for(level.pos, end, 8)) {
            return level.pos;
        }
        --depth_;
        // Back at the top level from the children of the first moov.
        if (depth_ == 1 && !plan_.past_first_moov) {
            levels_[0].ended = true;
        }
    }
    return std::nullopt;
}

std::optional<Planned> PlanWalk::step(Source& source) {
    Level& level = levels_[depth_ - 1];
    const bool top = depth_ == 1;
    Atom atom;
    if (!(top ? read_top_level_atom(source, level.pos, atom)
              : read_atom(source, level.pos, atom))) {
        level.ended = true;
        return std::nullopt;
    }
    const Take take = take_of(atom);
    const Planned planned{atom, take, static_cast<unsigned>(depth_ - 1)};
    if (!top && atom.header.size == 0) {
        level.ended = true;
    } else {
        level.pos = atom.end;
    }
    if (take == Take::children) {
        // Children lie inside the level of their parent too, so that the
        // walk never goes back before where it has been.
        first_moov_read_ = first_moov_read_ || top;
        const std::uint64_t level_end = top ? source.size() : level.end;
        levels_[depth_++] =
            Level{atom.payload_start, std::min(atom.end, level_end), atom.type_chars, false};
    }
    return planned;
}

Take PlanWalk::take_of(const Atom& atom) const {
    // The rows of this level: their `where` names the types of the levels'
    // parents, outermost first.
    const auto at_this_level = [this](std::string_view where) {
        for (std::size_t i = 1; i < depth_; ++i) {
            const std::string_view parent(levels_[i].type.data(), levels_[i].type.size());
            if (i > 1 && !where.starts_with('/')) {
                return false;
            }
            where.remove_prefix(i > 1 ? 1 : 0);
            if (!where.starts_with(parent)) {
                return false;
            }
            where.remove_prefix(parent.size());
        }
        return where.empty();
    };
    // The top level reads one atom for its children; children below the
    // deepest level a plan may name are never read.
    const auto allowed = [this](Take take) {
        const bool no_more = depth_ == kDeepest || (depth_ == 1 && first_moov_read_);
        return take != Take::children || !no_more;
    };
    std::optional<Take> any;
    for (const PlanRow& row : plan_.rows) {
        if (!at_this_level(row.where) || !allowed(row.take)) {
            continue;
        }
        if (atom.is(row.type)) {
            return row.take;
        }
        if (row.type == "*") {
            any = row.take;
        }
    }
    return any.value_or(Take::header);
}

}  // namespace boxwalk
