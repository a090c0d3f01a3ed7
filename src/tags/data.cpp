#include "tags/data.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace boxwalk {
namespace {

bool is_integer(const DataTypeRow& row) {
    return row.stored == DataType::signed_int || row.stored == DataType::unsigned_int;
}

bool is_textual(const DataTypeRow& row, Reads reads) {
    return row.stored == DataType::utf8 || row.stored == DataType::utf16 ||
           (row.type == 0 &&
            (reads == Reads::text || reads == Reads::date || reads == Reads::location));
}

bool is_picture(const DataTypeRow& row, Reads reads) {
    return row.stored == DataType::picture || (reads == Reads::picture && !is_textual(row, reads));
}

// True when `bytes` can be the integer that `row` stores; type 0, which
// keys of numbers use, holds an unsigned one of any width.
bool holds_integer(const DataTypeRow& row, ByteView bytes) {
    if (!is_integer(row) && row.type != 0) {
        return false;
    }
    return row.width == 0 ? !bytes.empty() && bytes.size() <= 8 : bytes.size() == row.width;
}

// A picture's format from its first bytes, when its type does not say.
std::string_view picture_format(ByteView head) {
    const auto starts = [&](std::string_view magic) {
        return head.size() >= magic.size() &&
               std::memcmp(head.data(), magic.data(), magic.size()) == 0;
    };
    return starts("\xFF\xD8\xFF") ? "JPEG"
           : starts("\x89PNG")    ? "PNG"
           : starts("GIF8")       ? "GIF"
           : starts("BM")         ? "BMP"
                                  : std::string_view();
}

// The value as the key says it reads; false when it does not fit that.
bool decode_known(TagValue& value, Reads reads, const DataTypeRow& row, ByteView bytes) {
    if (reads == Reads::pair) {
        // Two bytes of padding, the number, the total, and padding after.
        if ((row.type != 0 && !is_integer(row)) || bytes.size() < 6) {
            return false;
        }
        const unsigned number = *read_u16_be(bytes, 2);
        const unsigned total = *read_u16_be(bytes, 4);
        value.kind = ValueKind::pair;
        value.text =
            total != 0 ? decimal_text(number) + " of " + decimal_text(total) : decimal_text(number);
        return true;
    }
    if (reads != Reads::number && reads != Reads::genre && reads != Reads::flag &&
        reads != Reads::media_kind && reads != Reads::rating) {
        return false;
    }
    if (!holds_integer(row, bytes)) {
        return false;
    }
    const bool is_signed = row.stored == DataType::signed_int;
    if (reads == Reads::number) {
        value.kind = ValueKind::integer;
        value.text = integer_text(bytes, is_signed);
        return true;
    }
    if (is_signed && (bytes[0] & 0x80) != 0) {
        return false;  // no name has a negative number
    }
    const std::uint64_t number = big_endian(bytes);
    std::string_view name;
    if (reads == Reads::genre) {
        value.kind = ValueKind::genre;
        name = number >= 1 && number <= kGenres.size()
                   ? kGenres[static_cast<std::size_t>(number - 1)]
                   : std::string_view();
    } else if (reads == Reads::flag) {
        value.kind = ValueKind::flag;
        name = number == 0 ? "no" : number == 1 ? "yes" : std::string_view();
    } else {
        value.kind = ValueKind::choice;
        name = reads == Reads::media_kind ? name_of_number(kMediaKinds, number)
                                          : name_of_number(kRatings, number);
    }
    value.text = name;
    return !name.empty();
}

}  // namespace

DataTypeRow data_type(std::uint32_t type) {
    for (const DataTypeRow& row : kDataTypes) {
        if (row.type == type) {
            return row;
        }
    }
    return {type, DataType::other, 0};
}

namespace {

// The text of a value of the type in `row` that was read as `bytes`, the
// first of `size` bytes, read as `reads` says; sets `value.kind`, `text` and
// `cut`.
void decode_data_value(TagValue& value, Reads reads, const DataTypeRow& row, ByteView bytes,
                       std::uint64_t size) {
    const std::uint32_t type = row.type;
    const bool cut = size > bytes.size();
    if (is_picture(row, reads)) {
        value.kind = ValueKind::picture;
        const std::string_view format = row.stored == DataType::picture
                                            ? name_of_number(kPictureTypes, type)
                                            : picture_format(bytes);
        value.text = (format.empty() ? std::string() : std::string(format) + ", ") + grouped(size) +
                     (size == 1 ? " byte" : " bytes");
        return;
    }
    if (!cut && decode_known(value, reads, row, bytes)) {
        return;
    }
    if (is_textual(row, reads)) {
        value.kind = reads == Reads::date       ? ValueKind::date
                     : reads == Reads::location ? ValueKind::location
                                                : ValueKind::text;
        if (row.stored == DataType::utf16) {
            utf16_text(bytes, true, cut, value.text);
        } else {
            utf8_text(bytes, cut, value.text);
        }
        value.cut = cut;
        return;
    }
    if (!cut && is_integer(row) && holds_integer(row, bytes)) {
        value.kind = ValueKind::integer;
        value.text = integer_text(bytes, row.stored == DataType::signed_int);
        return;
    }
    if (!cut && row.stored == DataType::real && bytes.size() == row.width) {
        value.kind = ValueKind::real;
        if (row.width == 4) {
            const auto bits = static_cast<std::uint32_t>(big_endian(bytes));
            float number = 0;
            std::memcpy(&number, &bits, sizeof number);
            value.text = float_text(number);
        } else {
            const std::uint64_t bits = big_endian(bytes);
            double number = 0;
            std::memcpy(&number, &bits, sizeof number);
            value.text = double_text(number);
        }
        return;
    }
    value.kind = ValueKind::bytes;
    hex_text(bytes.first(std::min(bytes.size(), kHexLimit)), value.text);
    value.cut = size > kHexLimit;
}

}  // namespace

bool read_data_value(TagReading& reading, TagValue& value, Reads reads, std::uint32_t type,
                     FileRange range) {
    value.stored_type = type;
    value.bytes = range;
    const DataTypeRow row = data_type(type);
    // A picture's format needs its first bytes at most; text is read up to
    // its limit, anything else as far as its hex shows it.
    const std::size_t wanted = is_picture(row, reads)   ? (row.stored == DataType::picture ? 0 : 8)
                               : is_textual(row, reads) ? kTextLimit
                                                        : kHexLimit;
    const auto bytes = reading.head(range, wanted);
    if (!bytes) {
        return false;
    }
    decode_data_value(value, reads, row, *bytes, range.size);
    return true;
}

}  // namespace boxwalk
