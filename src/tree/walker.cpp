#include "tree/walker.hpp"

#include <algorithm>
#include <array>
#include <string_view>

#include "primitives/atom.hpp"
#include "primitives/render.hpp"
#include "tree/item_list.hpp"
#include "tree/xtra.hpp"

namespace boxwalk {
namespace {

// Walked as containers, in the order they are tested.
constexpr std::array<std::string_view, 9> kContainerTypes = {
    "moov", "udta", "meta", "ilst", "trak", "mdia", "minf", "stbl", "edts"};

bool is_container(std::string_view type) {
    return std::find(kContainerTypes.begin(), kContainerTypes.end(), type) !=
           kContainerTypes.end();
}

}  // namespace

std::string indent(unsigned depth) {
    return std::string(static_cast<std::size_t>(depth) * 2, ' ');
}

void walk_container(ByteView data, std::uint64_t start, std::uint64_t end, unsigned depth,
                    Output& out) {
    // A range can reach past a truncated file; nothing beyond the data is
    // ever read, so the tests below run against the cut end.
    end = std::min<std::uint64_t>(end, data.size());
    if (depth > kMaxDepth) {
        if (room_for(start, end, 8)) {
            out.line(indent(depth) + "[nesting too deep]");
        }
        return;
    }
    const std::string pad = indent(depth);
    std::uint64_t pos = start;
    while (room_for(pos, end, 8)) {
        const auto header = read_atom_header(data, pos);
        if (!header) {
            return;  // a 64-bit size cut off by the end of the data
        }
        const std::uint64_t atom_end = sat_add(pos, header->size);
        if (header->size < header->header_len || atom_end > end) {
            out.line(pad + "[malformed @ " + decimal(pos) + ", size=" + decimal(header->size) +
                      "]");
            return;
        }
        const std::string type = type_code_text(data, pos);
        const std::uint64_t payload_start = pos + header->header_len;
        const ByteView payload = sub_view(data, payload_start, atom_end);
        std::string line = pad + type + " (size=" + decimal(header->size);
        // ilst and Xtra get the container line and their own decoders; the
        // ilst test comes first, so an item list is never walked as atoms.
        if (type == "ilst") {
            out.line(line + ")");
            describe_ilst(data, payload_start, atom_end, depth, out);
        } else if (type == "Xtra") {
            out.line(line + ")");
            describe_xtra(payload, depth, out);
        } else if (is_container(type)) {
            // meta carries a 4-byte version and flags field before its children.
            const bool meta = type == "meta";
            out.line(line + (meta ? " (skip 4 byte vfh))" : ")"));
            walk_container(data, payload_start + (meta ? 4 : 0), atom_end, depth + 1, out);
        } else {
            out.line(line + ") " + preview_payload(payload));
        }
        pos = atom_end;
    }
}

}  // namespace boxwalk
