#pragma once

// A file in memory for the sources, with the faults of a real one: short
// reads, an end before its length, a failing sector. Past its bytes it
// holds zeros up to its length, which may be any.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "load/load.hpp"
#include "primitives/bytes.hpp"
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

// What a fuzzer's input chooses of a file read through a file source: its
// first six bytes the read-ahead, how short each read comes back and a bad
// byte; the rest is the file.
struct FuzzedFile {
    ReadAhead read_ahead;
    FakeFaults faults;  // no bad byte: `bad` says where one goes
    std::uint64_t bad = 0;
    std::vector<std::uint8_t> bytes;

    static std::optional<FuzzedFile> from(const std::uint8_t* data, std::size_t size) {
        if (size < 6) {
            return std::nullopt;
        }
        FuzzedFile fuzzed;
        fuzzed.read_ahead.first = std::size_t{1} + data[0] * std::size_t{7};
        fuzzed.read_ahead.most = fuzzed.read_ahead.first + data[1] * std::size_t{61};
        fuzzed.faults.most_per_read = std::size_t{1} + data[2] + std::size_t{256} * data[3];
        fuzzed.bad = data[4] + std::uint64_t{256} * data[5];
        fuzzed.bytes.assign(data + 6, data + size);
        return fuzzed;
    }

    ByteView file() const { return bytes; }

    // A source over the file, read where asked; with `bad_byte`, a read of
    // that byte fails.
    std::unique_ptr<Source> source(bool bad_byte = false) const {
        FakeFaults chosen = faults;
        if (bad_byte) {
            chosen.error_at = bad;
        }
        return file_source(std::make_unique<FakeFile>(bytes, bytes.size(), chosen), bytes.size(),
                           read_ahead);
    }
};

}  // namespace boxwalk::test
