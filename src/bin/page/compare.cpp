#include "bin/page/compare.hpp"

#include <algorithm>
#include <cstring>
#include <dtl/dtl.hpp>

namespace boxwalk {
namespace {

// Lines of context around each change, and the most unchanged lines
// between two changes that stay in one hunk: as `diff -u` writes them.
constexpr std::size_t kContext = 3;

// How often the search reports its progress: every 2^20 comparisons.
constexpr std::uint64_t kReportEvery = std::uint64_t{1} << 20;

// A line's hash: eight bytes at a time, mixed by multiplication.
std::uint64_t hash_of(std::string_view line) {
    constexpr std::uint64_t kMix = 0x9E3779B97F4A7C15;
    std::uint64_t hash = line.size();
    std::size_t at = 0;
    for (; at + 8 <= line.size(); at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, line.data() + at, 8);
        hash = (hash ^ word) * kMix;
        hash ^= hash >> 29;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, line.data() + at, line.size() - at);
    hash = (hash ^ tail) * kMix;
    return hash ^ (hash >> 32);
}

// Whether two lines hold the same bytes, compared eight at a time: the
// byte at a time of the WebAssembly build's own memcmp takes longer than
// all the rest of numbering a line.
bool same_line(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    std::size_t at = 0;
    for (; a.size() - at >= 8; at += 8) {
        std::uint64_t x = 0;
        std::uint64_t y = 0;
        std::memcpy(&x, a.data() + at, 8);
        std::memcpy(&y, b.data() + at, 8);
        if (x != y) {
            return false;
        }
    }
    for (; at < a.size(); ++at) {
        if (a[at] != b[at]) {
            return false;
        }
    }
    return true;
}

// Numbers lines so that the search compares numbers: equal lines, equal
// numbers. The lines of one output are numbered first (add), then those of
// the other are looked up (find): one not among the first's gets a number
// of its own, never stored, as no line can equal it. So the table holds the
// shorter output's lines only.
class LineNumbers {
public:
    explicit LineNumbers(std::size_t lines) {
        std::size_t slots = 16;
        while (slots < 2 * lines) {
            slots *= 2;
        }
        slots_.assign(slots, Slot{});
    }

    std::uint32_t add(std::string_view line) { return look(line, true); }
    std::uint32_t find(std::string_view line) { return look(line, false); }
    // The numbers given so far.
    std::size_t count() const { return count_; }

private:
    // A line's number plus one (0 for a free slot) beside part of its hash,
    // which a look-up compares before it reads the line.
    struct Slot {
        std::uint32_t number = 0;
        std::uint32_t hash = 0;
    };

    std::uint32_t look(std::string_view line, bool add) {
        const std::uint64_t hash = hash_of(line);
        const auto tag = static_cast<std::uint32_t>(hash >> 32);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t slot = static_cast<std::size_t>(hash) & mask;; slot = (slot + 1) & mask) {
            const Slot held = slots_[slot];
            if (held.number == 0) {
                if (add) {
                    lines_.push_back(line);
                    slots_[slot] = Slot{static_cast<std::uint32_t>(lines_.size()), tag};
                    count_ = lines_.size();
                    return static_cast<std::uint32_t>(lines_.size() - 1);
                }
                return static_cast<std::uint32_t>(count_++);
            }
            if (held.hash == tag && same_line(lines_[held.number - 1], line)) {
                return held.number - 1;
            }
        }
    }

    std::vector<Slot> slots_;
    std::vector<std::string_view> lines_;  // the lines added, by number
    std::size_t count_ = 0;
};

// The work the search may still do, shared by the copies dtl makes of the
// comparison below.
struct Budget {
    std::uint64_t left = 0;
    std::uint64_t total = 0;
    bool spent = false;
    const std::function<void(double)>* progress = nullptr;
};

// Line numbers compared while the budget lasts. Once it is spent, every
// pair reads as different: the search then only runs on to the end of its
// steps, and the script it writes remains correct.
class BoundedEqual : public dtl::Compare<std::uint32_t> {
public:
    BoundedEqual() = default;
    explicit BoundedEqual(Budget* budget) : budget_(budget) {}

    bool impl(const std::uint32_t& a, const std::uint32_t& b) const override {
        if (budget_->left == 0) {
            budget_->spent = true;
            return false;
        }
        budget_->left -= 1;
        if (budget_->left % kReportEvery == 0 && *budget_->progress) {
            (*budget_->progress)(1.0 - static_cast<double>(budget_->left) /
                                           static_cast<double>(budget_->total));
        }
        return a == b;
    }

private:
    Budget* budget_ = nullptr;
};

