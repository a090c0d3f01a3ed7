#include "tree/xtra.hpp"

#include <algorithm>
#include <optional>
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
    decode_utf16(bytes.size() / 2, unit_at,
                 [&out](char32_t code_point) { write_utf8(out, code_point); });
}

// The length of the text of a type-8 value of `length` bytes at `pos`: an
// odd last byte and one trailing zero unit dropped. Empty when a read came
// back short.
std::optional<std::uint64_t> utf16le_length_at(Source& source, std::uint64_t pos,
                                               std::uint64_t length) {
    length -= length % 2;
    if (length == 0) {
        return length;
    }
    const ByteView last = source.read(pos + length - 2, 2);
    if (last.size() < 2) {
        return std::nullopt;
    }
    return last[0] == 0 && last[1] == 0 ? length - 2 : length;
}

// The `length` bytes at `pos` (whole units) as UTF-16LE text, read a piece
// at a time; false when a read came back short.
bool write_utf16le_at(Output& out, Source& source, std::uint64_t pos, std::uint64_t length) {
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

// How many of a value's `length` bytes its text shows: all of a text or a
// date, 8 of a 64-bit integer of 8 and none of one of another length, up to
// 32 of any other type.
std::uint64_t shown_length(std::uint16_t type, std::uint64_t length) {
    if (type == kUnicode || type == kDate) {
        return length;
    }
    if (type == kInt64u) {
        return length == 8 ? 8 : 0;
    }
    return std::min<std::uint64_t>(length, kOtherHexLimit);
}

// The text of a value of `length` bytes, from `shown`, the bytes of it
// that the text shows.
void write_value(Output& out, std::uint16_t type, ByteView shown, std::uint64_t length) {
    switch (type) {
        case kUnicode:
            out.write("Unicode \"");
            write_utf16le(out, shown);
            out.write("\"");
            return;
        case kInt64u:
            if (length == 8) {
                out.write("int64u ");
                write_decimal(out, read_u64_le(shown, 0).value_or(0));
            } else {
                out.write("int64u? wrong len ");
                write_decimal(out, length);
            }
            return;
        case kDate:
            out.write("date hex=");
            write_hex(out, shown, "");
            return;
        default:
            out.write("type=");
            write_decimal(out, type);
            out.write(" hex=");
            write_hex(out, shown, "");
            return;
    }
}

// The entry's bracketed line for a damaged entry: `what` and its offset.
void write_malformed(Output& out, unsigned depth, std::string_view what, std::uint64_t off) {
    indent(out, depth + 1);
    out.write(what);
    write_decimal(out, off);
}

// An entry's parts, as offsets into the payload, and its first value.
struct Entry {
    std::uint64_t off = 0;
    std::uint32_t size = 0;
    std::uint32_t name_length = 0;
    std::uint32_t count = 0;
    bool decoded = false;  // the first value is there and whole
    std::uint16_t type = 0;
    std::uint64_t value_pos = 0;
    std::uint64_t value_length = 0;
    std::uint64_t shown = 0;  // of its bytes, those the line shows

    // Where the bytes the entry's line shows end.
    std::uint64_t line_end() const { return decoded ? value_pos + shown : value_pos - 6; }
};

// What an entry's line shows, for a viewer: the entry, its name and its
// first value, at their file offsets (the payload starts at `start`).
Located entry_located(std::uint64_t start, const Entry& entry) {
    Located located(LineKind::entry, {start + entry.off, entry.size});
    located.key = FileRange{start + entry.off + 8, entry.name_length};
    if (entry.decoded) {
        located.value = FileRange{start + entry.value_pos, entry.value_length};
        located.value_type = entry.type;
    }
    return located;
}

// The line of an entry that shows more than a piece of bytes: a long name,
// or a long text or date. What is up to a piece is read first and held;
// what is longer is read as it is written, and a failed read of it ends the
// line where it stopped. False when a read came back short.
bool write_long_entry(Output& out, Source& source, std::uint64_t start, unsigned depth,
                      const Entry& entry) {
    const bool long_value = entry.shown > kPiece;
    HeldBytes value;
    std::uint64_t text_length = entry.shown;
    if (entry.decoded && !long_value &&
        !value.read(source, start + entry.value_pos, static_cast<std::size_t>(entry.shown))) {
        return false;
    }
    if (long_value && entry.type == kUnicode) {
        const auto length = utf16le_length_at(source, start + entry.value_pos, entry.shown);
        if (!length) {
            return false;
        }
        text_length = *length;
    }
    const std::uint64_t name_pos = start + entry.off + 8;
    const bool long_name = entry.name_length > kPiece;
    const ByteView name = long_name ? ByteView() : source.read(name_pos, entry.name_length);
    if (name.size() < (long_name ? 0 : entry.name_length)) {
        return false;
    }
    out.locate(entry_located(start, entry));
    indent(out, depth + 1);
    out.write("\"");
    bool read = true;
    if (long_name) {
        read = write_text_at(out, source, name_pos, entry.name_length, false);
    } else {
        write_lenient_utf8(out, name);
    }
    if (read) {
        out.write("\" count=");
        write_decimal(out, entry.count);
        out.write(" ");
        if (long_value && entry.type == kUnicode) {
            out.write("Unicode \"");
            read = write_utf16le_at(out, source, start + entry.value_pos, text_length);
            if (read) {
                out.write("\"");
            }
        } else if (long_value) {
            out.write("date hex=");
            read = write_hex_at(out, source, start + entry.value_pos, entry.shown);
        } else if (entry.decoded) {
            write_value(out, entry.type, value.bytes(), entry.value_length);
        }
    }
    out.end_line();
    return read;
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
    write_value(out, value_type,
                data.first(static_cast<std::size_t>(shown_length(value_type, data.size()))),
                data.size());
}

void describe_xtra(Source& source, std::uint64_t start, std::uint64_t end, unsigned depth,
                   Output& out) {
    const std::uint64_t length = end - start;
    // Offsets are relative to the payload; every sum below adds 32-bit
    // fields to offsets within it, so none can wrap. Each read asks for a
    // field the line needs, most of them at hand.
    for (std::uint64_t off = 0; room_for(off, length, 8);) {
        Entry entry;
        entry.off = off;
        const ByteView fields = source.read(start + off, 8);
        if (fields.size() < 8) {
            return;  // a failed read
        }
        entry.size = read_u32_be(fields, 0).value_or(0);
        entry.name_length = read_u32_be(fields, 4).value_or(0);
        if (entry.size < 12 || !room_for(off, length, entry.size)) {
            out.locate({LineKind::malformed, {start + off, entry.size}});
            write_malformed(out, depth, "[malformed Xtra entry @ ", off);
            out.write(", size=");
            write_decimal(out, entry.size);
            out.line("]");
            return;
        }
        if (std::uint64_t{entry.name_length} + 12 > entry.size) {
            out.locate({LineKind::malformed, {start + off, entry.size}});
            write_malformed(out, depth, "[malformed Xtra tag @ ", off);
            out.line("]");
            return;
        }
        const std::uint64_t entry_end = off + entry.size;
        const std::uint64_t count_pos = off + 8 + entry.name_length;
        const ByteView count = source.read(start + count_pos, 4);
        if (count.size() < 4) {
            return;
        }
        entry.count = read_u32_be(count, 0).value_or(0);
        entry.value_pos = count_pos + 10;
        // The first value's size and type, when there is one and room for
        // them; it is decoded when it is whole.
        if (entry.count != 0 && room_for(count_pos + 4, entry_end, 6)) {
            const ByteView frame = source.read(start + count_pos + 4, 6);
            if (frame.size() < 6) {
                return;
            }
            const std::uint32_t value_size = read_u32_be(frame, 0).value_or(0);
            entry.type = read_u16_be(frame, 4).value_or(0);
            entry.decoded = value_size >= 6 && room_for(count_pos + 4, entry_end, value_size);
            entry.value_length = entry.decoded ? value_size - 6u : 0;
            entry.shown = entry.decoded ? shown_length(entry.type, entry.value_length) : 0;
        }
        const std::uint64_t line_length = entry.line_end() - off;
        if (line_length > kPiece) {
            if (!write_long_entry(out, source, start, depth, entry)) {
                return;
            }
            off = entry_end;
            continue;
        }
        // As a rule the line's bytes are one read: the entry up to what its
        // first value shows.
        const ByteView bytes = source.read(start + off, static_cast<std::size_t>(line_length));
        if (bytes.size() < line_length) {
            return;
        }
        out.locate(entry_located(start, entry));
        indent(out, depth + 1);
        out.write("\"");
        write_lenient_utf8(out, bytes.subspan(8, entry.name_length));
        out.write("\" count=");
        write_decimal(out, entry.count);
        out.write(" ");
        if (entry.decoded) {
            const auto at = static_cast<std::size_t>(entry.value_pos - off);
            write_value(out, entry.type, bytes.subspan(at, static_cast<std::size_t>(entry.shown)),
                        entry.value_length);
        }
        out.end_line();
        off = entry_end;
    }
}

void describe_xtra(ByteView payload, unsigned depth, Output& out) {
    MemorySource source(payload);
    describe_xtra(source, 0, payload.size(), depth, out);
}

}  // namespace boxwalk
