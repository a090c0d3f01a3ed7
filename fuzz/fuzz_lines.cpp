// libFuzzer entry point: the scan into a LineRecorder, which ends lines
// itself, records ranges and wants every value, against the same scan into
// a plain StringOutput, and (all lines at the end) against the page's kind,
// which keeps only which lines have details; then the JSON of the records
// and of the tags, parsed back by another library. The last byte of the input
// picks how many lines the recorder hands on at a time (none: all at the
// end); the rest is the file (so that a real file as a seed stays one), and
// also an XMP packet (as lenient UTF-8).
// The recorded text must be the plain output; every range a line records
// must lie inside its line's and inside the file; the JSON must parse, as
// valid UTF-8, with the same lines. Anything else aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "primitives/text.hpp"
#include "report/json.hpp"
#include "tags/reader.hpp"
#include "tree/scan.hpp"
#include "xmp/xmp.hpp"

namespace {

using namespace boxwalk;

void require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// Whether [pos, pos + size) lies inside [outer_pos, outer_pos + outer_size);
// the outer range may reach past 2^64 (a header's size near it).
bool within(std::uint64_t pos, std::uint64_t size, std::uint64_t outer_pos,
            std::uint64_t outer_size) {
    return pos >= outer_pos && size <= outer_size && pos - outer_pos <= outer_size - size;
}

// The lines a recorder holds, checked, their text appended to `text`.
void check_lines(const LineRecorder& recorder, std::uint64_t file_size, std::string& text) {
    const LineColumns& lines = recorder.lines();
    const DetailColumns& details = recorder.details();
    const ValueColumns& values = recorder.values();
    require(recorder.text().size() == (lines.end.empty() ? 0 : lines.end.back()));
    std::size_t value = 0;
    for (std::size_t i = 0; i < recorder.line_count(); ++i) {
        require(recorder.text()[static_cast<std::size_t>(lines.end[i] - 1)] == '\n');
        require(lines.kind[i] < kLineKinds.size());
        const bool shows = static_cast<LineKind>(lines.kind[i]) != LineKind::none;
        require(shows == (lines.pos[i] != kNoPosition));
        const auto inside = [&](std::uint64_t pos, std::uint64_t size) {
            return pos == kNoPosition || (shows && within(pos, size, lines.pos[i], lines.size[i]) &&
                                          within(pos, size, 0, file_size));
        };
        if (const std::uint32_t row = lines.detail[i]; row != kNoDetail) {
            require(row < details.line.size() && details.line[row] == i);
            require(inside(details.key_pos[row], details.key_size[row]) &&
                    inside(details.name_pos[row], details.name_size[row]) &&
                    inside(details.value_pos[row], details.value_size[row]));
        }
        for (; value < values.line.size() && values.line[value] == i; ++value) {
            require(lines.detail[i] != kNoDetail && inside(values.pos[value], values.size[value]));
        }
    }
    require(value == values.line.size());
    text += recorder.text();
}

// `json` parsed as one object a line, valid UTF-8 (nlohmann-json takes no
// other); its lines' text.
std::string parsed_lines(std::string_view json) {
    require(!json.empty() && json.back() == '\n' && json.find('\n') == json.size() - 1);
    const nlohmann::json object = nlohmann::json::parse(json, nullptr, false);
    require(object.is_object() && object.contains("lines"));
    std::string text;
    for (const nlohmann::json& line : object["lines"]) {
        text += line["text"].get<std::string>() + '\n';
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::size_t batch = data[size - 1] % 8;
    const ByteView file(data, size - 1);

    StringOutput plain;
    scan_top_level(file, plain);

    MemorySource source(file);
    TagReport tags = read_tags(source);
    XmpPacket packet;
    packet.bytes = {0, file.size()};
    packet.text = lenient_utf8(file);
    tags.xmp.push_back(packet);
    add_xmp_properties(tags);
    for (const Tag& tag : tags.tags) {
        require(within(tag.bytes.pos, tag.bytes.size, 0, file.size()));
    }

    JsonWriter json;
    std::string spilled;
    json.spill_at(1 + batch * 97, [&spilled](std::string_view piece) { spilled += piece; });
    json.start_file({"fuzz", file.size(), std::nullopt, nullptr, nullptr});
    std::string recorded;
    LineRecorder lines;
    if (batch != 0) {
        lines.take_in_batches(batch, [&](LineRecorder& some) {
            check_lines(some, file.size(), recorded);
            json.add_lines(some);
        });
    }
    scan_top_level(file, lines);
    lines.flush();
    check_lines(lines, file.size(), recorded);
    if (batch == 0) {
        LineRecorder lean(LineRecorder::Details::lines_only);
        scan_top_level(file, lean);
        lean.flush();
        require(lean.text() == lines.text() && lean.lines().detail == lines.lines().detail &&
                lean.lines().pos == lines.lines().pos &&
                lean.details().line == lines.details().line && lean.details().key_pos.empty() &&
                lean.values().pos == lines.values().pos);
    }
    json.add_lines(lines);
    json.add_tags(tags);
    spilled += json.finish_file();

    require(recorded == plain.text());
    require(parsed_lines(spilled) == recorded);
    return 0;
}