// Keeps the kind of each step of dtl's script (dtl::SES_DELETE, SES_COMMON,
// SES_ADD), in order.
template <typename SesElement, typename Kinds>
class KeepKinds {
public:
    explicit KeepKinds(Kinds& kinds) : kinds_(kinds) {}
    void operator()(const SesElement& element) const {
        kinds_.push_back(static_cast<std::int8_t>(element.second.type));
    }

private:
    Kinds& kinds_;
};

// The steps dtl's search has taken once it has tried every script that
// removes up to `p` lines of the shorter output (`delta` lines shorter than
// the other): it widens by a diagonal on each side for each such line, and
// takes a step on every diagonal each time. It stops by itself when this
// reaches dtl::MAX_CORDINATES_SIZE.
double steps_through(std::uint64_t p, std::uint64_t delta) {
    const auto lines = static_cast<double>(p);
    return (lines + 1) * (static_cast<double>(delta) + 1) + lines * (lines + 1);
}

// Whether a search that finds scripts removing `p` lines of the shorter
// output stops at dtl's limit first.
bool past_steps(std::uint64_t p, std::uint64_t delta) {
    return p > 0 && steps_through(p - 1, delta) >= static_cast<double>(dtl::MAX_CORDINATES_SIZE);
}

// Writes the hunks of the script `kinds` (one a line of either output) into
// `result`.
void write_hunks(const OutputLines& first, const OutputLines& second,
                 const std::vector<std::int8_t>& kinds, Comparison& result) {
    const std::size_t steps = kinds.size();
    // Where each step stands in the two outputs, kept for the hunk's start.
    std::size_t step = 0;
    std::size_t at_first = 0;
    std::size_t at_second = 0;
    const auto advance = [&](std::size_t to) {
        for (; step < to; ++step) {
            at_first += kinds[step] != dtl::SES_ADD;
            at_second += kinds[step] != dtl::SES_DELETE;
        }
    };
    const auto next_change = [&](std::size_t from) {
        while (from < steps && kinds[from] == dtl::SES_COMMON) {
            ++from;
        }
        return from;
    };
    const auto next_common = [&](std::size_t from) {
        while (from < steps && kinds[from] != dtl::SES_COMMON) {
            ++from;
        }
        return from;
    };
    const auto put = [&](char mark, std::string_view line) {
        result.hunks.push_back(mark);
        result.hunks.append(line);
        if (line.empty() || line.back() != '\n') {
            result.hunks += "\n\\ No newline at end of file\n";
        }
        result.marks.push_back(mark);
    };
    std::size_t change = next_change(0);
    std::size_t end = 0;  // where the last hunk ended
    while (change < steps) {
        const std::size_t start = std::max(end, change >= kContext ? change - kContext : 0);
        // The hunk runs on while the next change is within two contexts.
        std::size_t last = next_common(change);
        for (std::size_t after = next_change(last); after < steps && after - last <= 2 * kContext;
             after = next_change(last)) {
            last = next_common(after);
        }
        end = std::min(steps, last + kContext);

        advance(start);
        const std::size_t first_start = at_first;
        const std::size_t second_start = at_second;
        std::size_t first_lines = 0;
        std::size_t second_lines = 0;
        for (std::size_t k = start; k < end; ++k) {
            first_lines += kinds[k] != dtl::SES_ADD;
            second_lines += kinds[k] != dtl::SES_DELETE;
        }
        // A range of no lines starts at the line before it.
        const auto header_start = [](std::size_t from, std::size_t lines) {
            return lines == 0 ? from : from + 1;
        };
        result.hunks += "@@ -" + std::to_string(header_start(first_start, first_lines)) + "," +
                        std::to_string(first_lines) + " +" +
                        std::to_string(header_start(second_start, second_lines)) + "," +
                        std::to_string(second_lines) + " @@\n";
        result.ranges.insert(
            result.ranges.end(),
            {static_cast<std::uint32_t>(first_start), static_cast<std::uint32_t>(first_lines),
             static_cast<std::uint32_t>(second_start), static_cast<std::uint32_t>(second_lines)});
        // Within a run of changes the removed lines go first, then the
        // added ones, each in their order.
        std::size_t in_first = first_start;
        std::size_t in_second = second_start;
        for (std::size_t k = start; k < end;) {
            if (kinds[k] == dtl::SES_COMMON) {
                put(' ', first.line(in_first));
                ++in_first;
                ++in_second;
                ++k;
                continue;
            }
            const std::size_t run_end = std::min(end, next_common(k));
            std::size_t removed = 0;
            for (std::size_t r = k; r < run_end; ++r) {
                removed += kinds[r] == dtl::SES_DELETE;
            }
            const std::size_t added = run_end - k - removed;
            for (std::size_t r = 0; r < removed; ++r) {
                put('-', first.line(in_first++));
            }
            for (std::size_t a = 0; a < added; ++a) {
                put('+', second.line(in_second++));
            }
            result.removed += removed;
            result.added += added;
            k = run_end;
        }
        change = next_change(end);
    }
}

}  // namespace

