#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// A file as the sources read it; each platform supplies one.
namespace boxwalk {

// One read: the number of bytes read, 0 at the end of the data, or the
// system's error text.
struct ReadResult {
    std::size_t count = 0;
    std::optional<std::string> error;
};

class InputFile {
public:
    virtual ~InputFile() = default;
    // Up to `count` bytes at `offset`; 0 at or past the end.
    virtual ReadResult read_at(std::uint64_t offset, std::uint8_t* into, std::size_t count) = 0;
    // Up to `count` bytes where the file stands: for pipes and devices.
    virtual ReadResult read(std::uint8_t* into, std::size_t count) = 0;
    // The file's length as the system reports it now; empty when it cannot.
    virtual std::optional<std::uint64_t> length() = 0;
};

}  // namespace boxwalk
