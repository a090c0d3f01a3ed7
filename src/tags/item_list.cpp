// The item list (ilst) and the keys table that numbers the items of an mdta
// meta's list.
#include <algorithm>
#include <string>

#include "tags/data.hpp"
#include "tags/reading.hpp"

namespace boxwalk {
namespace {

// A data child's type indicator and locale, before its value.
constexpr std::uint64_t kDataWords = 8;
// A keys entry's size and namespace, before its name.
constexpr std::uint64_t kKeyHeader = 8;

std::string counted(std::uint64_t count, std::string_view one, std::string_view many) {
    return grouped(count) + " " + std::string(count == 1 ? one : many);
}

// The text of a mean or name child, after its version and flags, into
// `text`; empty when a read failed.
void child_text(TagReading& reading, const Atom& child, std::string& text) {
    const FileRange range = inside(child, sat_add(child.payload_start, 4), reading.size());
    const auto bytes = reading.head(range, kTextLimit);
    if (bytes) {
        utf8_text(*bytes, range.size > bytes->size(), text);
    } else {
        text.clear();
    }
}

// One item of a list. The tag is made in place, and dropped when a read
// fails.
void read_item(TagReading& reading, const Atom& item, Place place, const KeyTable* keys) {
    const Store store = keys ? Store::keys : Store::item_list;
    Tag& tag = reading.new_tag(store, place.track, inside(item, item.pos, reading.size()));
    if (keys) {
        // The item's type is its key's number, from 1.
        const auto type = reading.bytes(item.pos + 4, 4);
        if (!type) {
            return;
        }
        const std::uint32_t number = *read_u32_be(*type, 0);
        if (const auto name = keys->name(number)) {
            tag.key = *name;
        } else {
            tag.key = decimal_text(number);
            reading.damage(store, place, declared(item),
                           "the item at " + grouped(item.pos) + " is numbered " + grouped(number) +
                               ", past the keys table of " +
                               counted(keys->size(), "entry", "entries"));
        }
    } else {
        atom_key(reading, item, tag.key);
    }
    Reads reads = Reads::by_type;
    if (tag.key != "----") {
        if (const KnownKey* known = find_known_key(store, tag.key)) {
            tag.label = known->label;
            reads = known->reads;
        }
    }
    if (read_data_children(reading, item, item.payload_start, tag, reads)) {
        reading.hand_on(tag);
    }
}

}  // namespace

bool read_data_children(TagReading& reading, const Atom& item, std::uint64_t start, Tag& tag,
                        Reads reads) {
    const bool freeform = tag.key == "----";
    bool read_failed = false;
    const Place place{tag.track, 0};
    walk_children(
        reading, item, start, tag.store, place,
        [&](const Atom& child) {
            if (read_failed) {
                return false;
            }
            if (freeform && (child.is("mean") || child.is("name"))) {
                child_text(reading, child, child.is("mean") ? tag.mean : tag.name);
                return false;
            }
            if (!child.is("data")) {
                return false;
            }
            const FileRange payload = inside(child, child.payload_start, reading.size());
            if (payload.size < kDataWords) {
                if (child.end <= reading.size()) {
                    reading.damage(tag.store, place, declared(child),
                                   "data of " + grouped(child.header.size) + " bytes at " +
                                       grouped(child.pos) +
                                       " is too short for its type and locale");
                }
                return false;
            }
            const auto words = reading.bytes(payload.pos, kDataWords);
            if (!words) {
                read_failed = true;
                return false;
            }
            const std::uint32_t type = *read_u32_be(*words, 0);
            const auto locale = static_cast<std::uint16_t>(*read_u32_be(*words, 4));
            TagValue& value = reading.new_value(tag);
            if (locale != 0) {
                value.language = language_text(locale);
            }
            if (!read_data_value(reading, value, reads, type,
                                 {payload.pos + kDataWords, payload.size - kDataWords})) {
                tag.values.pop_back();
                read_failed = true;
            }
            return false;
        },
        [&](const WalkEnd& end) {
            return counted(tag.values.size(), "value", "values") + " read, " +
                   unread_bytes(reading, item, end.stop);
        });
    return !read_failed && !reading.failed();
}

KeyTable read_keys(TagReading& reading, const Atom& keys, Place place) {
    KeyTable table;
    const std::uint64_t end = std::min(keys.end, reading.size());
    const auto header = room_for(keys.payload_start, end, 8) ? reading.bytes(keys.payload_start, 8)
                                                             : std::optional<ByteView>();
    if (!header) {
        if (!reading.failed()) {
            reading.damage(Store::keys, place, declared(keys),
                           "the keys table at " + grouped(keys.pos) +
                               " is too short for its version and count: no key read");
        }
        return table;
    }
    const std::uint32_t count = *read_u32_be(*header, 4);
    std::uint64_t pos = keys.payload_start + 8;
    const auto lost = [&](FileRange bytes, const std::string& what) {
        reading.damage(
            Store::keys, place, bytes,
            what + ": " + grouped(table.size()) + " of " + grouped(count) + " keys read");
    };
    // The count drives no allocation: each entry read holds at least its
    // 8-byte header.
    while (table.size() < count && !reading.failed()) {
        if (!room_for(pos, keys.end, kKeyHeader)) {
            lost(declared(keys),
                 "the keys table at " + grouped(keys.pos) + " ends at " + grouped(keys.end));
            break;
        }
        if (!room_for(pos, end, kKeyHeader)) {
            break;  // the walk of the keys table's parent says the file ends
        }
        const auto entry = reading.bytes(pos, kKeyHeader);
        if (!entry) {
            break;
        }
        const std::uint32_t size = *read_u32_be(*entry, 0);
        if (size < kKeyHeader || sat_add(pos, size) > keys.end) {
            lost({pos, size}, "the key entry of " + grouped(size) + " bytes at " + grouped(pos) +
                                  (size < kKeyHeader ? " is shorter than its header"
                                                     : " runs past the end of the keys table at " +
                                                           grouped(keys.end)));
            break;
        }
        if (pos + size > end) {
            break;  // the walk of the keys table's parent says the file ends
        }
        const FileRange name{pos + kKeyHeader, size - kKeyHeader};
        const auto bytes = reading.head(name, kTextLimit);
        if (!bytes) {
            break;
        }
        table.add(utf8_text(*bytes, name.size > bytes->size()));
        pos += size;
    }
    return table;
}

void read_item_list(TagReading& reading, const Atom& ilst, Place place, const KeyTable* keys) {
    walk_children(
        reading, ilst, ilst.payload_start, keys ? Store::keys : Store::item_list, place,
        [&](const Atom& item) {
            read_item(reading, item, place, keys);
            return true;
        },
        [&](const WalkEnd& end) {
            std::string lost = counted(end.taken, "item", "items") + " read";
            if (keys) {
                lost += " (the keys table names " + counted(keys->size(), "key", "keys") + ")";
            }
            return lost + ", " + unread_bytes(reading, ilst, end.stop);
        });
}

}  // namespace boxwalk
