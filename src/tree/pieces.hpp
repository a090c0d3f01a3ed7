#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "primitives/output.hpp"
#include "primitives/render.hpp"
#include "primitives/text.hpp"
#include "source/source.hpp"

// The bytes a line shows, read before any of the line is written, whatever
// their length: a text or a value longer than what is held is read twice, a
// piece at a time, so that what a long text costs is its output, never a
// copy of it whole.
namespace boxwalk {

inline constexpr std::size_t kPiece = std::size_t{64} << 10;

// What of a run's end a line leaves out.
enum class Trim : std::uint8_t {
    none,
    nuls,        // trailing NUL bytes
    utf16_zero,  // an odd last byte, then one trailing zero unit
};

// How a line writes a run's bytes.
enum class Encoding : std::uint8_t {
    utf8,     // lenient UTF-8 (see write_lenient_utf8)
    utf16le,  // UTF-16 units, little-endian, whole (see write_utf16le_units)
    hex,      // two hex digits a byte, nothing between
};

// The UTF-16LE units of `bytes` (an odd last byte ignored) as UTF-8:
// unpaired surrogates as U+FFFD.
void write_utf16le_units(Output& out, ByteView bytes);

// Writes `bytes`, whole, as `kEncoding`.
template <Encoding kEncoding>
void write_encoded(Output& out, ByteView bytes) {
    if constexpr (kEncoding == Encoding::utf8) {
        write_lenient_utf8(out, bytes);
    } else if constexpr (kEncoding == Encoding::utf16le) {
        write_utf16le_units(out, bytes);
    } else {
        write_hex(out, bytes);
    }
}

// A run of bytes that a line shows, made sure of before the line starts:
// the bytes at hand, or read and held when they are up to a piece long, or
// else read through once, a piece at a time, only to know that they can
// be, and read again as they are written.
class Shown {
public:
    Shown() = default;
    Shown(const Shown&) = delete;
    Shown& operator=(const Shown&) = delete;

    // The bytes of `bytes`, lent until the next read, less what `trim`
    // leaves out.
    void lend(ByteView bytes, Trim trim) {
        read_again_ = false;
        bytes_ = bytes.first(trimmed_length(bytes, trim));
    }
    // Reads the `length` bytes at `pos`, less what `trim` leaves out: held
    // when they are up to a piece long. False when a read came back short:
    // the source has failed.
    bool read(Source& source, std::uint64_t pos, std::uint64_t length, Trim trim) {
        if (length > kPiece) {
            return read_through(source, pos, length, trim);
        }
        const ByteView got = source.read(pos, static_cast<std::size_t>(length));
        if (got.size() < length) {
            return false;
        }
        std::uint8_t* held = small_.data();
        if (got.size() > small_.size()) {
            large_.reset(new std::uint8_t[got.size()]);
            held = large_.get();
        }
        std::copy(got.begin(), got.end(), held);
        lend(ByteView(held, got.size()), trim);
        return true;
    }

    // Writes the bytes as `kEncoding`. False only when bytes that were read
    // through before cannot be read again, the file changed since: the
    // line then ends where they stop.
    template <Encoding kEncoding>
    bool write(Output& out, Source& source) const {
        if (read_again_) {
            return write_read_again(out, source, kEncoding);
        }
        write_encoded<kEncoding>(out, bytes_);
        return true;
    }

    // The bytes, when they are at hand or held: every run of up to a piece.
    ByteView bytes() const { return bytes_; }

    // How many of the bytes of `bytes` are left once `trim` leaves its part
    // out.
    static std::size_t trimmed_length(ByteView bytes, Trim trim) {
        std::size_t length = bytes.size();
        if (trim == Trim::nuls) {
            while (length > 0 && bytes[length - 1] == 0x00) {
                --length;
            }
        } else if (trim == Trim::utf16_zero) {
            length -= length % 2;
            if (length >= 2 && bytes[length - 2] == 0x00 && bytes[length - 1] == 0x00) {
                length -= 2;
            }
        }
        return length;
    }

private:
    bool read_through(Source& source, std::uint64_t pos, std::uint64_t length, Trim trim);
    bool write_read_again(Output& out, Source& source, Encoding encoding) const;

    ByteView bytes_;
    // A run longer than a piece, not held: where it lies.
    bool read_again_ = false;
    std::uint64_t pos_ = 0;
    std::uint64_t length_ = 0;
    // Most held runs are short: a name, a mean, a preview.
    std::array<std::uint8_t, 96> small_;
    std::unique_ptr<std::uint8_t[]> large_;
};

}  // namespace boxwalk
