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

// An item or child atom that passed the list's tests.
struct ListAtom {
    std::string type;
    std::uint64_t size = 0;
    ByteView payload;
    std::uint64_t payload_start = 0;
    std::uint64_t end = 0;
};

// The atom at `pos` when its header is readable, not below its own length,
// and it ends by `end`; empty otherwise, which ends the loop that asked.
std::optional<ListAtom> read_list_atom(ByteView data, std::uint64_t pos, std::uint64_t end) {
    const auto header = read_atom_header(data, pos);
    if (!header || header->size < header->header_len) {
        return std::nullopt;
    }
    const std::uint64_t atom_end = sat_add(pos, header->size);
    if (atom_end > end) {
        return std::nullopt;
    }
    const std::uint64_t payload_start = pos + header->header_len;
    return ListAtom{type_code_text(data, pos), header->size,
                    sub_view(data, payload_start, atom_end), payload_start, atom_end};
}

// A mean or name text: after 4 bytes of version and flags, lenient UTF-8
// without its trailing NULs.
std::string child_text(ByteView payload) {
    std::string text = lenient_utf8(payload.subspan(4));
    while (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    return text;
}

// A data value: what follows the type indicator and the locale.
std::string data_preview(ByteView payload) {
    return preview_payload(payload.subspan(8));
}

// The rest of a ---- item's line; the last usable child of each kind wins.
std::string freeform_fields(ByteView data, const ListAtom& item) {
    std::string mean;
    std::string name;
    std::string value;
    for (std::uint64_t pos = item.payload_start; room_for(pos, item.end, 8);) {
        const auto child = read_list_atom(data, pos, item.end);
        if (!child) {
            break;
        }
        if (child->type == "mean" && child->payload.size() > 4) {
            mean = child_text(child->payload);
        } else if (child->type == "name" && child->payload.size() > 4) {
            name = child_text(child->payload);
        } else if (child->type == "data" && child->payload.size() > 8) {
            value = data_preview(child->payload);
        }
        pos = child->end;
    }
    return " mean=\"" + mean + "\" name=\"" + name + "\" data=" + value;
}

// A plain item's value: its first usable data child.
std::string plain_value(ByteView data, const ListAtom& item) {
    for (std::uint64_t pos = item.payload_start; room_for(pos, item.end, 8);) {
        const auto child = read_list_atom(data, pos, item.end);
        if (!child) {
            break;
        }
        if (child->type == "data" && child->payload.size() > 8) {
            const std::uint32_t indicator = read_u32_be(child->payload, 0).value_or(0);
            return "type=" + decimal(indicator) + " " + data_preview(child->payload);
        }
        pos = child->end;
    }
    return "(no data)";
}

}  // namespace

void describe_ilst(ByteView data, std::uint64_t items_start, std::uint64_t items_end,
                   unsigned depth, Output& out) {
    items_end = std::min<std::uint64_t>(items_end, data.size());
    const std::string item_indent = indent(depth + 1);
    for (std::uint64_t pos = items_start; room_for(pos, items_end, 8);) {
        const auto item = read_list_atom(data, pos, items_end);
        if (!item) {
            return;
        }
        std::string line = item_indent;
        if (item->type == "----") {
            line += "---- (size=" + decimal(item->size) + ")" + freeform_fields(data, *item);
        } else {
            line += item->type + " (size=" + decimal(item->size) + ") " + plain_value(data, *item);
        }
        out.line(line);
        pos = item->end;
    }
}

}  // namespace boxwalk
