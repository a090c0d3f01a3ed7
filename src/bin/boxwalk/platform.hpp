#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "primitives/bytes.hpp"
#include "primitives/output.hpp"

// The operating system as the driver sees it: arguments, the load of a
// file, and the two console streams. Only the platform_*.cpp files include
// system headers.
namespace boxwalk {

// One command-line argument: the form the system opens, and lenient UTF-8
// for printing.
struct Argument {
#ifdef _WIN32
    std::wstring native;
#else
    std::string native;
#endif
    std::string text;
};

// The content of a file, owned; views of it are lent to the readers.
// Memory comes from `new[]`, or from wherever a loader got it, with the
// function that gives it back (a reservation is released, not deleted).
class FileData {
public:
    // Gives back `reserved` bytes at `bytes`.
    using Release = void (*)(std::uint8_t* bytes, std::uint64_t reserved);

    FileData() = default;
    FileData(std::unique_ptr<std::uint8_t[]> bytes, std::uint64_t size)
        : bytes_(bytes.release()), size_(size), reserved_(size), release_(delete_array) {}
    FileData(std::uint8_t* bytes, std::uint64_t size, std::uint64_t reserved, Release release)
        : bytes_(bytes), size_(size), reserved_(reserved), release_(release) {}
    FileData(FileData&& other) noexcept { swap(other); }
    FileData& operator=(FileData&& other) noexcept {
        FileData(std::move(other)).swap(*this);
        return *this;
    }
    ~FileData() {
        if (bytes_ != nullptr) {
            release_(bytes_, reserved_);
        }
    }

    ByteView view() const { return ByteView(bytes_, static_cast<std::size_t>(size_)); }

private:
    static void delete_array(std::uint8_t* bytes, std::uint64_t) { delete[] bytes; }
    void swap(FileData& other) noexcept {
        std::swap(bytes_, other.bytes_);
        std::swap(size_, other.size_);
        std::swap(reserved_, other.reserved_);
        std::swap(release_, other.release_);
    }

    std::uint8_t* bytes_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint64_t reserved_ = 0;
    Release release_ = nullptr;
};

// The bytes of a file, or the text of the error that stopped the read.
struct LoadResult {
    FileData data;
    bool ok = false;
    std::string error;

    static LoadResult failure(std::string error) {
        LoadResult result;
        result.error = std::move(error);
        return result;
    }
};

// The process's arguments; element 0 is always present.
std::vector<Argument> platform_arguments(int argc, char** argv);

// The file named by `path`, opened without locking it, as one view of its
// whole length. A regular file of a reported length is read only where the
// scan can read (plan_reads), every other page left inaccessible; a file
// that holds more or less than its length says, and anything without a
// length (pipes, devices), is read whole until a read returns nothing.
// Errors read "{system message} (os error {code})" or "out of memory".
LoadResult load_file(const Argument& path);

// Standard output and standard error. Output is buffered unless it is a
// terminal, and flushed before anything goes to standard error; errors on
// standard error itself are ignored.
class Console {
public:
    Console();
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    Output& out();
    Output& err();

private:
    struct Streams;
    std::unique_ptr<Streams> streams_;
};

}  // namespace boxwalk
