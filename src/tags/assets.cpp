// The 3GPP asset atoms of udta: full atoms holding a language and
// NUL-terminated texts in UTF-8 or, after a byte-order mark, UTF-16, and a
// few numbers.
#include <algorithm>
#include <string>

#include "tags/reading.hpp"

namespace boxwalk {
namespace {

enum class Asset : std::uint8_t {
    text,            // a language and a text
    album,           // a language, a text and maybe a track number
    year,            // a year
    keywords,        // a language and a list of texts
    classification,  // an entity, a table, a language and a text
    rating,          // an entity, criteria, a language and a text
    location,        // a language, a name, a role, a place, a body and notes
};

struct AssetRow {
    std::string_view type;
    Asset layout;
};

constexpr std::array kAssets = {
    AssetRow{"titl", Asset::text},     AssetRow{"auth", Asset::text},
    AssetRow{"perf", Asset::text},     AssetRow{"gnre", Asset::text},
    AssetRow{"dscp", Asset::text},     AssetRow{"cprt", Asset::text},
    AssetRow{"albm", Asset::album},    AssetRow{"yrrc", Asset::year},
    AssetRow{"kywd", Asset::keywords}, AssetRow{"clsf", Asset::classification},
    AssetRow{"rtng", Asset::rating},   AssetRow{"loci", Asset::location},
};

// The bytes of an asset's payload read so far, and where they lie.
class Fields {
public:
    Fields(ByteView bytes, std::uint64_t pos, bool cut) : bytes_(bytes), pos_(pos), cut_(cut) {}

    // True when `count` more bytes are there.
    bool has(std::size_t count) const { return fits(bytes_, at_, count); }
    std::uint64_t number(std::size_t width) {
        const std::uint64_t value = big_endian(bytes_.subspan(at_, width));
        at_ += width;
        return value;
    }
    FileRange range(std::size_t width) const { return {pos_ + at_, width}; }
    ByteView take(std::size_t width) {
        const ByteView taken = bytes_.subspan(at_, width);
        at_ += width;
        return taken;
    }

