#pragma once

// A file in memory for the sources, with the faults of a real one: short
// reads, an end before its length, a failing sector. Past its bytes it
// holds zeros up to its length, which may be any.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "source/file.hpp"

namespace boxwalk::test {

struct FakeFaults {
    std::size_t most_per_read = std::numeric_limits<std::size_t>::max();
    // Reads find nothing at or past this offset once `intact_reads` reads
    // are done: a file that shrank.
    std::uint64_t ends_at = std::numeric_limits<std::uint64_t>::max();
    std::size_t intact_reads = 0;
    // A read of this byte fails.
    std::uint64_t error_at = std::numeric_limits<std::uint64_t>::max();
};

class FakeFile final : public InputFile {
public:
    FakeFile(std::vector<std::uint8_t> bytes, std::uint64_t length, FakeFaults faults = {})
        : bytes_(std::move(bytes)), length_(length), faults_(faults) {}

    ReadResult read_at(std::uint64_t offset, std::uint8_t* into, std::size_t count) override {
        const std::uint64_t end = *length();
        ++reads_;
        if (offset >= end) {
            return {};
        }
        const auto n = static_cast<std::size_t>(
            std::min<std::uint64_t>({count, end - offset, faults_.most_per_read}));
        if (faults_.error_at >= offset && faults_.error_at - offset < n) {
            return ReadResult{0, "Input/output error (os error 5)"};
        }
        const std::size_t held =
            offset < bytes_.size()
                ? static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes_.size() - offset))
                : 0;
        if (held != 0) {
            std::memcpy(into, bytes_.data() + offset, held);
        }
        std::memset(into + held, 0, n - held);
        return ReadResult{n, std::nullopt};
    }

    ReadResult read(std::uint8_t* into, std::size_t count) override {
        ReadResult result = read_at(position_, into, count);
        position_ += result.count;
        return result;
    }

    std::optional<std::uint64_t> length() override {
        return reads_ < faults_.intact_reads ? length_ : std::min(length_, faults_.ends_at);
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::uint64_t length_;
    FakeFaults faults_;
    std::uint64_t position_ = 0;
    std::size_t reads_ = 0;
};

}  // namespace boxwalk::test
