#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "primitives/atom.hpp"
#include "primitives/bytes.hpp"

namespace boxwalk {

// Where the scan's bytes come from. The scan asks for the bytes it is about
// to look at, by position and count, and gets what is there. Positions are
// 64-bit whatever size_t is.
class Source {
public:
    virtual ~Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    // The file's length, taken once.
    std::uint64_t size() const { return size_; }

    // Up to `count` bytes at `pos`: all of them inside the file, fewer at its
    // end, none past it or once a read has failed. Lent until the next read.
    ByteView read(std::uint64_t pos, std::size_t count) {
        // Most reads fall inside the bytes at hand.
        if (!at_hand(pos, count)) {
            if (error_ || (error_ = fetch(pos, count))) {
                window_ = {};
                return {};
            }
            if (pos < window_pos_ || pos - window_pos_ > window_.size()) {
                return {};  // nothing there
            }
        }
        // Inside the window, as at_hand() or the test above found.
        const auto skip = static_cast<std::size_t>(pos - window_pos_);
        return ByteView(window_.data() + skip, std::min(count, window_.size() - skip));
    }

    // The bytes at hand from `pos` on, as many as there are, without reading:
    // what read() returns for any count they cover. Empty when none are.
    ByteView held(std::uint64_t pos) const {
        if (pos < window_pos_ || pos - window_pos_ > window_.size()) {
            return {};
        }
        const auto skip = static_cast<std::size_t>(pos - window_pos_);
        return ByteView(window_.data() + skip, window_.size() - skip);
    }

    // Why a read failed, once one has: the system's error, the file ending
    // before its length, or "out of memory".
    const std::optional<std::string>& error() const { return error_; }
    bool failed() const { return error_.has_value(); }

protected:
    explicit Source(std::uint64_t size) : size_(size) {}

    // read() for bytes not at hand: sets the window to bytes from `pos` on,
    // `count` of them or as many as there are (none: a window without `pos`),
    // and returns the error that ends the reads, if one did.
    virtual std::optional<std::string> fetch(std::uint64_t pos, std::size_t count) = 0;

    // Bytes at hand: the file's bytes from window_pos_ on.
    ByteView window_;
    std::uint64_t window_pos_ = 0;

private:
    // True when the window holds the bytes at `pos`: `count` of them, or all
    // there are up to the end of the file.
    bool at_hand(std::uint64_t pos, std::size_t count) const {
        if (pos < window_pos_ || pos - window_pos_ > window_.size()) {
            return false;
        }
        const std::size_t left = window_.size() - static_cast<std::size_t>(pos - window_pos_);
        return count <= left || window_pos_ + window_.size() == size_;
    }

    std::uint64_t size_;
    std::optional<std::string> error_;
};

// Bytes in memory, for tests, fuzzing and benchmarks.
class MemorySource final : public Source {
public:
    explicit MemorySource(ByteView bytes) : Source(bytes.size()) { window_ = bytes; }

private:
    std::optional<std::string> fetch(std::uint64_t, std::size_t) override { return {}; }
};

// read_atom_head on the bytes of `source` at `pos`: 8 of them, and the 8
// after when the size field is 1. False also once a read has failed.
inline bool read_atom(Source& source, std::uint64_t pos, Atom& atom) {
    ByteView head = source.read(pos, 8);
    if (read_u32_be(head, 0) == 1u) {
        head = source.read(pos, kLongestHeader);
    }
    return read_atom_head(head, pos, source.size(), atom);
}

}  // namespace boxwalk
