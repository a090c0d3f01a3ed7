#include "tree/item_list.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#include "primitives/atom.hpp"
#include "primitives/render.hpp"
#include "primitives/text.hpp"
#include "tree/pieces.hpp"
#include "tree/walker.hpp"

namespace boxwalk {
namespace {

// A data child's type indicator and locale, before its value.
constexpr std::size_t kDataWords = 8;

// A plain item's line after its indent: its type, its size, and its value's
// type and preview or kNoData.
constexpr std::string_view kSizeOpen = " (size=";
constexpr std::string_view kTypeOpen = ") type=";
constexpr std::string_view kNoData = ") (no data)";
constexpr std::size_t kLongestPlainItem =
    kSpaces.size() + sizeof(Atom::type_chars) + kSizeOpen.size() + kLongestDecimal +
    std::max(kTypeOpen.size() + kLongestDecimal + 1 + kLongestPreview, kNoData.size()) + 1;
static_assert(kLongestPlainItem <= Output::kRoom);

// Fills `atom` with the atom at `pos` when its header is readable, not
// below its own length, and it ends by `end`; false otherwise, which ends
// the loop that asked.
bool read_list_atom(Source& source, std::uint64_t pos, std::uint64_t end, Atom& atom) {
    return read_atom(source, pos, atom) && atom.within(end);
}

std::uint64_t payload_size(const Atom& atom) { return atom.end - atom.payload_start; }

// The bytes of a data child's value that its preview shows.
std::size_t shown_length(const Atom& data) {
    return static_cast<std::size_t>(
        std::min<std::uint64_t>(payload_size(data) - kDataWords, kPreviewLimit));
}

// Where a mean or name text starts: after 4 bytes of version and flags.
std::uint64_t text_start(const Atom& child) { return child.payload_start + 4; }

// Where a mean or name child's text lies, and a data child's value.
FileRange text_range(const Atom& child) {
    return {text_start(child), child.end - text_start(child)};
}
FileRange value_range(const Atom& data) {
    return {data.payload_start + kDataWords, payload_size(data) - kDataWords};
}

// Reads what a ---- item's line shows of a mean or name text: less its
// trailing NUL bytes (a NUL byte is never part of a longer sequence, so
// trimming the bytes trims the decoded text alike). True without a read
// when there is none.
bool read_text(Source& source, const std::optional<FileRange>& range, Shown& text) {
    return !range || text.read(source, range->pos, range->size, Trim::nuls);
}

// A ---- item's line; the last usable child of each kind wins. Of each,
// only where its text or value lies is kept: a copy of the whole child,
// just read, would wait for the stores that read made.
void write_freeform_item(Output& out, Source& source, const Atom& item, unsigned depth) {
    std::optional<FileRange> mean;
    std::optional<FileRange> name;
    std::optional<FileRange> data;
    for (std::uint64_t pos = item.payload_start; room_for(pos, item.end, 8);) {
        Atom child;
        if (!read_list_atom(source, pos, item.end, child)) {
            break;
        }
        if (child.is("mean") && payload_size(child) > 4) {
            mean = text_range(child);
        } else if (child.is("name") && payload_size(child) > 4) {
            name = text_range(child);
        } else if (child.is("data") && payload_size(child) > kDataWords) {
            data = value_range(child);
        }
        pos = child.end;
    }
    // Every byte the line shows is read before it starts: the texts, and
    // the value's type indicator, locale and preview.
    Shown mean_text;
    Shown name_text;
    Shown value;
    if (source.failed() || !read_text(source, mean, mean_text) ||
        !read_text(source, name, name_text) ||
        (data && !value.read(source, data->pos - kDataWords,
                             kDataWords + std::min<std::uint64_t>(data->size, kPreviewLimit),
                             Trim::none))) {
        return;
    }
    Located located(LineKind::freeform, {item.pos, item.header.size});
    located.key = mean;
    located.name = name;
    if (data) {
        located.value = data;
        located.value_type = read_u32_be(value.bytes(), 0).value_or(0);
    }
    out.locate(located);
    out.commit(place(place_decimal(place(start_line(out, depth), "---- (size="), item.header.size),
                     ") mean=\""));
    // Texts longer than a piece are read again as they are written: a read
    // that fails then, the file changed, ends the line where it stopped.
    if (mean_text.write<Encoding::utf8>(out, source)) {
        out.write("\" name=\"");
        if (name_text.write<Encoding::utf8>(out, source)) {
            out.write("\" data=");
            if (data) {
                write_preview(out, value.bytes().subspan(kDataWords), data->size);
            }
        }
    }
    out.end_line();
}

// The most values of one item reported to a sink that wants every value.
constexpr std::size_t kMostValues = 64;

// An item's value after the first, for a sink that wants every value.
struct OtherValue {
    FileRange range;
    std::uint32_t type = 0;
};

// An item's values after the first (data children from `pos` on): each
// one's range and type, up to kMostValues in all with the first, and
// whether there are more. False when a read failed.
bool read_other_values(Source& source, const Atom& item, std::uint64_t pos,
                       std::vector<OtherValue>& values, bool& more) {
    for (Atom data; room_for(pos, item.end, 8); pos = data.end) {
        if (!read_list_atom(source, pos, item.end, data)) {
            break;
        }
        if (!data.is("data") || payload_size(data) <= kDataWords) {
            continue;
        }
        if (values.size() + 1 == kMostValues) {
            more = true;
            break;
        }
        const ByteView type = source.read(data.payload_start, 4);
        if (type.size() < 4) {
            return false;
        }
        values.push_back({value_range(data), read_u32_be(type, 0).value_or(0)});
    }
    return !source.failed();
}

// A plain item's line, with its first usable data child: its type, then
// the preview of its value after the locale.
void write_plain_item(Output& out, Source& source, const Atom& item, unsigned depth) {
    Atom data;
    bool found = false;
    for (std::uint64_t pos = item.payload_start; room_for(pos, item.end, 8);) {
        if (!read_list_atom(source, pos, item.end, data)) {
            break;
        }
        if (data.is("data") && payload_size(data) > kDataWords) {
            found = true;
            break;
        }
        pos = data.end;
    }
    // Values after the first are read only for a sink that shows them, and
    // before the preview, whose bytes are lent only until the next read.
    std::vector<OtherValue> others;
    bool more = false;
    if (source.failed() || (found && out.wants_every_value() &&
                            !read_other_values(source, item, data.end, others, more))) {
        return;
    }
    std::uint32_t type = 0;
    ByteView preview;
    if (found) {
        type = read_u32_be(source.read(data.payload_start, 4), 0).value_or(0);
        preview = source.read(data.payload_start + kDataWords, shown_length(data));
        if (preview.size() < shown_length(data)) {
            return;  // a failed read
        }
    }
    Located located(LineKind::item, {item.pos, item.header.size});
    located.key = FileRange{item.pos + 4, 4};
    if (found) {
        located.value = value_range(data);
        located.value_type = type;
    }
    out.locate(located);
    for (const OtherValue& other : others) {
        out.another_value(other.range, other.type);
    }
    if (more) {
        out.another_value(std::nullopt, 0);
    }
    // The line is placed whole: kLongestPlainItem bytes at most.
    char* at = place_decimal(place(place(start_line(out, depth), item.type()), kSizeOpen),
                             item.header.size);
    if (found) {
        at = place(place_decimal(place(at, kTypeOpen), type), " ");
        at = place_preview(at, preview, payload_size(data) - kDataWords);
    } else {
        at = place(at, kNoData);
    }
    out.commit_line(at);
}

}  // namespace

void describe_ilst(Source& source, std::uint64_t items_start, std::uint64_t items_end,
                   unsigned depth, Output& out) {
    items_end = std::min(items_end, source.size());
    for (std::uint64_t pos = items_start; room_for(pos, items_end, 8);) {
        Atom item;
        if (!read_list_atom(source, pos, items_end, item)) {
            return;
        }
        if (item.is("----")) {
            write_freeform_item(out, source, item, depth + 1);
        } else {
            write_plain_item(out, source, item, depth + 1);
        }
        pos = item.end;
    }
}

void describe_ilst(ByteView data, std::uint64_t items_start, std::uint64_t items_end,
                   unsigned depth, Output& out) {
    MemorySource source(data);
    describe_ilst(source, items_start, items_end, depth, out);
}

}  // namespace boxwalk
