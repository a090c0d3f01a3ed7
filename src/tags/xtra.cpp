// The Xtra attribute store: named entries, each with a count of values of
// Windows property types.
#include <algorithm>
#include <string>

#include "tags/reading.hpp"

namespace boxwalk {
namespace {

// An entry's size and name length, before its name.
constexpr std::uint64_t kEntryHeader = 8;
// The name length, value count and header least an entry holds.
constexpr std::uint64_t kSmallestEntry = 12;
// A value's size and type, before its data.
constexpr std::uint64_t kValueHeader = 6;

// The types of Xtra values that are more than bytes.
constexpr std::uint16_t kUtf16Text = 8;
constexpr std::uint16_t kUnsigned64 = 19;
constexpr std::uint16_t kFileTime = 21;

std::string counted(std::uint64_t count, std::string_view one, std::string_view many) {
    return grouped(count) + " " + std::string(count == 1 ? one : many);
}

// Fills `value` with the Xtra value of `type` whose data lies at `data`;
// false when a read failed.
bool read_xtra_value(TagReading& reading, TagValue& value, std::uint16_t type, FileRange data) {
    value.stored_type = type;
    value.bytes = data;
    const bool text = type == kUtf16Text;
    const auto bytes = reading.head(data, text ? kTextLimit : kHexLimit);
    if (!bytes) {
        return false;
    }
    if (text) {
        value.kind = ValueKind::text;
        value.cut = data.size > bytes->size();
        utf16_text(*bytes, false, value.cut, value.text);
    } else if ((type == kUnsigned64 || type == kFileTime) && data.size == 8) {
        const std::uint64_t number = *read_u64_le(*bytes, 0);
        value.kind = type == kUnsigned64 ? ValueKind::integer : ValueKind::date;
        value.text = type == kUnsigned64 ? decimal_text(number) : filetime_text(number);
    } else {
        value.kind = ValueKind::bytes;
        hex_text(*bytes, value.text);
        value.cut = data.size > bytes->size();
    }
    return true;
}

}  // namespace

void read_xtra(TagReading& reading, const Atom& xtra, Place place) {
    // An Xtra atom that the file's end cuts short is reported by the walk of
    // its parent; here only what the atom itself declares is damage.
    const std::uint64_t end = std::min(xtra.end, reading.size());
    std::size_t entries = 0;
    std::uint64_t pos = xtra.payload_start;
    const auto lost = [&](FileRange bytes, const std::string& what) {
        reading.damage(Store::xtra, place, bytes,
                       what + ": " + counted(entries, "entry", "entries") + " read, " +
                           unread_bytes(reading, xtra, pos));
    };
    for (; room_for(pos, xtra.end, kEntryHeader) && room_for(pos, end, kEntryHeader); ++entries) {
        const auto header = reading.bytes(pos, kEntryHeader);
        if (!header) {
            return;
        }
        const std::uint32_t size = *read_u32_be(*header, 0);
        const std::uint32_t name_length = *read_u32_be(*header, 4);
        if (size < kSmallestEntry || sat_add(pos, size) > xtra.end) {
            lost({pos, size}, "the Xtra entry of " + grouped(size) + " bytes at " + grouped(pos) +
                                  (size < kSmallestEntry
                                       ? " is shorter than its header"
                                       : " runs past the end of Xtra at " + grouped(xtra.end)));
            return;
        }
        const std::uint64_t entry_end = pos + size;
        if (entry_end > end) {
            return;
        }
        if (name_length + kSmallestEntry > size) {
            lost({pos, size}, "the name of " + grouped(name_length) +
                                  " bytes of the Xtra entry at " + grouped(pos) +
                                  " runs past the entry's end");
            return;
        }
        // The tag is handed on once whole; a read that fails ends the
        // reading without it.
        Tag& tag = reading.new_tag(Store::xtra, place.track, {pos, size});
        const FileRange name{pos + kEntryHeader, name_length};
        const auto name_bytes = reading.head(name, kTextLimit);
        if (!name_bytes) {
            return;
        }
        utf8_text(*name_bytes, name.size > name_bytes->size(), tag.key);
        if (const KnownKey* known = find_known_key(Store::xtra, tag.key)) {
            tag.label = known->label;
        }
        const auto count_bytes = reading.bytes(name.pos + name.size, 4);
        if (!count_bytes) {
            return;
        }
        const std::uint32_t count = *read_u32_be(*count_bytes, 0);
        // The count drives no allocation: each value read holds at least its
        // 6-byte header.
        for (std::uint64_t at = name.pos + name.size + 4; tag.values.size() < count;) {
            const auto values_read = [&] {
                return counted(tag.values.size(), "value", "values") + " of " + grouped(count) +
                       " read";
            };
            if (!room_for(at, entry_end, kValueHeader)) {
                reading.damage(Store::xtra, place, tag.bytes,
                               "the Xtra entry \"" + tag.key + "\" at " + grouped(pos) +
                                   " ends at " + grouped(entry_end) + ": " + values_read());
                break;
            }
            const auto value_header = reading.bytes(at, kValueHeader);
            if (!value_header) {
                return;
            }
            const std::uint32_t value_size = *read_u32_be(*value_header, 0);
            const std::uint16_t type = *read_u16_be(*value_header, 4);
            if (value_size < kValueHeader || sat_add(at, value_size) > entry_end) {
                reading.damage(Store::xtra, place, {at, value_size},
                               "the value of " + grouped(value_size) + " bytes at " + grouped(at) +
                                   " of the Xtra entry \"" + tag.key + "\"" +
                                   (value_size < kValueHeader
                                        ? " is shorter than its header"
                                        : " runs past the entry's end at " + grouped(entry_end)) +
                                   ": " + values_read());
                break;
            }
            if (!read_xtra_value(reading, reading.new_value(tag), type,
                                 {at + kValueHeader, value_size - kValueHeader})) {
                return;
            }
            at += value_size;
        }
        if (reading.failed()) {
            return;
        }
        reading.hand_on(tag);
        pos = entry_end;
    }
}

}  // namespace boxwalk
