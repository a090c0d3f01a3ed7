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

// A QuickTime tag for `atom`: its key, and its label and reading as
// `labels` has them.
Tag& start_tag(TagReading& reading, const Atom& atom, Place place, Store labels, Reads& reads) {
    Tag& tag =
        reading.new_tag(Store::quicktime, place.track, inside(atom, atom.pos, reading.size()));
    atom_key(reading, atom, tag.key);
    reads = Reads::text;
    if (const KnownKey* known = find_known_key(labels, tag.key)) {
        tag.label = known->label;
        reads = known->reads;
    }
    return tag;
}

ValueKind text_kind(Reads reads) {
    return reads == Reads::date       ? ValueKind::date
           : reads == Reads::location ? ValueKind::location
                                      : ValueKind::text;
}

// The payload of `atom` as one text into `tag`; false when a read failed.
bool read_one_text(TagReading& reading, const Atom& atom, Tag& tag, Reads reads) {
    // No length or language: UTF-8 where it is that, otherwise in the
    // Macintosh's own encoding.
    const FileRange payload = inside(atom, atom.payload_start, reading.size());
    const auto bytes = reading.head(payload, kTextLimit);
    if (!bytes) {
        return false;
    }
    TagValue& value = reading.new_value(tag);
    value.kind = text_kind(reads);
    value.cut = payload.size > bytes->size();
    value.bytes = payload;
    const ByteView whole =
        value.cut ? bytes->first(bytes->size() - unfinished_utf8_tail(as_chars(*bytes))) : *bytes;
    if (is_valid_utf8(whole)) {
        utf8_text(whole, false, value.text);
    } else {
        mac_roman_text(*bytes, value.text);
    }
    return true;
}

// The texts of `atom`, each with its length and language, into `tag`;
// false when a read failed.
bool read_texts(TagReading& reading, const Atom& atom, Place place, Tag& tag, Reads reads) {
    const std::uint64_t end = std::min(atom.end, reading.size());
    // A first length that runs past the atom is no length: other writers put
    // a text alone in these atoms. Past the file's end it is the atom that
    // is cut short, which the walk of udta reports.
    if (room_for(atom.payload_start, end, kTextHeader) && end == atom.end) {
        const auto header = reading.bytes(atom.payload_start, kTextHeader);
        if (!header) {
            return false;
        }
        if (!room_for(atom.payload_start + kTextHeader, end, *read_u16_be(*header, 0))) {
            return read_one_text(reading, atom, tag, reads);
        }
    }
    for (std::uint64_t pos = atom.payload_start; room_for(pos, end, kTextHeader);) {
        const auto header = reading.bytes(pos, kTextHeader);
        if (!header) {
            return false;
        }
        const std::uint16_t length = *read_u16_be(*header, 0);
        const std::uint16_t language = *read_u16_be(*header, 2);
        if (!room_for(pos + kTextHeader, end, length)) {
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
            return false;
        }
        TagValue& value = reading.new_value(tag);
        value.kind = text_kind(reads);
        // Under a Macintosh language code some writers store UTF-8 all the
        // same: bytes that are valid UTF-8 are hardly ever Mac Roman text.
        if (language >= kFirstIsoLanguage || is_valid_utf8(*text)) {
            utf8_text(*text, false, value.text);
        } else {
            mac_roman_text(*text, value.text);
        }
        value.language = language_text(language);
        value.bytes = {pos + kTextHeader, length};
        pos += kTextHeader + length;
    }
    return true;
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
    Reads reads = Reads::text;
    Tag& tag = start_tag(reading, atom, place, Store::quicktime, reads);
    const bool read = holds_data_atoms(reading, atom)
                          ? read_data_children(reading, atom, atom.payload_start, tag, reads)
                          : read_texts(reading, atom, place, tag, reads);
    if (read) {
        reading.hand_on(tag);
    }
}

void read_bare_text(TagReading& reading, const Atom& atom, Place place, Store labels) {
    Reads reads = Reads::text;
    Tag& tag = start_tag(reading, atom, place, labels, reads);
    if (read_one_text(reading, atom, tag, reads)) {
        reading.hand_on(tag);
    }
}

}  // namespace boxwalk
