#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#elif defined(__FreeBSD__) || defined(__DragonFly__) || defined(__NetBSD__)
#include <sys/sysctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <limits>

#include "bin/boxwalk/system.hpp"
#include "primitives/text.hpp"

namespace boxwalk::sys {
namespace {

std::string system_message(int code) {
    return os_error_text(std::strerror(code), static_cast<std::uint64_t>(code));
}

// The outcome of a read(2) or pread(2) that returned `got`.
ReadResult read_result(ssize_t got) {
    if (got < 0) {
        return ReadResult{0, system_message(errno)};
    }
    return ReadResult{static_cast<std::size_t>(got), std::nullopt};
}

// Larger requests than this are not portable.
std::size_t capped(std::size_t count) { return std::min<std::size_t>(count, SSIZE_MAX); }

// Writes all of `text` to `fd`, retrying short writes and interruptions;
// the errno of the failing call, or 0.
int write_all(int fd, std::string_view text) {
    return static_cast<int>(write_fully(
        text,
        [fd](const char* bytes, std::size_t count) {
            ssize_t written = 0;
            do {
                written = ::write(fd, bytes, capped(count));
            } while (written < 0 && errno == EINTR);
            return written < 0 ? WriteStep{0, static_cast<std::uint64_t>(errno)}
                               : WriteStep{static_cast<std::size_t>(written), 0};
        },
        EIO));
}

// Whether `fd` is a regular file.
bool is_regular(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

class StandardOutput final : public BufferedOutput {
public:
    StandardOutput()
        : BufferedOutput(::isatty(STDOUT_FILENO) == 1), regular_(is_regular(STDOUT_FILENO)) {}

private:
    std::optional<WriteFailure> emit(std::string_view text) override {
        if (const int code = write_all(STDOUT_FILENO, text); code != 0) {
            return WriteFailure{code == EPIPE, system_message(code)};
        }
        return std::nullopt;
    }

    // A record lock on the whole file, however long it grows. Such locks
    // belong to the process, so programs that share one open file (the
    // runs of xargs -P behind one redirection) exclude each other; a
    // system that refuses them leaves the records unlocked.
    void lock(bool take) override {
        if (!regular_) {
            return;
        }
        struct flock whole {};
        whole.l_type = take ? F_WRLCK : F_UNLCK;
        whole.l_whence = SEEK_SET;
        while (::fcntl(STDOUT_FILENO, take ? F_SETLKW : F_SETLK, &whole) == -1 && errno == EINTR) {
        }
    }

    bool regular_;
};

class StandardError final : public LineOutput {
public:
    explicit StandardError(Output& out) : LineOutput(out, ::isatty(STDERR_FILENO) == 1) {}

private:
    void emit(std::string_view line) override { write_all(STDERR_FILENO, line); }
};

// A descriptor read with read(2) or pread(2), closed at the end.
class PosixFile final : public InputFile {
public:
    explicit PosixFile(int fd) : fd_(fd) {}
    ~PosixFile() override { ::close(fd_); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    ReadResult read_at(std::uint64_t offset, std::uint8_t* into, std::size_t count) override {
        if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
            return ReadResult{};  // nothing lies beyond the largest offset
        }
        ssize_t got = 0;
        do {
            got = ::pread(fd_, into, capped(count), static_cast<off_t>(offset));
        } while (got < 0 && errno == EINTR);
        return read_result(got);
    }

    ReadResult read(std::uint8_t* into, std::size_t count) override {
        ssize_t got = 0;
        do {
            got = ::read(fd_, into, capped(count));
        } while (got < 0 && errno == EINTR);
        return read_result(got);
    }

    std::optional<std::uint64_t> length() override {
        struct stat info {};
        if (::fstat(fd_, &info) != 0 || info.st_size < 0) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(info.st_size);
    }

private:
    int fd_;
};

// The running program's file as the system names it, or empty where it
// cannot say.
#if defined(__APPLE__)
std::string executable_path() {
    // The first call fails and gives the size, the nul included.
    std::uint32_t size = 0;
    ::_NSGetExecutablePath(nullptr, &size);
    std::string path(size, '\0');
    if (size == 0 || ::_NSGetExecutablePath(path.data(), &size) != 0) {
        return {};
    }
    path.resize(std::strlen(path.c_str()));
    return path;
}
#elif defined(__FreeBSD__) || defined(__DragonFly__) || defined(__NetBSD__)
std::string executable_path() {
#if defined(__NetBSD__)
    int name[] = {CTL_KERN, KERN_PROC_ARGS, -1, KERN_PROC_PATHNAME};
#else
    int name[] = {CTL_KERN, KERN_PROC, KERN_PROC_PATHNAME, -1};
#endif
    // The first call gives the size, the nul included.
    std::size_t size = 0;
    if (::sysctl(name, 4, nullptr, &size, nullptr, 0) != 0 || size == 0) {
        return {};
    }
    std::string path(size, '\0');
    if (::sysctl(name, 4, path.data(), &size, nullptr, 0) != 0) {
        return {};
    }
    path.resize(std::strlen(path.c_str()));
    return path;
}
#else
// Linux's /proc/self/exe; where there is no such link (OpenBSD, for one)
// the path stays unknown.
std::string executable_path() {
    // readlink cuts a long path silently: grow until it fits.
    for (std::size_t room = 256; room <= (std::size_t{1} << 20); room *= 2) {
        std::string path(room, '\0');
        const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
        if (length < 0) {
            break;
        }
        if (static_cast<std::size_t>(length) < room) {
            path.resize(static_cast<std::size_t>(length));
            return path;
        }
    }
    return {};
}
#endif

}  // namespace

std::optional<OpenedFile> open_file(const Argument& path, std::string& error) {
    int fd = -1;
    do {
        fd = ::open(path.native.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = system_message(errno);
        return std::nullopt;
    }
    OpenedFile opened{std::make_unique<PosixFile>(fd), std::nullopt};
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0) {
        opened.length = static_cast<std::uint64_t>(info.st_size);
    }
    return opened;
}

std::uint64_t physical_memory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page = ::sysconf(_SC_PAGESIZE);
    // Unknown: no stream is refused for its length alone.
    return pages > 0 && page > 0
               ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page)
               : std::numeric_limits<std::uint64_t>::max();
}

std::vector<Argument> given_arguments(int argc, char** argv) {
    std::vector<Argument> args;
    for (int i = 0; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
        args.push_back(Argument{argv[i], lenient_utf8(std::string_view(argv[i]))});
    }
    return args;
}

Argument own_path() {
    std::string path = executable_path();
    std::string text = lenient_utf8(std::string_view(path));
    return Argument{std::move(path), std::move(text)};
}

std::unique_ptr<BufferedOutput> standard_output() { return std::make_unique<StandardOutput>(); }

std::unique_ptr<LineOutput> standard_error(Output& out) {
    return std::make_unique<StandardError>(out);
}

}  // namespace boxwalk::sys
