// boxwalk-json run as a program: every golden input in one run, each
// object read back as the console's own output and as the records
// collected whole make it; files that cannot be read
// among others; the usage and write errors; a pipe; and runs side by side
// appending to one file, whose lines must never interleave.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "bench/heavy_files.hpp"
#include "report/json.hpp"
#include "support/atoms.hpp"
#include "support/process.hpp"
#include "tags/reader.hpp"
#include "tree/scan.hpp"
#include "xmp/xmp.hpp"

namespace boxwalk {
namespace {

namespace fs = std::filesystem;
using namespace test;

const fs::path kSource = BOXWALK_SOURCE_DIR;
using Json = nlohmann::json;

ProcessResult boxwalk_json(const std::vector<std::string>& args, ProcessOptions options = {}) {
    std::vector<std::string> argv = {"boxwalk-json"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(BOXWALK_JSON_BINARY, argv, options);
}

ProcessOptions inside(const fs::path& folder) {
    ProcessOptions options;
    options.cwd = folder;
    return options;
}

// Each line of `out` as a parsed object; a line that is no JSON fails.
std::vector<Json> objects(const std::string& out) {
    std::vector<Json> parsed;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        parsed.push_back(Json::parse(line, nullptr, false));
        EXPECT_TRUE(parsed.back().is_object()) << line.substr(0, 200);
    }
    EXPECT_TRUE(out.empty() || out.back() == '\n');
    return parsed;
}

// What the console prints for a file after its empty line, from the
// object's lines.
std::string console_lines(const Json& object) {
    std::string text;
    for (const Json& line : object["lines"]) {
        text += line["text"].get<std::string>() + '\n';
    }
    return text;
}

// The golden outputs less their first three lines, and their inputs.
std::vector<std::pair<std::string, std::string>> golden_cases() {
    std::vector<std::pair<std::string, std::string>> cases;
    std::istringstream lines(read_file(kSource / "tests" / "golden" / "cases.txt"));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name;
        std::string input;
        if (!line.empty() && line[0] != '#' && words >> name >> input) {
            std::string golden = read_file(kSource / "tests" / "golden" / (name + ".out"));
            for (int i = 0; i < 3; ++i) {
                golden.erase(0, golden.find('\n') + 1);
            }
            cases.emplace_back(input, golden);
        }
    }
    return cases;
}

TEST(JsonCli, EveryGoldenInputInOneRun) {
    const auto cases = golden_cases();
    std::vector<std::string> paths;
    for (const auto& [input, golden] : cases) {
        paths.push_back(input);
    }
    const ProcessResult result = boxwalk_json(paths, inside(kSource));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_status, 0);
    const auto parsed = objects(result.out);
    ASSERT_EQ(parsed.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].first);
        EXPECT_EQ(parsed[i]["schema"], 1);
        EXPECT_EQ(parsed[i]["path"], cases[i].first);
        EXPECT_EQ(parsed[i]["size"], fs::file_size(kSource / cases[i].first));
        EXPECT_EQ(console_lines(parsed[i]), cases[i].second);
    }

    // From a pipe, the same object: the stream keeps what the lines and the
    // tags read, here tags of a phone's keys in moov, of a track and in an
    // XMP uuid after moov, and what a file that is none says of itself.
    for (const char* name :
         {"samples/song.m4a", "tests/fixtures/keys.mov", "tests/fixtures/gst_assets.3gp",
          "tests/fixtures/xmp.mp4", "tests/fixtures/not_mp4/image.png"}) {
        SCOPED_TRACE(name);
        const std::string bytes = read_file(kSource / name);
        ProcessOptions piped;
        piped.stdin_pipe = Bytes(bytes.begin(), bytes.end());
        const ProcessResult from_pipe = boxwalk_json({"/dev/stdin"}, piped);
        ASSERT_EQ(from_pipe.exit_status, 0);
        Json streamed = objects(from_pipe.out).at(0);
        Json whole = objects(boxwalk_json({name}, inside(kSource)).out).at(0);
        streamed.erase("path");
        whole.erase("path");
        EXPECT_EQ(streamed, whole);
        EXPECT_TRUE(whole.contains("tags") || whole["kind"] != "mp4");
    }
}

