#pragma once

// Runs the built boxwalk binary as a process and captures what it printed.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace boxwalk::test {

struct ProcessResult {
    std::string out;
    std::string err;
    int exit_status = -1;  // -1 when ended by a signal
    int signal = 0;
};

struct ProcessOptions {
    std::filesystem::path cwd;              // empty: the test's own
    std::optional<std::string> stdin_path;  // empty: /dev/null
    std::optional<std::string> stdout_path; // empty: captured
    bool stdout_closed_pipe = false;        // stdout is a pipe nobody reads
    bool ignore_sigpipe = false;
    bool stdout_terminal = false;           // stdout is a raw pseudo-terminal
};

// `argv` becomes the argument list exactly, element 0 included; an empty
// list runs the binary with no arguments at all. BOXWALK_RUN_UNDER in the
// environment (a command and its options, split at spaces) runs the binary
// under that command, for example valgrind; element 0 is then the binary's
// path.
ProcessResult run_process(const std::string& binary, const std::vector<std::string>& argv,
                          const ProcessOptions& options = {});

// A fresh empty folder for one test, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
std::string read_file(const std::filesystem::path& path);

}  // namespace boxwalk::test
