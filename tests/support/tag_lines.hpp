#pragma once

// The tag reader's records as lines of text, for expectations and for
// comparing two readings, and the invariants every report keeps.

#include <algorithm>
#include <string>
#include <vector>

#include "primitives/render.hpp"
#include "primitives/text.hpp"
#include "tags/record.hpp"

namespace boxwalk::test {

inline std::string range_text(const FileRange& range) {
    return "@" + decimal(range.pos) + "+" + decimal(range.size);
}

inline std::string where(Store store, unsigned track) {
    return std::string(name_of(kStores, store)) + (track != 0 ? "#" + decimal(track) : "");
}

// A value: kind, /type, @language, part:, "text", … when cut, and with
// `ranges` its bytes.
inline std::string value_line(const TagValue& value, bool ranges) {
    std::string line(name_of(kValueKinds, value.kind));
    if (value.stored_type) {
        line += "/" + decimal(*value.stored_type);
    }
    if (!value.language.empty()) {
        line += " @" + value.language;
    }
    if (!value.part.empty()) {
        line += " " + value.part + ":";
    }
    line += " \"" + value.text + "\"" + (value.cut ? "…" : "");
    return ranges ? line + " " + range_text(value.bytes) : line;
}

// A tag on one line: where, key, mean and name, (label), and its values.
inline std::string tag_line(const Tag& tag, bool ranges) {
    std::string line = where(tag.store, tag.track) + " " + tag.key;
    if (!tag.mean.empty() || !tag.name.empty()) {
        line += " " + tag.mean + ":" + tag.name;
    }
    if (!tag.label.empty()) {
        line += " (" + tag.label + ")";
    }
    if (ranges) {
        line += " " + range_text(tag.bytes);
    }
    line += ":";
    for (std::size_t i = 0; i < tag.values.size(); ++i) {
        line += (i == 0 ? " " : " | ") + value_line(tag.values[i], ranges);
    }
    return line;
}

inline std::string damage_line(const Damage& damage, bool ranges) {
    return "! " + where(damage.store, damage.track) +
           (ranges ? " " + range_text(damage.bytes) : "") + " " + damage.what;
}

inline std::string xmp_line(const XmpPacket& xmp, bool ranges) {
    return where(Store::xmp, xmp.track) + (ranges ? " " + range_text(xmp.bytes) : "") +
           (xmp.cut ? " cut" : "") + ": " + xmp.text;
}

// The records of a report, each kind in order.
struct ReportLines {
    std::string head;  // kind, brand and moov
    std::vector<std::string> tags;
    std::vector<std::string> xmp;
    std::vector<std::string> damage;

    bool operator==(const ReportLines&) const = default;
};

inline ReportLines report_lines(const TagReport& report, bool ranges = true) {
    ReportLines lines;
    lines.head = std::string(name_of(kFileKinds, report.kind)) +
                 (report.brand.empty() ? "" : " " + report.brand) +
                 (report.moov ? " moov " + range_text(*report.moov) : "");
    for (const Tag& tag : report.tags) {
        lines.tags.push_back(tag_line(tag, ranges));
    }
    for (const XmpPacket& xmp : report.xmp) {
        lines.xmp.push_back(xmp_line(xmp, ranges));
    }
    for (const Damage& damage : report.damage) {
        lines.damage.push_back(damage_line(damage, ranges));
    }
    return lines;
}

// True when each kind of record of `part` is the start of that of `whole`:
// what a reading that failed found.
inline bool starts_with_lines(const ReportLines& whole, const ReportLines& part) {
    const auto starts = [](const std::vector<std::string>& all,
                           const std::vector<std::string>& some) {
        return some.size() <= all.size() && std::equal(some.begin(), some.end(), all.begin());
    };
    return starts(whole.tags, part.tags) && starts(whole.xmp, part.xmp) &&
           starts(whole.damage, part.damage);
}

// The records without ranges, one a line: tags, XMP packets, then damage.
inline std::string describe_tags(const TagReport& report) {
    const ReportLines lines = report_lines(report, false);
    std::string text;
    for (const auto* kind : {&lines.tags, &lines.xmp, &lines.damage}) {
        for (const std::string& line : *kind) {
            text += line + "\n";
        }
    }
    return text;
}

// What breaks the report's invariants for a file of `size` bytes: a text
// that is not valid UTF-8, a tag's, value's or packet's bytes outside the
// file, damage that starts past it. Empty when none.
inline std::string report_fault(const TagReport& report, std::uint64_t size) {
    const auto bad_text = [](const std::string& text) {
        return !is_valid_utf8(
            ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    };
    const auto outside = [size](const FileRange& range) {
        return range.pos > size || range.size > size - range.pos;
    };
    if (bad_text(report.brand)) {
        return "brand";
    }
    for (const Tag& tag : report.tags) {
        if (bad_text(tag.key) || bad_text(tag.mean) || bad_text(tag.name) || bad_text(tag.label)) {
            return "tag text: " + tag_line(tag, true);
        }
        if (outside(tag.bytes)) {
            return "tag range: " + tag_line(tag, true);
        }
        for (const TagValue& value : tag.values) {
            if (bad_text(value.text) || bad_text(value.language) || bad_text(value.part)) {
                return "value text: " + tag_line(tag, true);
            }
            // Inside the file, and so inside the atom or entry that holds it.
            if (outside(value.bytes) || value.bytes.pos < tag.bytes.pos ||
                value.bytes.pos + value.bytes.size > tag.bytes.pos + tag.bytes.size) {
                return "value range: " + tag_line(tag, true);
            }
        }
    }
    for (const XmpPacket& xmp : report.xmp) {
        if (bad_text(xmp.text) || outside(xmp.bytes)) {
            return "xmp: " + xmp_line(xmp, true);
        }
    }
    for (const Damage& damage : report.damage) {
        if (bad_text(damage.what) || damage.bytes.pos > size) {
            return "damage: " + damage_line(damage, true);
        }
    }
    return {};
}

}  // namespace boxwalk::test
