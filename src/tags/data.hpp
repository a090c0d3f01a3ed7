#pragma once

#include <cstdint>

#include "tags/known.hpp"
#include "tags/reading.hpp"

// The value of a data atom, by its type and by what its key says it holds.
namespace boxwalk {

// How a data atom's value is stored, by its type (the well-known set, whose
// top byte is 0).
enum class DataType : std::uint8_t {
    other,
    utf8,
    utf16,
    signed_int,  // big-endian, of the width the type or the value gives
    unsigned_int,
    real,  // big-endian IEEE 754, of the width the type gives
    picture,
};

struct DataTypeRow {
    std::uint32_t type;
    DataType stored;
    // The value's width in bytes; 0 for any (an integer of 1 to 8 bytes).
    unsigned width;
};

// clang-format off
inline constexpr std::array kDataTypes = {
    DataTypeRow{1, DataType::utf8, 0},          // UTF-8
    DataTypeRow{2, DataType::utf16, 0},         // UTF-16, big-endian
    DataTypeRow{4, DataType::utf8, 0},          // UTF-8, for sorting
    DataTypeRow{5, DataType::utf16, 0},         // UTF-16, for sorting
    DataTypeRow{6, DataType::utf8, 0},          // HTML
    DataTypeRow{7, DataType::utf8, 0},          // XML
    DataTypeRow{9, DataType::utf8, 0},          // ISRC
    DataTypeRow{10, DataType::utf8, 0},         // MI3P
    DataTypeRow{12, DataType::picture, 0},      // GIF
    DataTypeRow{13, DataType::picture, 0},      // JPEG
    DataTypeRow{14, DataType::picture, 0},      // PNG
    DataTypeRow{15, DataType::utf8, 0},         // URL
    DataTypeRow{21, DataType::signed_int, 0},   // 1 to 8 bytes
    DataTypeRow{22, DataType::unsigned_int, 0}, // 1 to 8 bytes
    DataTypeRow{23, DataType::real, 4},
    DataTypeRow{24, DataType::real, 8},
    DataTypeRow{27, DataType::picture, 0},      // BMP
    DataTypeRow{65, DataType::signed_int, 1},
    DataTypeRow{66, DataType::signed_int, 2},
    DataTypeRow{67, DataType::signed_int, 4},
    DataTypeRow{74, DataType::signed_int, 8},
    DataTypeRow{75, DataType::unsigned_int, 1},
    DataTypeRow{76, DataType::unsigned_int, 2},
    DataTypeRow{77, DataType::unsigned_int, 4},
    DataTypeRow{78, DataType::unsigned_int, 8},
};
// clang-format on

// The row of `type`; a row of DataType::other for a type not in the table.
DataTypeRow data_type(std::uint32_t type);

// Fills `value` with the data value of `type` at `range` (inside the file),
// read as `reads` says where the value fits that and by its type otherwise.
// Reads only what the value's text needs. False when a read failed.
bool read_data_value(TagReading& reading, TagValue& value, Reads reads, std::uint32_t type,
                     FileRange range);

}  // namespace boxwalk
