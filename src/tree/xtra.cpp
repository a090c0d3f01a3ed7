#include "tree/xtra.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "primitives/render.hpp"
#include "primitives/text.hpp"
#include "tree/pieces.hpp"
#include "tree/walker.hpp"

namespace boxwalk {
namespace {

// How a value's text shows its bytes.
enum class Shows : std::uint8_t {
    utf16_text,  // as UTF-16LE text, one trailing zero unit left out
    integer,     // as an unsigned little-endian integer, in decimal
    hex,         // as hex digits, nothing between them
};

// A value type: the number it is stored as, how its text shows the value's
// bytes and the most of them it shows, and the words around them.
struct ValueType {
    std::uint16_t number;
    Shows shows;
    std::uint64_t most_shown;
    std::string_view before;
    std::string_view after;
};

constexpr std::uint64_t kEveryByte = kBeyondEveryEnd;

// One row a type, in no particular order.
constexpr std::array kValueTypes = {
    ValueType{8, Shows::utf16_text, kEveryByte, "Unicode \"", "\""},
    ValueType{19, Shows::integer, 8, "int64u ", ""},
    ValueType{21, Shows::hex, kEveryByte, "date hex=", ""},
};
// Every other type: kOtherTypeWord and its number, then its first bytes.
constexpr ValueType kOtherType{0, Shows::hex, 32, " hex=", ""};
constexpr std::string_view kOtherTypeWord = "type=";
// An integer of another length than its type's is shown by that length,
// after this.
constexpr std::string_view kWrongLength = "int64u? wrong len ";

const ValueType& value_type(std::uint16_t number) {
    for (const ValueType& type : kValueTypes) {
        if (type.number == number) {
            return type;
        }
    }
    return kOtherType;
}

// How many of a value's `length` bytes its text shows: an integer all of
// them when its length is its type's and none otherwise, any other value up
// to its type's most.
std::uint64_t shown_length(const ValueType& type, std::uint64_t length) {
    if (type.shows == Shows::integer) {
        return length == type.most_shown ? length : 0;
    }
    return std::min(length, type.most_shown);
}

Trim trim_of(const ValueType& type) {
    return type.shows == Shows::utf16_text ? Trim::utf16_zero : Trim::none;
}

// The text of a value of type `number` (whose row is `type`) and `length`
// bytes, from `shown`, the bytes of it that the text shows. False as
// Shown::write. Inline: made apart, each entry's call to it cost more than
// its words (see bench/README.md).
inline bool write_value(Output& out, Source& source, std::uint16_t number, const ValueType& type,
                        const Shown& shown, std::uint64_t length) {
    if (&type == &kOtherType) {
        out.write(kOtherTypeWord);
        write_decimal(out, number);
    }
    if (type.shows == Shows::integer && length != type.most_shown) {
        out.write(kWrongLength);
        write_decimal(out, length);
        return true;
    }
    out.write(type.before);
    switch (type.shows) {
        case Shows::integer:
            write_decimal(out, read_u64_le(shown.bytes(), 0).value_or(0));
            break;
        case Shows::utf16_text:
            if (!shown.write<Encoding::utf16le>(out, source)) {
                return false;
            }
            break;
        case Shows::hex:
            if (!shown.write<Encoding::hex>(out, source)) {
                return false;
            }
            break;
    }
    if (!type.after.empty()) {
        out.write(type.after);
    }
    return true;
}

// An entry's fields, as offsets into the payload, and its first value.
struct Entry {
    std::uint64_t off = 0;
    std::uint32_t size = 0;
    std::uint32_t name_length = 0;
    std::uint32_t count = 0;
    bool decoded = false;  // the first value is there and whole
    std::uint16_t type = 0;
    const ValueType* type_row = &kOtherType;
    std::uint64_t value_pos = 0;
    std::uint64_t value_length = 0;
    std::uint64_t shown = 0;  // of its bytes, those the line shows

