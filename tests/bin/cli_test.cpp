#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/atoms.hpp"
#include "support/process.hpp"

namespace boxwalk {
namespace {

namespace fs = std::filesystem;
using namespace test;

const fs::path kSource = BOXWALK_SOURCE_DIR;

ProcessResult boxwalk(const std::vector<std::string>& args, ProcessOptions options = {}) {
    std::vector<std::string> argv = {"boxwalk"};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::run_process(BOXWALK_BINARY, argv, options);
}

// Options that run boxwalk inside `folder`, so that file lines show bare
// names.
ProcessOptions inside(const fs::path& folder) {
    ProcessOptions options;
    options.cwd = folder;
    return options;
}

// Runs boxwalk on a committed file from inside its folder, so that the file
// line shows the bare name, and compares standard output with the golden
// text. BOXWALK_UPDATE_GOLDEN=1 rewrites the golden file instead; check
// every rewritten line against the file's bytes before committing it.
void check_golden(const fs::path& input, const std::string& golden) {
    const ProcessResult result =
        boxwalk({input.filename().string()}, inside(kSource / input.parent_path()));
    const fs::path golden_path = kSource / "tests" / "golden" / golden;
    if (std::getenv("BOXWALK_UPDATE_GOLDEN") != nullptr) {
        test::write_file(golden_path, test::raw(result.out));
    }
    EXPECT_EQ(result.out, test::read_file(golden_path)) << input;
    EXPECT_EQ(result.err, "") << input;
    EXPECT_EQ(result.exit_status, 0) << input;

    // Through a pipe the file is read whole, from a file only where the scan
    // can reach: the lines after the file line must not differ.
    const std::string bytes = test::read_file(kSource / input);
    ProcessOptions piped;
    piped.stdin_pipe = Bytes(bytes.begin(), bytes.end());
    const ProcessResult whole = boxwalk({"/dev/stdin"}, piped);
    const auto after_file_line = [](const std::string& out) { return out.substr(out.find('\n')); };
    EXPECT_EQ(after_file_line(whole.out), after_file_line(result.out)) << input;
}

// Every case of tests/golden/cases.txt, which the Windows tests run too;
// every golden file is one of them.
TEST(Cli, GoldenOutputs) {
    std::istringstream lines(test::read_file(kSource / "tests" / "golden" / "cases.txt"));
    std::set<std::string> listed;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream words(line);
        std::string name;
        std::string input;
        ASSERT_TRUE(words >> name >> input) << line;
        check_golden(input, name + ".out");
        listed.insert(name + ".out");
    }
    for (const auto& entry : fs::directory_iterator(kSource / "tests" / "golden")) {
        if (entry.path().extension() == ".out") {
            EXPECT_EQ(listed.count(entry.path().filename().string()), 1u) << entry.path();
        }
    }
}

// make_sample re-creates them.
TEST(Cli, SamplesAreTheBuilderOutput) {
    const std::vector<std::pair<std::string, test::Bytes>> samples = {
        {"song.m4a", test::sample_song()}, {"damaged.m4a", test::sample_damaged()}};
    for (const auto& [name, bytes] : samples) {
        EXPECT_EQ(test::read_file(kSource / "samples" / name),
                  std::string(bytes.begin(), bytes.end()))
            << name;
    }
}

TEST(Cli, Usage) {
    const ProcessResult named = test::run_process(BOXWALK_BINARY, {"./my\xFFtool"});
    EXPECT_EQ(named.out, "");
    EXPECT_EQ(named.err, "Usage: ./my\xEF\xBF\xBDtool <input.mp4>\n");
    EXPECT_EQ(named.exit_status, 1);

    // No arguments at all: element 0 is the program's own path.
    const ProcessResult bare = test::run_process(BOXWALK_BINARY, {});
    EXPECT_EQ(bare.err, "Usage: " + fs::canonical(BOXWALK_BINARY).string() + " <input.mp4>\n");
    EXPECT_EQ(bare.exit_status, 1);
}

TEST(Cli, LoadFailures) {
    test::TempDir dir;
    const ProcessResult missing = boxwalk({"nope.mp4", "ignored"}, inside(dir.path()));
    EXPECT_EQ(missing.out, "[boxwalk] File: nope.mp4\n");
    EXPECT_EQ(missing.err, "[boxwalk] ERROR: read: No such file or directory (os error 2)\n");
    EXPECT_EQ(missing.exit_status, 1);

    const ProcessResult directory = boxwalk({"."}, inside(dir.path()));
    EXPECT_EQ(directory.out, "[boxwalk] File: .\n");
    EXPECT_EQ(directory.err, "[boxwalk] ERROR: read: Is a directory (os error 21)\n");
    EXPECT_EQ(directory.exit_status, 1);
}

TEST(Cli, ShortFiles) {
    test::TempDir dir;
    test::write_file(dir.path() / "empty.mp4", {});
    const ProcessResult empty = boxwalk({"empty.mp4"}, inside(dir.path()));
    EXPECT_EQ(empty.out, "[boxwalk] File: empty.mp4\n[boxwalk] Size: 0 bytes\n\n");
    EXPECT_EQ(empty.err, "");
    EXPECT_EQ(empty.exit_status, 0);

    test::write_file(dir.path() / "seven", test::zeros(7));
    const ProcessResult seven = boxwalk({"seven"}, inside(dir.path()));
    EXPECT_EQ(seven.out, "[boxwalk] File: seven\n[boxwalk] Size: 7 bytes\n\n");
    EXPECT_EQ(seven.exit_status, 0);
}

TEST(Cli, NamesThatAreNotUtf8) {
    test::TempDir dir;
    test::write_file(dir.path() / "bad\xFFname.mp4", test::atom("moov"));
    const ProcessResult result = boxwalk({"bad\xFFname.mp4"}, inside(dir.path()));
    EXPECT_EQ(result.out,
              "[boxwalk] File: bad\xEF\xBF\xBDname.mp4\n[boxwalk] Size: 8 bytes\n\n"
              "moov (size=8, @ 0)\n");
    EXPECT_EQ(result.exit_status, 0);
}

TEST(Cli, ReadsFromAPipe) {
    ProcessOptions piped;
    const std::string song = test::read_file(kSource / "samples" / "song.m4a");
    piped.stdin_pipe = Bytes(song.begin(), song.end());
    const ProcessResult from_pipe = boxwalk({"/dev/stdin"}, piped);
    const ProcessResult direct = boxwalk({"song.m4a"}, inside(kSource / "samples"));
    EXPECT_EQ(from_pipe.exit_status, 0);
    const std::string first_line = "[boxwalk] File: song.m4a\n";
    ASSERT_EQ(direct.out.rfind(first_line, 0), 0u);
    EXPECT_EQ(from_pipe.out, "[boxwalk] File: /dev/stdin\n" + direct.out.substr(first_line.size()));
}

TEST(Cli, OutputThatCannotBeWritten) {
    const std::string sample = (kSource / "samples" / "song.m4a").string();
    ProcessOptions full;
    full.stdout_to = test::StdoutTo::full_device;
    const ProcessResult no_space = boxwalk({sample}, full);
    EXPECT_EQ(no_space.err, "[boxwalk] ERROR: write: No space left on device (os error 28)\n");
    EXPECT_EQ(no_space.exit_status, 1);

    // A reader that went away ends the run as it ends cat: by SIGPIPE, or
    // quietly with status 1 where the signal is ignored.
    ProcessOptions closed;
    closed.stdout_to = test::StdoutTo::closed_pipe;
    const ProcessResult killed = boxwalk({sample}, closed);
    EXPECT_EQ(killed.signal, SIGPIPE);
    EXPECT_EQ(killed.err, "");
    closed.ignore_sigpipe = true;
    const ProcessResult ignored = boxwalk({sample}, closed);
    EXPECT_EQ(ignored.exit_status, 1);
    EXPECT_EQ(ignored.err, "");
}

// Text from the file and the path reach a terminal with their control
// characters escaped; through a pipe the same run is byte-exact.
TEST(Cli, TerminalSeesControlCharactersEscaped) {
    using namespace std::string_literals;
    using test::atom;
    using test::raw;
    const Bytes utf16 = {'a', 0, 0x07, 0, 0x9B, 0};  // "a", BEL, U+009B
    const Bytes file = atom(
        "moov",
        atom("udta",
             test::cat(
                 {atom("\xA9"
                       "cmt",
                       raw("a\rb\0c\xC2\x9B"s)),
                  test::meta(atom(
                      "ilst", atom("----", test::cat({test::text_atom("mean", "com.\x1B]0;t\x07"),
                                                      test::text_atom("name", "n\r\xC2\x9B"),
                                                      test::data_atom(1, raw("v"))})))),
                  atom("Xtra", test::xtra_entry("WM/\x1B[2J", 1, 8, utf16))})));
    test::TempDir dir;
    const std::string name = "tag\x1B[31m\r.mp4";
    test::write_file(dir.path() / name, file);
    ProcessOptions options = inside(dir.path());
    const std::string tail =
        "[boxwalk] Size: 153 bytes\n"
        "\n"
        "moov (size=153, @ 0)\n"
        "  udta (size=145, @ 8)\n";

    const ProcessResult piped = boxwalk({name}, options);
    EXPECT_EQ(piped.out, "[boxwalk] File: tag\x1B[31m\r.mp4\n" + tail +
                             "    @cmt (size=15) \"a\rb\0c\xC2\x9B\"\n"s +
                             "    meta (size=83 (skip 4 byte vfh))\n"
                             "      ilst (size=71)\n"
                             "        ---- (size=63) mean=\"com.\x1B]0;t\x07\" "
                             "name=\"n\r\xC2\x9B\" data=\"v\"\n"
                             "    Xtra (size=39)\n"
                             "      \"WM/\x1B[2J\" count=1 Unicode \"a\x07\xC2\x9B\"\n");

    options.stdout_to = test::StdoutTo::terminal;
    const ProcessResult shown = boxwalk({name}, options);
    EXPECT_EQ(shown.out, "[boxwalk] File: tag\\x1b[31m\\x0d.mp4\n" + tail +
                             "    @cmt (size=15) \"a\\x0db\\x00c\\x9b\"\n"
                             "    meta (size=83 (skip 4 byte vfh))\n"
                             "      ilst (size=71)\n"
                             "        ---- (size=63) mean=\"com.\\x1b]0;t\\x07\" "
                             "name=\"n\\x0d\\x9b\" data=\"v\"\n"
                             "    Xtra (size=39)\n"
                             "      \"WM/\\x1b[2J\" count=1 Unicode \"a\\x07\\x9b\"\n");
    EXPECT_EQ(shown.exit_status, 0);
}

// Files that would cost without bound if the scan trusted them.
TEST(Cli, HostileShapesStayBounded) {
    test::TempDir dir;

    // 100,000 udta atoms inside each other (800 KB): lines down to the
    // nesting limit, then one marker line.
    const std::size_t levels = 100000;
    Bytes nested(levels * 8);
    for (std::size_t i = 0; i < levels; ++i) {
        const Bytes header =
            test::atom_sized(static_cast<std::uint32_t>(nested.size() - i * 8), "udta");
        std::copy(header.begin(), header.end(),
                  nested.begin() + static_cast<std::ptrdiff_t>(i * 8));
    }
    nested = test::cat(
        {test::atom_sized(static_cast<std::uint32_t>(nested.size() + 8), "moov"), nested});
    test::write_file(dir.path() / "nested.mp4", nested);
    const ProcessResult deep = boxwalk({"nested.mp4"}, inside(dir.path()));
    EXPECT_EQ(deep.exit_status, 0);
    // Five lines down to moov's udta child, depths 2 to 1000, the marker.
    EXPECT_EQ(std::count(deep.out.begin(), deep.out.end(), '\n'), 5 + 999 + 1);
    const std::string marker = std::string(2 * 1001, ' ') + "[nesting too deep]\n";
    ASSERT_GE(deep.out.size(), marker.size());
    EXPECT_EQ(deep.out.substr(deep.out.size() - marker.size()), marker);
}

// Files far larger than memory list at once: their holes are never read,
// and a udta that claims terabytes costs the lines it prints.
TEST(Cli, SparseFilesOfTerabytes) {
    test::TempDir dir;
    const std::uintmax_t k8TiB = std::uintmax_t{8} << 40;
    std::string out;
    for (const bool claimed : {false, true}) {
        test::write_file(
            dir.path() / "sparse.mp4",
            claimed ? test::atom64_sized(k8TiB, "moov", test::atom64_sized(k8TiB - 16, "udta"))
                    : Bytes{});
        fs::resize_file(dir.path() / "sparse.mp4", k8TiB);
        const ProcessResult huge = boxwalk({"sparse.mp4"}, inside(dir.path()));
        EXPECT_EQ(huge.exit_status, 0);
        out += huge.out;
    }
    const std::string size = "[boxwalk] File: sparse.mp4\n[boxwalk] Size: 8796093022208 bytes\n\n";
    EXPECT_EQ(out, size + size +
                       "moov (size=8796093022208, @ 0)\n  udta (size=8796093022192, @ 16)\n"
                       "    ???? (size=8796093022176) \"\"...\n");
}

// The runner's own faults must fail a test, never hang it or pass it: a
// child ended by a signal is no clean exit, a blank BOXWALK_RUN_UNDER is no
// command, descriptors the runner opens do not leak into the child, and a
// child that the system reaps itself (SIGCHLD ignored) leaves no status to
// read.
TEST(RunProcess, ReportsHowTheChildEnded) {
    const std::string shell = "/bin/sh";
    const ProcessResult killed = test::run_process(shell, {"sh", "-c", "kill -KILL $$"});
    EXPECT_EQ(killed.signal, SIGKILL);
    EXPECT_EQ(killed.exit_status, -1);

    const char* under = std::getenv("BOXWALK_RUN_UNDER");
    const std::optional<std::string> saved =
        under != nullptr ? std::optional<std::string>(under) : std::nullopt;
    ::setenv("BOXWALK_RUN_UNDER", " ", 1);
    const ProcessResult blank = test::run_process(shell, {"sh", "-c", "exit 3"});
    saved ? ::setenv("BOXWALK_RUN_UNDER", saved->c_str(), 1) : ::unsetenv("BOXWALK_RUN_UNDER");
    EXPECT_EQ(blank.exit_status, 3);

    // Of what the runner opens, the child holds only its standard streams:
    // no end of the terminal and no capture file past descriptor 2.
    ProcessOptions on_terminal;
    on_terminal.stdout_to = test::StdoutTo::terminal;
    const ProcessResult open =
        test::run_process(shell, {"sh", "-c", "ls -l /proc/$$/fd"}, on_terminal);
    std::istringstream lines(open.out);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t arrow = line.find(" -> ");
        if (arrow == std::string::npos) {
            continue;
        }
        const std::size_t start = line.rfind(' ', arrow - 1) + 1;
        const int fd = std::stoi(line.substr(start, arrow - start));
        const std::string target = line.substr(arrow + 4);
        if (fd > 2) {
            EXPECT_EQ(target.find("/dev/pt"), std::string::npos) << line;
            EXPECT_EQ(target.find("boxwalk-test-"), std::string::npos) << line;
        }
    }
    EXPECT_NE(open.out.find(" 2 -> "), std::string::npos) << open.out;

    for (const auto stdout_to : {test::StdoutTo::file, test::StdoutTo::terminal}) {
        ProcessOptions options;
        options.stdout_to = stdout_to;
        struct sigaction ignore {};
        struct sigaction previous {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGCHLD, &ignore, &previous);
        EXPECT_THROW(test::run_process(shell, {"sh", "-c", "exit 3"}, options), std::runtime_error)
            << static_cast<int>(stdout_to);
        ::sigaction(SIGCHLD, &previous, nullptr);
    }
}

}  // namespace
}  // namespace boxwalk
