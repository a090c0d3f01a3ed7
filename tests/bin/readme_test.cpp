// The examples in the README and the manual page are real output: every
// example that starts with "$ boxwalk NAME" is run on samples/NAME and must
// match byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.hpp"

namespace boxwalk {
namespace {

namespace fs = std::filesystem;

const fs::path kSource = BOXWALK_SOURCE_DIR;

struct Example {
    std::string argument;  // after "$ boxwalk "
    std::string output;    // the lines after the command, each with its line feed
};

// The examples between a line that starts with `open` and a `close` line
// (README fences, or the manual page's .EX and .EE) whose first line runs
// boxwalk.
std::vector<Example> examples(const std::string& text, const std::string& open,
                              const std::string& close) {
    const std::string command = "$ boxwalk ";
    std::vector<Example> found;
    std::istringstream lines(text);
    std::string line;
    bool inside = false;
    Example* current = nullptr;
    while (std::getline(lines, line)) {
        if (!inside) {
            inside = line.rfind(open, 0) == 0;
        } else if (line == close) {
            inside = false;
            current = nullptr;
        } else if (current != nullptr) {
            current->output += line + "\n";
        } else if (line.rfind(command, 0) == 0) {
            found.push_back({line.substr(command.size()), ""});
            current = &found.back();
        } else {
            inside = false;  // some other example; skip to its end
            while (std::getline(lines, line) && line != close) {
            }
        }
    }
    return found;
}

// Undoes the few roff escapes that the manual page's examples use.
std::string unescape_roff(const std::string& text) {
    std::string plain;
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        if (text[pos] != '\\' || pos + 1 == text.size()) {
            plain.push_back(text[pos]);
            continue;
        }
        const char next = text[++pos];
        if (next == '-') {
            plain.push_back('-');
        } else if (next == 'e') {
            plain.push_back('\\');
        } else if (next != '&') {
            ADD_FAILURE() << "unexpected roff escape \\" << next;
        }
    }
    return plain;
}

void check(const std::vector<Example>& found, const std::string& where) {
    test::ProcessOptions in_samples;
    in_samples.cwd = kSource / "samples";
    for (const Example& example : found) {
        const test::ProcessResult result =
            test::run_process(BOXWALK_BINARY, {"boxwalk", example.argument}, in_samples);
        EXPECT_EQ(result.out, example.output) << where << ": " << example.argument;
        EXPECT_EQ(result.err, "") << where << ": " << example.argument;
        EXPECT_EQ(result.exit_status, 0) << where << ": " << example.argument;
    }
}

TEST(Readme, ExamplesAreRealOutput) {
    const auto found = examples(test::read_file(kSource / "README.md"), "```", "```");
    ASSERT_GE(found.size(), 2u);
    EXPECT_EQ(found[0].argument, "song.m4a");
    check(found, "README.md");
}

TEST(Readme, ManualPageExamplesAreRealOutput) {
    auto found = examples(test::read_file(kSource / "doc" / "boxwalk.1"), ".EX", ".EE");
    ASSERT_GE(found.size(), 1u);
    for (Example& example : found) {
        example.argument = unescape_roff(example.argument);
        example.output = unescape_roff(example.output);
    }
    check(found, "boxwalk.1");
}

}  // namespace
}  // namespace boxwalk
