// The page's comparison of two outputs: its hunks, applied as `patch` applies
// them, turn the first output into the second; unbounded, they change no
// more lines than the longest common subsequence leaves (an independent
// count); bounded, they still apply and say how many lines had no match.
#include "bin/page/compare.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace boxwalk {
namespace {

// Text cut after each line feed, as `patch` reads it.
std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    const OutputLines cut(text);
    for (std::size_t i = 0; i < cut.size(); ++i) {
        lines.emplace_back(cut.line(i));
    }
    return lines;
}

// `first` with the hunks applied, checking each kept and removed line; a
// note in `error` where they do not fit.
std::string patched(const std::string& first, const Comparison& comparison, std::string& error) {
    const OutputLines lines(first);
    std::string out;
    std::size_t line = 0;
    std::size_t at = 0;
    const std::string& hunks = comparison.hunks;
    while (at < hunks.size()) {
        const std::size_t end = hunks.find('\n', at);
        unsigned long start = 0, count = 0, second_start = 0, second_count = 0;
        if (std::sscanf(hunks.substr(at, end - at).c_str(), "@@ -%lu,%lu +%lu,%lu @@", &start,
                        &count, &second_start, &second_count) != 4) {
            error = "no hunk header at " + std::to_string(at);
            return out;
        }
        at = end + 1;
        for (const std::size_t from = count == 0 ? start : start - 1; line < from;) {
            out += lines.line(line++);
        }
        for (unsigned long kept = 0, added = 0; kept < count || added < second_count;) {
            const char mark = hunks[at];
            std::string body = hunks.substr(at + 1, hunks.find('\n', at) - at);
            at += body.size() + 1;
            const std::string_view unended = "\\ No newline at end of file\n";
            if (hunks.compare(at, unended.size(), unended) == 0) {
                body.pop_back();
                at += unended.size();
            }
            if (mark != '+' && (line >= lines.size() || lines.line(line++) != body)) {
                error = "line " + std::to_string(line) + " differs";
                return out;
            }
            kept += mark != '+';
            if (mark != '-') {
                out += body;
                ++added;
            }
        }
    }
    while (line < lines.size()) {
        out += lines.line(line++);
    }
    return out;
}

// The lines of a longest common subsequence.
std::size_t common_lines(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::vector<std::vector<std::size_t>> lcs(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = a.size(); i-- > 0;) {
        for (std::size_t j = b.size(); j-- > 0;) {
            lcs[i][j] =
                a[i] == b[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
        }
    }
    return lcs[0][0];
}

TEST(CompareOutputs, RandomPairsPatchAndAreShortest) {
    std::mt19937 random(7);
    // Few distinct lines, so that most lines match some other; some with
    // a NUL, a carriage return or a line feed of their own, and an output
    // may end without one.
    static const std::string kPieces[] = {"moov\n",     "a\rb\n",     std::string("n\0l\n", 4),
                                          "x\ny\n",     "  line 1\n", "  line 2\n",
                                          "  line 3\n", "end"};
    const auto output = [&random](std::size_t pieces) {
        std::string text;
        for (std::size_t i = 0; i < pieces; ++i) {
            const std::string& piece = kPieces[random() % 8];
            text += piece.back() == '\n' || i + 1 == pieces ? piece : piece + '\n';
        }
        return text;
    };
    for (int round = 0; round < 2000; ++round) {
        const std::string first = output(random() % 30);
        std::string second = first;
        if (round % 4 == 0) {
            second = output(random() % 30);
        } else {
            for (std::size_t edits = random() % 6; edits-- > 0 && !second.empty();) {
                const std::size_t at = random() % second.size();
                second.insert(at, output(1 + random() % 2));
            }
        }
        CompareBound bound;
        if (round % 5 == 1) {
            bound.comparisons = random() % 20;
        }
        const Comparison result = compare_outputs(first, second, bound);
        std::string error;
        EXPECT_EQ(patched(first, result, error), second) << "round " << round << ": " << error;
        EXPECT_EQ(
            result.removed + result.added,
            static_cast<std::uint64_t>(std::count(result.marks.begin(), result.marks.end(), '-') +
                                       std::count(result.marks.begin(), result.marks.end(), '+')))
            << "round " << round;
        const std::vector<std::string> a = lines_of(first);
        const std::vector<std::string> b = lines_of(second);
        if (!result.bounded) {
            const std::size_t common = common_lines(a, b);
            EXPECT_EQ(result.removed, a.size() - common) << "round " << round;
            EXPECT_EQ(result.added, b.size() - common) << "round " << round;
        }
        std::map<std::string, long> balance;
        for (const std::string& line : a) balance[line] += 1;
        for (const std::string& line : b) balance[line] -= 1;
        std::uint64_t only_first = 0;
        std::uint64_t only_second = 0;
        for (const auto& [line, surplus] : balance) {
            (surplus > 0 ? only_first : only_second) +=
                static_cast<std::uint64_t>(std::labs(surplus));
        }
        EXPECT_EQ(result.only_first, only_first) << "round " << round;
        EXPECT_EQ(result.only_second, only_second) << "round " << round;
    }
}

// Past the bound: lines in another order (dtl's limit of steps), and
// outputs that share no line (no search at all). The script still applies.
TEST(CompareOutputs, StopsAtTheBoundAndStillPatches) {
    std::string lines;
    std::string reversed;
    std::string other;
    for (int i = 0; i < 3000; ++i) {
        lines += "entry " + std::to_string(i) + "\n";
        reversed.insert(0, "entry " + std::to_string(i) + "\n");
        other += "other " + std::to_string(i) + "\n";
    }
    for (const auto& [second, only] : {std::pair{reversed, 0u}, std::pair{other, 3000u}}) {
        const Comparison result = compare_outputs(lines, second, {});
        std::string error;
        EXPECT_TRUE(result.bounded);
        EXPECT_EQ(patched(lines, result, error), second) << error;
        EXPECT_EQ(result.only_first, only);
        EXPECT_EQ(result.only_second, only);
    }
}

}  // namespace
}  // namespace boxwalk
