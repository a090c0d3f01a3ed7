#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bin/boxwalk/platform.hpp"
#include "bin/boxwalk/streams.hpp"

// The calls each system supplies, wrapped just enough for the loader, the
// arguments and the console in platform.cpp, which hold everything that is
// the same on every system. Implemented by platform_posix.cpp and
// platform_windows.cpp; no system headers here.
namespace boxwalk::sys {

// One read: the number of bytes read, 0 at the end of the data, or the
// system's error text.
struct ReadResult {
    std::size_t count = 0;
    std::optional<std::string> error;
};

// A file opened for reading only, never locked, never kept from other
// programs that write or delete it.
class InputFile {
public:
    // Empty, with the system's error text in `error`, when `path` cannot be
    // opened.
    static std::optional<InputFile> open(const Argument& path, std::string& error);

    InputFile(InputFile&& other) noexcept : handle_(other.handle_) { other.handle_ = kClosed; }
    InputFile& operator=(InputFile&&) = delete;
    ~InputFile();

    // The length the system reports for a regular file; empty for pipes,
    // terminals, devices and the like.
    std::optional<std::uint64_t> reported_length() const;

    // Reads up to `count` bytes at the current position, retrying
    // interruptions; a pipe whose writer has gone has ended.
    ReadResult read(std::uint8_t* into, std::size_t count);

    // Reads up to `count` bytes at `offset`. The current position is then
    // unspecified.
    ReadResult read_at(std::uint64_t offset, std::uint8_t* into, std::size_t count);

private:
    static constexpr std::intptr_t kClosed = -1;
    explicit InputFile(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
};

// The usual transparent huge page (x86-64, and arm64 with 4 KiB pages). A
// reservation puts the file's second page on such a boundary, and is sized
// through the end of the huge page that holds the file's last byte.
inline constexpr std::uint64_t kHugePage = std::uint64_t{2} << 20;

// The unit in which memory is made accessible.
std::uint64_t page_size();

// The machine's physical memory in bytes.
std::uint64_t physical_memory();

// Address space for `length` bytes (a multiple of the page size), none of
// them accessible and none backed by memory yet; null when it cannot be had.
std::uint8_t* reserve_pages(std::uint64_t length);

// Makes whole pages of a reservation readable and writable, backed by
// memory; false when that memory cannot be had.
bool commit_pages(std::uint8_t* at, std::uint64_t length);

// Makes committed pages read-only.
void seal_pages(std::uint8_t* at, std::uint64_t length);

// Gives back a whole reservation.
void release_pages(std::uint8_t* at, std::uint64_t length);

// The arguments as the system hands them over, possibly none.
std::vector<Argument> given_arguments(int argc, char** argv);

// The running program's own file, or an empty argument.
Argument own_path();

// The process's standard output and standard error, as the console needs
// them.
std::unique_ptr<BufferedOutput> standard_output();
std::unique_ptr<LineOutput> standard_error(Output& out);

}  // namespace boxwalk::sys
