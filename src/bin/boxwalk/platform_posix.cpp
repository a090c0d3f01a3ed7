#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#include "bin/boxwalk/platform.hpp"
#include "primitives/render.hpp"
#include "primitives/text.hpp"

namespace boxwalk {
namespace {

std::string system_message(int code) {
    std::string text = std::strerror(code);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r' ||
                             text.back() == '\t')) {
        text.pop_back();
    }
    return text + " (os error " + decimal(static_cast<std::uint64_t>(code)) + ")";
}

LoadResult failed(std::string error) {
    LoadResult result;
    result.error = std::move(error);
    return result;
}

std::unique_ptr<std::uint8_t[]> allocate(std::uint64_t size) {
    if (size > std::numeric_limits<std::size_t>::max()) {
        return nullptr;
    }
    // Not zero-filled: every byte is overwritten by the read before use.
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow)
                                               std::uint8_t[static_cast<std::size_t>(size)]);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Writes all of `text` to `fd`, retrying short writes and interruptions;
// the errno of the failing call, or 0.
int write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

// Standard output: a buffer flushed when full, at every line end on a
// terminal, and at the end. After a failed write nothing more is written. On
// a terminal, control characters in the text are escaped.
class StandardOutput final : public Output {
public:
    StandardOutput() : terminal_(::isatty(STDOUT_FILENO) == 1) { buffer_.reserve(kCapacity); }

    void write(std::string_view text) override {
        if (failure_) {
            return;
        }
        if (terminal_) {
            append_escaped(buffer_, text);
        } else if (buffer_.size() + text.size() <= kCapacity) {
            buffer_.append(text);
        } else {
            drain();
            if (text.size() >= kCapacity) {
                emit(text);
            } else {
                buffer_.append(text);
            }
        }
        if (buffer_.size() >= kCapacity) {
            drain();
        }
    }

    void end_line() override {
        if (failure_) {
            return;
        }
        buffer_.push_back('\n');
        if (terminal_ || buffer_.size() >= kCapacity) {
            drain();
        }
    }

    std::optional<WriteFailure> flush() override {
        drain();
        return failure_;
    }

private:
    static constexpr std::size_t kCapacity = 64 * 1024;

    void drain() {
        if (!buffer_.empty()) {
            emit(buffer_);
            buffer_.clear();
        }
    }

    void emit(std::string_view text) {
        if (failure_) {
            return;
        }
        if (const int code = write_all(STDOUT_FILENO, text); code != 0) {
            failure_ = WriteFailure{code == EPIPE, system_message(code)};
        }
    }

    std::string buffer_;
    bool terminal_;
    std::optional<WriteFailure> failure_;
};

// Standard error: each line written whole as it ends, after standard output
// has been flushed so that a shared terminal shows lines in the order they
// were made. Escaped like standard output on a terminal.
class StandardError final : public Output {
public:
    explicit StandardError(StandardOutput& out)
        : out_(out), terminal_(::isatty(STDERR_FILENO) == 1) {}

    void write(std::string_view text) override {
        if (terminal_) {
            append_escaped(line_, text);
        } else {
            line_.append(text);
        }
    }

    void end_line() override {
        line_.push_back('\n');
        out_.flush();
        write_all(STDERR_FILENO, line_);
        line_.clear();
    }

private:
    StandardOutput& out_;
    bool terminal_;
    std::string line_;
};

}  // namespace

struct Console::Streams {
    StandardOutput out;
    StandardError err{out};
};

Console::Console() : streams_(std::make_unique<Streams>()) {}

Console::~Console() {
    streams_->out.flush();
}

Output& Console::out() {
    return streams_->out;
}

Output& Console::err() {
    return streams_->err;
}

std::vector<Argument> platform_arguments(int argc, char** argv) {
    std::vector<Argument> args;
    for (int i = 0; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
        args.push_back(Argument{argv[i], lenient_utf8(std::string_view(argv[i]))});
    }
    // Started with no arguments at all (Linux then hands over one empty
    // one): the program's own path stands in for its name.
    if (args.empty() || args[0].native.empty()) {
        std::string self(4096, '\0');
        const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size());
        self.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        Argument name{self, lenient_utf8(std::string_view(self))};
        if (args.empty()) {
            args.push_back(std::move(name));
        } else {
            args[0] = std::move(name);
        }
    }
    return args;
}

LoadResult load_file(const Argument& path) {
    int fd = -1;
    do {
        fd = ::open(path.native.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return failed(system_message(errno));
    }
    const FileDescriptor file(fd);

    // The reported length only sizes the buffer; the file may shrink or grow
    // while it is read, and pipes report none.
    std::uint64_t capacity = 64 * 1024;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        capacity = static_cast<std::uint64_t>(info.st_size);
    }
    auto bytes = allocate(capacity);
    if (!bytes) {
        return failed("out of memory");
    }
    std::uint64_t size = 0;
    for (;;) {
        // A full buffer usually means the end of the file: probe before
        // growing, so that a file read at its reported length is held once.
        std::uint8_t probe[4096];
        const bool full = size == capacity;
        std::uint8_t* target = full ? probe : bytes.get() + size;
        const std::size_t want =
            full ? sizeof probe
                 : static_cast<std::size_t>(std::min<std::uint64_t>(
                       capacity - size, std::numeric_limits<ssize_t>::max()));
        const ssize_t got = ::read(fd, target, want);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failed(system_message(errno));
        }
        if (got == 0) {
            break;
        }
        const auto count = static_cast<std::uint64_t>(got);
        if (full) {
            const std::uint64_t grown = std::max(sat_add(capacity, capacity), sat_add(size, count));
            auto larger = allocate(grown);
            if (!larger) {
                return failed("out of memory");
            }
            std::copy_n(bytes.get(), static_cast<std::size_t>(size), larger.get());
            std::copy_n(probe, static_cast<std::size_t>(count), larger.get() + size);
            bytes = std::move(larger);
            capacity = grown;
        }
        size += count;
    }
    LoadResult result;
    result.data = FileData(std::move(bytes), size);
    result.ok = true;
    return result;
}

}  // namespace boxwalk
