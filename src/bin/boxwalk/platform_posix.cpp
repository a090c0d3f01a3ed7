#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "bin/boxwalk/platform.hpp"
#include "bin/boxwalk/streams.hpp"
#include "primitives/text.hpp"

namespace boxwalk {
namespace {

std::string system_message(int code) {
    return os_error_text(std::strerror(code), static_cast<std::uint64_t>(code));
}

// The usual transparent huge page: x86-64, and arm64 with 4 KiB pages.
constexpr std::uint64_t kHugePage = std::uint64_t{2} << 20;

// Reads ask for at most this much at a time: larger requests gain nothing,
// and a 64 MiB piece keeps the copy's working set small.
constexpr std::uint64_t kReadPiece = std::uint64_t{64} << 20;

// The first guess for a file that reports no length, such as a pipe.
constexpr std::uint64_t kFirstGuess = 64 * 1024;

constexpr std::uint64_t round_up(std::uint64_t value, std::uint64_t step) {
    return (value + step - 1) / step * step;
}

void unmap(std::uint8_t* bytes, std::uint64_t reserved) {
    ::munmap(bytes, static_cast<std::size_t>(reserved));
}

void free_heap(std::uint8_t* bytes, std::uint64_t) {
    std::free(bytes);
}

// A private anonymous mapping of at least `capacity` bytes that starts on a
// huge-page boundary and is advised to use huge pages; its length goes to
// `reserved`. Null when no mapping of that length can be had.
std::uint8_t* map_huge_pages(std::uint64_t capacity, std::uint64_t& reserved) {
    const std::uint64_t length = round_up(capacity, kHugePage);
    // One huge page more than needed, so that an aligned run can be cut out.
    if (capacity == 0 || length < capacity ||
        length > std::numeric_limits<std::size_t>::max() - kHugePage) {
        return nullptr;
    }
    void* raw = ::mmap(nullptr, static_cast<std::size_t>(length + kHugePage),
                       PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        return nullptr;
    }
    auto* const start = static_cast<std::uint8_t*>(raw);
    const auto address = reinterpret_cast<std::uintptr_t>(raw);
    const auto head = static_cast<std::size_t>(round_up(address, kHugePage) - address);
    std::uint8_t* const aligned = start + head;
    if (head != 0) {
        ::munmap(start, head);
    }
    if (head != kHugePage) {
        ::munmap(aligned + length, static_cast<std::size_t>(kHugePage - head));
    }
#ifdef MADV_HUGEPAGE
    // Without huge pages (another system, or turned off) the mapping still
    // works, with 4 KiB pages.
    ::madvise(aligned, static_cast<std::size_t>(length), MADV_HUGEPAGE);
#endif
    reserved = length;
    return aligned;
}

// The memory that a file is read into. Its bytes are never zero-filled by
// us: every byte is written by a read before it is used. A buffer sized from
// a reported length of at least a huge page is a huge-page mapping, since the
// kernel must zero whatever it hands out and does so far faster in 2 MiB
// pages; smaller ones, buffers that grow, and any buffer whose mapping fails
// come from the C heap, where realloc can usually grow them without a copy.
class Buffer {
public:
    Buffer() = default;
    ~Buffer() {
        if (bytes_ != nullptr) {
            release_(bytes_, reserved_);
        }
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    std::uint8_t* data() const { return bytes_; }
    std::uint64_t capacity() const { return capacity_; }

    // Room for `capacity` bytes, for a buffer that holds none yet; false
    // when the memory cannot be had.
    bool allocate(std::uint64_t capacity) {
        if (capacity >= kHugePage) {
            if (std::uint8_t* mapped = map_huge_pages(capacity, reserved_)) {
                adopt(mapped, capacity, unmap);
                return true;
            }
        }
        return resize_heap(capacity);
    }

    // Room for `capacity` bytes, keeping the first `used`; false when the
    // memory cannot be had, the buffer then being as it was.
    bool grow(std::uint64_t capacity, std::uint64_t used) {
        if (release_ != unmap) {
            return resize_heap(capacity);
        }
        Buffer larger;
        if (!larger.resize_heap(capacity)) {
            return false;
        }
        std::memcpy(larger.bytes_, bytes_, static_cast<std::size_t>(used));
        std::swap(bytes_, larger.bytes_);
        std::swap(capacity_, larger.capacity_);
        std::swap(reserved_, larger.reserved_);
        std::swap(release_, larger.release_);
        return true;
    }

    // Hands the first `size` bytes over, giving back the unused end of a
    // heap buffer that grew past them (a mapping's unused pages were never
    // touched and cost nothing).
    FileData take(std::uint64_t size) {
        if (release_ == free_heap && size < capacity_ && size > 0) {
            resize_heap(size);
        }
        FileData data(bytes_, size, reserved_, release_);
        bytes_ = nullptr;
        return data;
    }

private:
    bool resize_heap(std::uint64_t capacity) {
        if (capacity > std::numeric_limits<std::size_t>::max()) {
            return false;
        }
        // Never ask for 0 bytes, which realloc may answer with a free.
        void* resized = std::realloc(bytes_, std::max<std::size_t>(1, static_cast<std::size_t>(capacity)));
        if (resized == nullptr) {
            return false;
        }
        adopt(static_cast<std::uint8_t*>(resized), capacity, free_heap);
        reserved_ = capacity;
        return true;
    }

    void adopt(std::uint8_t* bytes, std::uint64_t capacity, FileData::Release release) {
        bytes_ = bytes;
        capacity_ = capacity;
        release_ = release;
    }

    std::uint8_t* bytes_ = nullptr;
    std::uint64_t capacity_ = 0;
    std::uint64_t reserved_ = 0;
    FileData::Release release_ = free_heap;
};

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
        return LoadResult::failure(system_message(errno));
    }
    const FileDescriptor file(fd);

    // The reported length only sizes the buffer; the file may shrink or grow
    // while it is read, and pipes report none.
    std::uint64_t capacity = kFirstGuess;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        capacity = static_cast<std::uint64_t>(info.st_size);
    }
    Buffer buffer;
    if (!buffer.allocate(capacity)) {
        return LoadResult::failure("out of memory");
    }
    std::uint64_t size = 0;
    for (;;) {
        // A full buffer usually means the end of the file: probe before
        // growing, so that a file read at its reported length is held once.
        std::uint8_t probe[4096];
        const bool full = size == buffer.capacity();
        std::uint8_t* target = full ? probe : buffer.data() + size;
        const std::size_t want =
            full ? sizeof probe
                 : static_cast<std::size_t>(std::min(buffer.capacity() - size, kReadPiece));
        const ssize_t got = ::read(fd, target, want);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LoadResult::failure(system_message(errno));
        }
        if (got == 0) {
            break;
        }
        const auto count = static_cast<std::uint64_t>(got);
        if (full) {
            const std::uint64_t grown = std::max(sat_add(size, size), sat_add(size, count));
            if (!buffer.grow(grown, size)) {
                return LoadResult::failure("out of memory");
            }
            std::memcpy(buffer.data() + size, probe, static_cast<std::size_t>(count));
        }
        size += count;
    }
    LoadResult result;
    result.data = buffer.take(size);
    result.ok = true;
    return result;
}

}  // namespace boxwalk
