#include "tags/values.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "primitives/text.hpp"

namespace boxwalk {
namespace {

// The characters of the Mac OS Roman bytes 0x80..0xFF; below them it is
// ASCII.
constexpr std::array<char16_t, 128> kMacRoman = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,  // 0x80
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,  // 0x88
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,  // 0x90
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,  // 0x98
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,  // 0xA0
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,  // 0xA8
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,  // 0xB0
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,  // 0xB8
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,  // 0xC0
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,  // 0xC8
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,  // 0xD0
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,  // 0xD8
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,  // 0xE0
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,  // 0xE8
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,  // 0xF0
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,  // 0xF8
};

// The Macintosh language codes 0 to 33 as ISO 639-2/T letters.
constexpr std::array<std::string_view, 34> kMacLanguages = {
    "eng", "fra", "deu", "ita", "nld", "swe", "spa", "dan", "por", "nor", "heb", "jpn",
    "ara", "fin", "ell", "isl", "mlt", "tur", "hrv", "zho", "urd", "hin", "tha", "kor",
    "lit", "pol", "hun", "est", "lav", "sme", "fao", "fas", "rus", "zho",
};

ByteView without_nuls(ByteView bytes) {
    std::size_t size = bytes.size();
    while (size > 0 && bytes[size - 1] == 0) {
        --size;
    }
    return bytes.first(size);
}

// `value` in decimal with at least `width` digits, zeros before.
std::string padded(std::uint64_t value, std::size_t width) {
    std::string digits = decimal_text(value);
    if (digits.size() < width) {
        digits.insert(0, width - digits.size(), '0');
    }
    return digits;
}

// The fewest significant digits, from 1 up to `most`, whose text `reads_as`
// the value.
template <typename ReadsAs>
std::string shortest(double value, int most, ReadsAs&& reads_as) {
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-inf" : "inf";
    }
    char text[40];
    for (int digits = 1;; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (digits >= most || reads_as(text)) {
            return text;
        }
    }
}

// |raw| / 65536 in the fewest decimals (at least one) that read back as it,
// with a sign and at least `width` digits before the point.
std::string fixed_text(std::int32_t raw, std::size_t width) {
    const std::uint64_t magnitude =
        raw < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(static_cast<std::int64_t>(raw))
                : static_cast<std::uint64_t>(raw);
    std::uint64_t scale = 10;
    std::uint64_t scaled = 0;
    int decimals = 1;
    for (;; ++decimals, scale *= 10) {
        scaled = (magnitude * scale + 32768) / 65536;
        // Five decimals tell every step of 1/65536 apart.
        if ((scaled * 65536 + scale / 2) / scale == magnitude || decimals == 5) {
            break;
        }
    }
    std::string text(1, raw < 0 ? '-' : '+');
    text += padded(scaled / scale, width);
    text += '.';
    text += padded(scaled % scale, static_cast<std::size_t>(decimals));
    return text;
}

// The civil date of a day counted from 1970-01-01, as "YYYY-MM-DD".
std::string civil_date(std::int64_t days) {
    // Eras of 400 years from 0000-03-01, each 146097 days.
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t day_of_era = days - era * 146097;
    const std::int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t month_from_march = (5 * day_of_year + 2) / 153;
    const std::int64_t day = day_of_year - (153 * month_from_march + 2) / 5 + 1;
    const std::int64_t month = month_from_march < 10 ? month_from_march + 3 : month_from_march - 9;
    const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    // Dates of a FILETIME lie from 1601 on: the year is positive.
    return padded(static_cast<std::uint64_t>(year), 4) + "-" +
           padded(static_cast<std::uint64_t>(month), 2) + "-" +
           padded(static_cast<std::uint64_t>(day), 2);
}

}  // namespace

std::string utf8_text(ByteView bytes, bool cut) {
    std::string text;
    utf8_text(bytes, cut, text);
    return text;
}

void utf8_text(ByteView bytes, bool cut, std::string& text) {
    if (cut) {
        bytes = bytes.first(bytes.size() - unfinished_utf8_tail(as_chars(bytes)));
    }
    bytes = without_nuls(bytes);
    // Most texts are valid: they are copied as they are.
    if (is_valid_utf8(bytes)) {
        text.assign(as_chars(bytes));
    } else {
        text = lenient_utf8(bytes);
    }
}

std::string utf16_text(ByteView bytes, bool big_endian, bool cut) {
    std::string text;
    utf16_text(bytes, big_endian, cut, text);
    return text;
}

