#include "support/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace boxwalk::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "boxwalk-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

namespace {

// Throws for a failed system call, with its error.
[[noreturn]] void fail(const char* call) {
    throw std::runtime_error(std::string(call) + ": " + std::strerror(errno));
}

// Waits for `pid` to end, without blocking when `block` is false; true once
// it has ended, with `status` set. Any failure but an interruption (ECHILD:
// the child was reaped elsewhere) throws: leaving the status as it was would
// read as a clean exit.
bool wait_for(pid_t pid, int& status, bool block) {
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, block ? 0 : WNOHANG);
        if (done == pid) {
            return true;
        }
        if (done == 0) {
            return false;
        }
        if (errno != EINTR) {
            fail("waitpid");
        }
    }
}

// Writes all of `bytes` to `fd` and closes it; stops early when the reader
// has gone, and then takes back the SIGPIPE that the failed write raised.
void feed(int fd, const std::vector<std::uint8_t>& bytes) {
    sigset_t pipe_signal;
    ::sigemptyset(&pipe_signal);
    ::sigaddset(&pipe_signal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            if (errno == EPIPE) {
                const timespec now{};
                ::sigtimedwait(&pipe_signal, nullptr, &now);
            }
            break;
        }
        done += static_cast<std::size_t>(put);
    }
    ::close(fd);
}

}  // namespace

PseudoTerminal::PseudoTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        (terminal_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0) {
        close_ends();  // no destructor runs after a constructor throws
        throw std::runtime_error("no pseudo-terminal");
    }
    termios mode{};
    ::tcgetattr(terminal_, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(terminal_, TCSANOW, &mode);
}

PseudoTerminal::~PseudoTerminal() { close_ends(); }

void PseudoTerminal::close_ends() {
    for (int* end : {&terminal_, &master_}) {
        if (*end >= 0) {
            ::close(*end);
            *end = -1;
        }
    }
}

bool PseudoTerminal::read_some(std::string& seen, int wait_ms) {
    pollfd ready{master_, POLLIN, 0};
    if (::poll(&ready, 1, wait_ms) <= 0) {
        return false;
    }
    char buffer[4096];
    const ssize_t got = ::read(master_, buffer, sizeof buffer);
    if (got <= 0) {
        return false;
    }
    seen.append(buffer, static_cast<std::size_t>(got));
    return true;
}

PipeFeeder::PipeFeeder(int fd, std::vector<std::uint8_t> bytes)
    : thread_([this, fd, bytes = std::move(bytes)] {
          feed(fd, bytes);
          done_ = true;
      }) {}

PipeFeeder::PipeFeeder(std::filesystem::path fifo, std::vector<std::uint8_t> bytes)
    : fifo_(std::move(fifo)), thread_([this, bytes = std::move(bytes)] {
          const int fd = ::open(fifo_.c_str(), O_WRONLY | O_CLOEXEC);
          if (fd >= 0) {
              feed(fd, bytes);
          }
          done_ = true;
      }) {}

void PipeFeeder::join() {
    if (!thread_.joinable()) {
        return;
    }
    // A reader that comes and goes lets a writer still waiting in open()
    // go on, to find that nobody reads.
    while (!fifo_.empty() && !done_) {
        const int reader = ::open(fifo_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (reader >= 0) {
            ::close(reader);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    thread_.join();
}

ProcessResult run_process(const std::string& binary, const std::vector<std::string>& argv,
                          const ProcessOptions& options) {
    TempDir capture;
    // Everything the child needs is made before the fork: after it, in a
    // process that may run other threads, the child only calls the system.
    const std::string out_path = options.stdout_to == StdoutTo::full_device
                                     ? "/dev/full"
                                     : (capture.path() / "stdout").string();
    const std::string err_path = (capture.path() / "stderr").string();
    const std::string cwd = options.cwd.string();
    std::vector<std::string> words;
    if (const char* under = std::getenv("BOXWALK_RUN_UNDER"); under != nullptr && !argv.empty()) {
        std::istringstream split(under);
        for (std::string word; split >> word;) {
            words.push_back(word);
        }
    }
    std::string program = binary;
    if (!words.empty()) {
        program = words.front();
        words.push_back(binary);
        words.insert(words.end(), argv.begin() + 1, argv.end());
    } else {
        words = argv;
    }
    std::vector<char*> args;
    for (const std::string& word : words) {
        args.push_back(const_cast<char*>(word.c_str()));
    }
    args.push_back(nullptr);

    // The parent keeps the master end open, so nothing written is lost when
    // the child exits.
    std::optional<PseudoTerminal> terminal;
    if (options.stdout_to == StdoutTo::terminal) {
        terminal.emplace();
    }
    // Every descriptor is closed on exec, so the child holds only the three
    // it is given: a reader of standard input sees its end, and a pipe
    // without a reader has none.
    int in_pipe[2] = {-1, -1};
    if (options.stdin_pipe && ::pipe2(in_pipe, O_CLOEXEC) != 0) {
        fail("pipe2");
    }
    int out_pipe[2] = {-1, -1};
    if (options.stdout_to == StdoutTo::closed_pipe) {
        if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
            fail("pipe2");
        }
        // No reader from the start: the child's first write must fail,
        // whenever it comes.
        ::close(out_pipe[0]);
    }

    const pid_t pid = ::fork();
    if (pid < 0) {
        fail("fork");
    }
    if (pid == 0) {
        const int in_fd =
            options.stdin_pipe ? in_pipe[0] : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        const int out_fd =
            options.stdout_to == StdoutTo::closed_pipe ? out_pipe[1]
            : terminal                                 ? terminal->terminal()
                       : ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int err_fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0 || ::dup2(in_fd, 0) < 0 ||
            ::dup2(out_fd, 1) < 0 || ::dup2(err_fd, 2) < 0) {
            ::_exit(126);
        }
        ::signal(SIGPIPE, options.ignore_sigpipe ? SIG_IGN : SIG_DFL);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) {
            ::_exit(126);
        }
        ::execvp(program.c_str(), args.data());
        ::_exit(127);
    }
    if (options.stdout_to == StdoutTo::closed_pipe) {
        ::close(out_pipe[1]);
    }
    std::optional<PipeFeeder> feeder;
    if (options.stdin_pipe) {
        ::close(in_pipe[0]);
        feeder.emplace(in_pipe[1], *options.stdin_pipe);
    }
    int status = 0;
    ProcessResult result;
    if (terminal) {
        for (bool running = true;;) {
            if (terminal->read_some(result.out, running ? 20 : 0)) {
                continue;
            }
            if (!running) {
                break;
            }
            running = !wait_for(pid, status, false);
        }
    } else {
        wait_for(pid, status, true);
    }
    if (options.stdout_to == StdoutTo::file) {
        result.out = read_file(out_path);
    }
    result.err = read_file(err_path);
    if (WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

}  // namespace boxwalk::test
