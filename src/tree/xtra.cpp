#include "tree/xtra.hpp"

#include <algorithm>
#include <string>

#include "primitives/render.hpp"
#include "primitives/text.hpp"
#include "tree/walker.hpp"

namespace boxwalk {
namespace {

constexpr std::uint16_t kUnicode = 8;
constexpr std::uint16_t kInt64u = 19;
constexpr std::uint16_t kDate = 21;
constexpr std::size_t kOtherHexLimit = 32;

// Writes the first value of the entry whose value count lies at
// `count_pos`; nothing when it is missing or damaged. `entry_end` bounds
// every read.
void write_first_value(Output& out, ByteView payload, std::uint64_t count_pos,
                       std::uint64_t entry_end, std::uint32_t count) {
    // Value size (4) and type (2) must fit before the entry's end.
    const std::uint64_t size_pos = count_pos + 4;
    if (count == 0 || !room_for(size_pos, entry_end, 6)) {
        return;
    }
    const std::uint32_t value_size = read_u32_be(payload, size_pos).value_or(0);
    if (value_size < 6 || !room_for(size_pos, entry_end, value_size)) {
        return;
    }
    const std::uint16_t type = read_u16_be(payload, size_pos + 4).value_or(0);
    write_xtra_value(out, type, sub_view(payload, size_pos + 6, size_pos + value_size));
}

}  // namespace

std::string utf16le_text(ByteView data) {
    return written_text([data](Output& out) { write_utf16le(out, data); });
}

void write_utf16le(Output& out, ByteView data) {
    std::size_t units = data.size() / 2;
    // Every unit lies inside `data`: units is cut to its length.
    const std::uint8_t* const bytes_in = data.data();
    const auto unit_at = [bytes_in](std::size_t i) {
        return static_cast<char32_t>(bytes_in[2 * i] | (bytes_in[2 * i + 1] << 8));
    };
    if (units > 0 && unit_at(units - 1) == 0) {
        --units;
    }
    PieceWriter pieces(out);
    char bytes[4];
    decode_utf16(units, unit_at,
                 [&](char32_t code_point) { pieces.put(encode_utf8(code_point, bytes)); });
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

void describe_xtra(ByteView payload, unsigned depth, Output& out) {
    const std::uint64_t length = payload.size();
    for (std::uint64_t off = 0; room_for(off, length, 8);) {
        // Every sum below adds 32-bit fields to offsets within the payload,
        // so none can wrap.
        const std::uint32_t entry_size = read_u32_be(payload, off).value_or(0);
        if (entry_size < 12 || !room_for(off, length, entry_size)) {
            indent(out, depth + 1);
            out.write("[malformed Xtra entry @ ");
            write_decimal(out, off);
            out.write(", size=");
            write_decimal(out, entry_size);
            out.line("]");
            return;
        }
        const std::uint32_t name_length = read_u32_be(payload, off + 4).value_or(0);
        if (std::uint64_t{name_length} + 12 > entry_size) {
            indent(out, depth + 1);
            out.write("[malformed Xtra tag @ ");
            write_decimal(out, off);
            out.line("]");
            return;
        }
        const std::uint64_t entry_end = off + entry_size;
        const std::uint64_t count_pos = off + 8 + name_length;
        const std::uint32_t count = read_u32_be(payload, count_pos).value_or(0);
        indent(out, depth + 1);
        out.write("\"");
        write_lenient_utf8(out, sub_view(payload, off + 8, count_pos));
        out.write("\" count=");
        write_decimal(out, count);
        out.write(" ");
        write_first_value(out, payload, count_pos, entry_end, count);
        out.end_line();
        off = entry_end;
    }
}

}  // namespace boxwalk
