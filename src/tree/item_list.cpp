#include "tree/item_list.hpp"

#include <algorithm>
#include <optional>
#include <string>

#include "primitives/atom.hpp"
#include "primitives/render.hpp"
#include "primitives/text.hpp"
#include "tree/walker.hpp"

namespace boxwalk {
namespace {

// Fills `atom` with the atom at `pos` when its header is readable, not
// below its own length, and it ends by `end`; false otherwise, which ends
// the loop that asked.
bool read_list_atom(ByteView data, std::uint64_t pos, std::uint64_t end, Atom& atom) {
    return read_atom(data, pos, atom) && atom.within(end);
}

// The payload of an atom that read_list_atom accepted.
ByteView payload_of(ByteView data, const Atom& atom) {
    return sub_view(data, atom.payload_start, atom.end);
}

// A mean or name text: after 4 bytes of version and flags, lenient UTF-8
// without its trailing NULs. A NUL byte is never part of a longer sequence,
// so trimming the bytes trims the decoded text alike.
void write_child_text(Output& out, ByteView payload) {
    ByteView text = payload.subspan(4);
    while (!text.empty() && text.back() == 0x00) {
        text = text.first(text.size() - 1);
    }
    write_lenient_utf8(out, text);
}

// A data value: what follows the type indicator and the locale.
void write_data_preview(Output& out, ByteView payload) { write_preview(out, payload.subspan(8)); }

// The rest of a ---- item's line; the last usable child of each kind wins.
void write_freeform_fields(Output& out, ByteView data, const Atom& item) {
    // Empty until a usable child, which is never empty, is met.
    ByteView mean;
    ByteView name;
    ByteView value;
    for (std::uint64_t pos = item.payload_start; room_for(pos, item.end, 8);) {
        Atom child;
        if (!read_list_atom(data, pos, item.end, child)) {
            break;
        }
        const ByteView payload = payload_of(data, child);
        if (child.is("mean") && payload.size() > 4) {
            mean = payload;
        } else if (child.is("name") && payload.size() > 4) {
            name = payload;
        } else if (child.is("data") && payload.size() > 8) {
            value = payload;
        }
        pos = child.end;
    }
    out.write(" mean=\"");
    if (!mean.empty()) {
        write_child_text(out, mean);
    }
    out.write("\" name=\"");
    if (!name.empty()) {
        write_child_text(out, name);
    }
    out.write("\" data=");
    if (!value.empty()) {
        write_data_preview(out, value);
    }
}

// A plain item's value: its first usable data child.
void write_plain_value(Output& out, ByteView data, const Atom& item) {
    for (std::uint64_t pos = item.payload_start; room_for(pos, item.end, 8);) {
        Atom child;
        if (!read_list_atom(data, pos, item.end, child)) {
            break;
        }
        const ByteView payload = payload_of(data, child);
        if (child.is("data") && payload.size() > 8) {
            out.write("type=");
            write_decimal(out, read_u32_be(payload, 0).value_or(0));
            out.write(" ");
            write_data_preview(out, payload);
            return;
        }
        pos = child.end;
    }
    out.write("(no data)");
}

}  // namespace

void describe_ilst(ByteView data, std::uint64_t items_start, std::uint64_t items_end,
                   unsigned depth, Output& out) {
    items_end = std::min<std::uint64_t>(items_end, data.size());
    for (std::uint64_t pos = items_start; room_for(pos, items_end, 8);) {
        Atom item;
        if (!read_list_atom(data, pos, items_end, item)) {
            return;
        }
        indent(out, depth + 1);
        out.write(item.type());
        out.write(" (size=");
        write_decimal(out, item.header.size);
        if (item.is("----")) {
            out.write(")");
            write_freeform_fields(out, data, item);
        } else {
            out.write(") ");
            write_plain_value(out, data, item);
        }
        out.end_line();
        pos = item.end;
    }
}

}  // namespace boxwalk
