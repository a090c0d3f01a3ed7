#include "tree/item_list.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "primitives/atom.hpp"
#include "primitives/render.hpp"
#include "tree/pieces.hpp"
#include "tree/walker.hpp"

namespace boxwalk {
namespace {

// A data child's type indicator and locale, before its value.
constexpr std::size_t kDataWords = 8;

// Fills `atom` with the atom at `pos` when its header is readable, not
// below its own length, and it ends by `end`; false otherwise, which ends
// the loop that asked.
bool read_list_atom(Source& source, std::uint64_t pos, std::uint64_t end, Atom& atom) {
    return read_atom(source, pos, atom) && atom.within(end);
}

std::uint64_t payload_size(const Atom& atom) { return atom.end - atom.payload_start; }

// The first bytes of a data child's payload: its two words and what a
// preview shows of its value. Empty when the read came back short.
ByteView read_data_head(Source& source, const Atom& data) {
    const auto want = static_cast<std::size_t>(
        std::min<std::uint64_t>(payload_size(data), kDataWords + kPreviewLimit));
    const ByteView head = source.read(data.payload_start, want);
    return head.size() == want ? head : ByteView();
}

// Where a mean or name child's text lies, and a data child's value.
FileRange text_range(const Atom& child) {
    return {child.payload_start + 4, payload_size(child) - 4};
}
FileRange value_range(const Atom& data) {
    return {data.payload_start + kDataWords, payload_size(data) - kDataWords};
}

// A mean or name text: after 4 bytes of version and flags, lenient UTF-8
// without its trailing NULs. A NUL byte is never part of a longer sequence,
// so trimming the bytes trims the decoded text alike. False when a read
// came back short.
bool write_child_text(Output& out, Source& source, const Atom& child) {
    const std::uint64_t start = child.payload_start + 4;
    return write_text_at(out, source, start, child.end - start, true);
}

// A ---- item's line; the last usable child of each kind wins.
void write_freeform_item(Output& out, Source& source, const Atom& item, unsigned depth) {
    std::optional<Atom> mean;
    std::optional<Atom> name;
    std::optional<Atom> data;
    for (std::uint64_t pos = item.payload_start; room_for(pos, item.end, 8);) {
        Atom child;
        if (!read_list_atom(source, pos, item.end, child)) {
            break;
        }
        if (child.is("mean") && payload_size(child) > 4) {
            mean = child;
        } else if (child.is("name") && payload_size(child) > 4) {
            name = child;
        } else if (child.is("data") && payload_size(child) > kDataWords) {
            data = child;
        }
        pos = child.end;
    }
    // The value's preview is held first: the texts' reads would lose it.
    std::array<std::uint8_t, kPreviewLimit> value{};
    ByteView shown;
    Located located(LineKind::freeform, {item.pos, item.header.size});
    if (mean) {
        located.key = text_range(*mean);
    }
    if (name) {
        located.name = text_range(*name);
    }
    if (data) {
        const ByteView head = read_data_head(source, *data);
        if (!head.empty()) {
            located.value = value_range(*data);
            located.value_type = read_u32_be(head, 0).value_or(0);
            shown = ByteView(value.data(), head.size() - kDataWords);
            std::memcpy(value.data(), head.data() + kDataWords, shown.size());
        }
    }
    if (source.failed()) {
        return;
    }
    out.locate(located);
    indent(out, depth);
    out.write("---- (size=");
    write_decimal(out, item.header.size);
    out.write(") mean=\"");
    // A text whose read fails ends the line where it stopped.
    if (mean && !write_child_text(out, source, *mean)) {
        out.end_line();
        return;
    }
    out.write("\" name=\"");
    if (name && !write_child_text(out, source, *name)) {
        out.end_line();
        return;
    }
    out.write("\" data=");
    if (data) {
        write_preview(out, shown, payload_size(*data) - kDataWords);
    }
    out.end_line();
}

// A plain item's line, with its first usable data child.
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
    const ByteView head = found ? read_data_head(source, data) : ByteView();
    if (source.failed()) {
        return;
    }
    Located located(LineKind::item, {item.pos, item.header.size});
    located.key = FileRange{item.pos + 4, 4};
    if (found) {
        located.value = value_range(data);
        located.value_type = read_u32_be(head, 0).value_or(0);
    }
    out.locate(located);
    indent(out, depth);
    out.write(item.type());
    out.write(" (size=");
    write_decimal(out, item.header.size);
    if (!found) {
        out.line(") (no data)");
        return;
    }
    out.write(") type=");
    write_decimal(out, read_u32_be(head, 0).value_or(0));
    out.write(" ");
    write_preview(out, head.subspan(kDataWords), payload_size(data) - kDataWords);
    out.end_line();
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
