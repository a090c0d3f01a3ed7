#include "bin/boxwalk/driver.hpp"

#include "primitives/atom.hpp"
#include "primitives/render.hpp"
#include "tree/walker.hpp"

namespace boxwalk {
namespace {

// The children of the moov atom at `pos`, which the top-level scan found
// with `header`.
void list_moov(ByteView data, std::uint64_t pos, const AtomHeader& header, Output& out) {
    out.write("moov (size=");
    write_decimal(out, header.size);
    out.write(", @ ");
    write_decimal(out, pos);
    out.line(")");
    const std::uint64_t end = sat_add(pos, header.size);
    std::uint64_t off = sat_add(pos, header.header_len);
    while (room_for(off, end, 8)) {
        // moov's declared end may lie past a truncated file: the listing
        // ends at the first child header that is not wholly inside the data.
        const auto child = read_atom_header(data, off);
        if (!child) {
            return;
        }
        const std::string type = type_code_text(data, off);
        out.write("  ");
        out.write(type);
        out.write(" (size=");
        write_decimal(out, child->size);
        out.write(", @ ");
        write_decimal(out, off);
        out.line(")");
        if (type == "udta") {
            walk_container(data, sat_add(off, child->header_len), sat_add(off, child->size), 2,
                           out);
        }
        // A 64-bit size of 0 would never advance.
        if (child->size == 0) {
            return;
        }
        off = sat_add(off, child->size);
    }
}

}  // namespace

void scan_top_level(ByteView data, Output& out) {
    std::uint64_t pos = 0;
    while (fits(data, pos, 8)) {
        const auto header = read_atom_header(data, pos);
        if (!header || header->size < header->header_len) {
            return;
        }
        if (type_code_text(data, pos) == "moov") {
            list_moov(data, pos, *header, out);
            return;
        }
        pos = sat_add(pos, header->size);
    }
}

int run(const std::vector<Argument>& args, const FileLoader& load, Output& out, Output& err) {
    int status = 0;
    if (args.size() < 2) {
        err.line("Usage: " + (args.empty() ? std::string() : args[0].text) + " <input.mp4>");
        status = 1;
    } else {
        out.line("[boxwalk] File: " + args[1].text);
        const LoadResult loaded = load(args[1]);
        if (!loaded.ok) {
            err.line("[boxwalk] ERROR: read: " + loaded.error);
            status = 1;
        } else {
            const ByteView data = loaded.data.view();
            out.line("[boxwalk] Size: " + decimal(data.size()) + " bytes");
            out.line("");
            scan_top_level(data, out);
        }
    }
    // A run whose output was lost must not report success.
    if (const auto failure = out.flush()) {
        if (!failure->closed_pipe) {
            err.line("[boxwalk] ERROR: write: " + failure->message);
        }
        status = 1;
    }
    return status;
}

}  // namespace boxwalk
