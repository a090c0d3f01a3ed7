#include "tree/xtra.hpp"

#include <algorithm>
#include <vector>

#include "primitives/render.hpp"
#include "primitives/text.hpp"
#include "tree/walker.hpp"

namespace boxwalk {
namespace {

constexpr std::uint16_t kUnicode = 8;
constexpr std::uint16_t kInt64u = 19;
constexpr std::uint16_t kDate = 21;
constexpr std::size_t kOtherHexLimit = 32;

bool is_high_surrogate(std::uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool is_low_surrogate(std::uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The first value of the entry whose value count lies at `count_pos`, or ""
// when it is missing or damaged. `entry_end` bounds every read.
std::string first_value_text(ByteView payload, std::uint64_t count_pos, std::uint64_t entry_end,
                             std::uint32_t count) {
    // Value size (4) and type (2) must fit before the entry's end.
    const std::uint64_t size_pos = count_pos + 4;
    if (count == 0 || !room_for(size_pos, entry_end, 6)) {
        return {};
    }
    const std::uint32_t value_size = read_u32_be(payload, size_pos).value_or(0);
    if (value_size < 6 || !room_for(size_pos, entry_end, value_size)) {
        return {};
    }
    const std::uint16_t type = read_u16_be(payload, size_pos + 4).value_or(0);
    return xtra_value_text(type, sub_view(payload, size_pos + 6, size_pos + value_size));
}

}  // namespace

std::string utf16le_text(ByteView data) {
    std::vector<std::uint32_t> units(data.size() / 2);
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = data[2 * i] | (static_cast<std::uint32_t>(data[2 * i + 1]) << 8);
    }
    if (!units.empty() && units.back() == 0) {
        units.pop_back();
    }
    std::string text;
    text.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint32_t unit = units[i];
        if (is_high_surrogate(unit) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
            append_utf8(text, 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            append_utf8(text, 0xFFFD);
        } else {
            append_utf8(text, unit);
        }
    }
    return text;
}

std::string xtra_value_text(std::uint16_t value_type, ByteView data) {
    switch (value_type) {
        case kUnicode:
            return "Unicode \"" + utf16le_text(data) + "\"";
        case kInt64u:
            if (data.size() == 8) {
                return "int64u " + decimal(read_u64_le(data, 0).value_or(0));
            }
            return "int64u? wrong len " + decimal(data.size());
        case kDate:
            return "date hex=" + hex_join(data, "");
        default:
            return "type=" + decimal(value_type) +
                   " hex=" + hex_join(data.first(std::min(data.size(), kOtherHexLimit)), "");
    }
}

void describe_xtra(ByteView payload, unsigned depth, Output& out) {
    const std::string pad = indent(depth + 1);
    const std::uint64_t length = payload.size();
    for (std::uint64_t off = 0; room_for(off, length, 8);) {
        // Every sum below adds 32-bit fields to offsets within the payload,
        // so none can wrap.
        const std::uint32_t entry_size = read_u32_be(payload, off).value_or(0);
        if (entry_size < 12 || !room_for(off, length, entry_size)) {
            out.line(pad + "[malformed Xtra entry @ " + decimal(off) +
                      ", size=" + decimal(entry_size) + "]");
            return;
        }
        const std::uint32_t name_length = read_u32_be(payload, off + 4).value_or(0);
        if (std::uint64_t{name_length} + 12 > entry_size) {
            out.line(pad + "[malformed Xtra tag @ " + decimal(off) + "]");
            return;
        }
        const std::uint64_t entry_end = off + entry_size;
        const std::uint64_t count_pos = off + 8 + name_length;
        const std::uint32_t count = read_u32_be(payload, count_pos).value_or(0);
        std::string line = pad + "\"";
        line += lenient_utf8(sub_view(payload, off + 8, count_pos));
        line += "\" count=" + decimal(count) + " ";
        line += first_value_text(payload, count_pos, entry_end, count);
        out.line(line);
        off = entry_end;
    }
}

}  // namespace boxwalk
