#include "tree/pieces.hpp"

#include "primitives/render.hpp"
#include "primitives/text.hpp"

namespace boxwalk {

ByteView without_trailing_nuls(ByteView bytes) {
    std::size_t kept = bytes.size();
    while (kept > 0 && bytes[kept - 1] == 0x00) {
        --kept;
    }
    return bytes.first(kept);
}

namespace {

// The length of the `length` bytes at `pos` without their trailing NUL
// bytes, read from the end a piece at a time; empty when a read came back
// short.
std::optional<std::uint64_t> length_without_trailing_nuls(Source& source, std::uint64_t pos,
                                                          std::uint64_t length) {
    while (length > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(length, kPiece));
        const ByteView piece = source.read(pos + length - want, want);
        if (piece.size() < want) {
            return std::nullopt;
        }
        const std::size_t kept = without_trailing_nuls(piece).size();
        if (kept > 0) {
            return length - want + kept;
        }
        length -= want;
    }
    return 0;
}

}  // namespace

bool write_text_at(Output& out, Source& source, std::uint64_t pos, std::uint64_t length,
                   bool trim_nuls) {
    if (length <= kPiece) {  // as a rule: one read
        const ByteView text = source.read(pos, static_cast<std::size_t>(length));
        if (text.size() < length) {
            return false;
        }
        write_lenient_utf8(out, trim_nuls ? without_trailing_nuls(text) : text);
        return true;
    }
    if (trim_nuls) {
        const auto kept = length_without_trailing_nuls(source, pos, length);
        if (!kept) {
            return false;
        }
        length = *kept;
    }
    return read_pieces(source, pos, length, [&out](ByteView piece, bool last) {
        // A sequence cut by the piece's end is decoded whole with the next:
        // a lead byte always starts a sequence of its own, so the cut
        // changes nothing.
        if (!last) {
            piece = piece.first(piece.size() - unfinished_utf8_tail(as_chars(piece)));
        }
        write_lenient_utf8(out, piece);
        return piece.size();
    });
}

bool write_hex_at(Output& out, Source& source, std::uint64_t pos, std::uint64_t length) {
    return read_pieces(source, pos, length, [&out](ByteView piece, bool) {
        write_hex(out, piece, "");
        return piece.size();
    });
}

}  // namespace boxwalk
