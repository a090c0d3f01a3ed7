#pragma once

// Runs the built boxwalk binary as a process and captures what it printed;
// the pipes, FIFOs and terminals the tests hand to it.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace boxwalk::test {

struct ProcessResult {
    std::string out;
    std::string err;
    int exit_status = -1;  // -1 when ended by a signal
    int signal = 0;
};

// Where the child's standard output goes.
enum class StdoutTo {
    file,         // a file, read back into ProcessResult::out
    full_device,  // /dev/full: every write fails for want of space
    closed_pipe,  // a pipe whose reader is gone before the child starts
    terminal,     // a raw pseudo-terminal, read back into ProcessResult::out
};

struct ProcessOptions {
    std::filesystem::path cwd;                            // empty: the test's own
    std::optional<std::vector<std::uint8_t>> stdin_pipe;  // fed through a pipe; empty: /dev/null
    StdoutTo stdout_to = StdoutTo::file;
    bool ignore_sigpipe = false;
};

// `argv` becomes the argument list exactly, element 0 included; an empty
// list runs the binary with no arguments at all. BOXWALK_RUN_UNDER in the
// environment (a command and its options, split at spaces; blank is none)
// runs the binary under that command, for example valgrind; element 0 is
// then the binary's path. Throws std::runtime_error when the process cannot
// be started or its end cannot be learnt (say it was reaped elsewhere).
ProcessResult run_process(const std::string& binary, const std::vector<std::string>& argv,
                          const ProcessOptions& options = {});

// A pseudo-terminal whose line discipline passes bytes unchanged. Both ends
// close with the object, and no program started meanwhile inherits them
// (dup2 the terminal end onto a standard stream to hand it over). Throws
// std::runtime_error when none can be had.
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // The end a program writes to.
    int terminal() const { return terminal_; }
    // Appends to `seen` what the terminal shows within `wait_ms`; false when
    // nothing came.
    bool read_some(std::string& seen, int wait_ms);

private:
    void close_ends();

    int master_ = -1;
    int terminal_ = -1;
};

// Writes bytes into a pipe from a thread of its own, then closes its end,
// while the test runs the reader. It cannot hang the test when the reader
// fails: SIGPIPE is blocked in the thread, so a reader that went away ends
// the writing, and joining gives a FIFO still waiting for a reader one that
// leaves at once.
class PipeFeeder {
public:
    // Into the write end `fd`, which the feeder owns. Join only after the
    // test has closed every read end it holds.
    PipeFeeder(int fd, std::vector<std::uint8_t> bytes);
    // Into the FIFO at `fifo`, opened for writing by the thread.
    PipeFeeder(std::filesystem::path fifo, std::vector<std::uint8_t> bytes);
    ~PipeFeeder() { join(); }
    PipeFeeder(const PipeFeeder&) = delete;
    PipeFeeder& operator=(const PipeFeeder&) = delete;

    // Waits until the thread is done.
    void join();

private:
    std::filesystem::path fifo_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

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
