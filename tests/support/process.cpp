#include "support/process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
    if (options.stdout_closed_pipe && ::pipe(pipe_fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const std::string in = options.stdin_path.value_or("/dev/null");
        const int in_fd = ::open(in.c_str(), O_RDONLY);
        const int out_fd = options.stdout_closed_pipe
                               ? pipe_fds[1]
                               : ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err_fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0 || ::dup2(in_fd, 0) < 0 ||
            ::dup2(out_fd, 1) < 0 || ::dup2(err_fd, 2) < 0) {
            ::_exit(126);
        }
        if (options.stdout_closed_pipe) {
            ::close(pipe_fds[0]);
        }
        ::signal(SIGPIPE, options.ignore_sigpipe ? SIG_IGN : SIG_DFL);
        if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) {
            ::_exit(126);
        }
        ::execv(binary.c_str(), args.data());
        ::_exit(127);
    }
    if (options.stdout_closed_pipe) {
        ::close(pipe_fds[0]);
        ::close(pipe_fds[1]);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    ProcessResult result;
    if (!options.stdout_path && !options.stdout_closed_pipe) {
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
