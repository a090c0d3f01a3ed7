#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "primitives/output.hpp"
#include "source/source.hpp"

// Texts of any length read from a source a piece at a time, so that what a
// long text costs is its output, never a copy of it whole.
namespace boxwalk {

inline constexpr std::size_t kPiece = std::size_t{64} << 10;

// Hands the `length` bytes at `pos` to `take(piece, last)` in pieces of at
// most kPiece bytes. `take` returns how many bytes of the piece it used, at
// least one; the rest comes again at the start of the next piece. False
// when a read came back short: the source has failed.
template <typename Take>
bool read_pieces(Source& source, std::uint64_t pos, std::uint64_t length, Take&& take) {
    while (length > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(length, kPiece));
        const ByteView piece = source.read(pos, want);
        if (piece.size() < want) {
            return false;
        }
        const std::size_t used = take(piece, want == length);
        if (used == 0) {
            return false;
        }
        pos += used;
        length -= used;
    }
    return true;
}

// Bytes that a line shows, read before it starts and kept for it while other
// reads follow, so that a failed read prints nothing of the line.
class HeldBytes {
public:
    HeldBytes() = default;
    HeldBytes(const HeldBytes&) = delete;
    HeldBytes& operator=(const HeldBytes&) = delete;

    // Reads and keeps the `length` bytes at `pos`, up to a piece; false when
    // the read came back short.
    bool read(Source& source, std::uint64_t pos, std::size_t length) {
        const ByteView got = source.read(pos, length);
        if (got.size() < length) {
            return false;
        }
        if (length <= small_.size()) {
            std::copy(got.begin(), got.end(), small_.begin());
            bytes_ = ByteView(small_.data(), length);
        } else {
            large_.assign(got.begin(), got.end());
            bytes_ = large_;
        }
        return true;
    }

    ByteView bytes() const { return bytes_; }

private:
    // Most are short: a mean or a name, a preview.
    std::array<std::uint8_t, 96> small_;
    std::vector<std::uint8_t> large_;
    ByteView bytes_;
};

// The bytes of `bytes` before its trailing NUL bytes.
ByteView without_trailing_nuls(ByteView bytes);

// The `length` bytes at `pos` as lenient UTF-8 (see write_lenient_utf8),
// without their trailing NUL bytes when `trim_nuls`; false when a read came
// back short.
bool write_text_at(Output& out, Source& source, std::uint64_t pos, std::uint64_t length,
                   bool trim_nuls);

// The `length` bytes at `pos` as hex digits, nothing between them; false
// when a read came back short.
bool write_hex_at(Output& out, Source& source, std::uint64_t pos, std::uint64_t length);

}  // namespace boxwalk
