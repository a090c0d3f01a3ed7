#pragma once

// A file in memory for the sources, with the faults of a real one: short
// reads, an end before its length, a failing sector. Its bytes are pieces
// at offsets over zeros, so that it can be terabytes long.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "source/file.hpp"

namespace boxwalk::test {

struct FakeFaults {
    std::size_t most_per_read = std::numeric_limits<std::size_t>::max();
    // Reads find nothing at or past this offset: a file that shrank.
    std::uint64_t ends_at = std::numeric_limits<std::uint64_t>::max();
    // A read of this byte fails.
    std::uint64_t error_at = std::numeric_limits<std::uint64_t>::max();
};

class FakeFile final : public InputFile {
public:
    using Piece = std::pair<std::uint64_t, std::vector<std::uint8_t>>;

    FakeFile(std::uint64_t length, std::vector<Piece> pieces, FakeFaults faults = {})
        : length_(length), pieces_(std::move(pieces)), faults_(faults) {}

    ReadResult read_at(std::uint64_t offset, std::uint8_t* into, std::size_t count) override {
        const std::uint64_t end = std::min(length_, faults_.ends_at);
        if (offset >= end) {
            return {};
        }
        const auto n = static_cast<std::size_t>(
            std::min<std::uint64_t>({count, end - offset, faults_.most_per_read}));
        if (faults_.error_at >= offset && faults_.error_at - offset < n) {
            return ReadResult{0, "Input/output error (os error 5)"};
        }
        std::memset(into, 0, n);
        for (const auto& [at, bytes] : pieces_) {
            const std::uint64_t from = std::max(at, offset);
            const std::uint64_t to = std::min(at + bytes.size(), offset + n);
            if (from < to) {
                std::memcpy(into + (from - offset), bytes.data() + (from - at),
                            static_cast<std::size_t>(to - from));
            }
        }
        return ReadResult{n, std::nullopt};
    }

    ReadResult read(std::uint8_t* into, std::size_t count) override {
        ReadResult result = read_at(position_, into, count);
        position_ += result.count;
        return result;
    }

private:
    std::uint64_t length_;
    std::vector<Piece> pieces_;
    FakeFaults faults_;
    std::uint64_t position_ = 0;
};

}  // namespace boxwalk::test
