#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

class StandardOutput final : public BufferedOutput {
public:
    StandardOutput() : BufferedOutput(::isatty(STDOUT_FILENO) == 1) {}

private:
    std::optional<WriteFailure> emit(std::string_view text) override {
        if (const int code = write_all(STDOUT_FILENO, text); code != 0) {
            return WriteFailure{code == EPIPE, system_message(code)};
        }
        return std::nullopt;
    }
};

class StandardError final : public LineOutput {
public:
    explicit StandardError(Output& out) : LineOutput(out, ::isatty(STDERR_FILENO) == 1) {}

private:
    void emit(std::string_view line) override { write_all(STDERR_FILENO, line); }
};

}  // namespace

std::optional<InputFile> InputFile::open(const Argument& path, std::string& error) {
    int fd = -1;
    do {
        fd = ::open(path.native.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = system_message(errno);
        return std::nullopt;
    }
    return InputFile(fd);
}

InputFile::~InputFile() {
    if (handle_ != kClosed) {
        ::close(static_cast<int>(handle_));
    }
}

std::optional<std::uint64_t> InputFile::reported_length() const {
    struct stat info {};
    if (::fstat(static_cast<int>(handle_), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

ReadResult InputFile::read(std::uint8_t* into, std::size_t count) {
    ssize_t got = 0;
    do {
        got = ::read(static_cast<int>(handle_), into, capped(count));
    } while (got < 0 && errno == EINTR);
    return read_result(got);
}

ReadResult InputFile::read_at(std::uint64_t offset, std::uint8_t* into, std::size_t count) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        return ReadResult{};  // nothing lies beyond the largest offset
    }
    ssize_t got = 0;
    do {
        got = ::pread(static_cast<int>(handle_), into, capped(count), static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    return read_result(got);
}

std::uint64_t page_size() {
    const long size = ::sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::uint64_t>(size) : 4096;
}

std::uint64_t physical_memory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    // Unknown: no plan is refused for its size alone.
    return pages > 0 ? static_cast<std::uint64_t>(pages) * page_size()
                     : std::numeric_limits<std::uint64_t>::max();
}

std::uint8_t* reserve_pages(std::uint64_t length) {
    // A run of huge pages must start on a huge-page boundary: room for one
    // more, so that an aligned range can be cut out. The file's first page
    // is read on its own, for the first top-level header, and a long run
    // (moov's udta, as a rule) follows it: so the second page, not the
    // first, is put on the boundary, and the run gets whole huge pages
    // instead of one made of 4 KiB pages around the first.
    constexpr auto kHuge = static_cast<std::size_t>(kHugePage);
    if (length > std::numeric_limits<std::size_t>::max() - kHuge) {
        return nullptr;
    }
    const std::size_t slack = length >= kHuge ? kHuge : 0;
    // Inaccessible pages commit no memory whatever the overcommit policy.
    void* raw = ::mmap(nullptr, static_cast<std::size_t>(length) + slack, PROT_NONE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (raw == MAP_FAILED) {
        return nullptr;
    }
    auto* start = static_cast<std::uint8_t*>(raw);
    if (slack != 0) {
        const auto address = reinterpret_cast<std::uintptr_t>(raw);
        const std::size_t page = static_cast<std::size_t>(page_size());
        const std::size_t head = (2 * kHuge - page - address % kHuge) % kHuge;
        if (head != 0) {
            ::munmap(start, head);
        }
        if (head != slack) {
            ::munmap(start + head + length, slack - head);
        }
        start += head;
#ifdef MADV_HUGEPAGE
        // A large run read into fresh memory is faulted in far faster, and
        // walked with fewer TLB misses, in 2 MiB pages; where they are off,
        // 4 KiB pages work the same, a little slower.
        ::madvise(start, static_cast<std::size_t>(length), MADV_HUGEPAGE);
#endif
    }
    return start;
}

bool commit_pages(std::uint8_t* at, std::uint64_t length) {
    return ::mprotect(at, static_cast<std::size_t>(length), PROT_READ | PROT_WRITE) == 0;
}

void seal_pages(std::uint8_t* at, std::uint64_t length) {
    ::mprotect(at, static_cast<std::size_t>(length), PROT_READ);
}

void release_pages(std::uint8_t* at, std::uint64_t length) {
    ::munmap(at, static_cast<std::size_t>(length));
}

std::vector<Argument> given_arguments(int argc, char** argv) {
    std::vector<Argument> args;
    for (int i = 0; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
        args.push_back(Argument{argv[i], lenient_utf8(std::string_view(argv[i]))});
    }
    return args;
}

Argument own_path() {
    // readlink cuts a long path silently: grow until it fits.
    for (std::size_t room = 256; room <= (std::size_t{1} << 20); room *= 2) {
        std::string self(room, '\0');
        const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size());
        if (length < 0) {
            break;
        }
        if (static_cast<std::size_t>(length) < room) {
            self.resize(static_cast<std::size_t>(length));
            return Argument{self, lenient_utf8(std::string_view(self))};
        }
    }
    return Argument{};
}

std::unique_ptr<BufferedOutput> standard_output() { return std::make_unique<StandardOutput>(); }

std::unique_ptr<LineOutput> standard_error(Output& out) {
    return std::make_unique<StandardError>(out);
}

}  // namespace boxwalk::sys