OutputLines::OutputLines(std::string_view output) : text(output) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t feed = text.find('\n', at);
        at = feed == std::string_view::npos ? text.size() : feed + 1;
        ends.push_back(at);
    }
}

std::string_view OutputLines::line(std::size_t i) const {
    const std::size_t start = i == 0 ? 0 : ends[i - 1];
    return text.substr(start, ends[i] - start);
}

Comparison compare_outputs(std::string_view first_output, std::string_view second_output,
                           const CompareBound& bound, const std::function<void(double)>& progress) {
    Comparison result;
    const OutputLines first(first_output);
    const OutputLines second(second_output);
    result.first_lines = first.size();
    result.second_lines = second.size();
    // The lines both start and end with are kept as they are; only those
    // between are compared, as most pairs differ in a few lines.
    std::size_t head = 0;
    while (head < first.size() && head < second.size() &&
           same_line(first.line(head), second.line(head))) {
        ++head;
    }
    std::size_t tail = 0;
    while (tail < first.size() - head && tail < second.size() - head &&
           same_line(first.line(first.size() - 1 - tail), second.line(second.size() - 1 - tail))) {
        ++tail;
    }
    const std::size_t first_middle = first.size() - head - tail;
    const std::size_t second_middle = second.size() - head - tail;
    const bool first_shorter = first_middle <= second_middle;
    LineNumbers numbers(std::min(first_middle, second_middle));
    std::vector<std::uint32_t> a(first_middle);
    std::vector<std::uint32_t> b(second_middle);
    const auto number = [&numbers](const OutputLines& lines, std::size_t from,
                                   std::vector<std::uint32_t>& to, bool add) {
        for (std::size_t i = 0; i < to.size(); ++i) {
            const std::string_view line = lines.line(from + i);
            to[i] = add ? numbers.add(line) : numbers.find(line);
        }
    };
    number(first_shorter ? first : second, head, first_shorter ? a : b, true);
    number(first_shorter ? second : first, head, first_shorter ? b : a, false);
    // How often each line occurs on each side: the lines that no script
    // can keep.
    std::vector<std::int64_t> balance(numbers.count());
    for (const std::uint32_t n : a) {
        balance[n] += 1;
    }
    for (const std::uint32_t n : b) {
        balance[n] -= 1;
    }
    for (const std::int64_t surplus : balance) {
        (surplus > 0 ? result.only_first : result.only_second) +=
            static_cast<std::uint64_t>(surplus > 0 ? surplus : -surplus);
    }

    std::vector<std::int8_t> kinds(head, dtl::SES_COMMON);
    const std::uint64_t delta = first_shorter ? b.size() - a.size() : a.size() - b.size();
    if (past_steps(first_shorter ? result.only_first : result.only_second, delta)) {
        // Past the bound before it starts: the script replaces every line.
        result.bounded = true;
        kinds.insert(kinds.end(), a.size(), dtl::SES_DELETE);
        kinds.insert(kinds.end(), b.size(), dtl::SES_ADD);
    } else {
        Budget budget{bound.comparisons, std::max<std::uint64_t>(bound.comparisons, 1), false,
                      &progress};
        dtl::Diff<std::uint32_t, std::vector<std::uint32_t>, BoundedEqual> diff(
            a, b, BoundedEqual(&budget));
        // Stopped at its limit of steps, dtl keeps the path found so far and
        // removes and adds the rest.
        diff.onUnserious();
        diff.compose();
        diff.storeSES<std::vector<std::int8_t>, KeepKinds>(kinds);
        const auto removed_from_shorter = static_cast<std::uint64_t>(
            std::count(kinds.begin(), kinds.end(), first_shorter ? dtl::SES_DELETE : dtl::SES_ADD));
        result.bounded = budget.spent || past_steps(removed_from_shorter, delta);
    }
    kinds.insert(kinds.end(), tail, dtl::SES_COMMON);
    write_hunks(first, second, kinds, result);
    return result;
}

}  // namespace boxwalk