TEST(JsonCli, FilesThatCannotBeReadAmongOthers) {
    TempDir dir;
    write_file(dir.path() / "song.m4a", sample_song());
    const ProcessResult result =
        boxwalk_json({"nope.mp4", "song.m4a", ".", "song.m4a"}, inside(dir.path()));
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err,
              "[boxwalk-json] ERROR: nope.mp4: read: No such file or directory (os error 2)\n"
              "[boxwalk-json] ERROR: .: read: Is a directory (os error 21)\n");
    const auto parsed = objects(result.out);
    ASSERT_EQ(parsed.size(), 4u);
    std::istringstream lines(result.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(
        line,
        R"json({"schema":1,"path":"nope.mp4","error":"read: No such file or directory (os error 2)"})json");
    EXPECT_FALSE(parsed[1].contains("error"));
    EXPECT_EQ(parsed[2]["error"], "read: Is a directory (os error 21)");
    EXPECT_EQ(parsed[3], parsed[1]);

    const ProcessResult usage = run_process(BOXWALK_JSON_BINARY, {"./j\xFF"});
    EXPECT_EQ(usage.out, "");
    EXPECT_EQ(usage.err, "Usage: ./j\xEF\xBF\xBD FILE...\n");
    EXPECT_EQ(usage.exit_status, 1);
}

TEST(JsonCli, OutputThatCannotBeWritten) {
    const std::string sample = (kSource / "samples" / "song.m4a").string();
    ProcessOptions full;
    full.stdout_to = StdoutTo::full_device;
    const ProcessResult no_space = boxwalk_json({sample, sample}, full);
    EXPECT_EQ(no_space.err, "[boxwalk-json] ERROR: write: No space left on device (os error 28)\n");
    EXPECT_EQ(no_space.exit_status, 1);

    ProcessOptions closed;
    closed.stdout_to = StdoutTo::closed_pipe;
    closed.ignore_sigpipe = true;
    const ProcessResult ignored = boxwalk_json({sample}, closed);
    EXPECT_EQ(ignored.exit_status, 1);
    EXPECT_EQ(ignored.err, "");
}

// Each file's object as the records of its lines and tags collected whole
// make it, byte for byte: the program hands them on as they are made, the
// lines in batches and the tags one at a time, the object in pieces. Over
// every real file and sample, and one file of each heavy kind.
TEST(JsonCli, TheObjectOfTheRecordsCollectedWhole) {
    TempDir dir;
    std::vector<std::string> paths;
    for (const char* folder :
         {"samples", "fuzz/corpus", "tests/fixtures", "tests/fixtures/not_mp4"}) {
        for (const auto& entry : fs::directory_iterator(kSource / folder)) {
            const std::string extension = entry.path().extension().string();
            if (entry.is_regular_file() && extension != ".md" && extension != ".py" &&
                extension != ".sh" && extension != ".json") {
                paths.push_back(entry.path().string());
            }
        }
    }
    std::sort(paths.begin(), paths.end());
    const std::pair<const char*, Bytes> heavy[] = {{"items.mp4", bench::item_list_file(20000)},
                                                   {"xtra.mp4", bench::xtra_file(30000)},
                                                   {"leaves.mp4", bench::many_leaves_file(70000)}};
    for (const auto& [name, bytes] : heavy) {
        write_file(dir.path() / name, bytes);
        paths.push_back((dir.path() / name).string());
    }
    const ProcessResult result = boxwalk_json(paths);
    ASSERT_EQ(result.exit_status, 0) << result.err;
    std::istringstream got(result.out);
    JsonWriter json;
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const std::string bytes = read_file(path);
        const ByteView file(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        LineRecorder lines;
        scan_top_level(file, lines);
        lines.flush();
        MemorySource source(file);
        TagReport tags = read_tags(source);
        add_xmp_properties(tags);
        std::string object;
        std::getline(got, object);
        EXPECT_EQ(object + '\n',
                  json.file_object({path, bytes.size(), std::nullopt, &tags, &lines}));
    }
}

// Four runs of a file whose object is megabytes long, side by side as the
// README's inventory runs them, appending to one file.
TEST(JsonCli, RunsSideBySideNeverInterleave) {
    TempDir dir;
    const Bytes heavy = bench::item_list_file(20000);
    std::string names;
    for (int i = 0; i < 4; ++i) {
        write_file(dir.path() / ("heavy" + std::to_string(i) + ".mp4"), heavy);
        names += "heavy" + std::to_string(i) + ".mp4\n";
    }
    write_file(dir.path() / "names", raw(names));
    const ProcessResult run = run_process(
        "/bin/sh",
        {"sh", "-c", "xargs -P 4 -n 1 \"$0\" < names > inventory.jsonl && cat inventory.jsonl",
         BOXWALK_JSON_BINARY},
        inside(dir.path()));
    ASSERT_EQ(run.exit_status, 0) << run.err;
    const auto parsed = objects(run.out);
    ASSERT_EQ(parsed.size(), 4u);
    const std::string alone =
        console_lines(objects(boxwalk_json({"heavy0.mp4"}, inside(dir.path())).out)[0]);
    EXPECT_GT(alone.size(), std::size_t{1} << 20);
    for (const auto& object : parsed) {
        EXPECT_EQ(console_lines(object), alone);
    }
}

}  // namespace
}  // namespace boxwalk