void utf16_text(ByteView bytes, bool big_endian, bool cut, std::string& text) {
    std::size_t count = bytes.size() / 2;
    const auto unit_at = [&](std::size_t i) {
        const auto first = static_cast<char32_t>(bytes[2 * i]);
        const auto second = static_cast<char32_t>(bytes[2 * i + 1]);
        return big_endian ? (first << 8) | second : (second << 8) | first;
    };
    while (count > 0 && unit_at(count - 1) == 0) {
        --count;
    }
    if (cut && count > 0 && unit_at(count - 1) >= 0xD800 && unit_at(count - 1) <= 0xDBFF) {
        --count;
    }
    text.clear();
    text.reserve(count);
    decode_utf16(count, unit_at, [&](char32_t code_point) { append_utf8(text, code_point); });
}

void mac_roman_text(ByteView bytes, std::string& text) {
    text.clear();
    text.reserve(bytes.size());
    for (const std::uint8_t byte : without_nuls(bytes)) {
        append_utf8(text, byte < 0x80 ? char32_t{byte} : char32_t{kMacRoman[byte - 0x80]});
    }
}

std::string latin1_text(ByteView bytes) {
    std::string text;
    latin1_text(bytes, text);
    return text;
}

void latin1_text(ByteView bytes, std::string& text) {
    // Two bytes at most for each.
    text.resize(2 * bytes.size());
    char* at = text.data();
    for (const std::uint8_t byte : bytes) {
        at = encode_utf8(byte, at);
    }
    text.resize(static_cast<std::size_t>(at - text.data()));
}

void hex_text(ByteView bytes, std::string& text) {
    constexpr std::string_view kDigits = "0123456789abcdef";
    text.clear();
    text.reserve(3 * bytes.size());
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text.push_back(' ');
        }
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
}

std::string decimal_text(std::uint64_t value) {
    char digits[20];
    return std::string(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

std::string language_text(std::uint16_t code) {
    if (code < 0x400) {
        return code < kMacLanguages.size() ? std::string(kMacLanguages[code]) : std::string();
    }
    std::string letters;
    for (const int shift : {10, 5, 0}) {
        const int letter = (code >> shift) & 0x1F;
        if (letter < 1 || letter > 26) {
            return {};
        }
        letters.push_back(static_cast<char>(0x60 + letter));
    }
    return letters;
}

std::string grouped(std::uint64_t value) {
    const std::string digits = decimal_text(value);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) {
            text.push_back(',');
        }
        text.push_back(digits[i]);
    }
    return text;
}

std::string float_text(float value) {
    return shortest(value, 9,
                    [value](const char* text) { return std::strtof(text, nullptr) == value; });
}

std::string double_text(double value) {
    return shortest(value, 17,
                    [value](const char* text) { return std::strtod(text, nullptr) == value; });
}

std::string filetime_text(std::uint64_t ticks) {
    constexpr std::uint64_t kPerSecond = 10'000'000;
    constexpr std::int64_t kDaysBefore1970 = 134774;  // 1601-01-01 to 1970-01-01
    const std::uint64_t seconds = ticks / kPerSecond;
    const auto days = static_cast<std::int64_t>(seconds / 86400) - kDaysBefore1970;
    const std::uint64_t in_day = seconds % 86400;
    std::string text = civil_date(days) + " " + padded(in_day / 3600, 2) + ":" +
                       padded(in_day / 60 % 60, 2) + ":" + padded(in_day % 60, 2);
    if (const std::uint64_t fraction = ticks % kPerSecond; fraction != 0) {
        std::string digits = padded(fraction, 7);
        while (digits.back() == '0') {
            digits.pop_back();
        }
        text += "." + digits;
    }
    return text + " UTC";
}

std::string iso6709_text(std::int32_t latitude, std::int32_t longitude, std::int32_t altitude) {
    std::string altitude_text = fixed_text(altitude, 1);
    // Whole metres need no decimals.
    if (altitude_text.ends_with(".0")) {
        altitude_text.resize(altitude_text.size() - 2);
    }
    return fixed_text(latitude, 2) + fixed_text(longitude, 3) + altitude_text + "/";
}

std::uint64_t big_endian(ByteView bytes) {
    std::uint64_t value = 0;
    for (const std::uint8_t byte : bytes) {
        value = (value << 8) | byte;
    }
    return value;
}

std::string integer_text(ByteView bytes, bool is_signed) {
    const std::uint64_t value = big_endian(bytes);
    const unsigned bits = static_cast<unsigned>(bytes.size()) * 8;
    if (is_signed && bits != 0 && ((value >> (bits - 1)) & 1) != 0) {
        // Two's complement of the width stored: the magnitude is 2^bits - value.
        const std::uint64_t magnitude =
            bits == 64 ? std::uint64_t{0} - value : (std::uint64_t{1} << bits) - value;
        std::string text(1, '-');
        text += decimal_text(magnitude);
        return text;
    }
    return decimal_text(value);
}

}  // namespace boxwalk
