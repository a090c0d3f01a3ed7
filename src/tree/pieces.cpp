#include "tree/pieces.hpp"

#include "primitives/render.hpp"
#include "primitives/text.hpp"

namespace boxwalk {

std::optional<std::uint64_t> length_without_trailing_nuls(Source& source, std::uint64_t pos,
                                                          std::uint64_t length) {
    while (length > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(length, kPiece));
        const ByteView piece = source.read(pos + length - want, want);
        if (piece.size() < want) {
            return std::nullopt;
        }
        std::size_t kept = want;
        while (kept > 0 && piece[kept - 1] == 0x00) {
            --kept;
        }
        if (kept > 0) {
            return length - want + kept;
        }
        length -= want;
    }
    return 0;
}

bool write_lenient_utf8_at(Output& out, Source& source, std::uint64_t pos, std::uint64_t length) {
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
