#include "tree/pieces.hpp"

#include <algorithm>

#include "primitives/render.hpp"
#include "primitives/text.hpp"

namespace boxwalk {
namespace {

// Hands the `length` bytes at `pos` to `take(piece, last)` in pieces of at
// most kPiece bytes. `take` returns how many bytes of the piece it used, at
// least one; the rest comes again at the start of the next piece. False
// when a read came back short.
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

// Writes `bytes`, whole, as `encoding`.
void write_whole(Output& out, Encoding encoding, ByteView bytes) {
    switch (encoding) {
        case Encoding::utf8:
            write_encoded<Encoding::utf8>(out, bytes);
            break;
        case Encoding::utf16le:
            write_encoded<Encoding::utf16le>(out, bytes);
            break;
        case Encoding::hex:
            write_encoded<Encoding::hex>(out, bytes);
            break;
    }
}

// Writes `piece` as `encoding`, and returns how many of its bytes it used:
// all but a character that its end cuts, which comes again at the start of
// the next piece.
std::size_t write_piece(Output& out, Encoding encoding, ByteView piece) {
    std::size_t cut = 0;
    switch (encoding) {
        case Encoding::utf8:
            // A lead byte always starts a sequence of its own, so the cut
            // changes nothing.
            cut = unfinished_utf8_tail(as_chars(piece));
            break;
        case Encoding::utf16le: {
            // Pieces hold whole units; a high surrogate at a piece's end
            // waits for the unit after it.
            const std::size_t size = piece.size();
            cut = size >= 2 && piece[size - 1] >= 0xD8 && piece[size - 1] <= 0xDB ? 2 : 0;
            break;
        }
        case Encoding::hex:
            break;
    }
    piece = piece.first(piece.size() - cut);
    write_whole(out, encoding, piece);
    return piece.size();
}

}  // namespace

bool Shown::read_through(Source& source, std::uint64_t pos, std::uint64_t length, Trim trim) {
    // Read through once; what `trim` leaves out is found on the way.
    read_again_ = true;
    bytes_ = {};
    pos_ = pos;
    length_ = trim == Trim::utf16_zero ? length - length % 2 : length;
    std::uint64_t done = 0;
    std::uint64_t kept = 0;
    bool zero_unit_last = false;
    const bool read = read_pieces(source, pos, length_, [&](ByteView piece, bool) {
        const std::size_t kept_here =
            Shown::trimmed_length(piece, trim == Trim::nuls ? trim : Trim::none);
        if (kept_here != 0) {
            kept = done + kept_here;
        }
        done += piece.size();
        zero_unit_last =
            piece.size() >= 2 && piece[piece.size() - 2] == 0x00 && piece[piece.size() - 1] == 0x00;
        return piece.size();
    });
    if (trim == Trim::nuls) {
        length_ = kept;
    } else if (trim == Trim::utf16_zero && zero_unit_last) {
        length_ -= 2;
    }
    return read;
}

bool Shown::write_read_again(Output& out, Source& source, Encoding encoding) const {
    return read_pieces(source, pos_, length_, [&](ByteView piece, bool last) {
        if (last) {
            write_whole(out, encoding, piece);
            return piece.size();
        }
        return write_piece(out, encoding, piece);
    });
}

void write_utf16le_units(Output& out, ByteView bytes) {
    // Every unit lies inside `bytes`: the count is cut to its length.
    const std::uint8_t* const at = bytes.data();
    const auto unit_at = [at](std::size_t i) {
        return static_cast<char32_t>(at[2 * i] | (at[2 * i + 1] << 8));
    };
    decode_utf16(bytes.size() / 2, unit_at,
                 [&out](char32_t code_point) { write_utf8(out, code_point); });
}

}  // namespace boxwalk
