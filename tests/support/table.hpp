#pragma once

// Table-driven tests: rows of a name, an input and what is expected, run by
// one runner that names the row in every failure.

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace boxwalk::test {

// One case: what it shows (may be empty: the index still tells the row), its
// input, and what is expected of it.
template <typename Input, typename Expected = std::string>
struct Row {
    std::string name;
    Input input;
    Expected expected;
};

// Runs `check(row)` on every row, with the row's index and name on each
// failure inside it.
template <typename Input, typename Expected, typename Check>
void for_each_row(const std::vector<Row<Input, Expected>>& rows, Check check) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i) + ": " + rows[i].name);
        check(rows[i]);
    }
}

// Checks that `compute(row.input)` is `row.expected` for every row. With the
// rows written in place, name the input type: check_rows<Bytes>({...}, f).
template <typename Input, typename Expected = std::string, typename Compute>
void check_rows(const std::vector<Row<Input, Expected>>& rows, Compute compute) {
    for_each_row(rows, [&](const Row<Input, Expected>& row) {
        EXPECT_EQ(compute(row.input), row.expected);
    });
}

}  // namespace boxwalk::test
