// QuickTime's text atoms in udta: ©xxx atoms holding one or more texts,
// each with its length and language, and a track's name.
#include <algorithm>

#include "primitives/text.hpp"
#include "tags/reading.hpp"

namespace boxwalk {
namespace {

// A text's length and language code, before it.
constexpr std::uint64_t kTextHeader = 4;
// Language codes below this are Macintosh language codes, whose texts are
// in the Mac OS Roman encoding; from it on, packed ISO 639-2/T codes, whose
// texts are UTF-8.
constexpr std::uint16_t kFirstIsoLanguage = 0x400;

Tag quicktime_tag(TagReading& reading, const Atom& atom, Place place, std::string key) {
    Tag tag;
    tag.store = Store::quicktime;
    tag.track = place.track;
    tag.key = std::move(key);
    tag.bytes = inside(atom, atom.pos, reading.size());
    return tag;
}

// True when the payload of `atom` starts with a data atom, as some writers
// put in place of the texts.
bool holds_data_atoms(TagReading& reading, const Atom& atom) {
    if (!room_for(atom.payload_start, std::min(atom.end, reading.size()), 8)) {
        return false;
    }
    const auto head = reading.bytes(atom.payload_start, 8);
    return head && as_chars(head->subspan(4)) == "data";
}

}  // namespace

void read_quicktime_text(TagReading& reading, const Atom& atom, Place place) {
    Tag tag = quicktime_tag(reading, atom, place, atom_key(reading, atom));
    Reads reads = Reads::text;
    if (const KnownKey* known = find_known_key(Store::quicktime, tag.key)) {
        tag.label = known->label;
        reads = known->reads;
    }
    if (holds_data_atoms(reading, atom)) {
        if (read_data_children(reading, atom, atom.payload_start, tag, reads)) {
            reading.report().tags.push_back(std::move(tag));
        }
        return;
    }
    const std::uint64_t end = std::min(atom.end, reading.size());
    for (std::uint64_t pos = atom.payload_start; room_for(pos, end, kTextHeader);) {
        const auto header = reading.bytes(pos, kTextHeader);
        if (!header) {
            return;
        }
        const std::uint16_t length = *read_u16_be(*header, 0);
        const std::uint16_t language = *read_u16_be(*header, 2);
        if (!room_for(pos + kTextHeader, end, length)) {
            // Past the file's end, the walk of udta reports the atom cut short.
            if (end == atom.end) {
                reading.damage(Store::quicktime, place, {pos, kTextHeader + length},
                               "the text of " + grouped(length) + " bytes at " + grouped(pos) +
                                   " runs past the end of " + tag.key + " at " + grouped(atom.end) +
                                   ": " + grouped(tag.values.size()) + " of its texts read");
            }
            break;
        }
        const auto text = reading.bytes(pos + kTextHeader, length);
        if (!text) {
            return;
        }
        TagValue value;
        value.kind = reads == Reads::date       ? ValueKind::date
                     : reads == Reads::location ? ValueKind::location
                                                : ValueKind::text;
        value.text = language < kFirstIsoLanguage ? mac_roman_text(*text) : utf8_text(*text, false);
        value.language = language_text(language);
        value.bytes = {pos + kTextHeader, length};
        tag.values.push_back(std::move(value));
        pos += kTextHeader + length;
    }
    if (!reading.failed()) {
        reading.report().tags.push_back(std::move(tag));
    }
}

void read_bare_text(TagReading& reading, const Atom& atom, Place place, Store labels) {
    Tag tag = quicktime_tag(reading, atom, place, atom_key(reading, atom));
    if (const KnownKey* known = find_known_key(labels, tag.key)) {
        tag.label = known->label;
    }
    // The text alone, with no length or language: UTF-8 where it is that,
    // otherwise in the Macintosh's own encoding.
    const FileRange payload = inside(atom, atom.payload_start, reading.size());
    const auto bytes = reading.head(payload, kTextLimit);
    if (!bytes) {
        return;
    }
    TagValue value;
    value.kind = ValueKind::text;
    value.cut = payload.size > bytes->size();
    value.bytes = payload;
    value.text =
        is_valid_utf8(value.cut
                          ? bytes->first(bytes->size() - unfinished_utf8_tail(as_chars(*bytes)))
                          : *bytes)
            ? utf8_text(*bytes, value.cut)
            : mac_roman_text(*bytes);
    tag.values.push_back(std::move(value));
    reading.report().tags.push_back(std::move(tag));
}

}  // namespace boxwalk