    std::uint64_t end() const { return off + size; }
    std::uint64_t name_pos() const { return off + 8; }
    std::uint64_t count_pos() const { return name_pos() + name_length; }
    // Where the bytes the entry's line shows end: its count's, or those of
    // its first value that the line shows.
    std::uint64_t line_end() const { return decoded ? value_pos + shown : count_pos() + 4; }
};

// What an entry's first 8 bytes say of it.
enum class Framing { whole, malformed_entry, malformed_tag, unread };

// Reads the fields of the entry at `off` of the payload of `length` bytes
// at `start` into `entry`: its size and name length first, which say
// whether it is whole, then its count and its first value's size and type.
Framing read_entry(Source& source, std::uint64_t start, std::uint64_t length, std::uint64_t off,
                   Entry& entry) {
    // Every sum below adds 32-bit fields to offsets within the payload, so
    // none can wrap.
    entry.off = off;
    const ByteView fields = source.read(start + off, 8);
    if (fields.size() < 8) {
        return Framing::unread;
    }
    entry.size = read_u32_be(fields, 0).value_or(0);
    entry.name_length = read_u32_be(fields, 4).value_or(0);
    if (entry.size < 12 || !room_for(off, length, entry.size)) {
        return Framing::malformed_entry;
    }
    if (std::uint64_t{entry.name_length} + 12 > entry.size) {
        return Framing::malformed_tag;
    }
    const ByteView count = source.read(start + entry.count_pos(), 4);
    if (count.size() < 4) {
        return Framing::unread;
    }
    entry.count = read_u32_be(count, 0).value_or(0);
    entry.value_pos = entry.count_pos() + 10;
    // The first value's size and type, when there is one and room for
    // them; it is decoded when it is whole.
    const std::uint64_t frame_pos = entry.count_pos() + 4;
    if (entry.count != 0 && room_for(frame_pos, entry.end(), 6)) {
        const ByteView frame = source.read(start + frame_pos, 6);
        if (frame.size() < 6) {
            return Framing::unread;
        }
        const std::uint32_t value_size = read_u32_be(frame, 0).value_or(0);
        entry.type = read_u16_be(frame, 4).value_or(0);
        entry.type_row = &value_type(entry.type);
        entry.decoded = value_size >= 6 && room_for(frame_pos, entry.end(), value_size);
        entry.value_length = entry.decoded ? value_size - 6u : 0;
        entry.shown = entry.decoded ? shown_length(*entry.type_row, entry.value_length) : 0;
    }
    return Framing::whole;
}

// Reads what the line of `entry` shows, its name and the bytes of its
// first value, before the line starts: as a rule one read of the entry up
// to them, lent; a line longer than a piece as each part on its own (see
// Shown::read). False when a read came back short.
bool read_shown(Source& source, std::uint64_t start, const Entry& entry, Shown& name,
                Shown& value) {
    const Trim value_trim = trim_of(*entry.type_row);
    const std::uint64_t line_length = entry.line_end() - entry.off;
    if (line_length > kPiece) {
        return name.read(source, start + entry.name_pos(), entry.name_length, Trim::none) &&
               (!entry.decoded ||
                value.read(source, start + entry.value_pos, entry.shown, value_trim));
    }
    const ByteView bytes = source.read(start + entry.off, static_cast<std::size_t>(line_length));
    if (bytes.size() < line_length) {
        return false;
    }
    name.lend(bytes.subspan(8, entry.name_length), Trim::none);
    if (entry.decoded) {
        value.lend(bytes.subspan(static_cast<std::size_t>(entry.value_pos - entry.off),
                                 static_cast<std::size_t>(entry.shown)),
                   value_trim);
    }
    return true;
}

// What an entry's line shows, for a viewer: the entry, its name and its
// first value, at their file offsets (the payload starts at `start`).
Located entry_located(std::uint64_t start, const Entry& entry) {
    Located located(LineKind::entry, {start + entry.off, entry.size});
    located.key = FileRange{start + entry.name_pos(), entry.name_length};
    if (entry.decoded) {
        located.value = FileRange{start + entry.value_pos, entry.value_length};
        located.value_type = entry.type;
    }
    return located;
}

// The line of an entry: its name, its count and its first value's text,
// from the bytes read for it. False as Shown::write.
bool write_entry(Output& out, Source& source, std::uint64_t start, unsigned depth,
                 const Entry& entry, const Shown& name, const Shown& value) {
    out.locate(entry_located(start, entry));
    char* at = start_line(out, depth + 1);
    *at++ = '"';
    out.commit(at);
    bool written = name.write<Encoding::utf8>(out, source);
    if (written) {
        out.commit(place(place_decimal(place(out.room(), "\" count="), entry.count), " "));
        written = !entry.decoded ||
                  write_value(out, source, entry.type, *entry.type_row, value, entry.value_length);
    }
    out.end_line();
    return written;
}

// The bracketed line of an entry that does not fit its store, which ends
// the store.
void write_malformed(Output& out, std::uint64_t start, unsigned depth, const Entry& entry,
                     Framing framing) {
    out.locate({LineKind::malformed, {start + entry.off, entry.size}});
    indent(out, depth + 1);
    if (framing == Framing::malformed_entry) {
        out.write("[malformed Xtra entry @ ");
        write_decimal(out, entry.off);
        out.write(", size=");
        write_decimal(out, entry.size);
    } else {
        out.write("[malformed Xtra tag @ ");
        write_decimal(out, entry.off);
    }
    out.line("]");
}

}  // namespace

std::string utf16le_text(ByteView data) {
    return written_text([data](Output& out) {
        Shown shown;
        shown.lend(data, Trim::utf16_zero);
        write_utf16le_units(out, shown.bytes());
    });
}

std::string xtra_value_text(std::uint16_t value_type_number, ByteView data) {
    MemorySource source(data);
    const ValueType& type = value_type(value_type_number);
    Shown shown;
    shown.lend(data.first(static_cast<std::size_t>(shown_length(type, data.size()))),
               trim_of(type));
    return written_text([&](Output& out) {
        write_value(out, source, value_type_number, type, shown, data.size());
    });
}

void describe_xtra(Source& source, std::uint64_t start, std::uint64_t end, unsigned depth,
                   Output& out) {
    // Offsets are relative to the payload.
    const std::uint64_t length = end - start;
    // What each entry's line shows, made anew for each.
    Shown name;
    Shown value;
    for (std::uint64_t off = 0; room_for(off, length, 8);) {
        Entry entry;
        const Framing framing = read_entry(source, start, length, off, entry);
        if (framing == Framing::unread) {
            return;
        }
        if (framing != Framing::whole) {
            write_malformed(out, start, depth, entry, framing);
            return;
        }
        if (!read_shown(source, start, entry, name, value) ||
            !write_entry(out, source, start, depth, entry, name, value)) {
            return;
        }
        off = entry.end();
    }
}

void describe_xtra(ByteView payload, unsigned depth, Output& out) {
    MemorySource source(payload);
    describe_xtra(source, 0, payload.size(), depth, out);
}

}  // namespace boxwalk
