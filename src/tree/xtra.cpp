#include "tree/xtra.hpp"

#include <algorithm>
#include <string>

#include "primitives/render.hpp"
#include "primitives/text.hpp"
#include "tree/pieces.hpp"
#include "tree/walker.hpp"

namespace boxwalk {
namespace {

constexpr std::uint16_t kUnicode = 8;
constexpr std::uint16_t kInt64u = 19;
constexpr std::uint16_t kDate = 21;
constexpr std::size_t kOtherHexLimit = 32;

// The UTF-16LE units of `bytes` (a last odd byte ignored) as UTF-8.
void write_utf16le_units(Output& out, ByteView bytes) {
    // Every unit lies inside `bytes`: the count is cut to its length.
    const std::uint8_t* const at = bytes.data();
    const auto unit_at = [at](std::size_t i) {
        return static_cast<char32_t>(at[2 * i] | (at[2 * i + 1] << 8));
    };
    PieceWriter pieces(out);
    char encoded[4];
    decode_utf16(bytes.size() / 2, unit_at,
                 [&](char32_t code_point) { pieces.put(encode_utf8(code_point, encoded)); });
}

// The text of a type-8 value of `length` bytes at `pos`; false when a read
// came back short.
bool write_utf16le_at(Output& out, Source& source, std::uint64_t pos, std::uint64_t length) {
    length -= length % 2;
    if (length == 0) {
        return true;
    }
    // One trailing zero unit is dropped.
    const ByteView last = source.read(pos + length - 2, 2);
    if (last.size() < 2) {
        return false;
    }
    if (last[0] == 0 && last[1] == 0) {
        length -= 2;
    }
    return read_pieces(source, pos, length, [&out](ByteView piece, bool end) {
        // Pieces hold whole units; a high surrogate at a piece's end waits
        // for the unit after it.
        if (!end && piece.size() >= 2) {
            const unsigned high = piece[piece.size() - 1];
            if (high >= 0xD8 && high <= 0xDB) {
                piece = piece.first(piece.size() - 2);
            }
        }
        write_utf16le_units(out, piece);
        return piece.size();
    });
}

// The value text of a value whose `length` data bytes lie at `pos`; one
// longer than a piece shows text and dates whole, read a piece at a time.
// False when a read came back short.
bool write_value_at(Output& out, Source& source, std::uint16_t type, std::uint64_t pos,
                    std::uint64_t length) {
    if (type == kUnicode) {
        out.write("Unicode \"");
        const bool read = write_utf16le_at(out, source, pos, length);
        out.write("\"");
        return read;
    }
    if (type == kDate) {
        out.write("date hex=");
        return write_hex_at(out, source, pos, length);
    }
    // At most 32 bytes are shown of any other type, and a 64-bit integer
    // of another length shows only that length.
    const auto shown = static_cast<std::size_t>(std::min<std::uint64_t>(length, kOtherHexLimit));
    const ByteView first = source.read(pos, shown);
    if (first.size() < shown) {
        return false;
    }
    if (type == kInt64u && length != 8) {
        out.write("int64u? wrong len ");
        write_decimal(out, length);
    } else {
        write_xtra_value(out, type, first);
    }
    return true;
}

// The entry's bracketed line for a damaged entry: `what` and its offset.
void write_malformed(Output& out, unsigned depth, std::string_view what, std::uint64_t off) {
    indent(out, depth + 1);
    out.write(what);
    write_decimal(out, off);
}

}  // namespace

std::string utf16le_text(ByteView data) {
    return written_text([data](Output& out) { write_utf16le(out, data); });
}

void write_utf16le(Output& out, ByteView data) {
    std::size_t length = data.size() - data.size() % 2;
    if (length >= 2 && data[length - 2] == 0 && data[length - 1] == 0) {
        length -= 2;
    }
    write_utf16le_units(out, data.first(length));
}

std::string xtra_value_text(std::uint16_t value_type, ByteView data) {
    return written_text([&](Output& out) { write_xtra_value(out, value_type, data); });
}

void write_xtra_value(Output& out, std::uint16_t value_type, ByteView data) {
    switch (value_type) {
        case kUnicode:
            out.write("Unicode \"");
            write_utf16le(out, data);
            out.write("\"");
            return;
        case kInt64u:
            if (data.size() == 8) {
                out.write("int64u ");
                write_decimal(out, read_u64_le(data, 0).value_or(0));
            } else {
                out.write("int64u? wrong len ");
                write_decimal(out, data.size());
            }
            return;
        case kDate:
            out.write("date hex=");
            write_hex(out, data, "");
            return;
        default:
            out.write("type=");
            write_decimal(out, value_type);
            out.write(" hex=");
            write_hex(out, data.first(std::min(data.size(), kOtherHexLimit)), "");
            return;
    }
}

void describe_xtra(Source& source, std::uint64_t start, std::uint64_t end, unsigned depth,
                   Output& out) {
    const std::uint64_t length = end - start;
    // Offsets are relative to the payload; every sum below adds 32-bit
    // fields to offsets within it, so none can wrap.
    for (std::uint64_t off = 0; room_for(off, length, 8);) {
        // An entry of up to a piece, as a rule all of them, comes in one
        // read; a longer one is read a field at a time.
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(length - off, kPiece));
        const ByteView head = source.read(start + off, want);
        if (head.size() < want) {
            return;  // a failed read
        }
        const std::uint32_t entry_size = read_u32_be(head, 0).value_or(0);
        if (entry_size < 12 || !room_for(off, length, entry_size)) {
            out.locate({LineKind::malformed, {start + off, entry_size}});
            write_malformed(out, depth, "[malformed Xtra entry @ ", off);
            out.write(", size=");
            write_decimal(out, entry_size);
            out.line("]");
            return;
        }
        const std::uint32_t name_length = read_u32_be(head, 4).value_or(0);
        if (std::uint64_t{name_length} + 12 > entry_size) {
            out.locate({LineKind::malformed, {start + off, entry_size}});
            write_malformed(out, depth, "[malformed Xtra tag @ ", off);
            out.line("]");
            return;
        }
        const bool in_hand = entry_size <= head.size();
        const std::uint64_t entry_end = off + entry_size;
        const std::uint64_t count_pos = off + 8 + name_length;
        // The value count, then the first value's size and type when the
        // entry has room for them.
        const bool framed = room_for(count_pos + 4, entry_end, 6);
        const std::size_t framing = framed ? 10 : 4;
        // In hand, every offset into the entry is below its size, a 32-bit value.
        const auto at = [off](std::uint64_t pos) { return static_cast<std::size_t>(pos - off); };
        const ByteView counts = in_hand ? head.subspan(at(count_pos), framing)
                                        : source.read(start + count_pos, framing);
        if (counts.size() < framing) {
            return;
        }
        const std::uint32_t count = read_u32_be(counts, 0).value_or(0);
        // The first value is decoded when it is there and whole.
        const std::uint32_t value_size = framed ? read_u32_be(counts, 4).value_or(0) : 0;
        const bool decoded = count != 0 && framed && value_size >= 6 &&
                             room_for(count_pos + 4, entry_end, value_size);
        const std::uint16_t type = decoded ? read_u16_be(counts, 8).value_or(0) : 0;
        Located located(LineKind::entry, {start + off, entry_size});
        located.key = FileRange{start + off + 8, name_length};
        if (decoded) {
            located.value = FileRange{start + count_pos + 10, value_size - 6u};
            located.value_type = type;
        }
        out.locate(located);
        indent(out, depth + 1);
        out.write("\"");
        // A text whose read fails ends the line where it stopped.
        bool read = true;
        if (in_hand) {
            write_lenient_utf8(out, head.subspan(8, name_length));
        } else {
            read = write_text_at(out, source, start + off + 8, name_length, false);
        }
        if (read) {
            out.write("\" count=");
            write_decimal(out, count);
            out.write(" ");
            if (decoded && in_hand) {
                write_xtra_value(out, type, head.subspan(at(count_pos + 10), value_size - 6u));
            } else if (decoded) {
                read = write_value_at(out, source, type, start + count_pos + 10, value_size - 6u);
            }
        }
        out.end_line();
        if (!read) {
            return;
        }
        off = entry_end;
    }
}

void describe_xtra(ByteView payload, unsigned depth, Output& out) {
    MemorySource source(payload);
    describe_xtra(source, 0, payload.size(), depth, out);
}

}  // namespace boxwalk
