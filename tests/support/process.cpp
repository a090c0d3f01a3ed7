#include "support/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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

ProcessResult run_process(const std::string& binary, const std::vector<std::string>& argv,
                          const ProcessOptions& options) {
    TempDir capture;
    const auto out_path = options.stdout_path ? std::filesystem::path(*options.stdout_path)
                                              : capture.path() / "stdout";
    const auto err_path = capture.path() / "stderr";
    int pipe_fds[2] = {-1, -1};
    if (options.stdout_closed_pipe) {
        if (::pipe(pipe_fds) != 0) {
            throw std::runtime_error("pipe failed");
        }
        // No reader from the start: the child's first write must fail,
        // whenever it comes.
        ::close(pipe_fds[0]);
    }
    std::vector<std::string> words;
    std::string program = binary;
    if (const char* under = std::getenv("BOXWALK_RUN_UNDER"); under != nullptr && !argv.empty()) {
        std::istringstream split(under);
        for (std::string word; split >> word;) {
            words.push_back(word);
        }
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

    // A terminal whose line discipline passes bytes unchanged; the parent
    // keeps its end open, so nothing written is lost when the child exits.
    int master = -1;
    int terminal = -1;
    if (options.stdout_terminal) {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
            (terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY)) < 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        termios mode{};
        ::tcgetattr(terminal, &mode);
        ::cfmakeraw(&mode);
        ::tcsetattr(terminal, TCSANOW, &mode);
    }

    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const std::string in = options.stdin_path.value_or("/dev/null");
        const int in_fd = ::open(in.c_str(), O_RDONLY);
        const int out_fd = options.stdout_closed_pipe ? pipe_fds[1]
                           : options.stdout_terminal
                               ? terminal
                               : ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err_fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0 || ::dup2(in_fd, 0) < 0 ||
            ::dup2(out_fd, 1) < 0 || ::dup2(err_fd, 2) < 0) {
            ::_exit(126);
        }
        ::signal(SIGPIPE, options.ignore_sigpipe ? SIG_IGN : SIG_DFL);
        if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) {
            ::_exit(126);
        }
        ::execvp(program.c_str(), args.data());
        ::_exit(127);
    }
    if (options.stdout_closed_pipe) {
        ::close(pipe_fds[1]);
    }
    int status = 0;
    ProcessResult result;
    if (options.stdout_terminal) {
        for (bool running = true;;) {
            pollfd ready{master, POLLIN, 0};
            if (::poll(&ready, 1, running ? 20 : 0) > 0) {
                char buffer[4096];
                const ssize_t got = ::read(master, buffer, sizeof buffer);
                if (got > 0) {
                    result.out.append(buffer, static_cast<std::size_t>(got));
                    continue;
                }
            }
            if (!running) {
                break;
            }
            const pid_t done = ::waitpid(pid, &status, WNOHANG);
            running = done == 0 || (done < 0 && errno == EINTR);
        }
        ::close(terminal);
        ::close(master);
    } else {
        while (::waitpid(pid, &status, 0) < 0) {
        }
    }
    if (!options.stdout_path && !options.stdout_closed_pipe && !options.stdout_terminal) {
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