    // The text from here: UTF-8, or UTF-16 after a byte-order mark, up to a
    // NUL (UTF-16: a zero unit) or the end of the bytes. `terminated` says
    // whether a NUL ended it.
    TagValue text(bool& terminated) {
        const ByteView rest = bytes_.subspan(at_);
        const bool big = rest.size() >= 2 && rest[0] == 0xFE && rest[1] == 0xFF;
        const bool little = rest.size() >= 2 && rest[0] == 0xFF && rest[1] == 0xFE;
        std::size_t length = 0;
        std::size_t step = 1;
        if (big || little) {
            step = 2;
            length = 2;
            while (length + 2 <= rest.size() && (rest[length] != 0 || rest[length + 1] != 0)) {
                length += 2;
            }
            terminated = length + 2 <= rest.size();
        } else {
            length =
                static_cast<std::size_t>(std::find(rest.begin(), rest.end(), 0) - rest.begin());
            terminated = length < rest.size();
        }
        TagValue value;
        value.kind = ValueKind::text;
        value.bytes = range(length);
        // Only the last text can be cut short by the bytes read.
        value.cut = cut_ && !terminated;
        value.text = big || little ? utf16_text(rest.subspan(2, length - 2), big, value.cut)
                                   : utf8_text(rest.first(length), value.cut);
        at_ += std::min(rest.size(), length + (terminated ? step : 0));
        return value;
    }

private:
    ByteView bytes_;
    std::uint64_t pos_;
    bool cut_;
    std::size_t at_ = 0;
};

}  // namespace

bool is_asset(const Atom& atom) {
    return std::any_of(kAssets.begin(), kAssets.end(),
                       [&](const AssetRow& asset) { return atom.is(asset.type); });
}

bool read_asset(TagReading& reading, const Atom& atom, Place place) {
    const auto row = std::find_if(kAssets.begin(), kAssets.end(),
                                  [&](const AssetRow& asset) { return atom.is(asset.type); });
    if (row == kAssets.end()) {
        return false;
    }
    Tag tag;
    tag.store = Store::assets;
    tag.track = place.track;
    tag.key = row->type;
    tag.bytes = inside(atom, atom.pos, reading.size());
    if (const KnownKey* known = find_known_key(Store::assets, tag.key)) {
        tag.label = known->label;
    }
    const FileRange payload = inside(atom, atom.payload_start, reading.size());
    const auto bytes = reading.head(payload, kTextLimit);
    if (!bytes) {
        return true;
    }
    // Assets are of version 0 with no flags. Other writers put a text alone
    // in atoms of the same types.
    if (payload.size >= 4 && read_u32_be(*bytes, 0) != 0u) {
        read_bare_text(reading, atom, place, Store::assets);
        return true;
    }
    Fields fields(*bytes, payload.pos, payload.size > bytes->size());
    std::string language;
    bool terminated = true;
    // A field that is not there: damage, unless the file's end cut the atom
    // short, which the walk of udta reports.
    const auto missing = [&](std::string_view what) {
        if (atom.end <= reading.size()) {
            reading.damage(Store::assets, place, declared(atom),
                           tag.key + " of " + grouped(atom.header.size) + " bytes at " +
                               grouped(atom.pos) + " ends before its " + std::string(what));
        }
        return false;
    };
    const auto add = [&](TagValue value, std::string_view part) {
        value.part = part;
        tag.values.push_back(std::move(value));
    };
    const auto add_number = [&](std::size_t width, ValueKind kind, std::string_view part) {
        TagValue value;
        value.kind = kind;
        value.bytes = fields.range(width);
        value.text = decimal_text(fields.number(width));
        add(std::move(value), part);
    };
    const auto add_code = [&](std::string_view part) {
        TagValue value;
        value.kind = ValueKind::text;
        value.bytes = fields.range(4);
        value.text = latin1_text(fields.take(4));
        add(std::move(value), part);
    };
    const auto take_language = [&] {
        if (!fields.has(2)) {
            return missing("language");
        }
        language = language_text(static_cast<std::uint16_t>(fields.number(2)));
        return true;
    };
    const auto add_text = [&](std::string_view part) {
        TagValue value = fields.text(terminated);
        value.language = language;
        add(std::move(value), part);
    };
    // Each layout's fields in order; a missing one ends the reading.
    [&] {
        if (!fields.has(4)) {
            return missing("version and flags");
        }
        fields.take(4);
        switch (row->layout) {
            case Asset::year:
                if (!fields.has(2)) {
                    return missing("year");
                }
                add_number(2, ValueKind::date, "");
                return true;
            case Asset::classification:
                if (!fields.has(6)) {
                    return missing("classification");
                }
                add_code("entity");
                add_number(2, ValueKind::integer, "table");
                break;
            case Asset::rating:
                if (!fields.has(8)) {
                    return missing("rating");
                }
                add_code("entity");
                add_code("criteria");
                break;
            default:
                break;
        }
        if (!take_language()) {
            return false;
        }
        switch (row->layout) {
            case Asset::keywords: {
                if (!fields.has(1)) {
                    return missing("keyword count");
                }
                const auto count = static_cast<std::size_t>(fields.number(1));
                for (std::size_t i = 0; i < count; ++i) {
                    if (!fields.has(1)) {
                        return missing("keywords: " + grouped(i) + " of " + grouped(count) +
                                       " read");
                    }
                    const auto size = static_cast<std::size_t>(fields.number(1));
                    if (!fields.has(size)) {
                        return missing("keywords: " + grouped(i) + " of " + grouped(count) +
                                       " read");
                    }
                    const FileRange where = fields.range(size);
                    Fields keyword(fields.take(size), where.pos, false);
                    TagValue value = keyword.text(terminated);
                    value.language = language;
                    add(std::move(value), "");
                }
                return true;
            }
            case Asset::location: {
                add_text("name");
                if (!terminated || !fields.has(13)) {
                    return missing("place");
                }
                TagValue role;
                role.kind = ValueKind::choice;
                role.bytes = fields.range(1);
                const std::uint64_t role_number = fields.number(1);
                role.text = name_of_number(kLocationRoles, role_number);
                if (role.text.empty()) {
                    role.kind = ValueKind::integer;
                    role.text = decimal_text(role_number);
                }
                add(std::move(role), "role");
                TagValue coordinates;
                coordinates.kind = ValueKind::location;
                coordinates.bytes = fields.range(12);
                const auto fixed = [&] { return static_cast<std::int32_t>(fields.number(4)); };
                const std::int32_t longitude = fixed();
                const std::int32_t latitude = fixed();
                const std::int32_t altitude = fixed();
                coordinates.text = iso6709_text(latitude, longitude, altitude);
                add(std::move(coordinates), "coordinates");
                add_text("body");
                if (!terminated) {
                    return missing("notes");
                }
                add_text("notes");
                return true;
            }
            default:
                add_text("");
                if (row->layout == Asset::album && terminated && fields.has(1)) {
                    add_number(1, ValueKind::integer, "track");
                }
                return true;
        }
    }();
    reading.hand_on(tag);
    return true;
}

}  // namespace boxwalk
