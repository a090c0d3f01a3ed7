#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "contract/contract.hpp"
#include "primitives/output.hpp"

// What the tag reader finds in a file: every tag wherever it is stored, one
// record a tag, with every value; what the file is; and the damage met on
// the way. The page and boxwalk-json both show these records; the console's
// lines are made apart and never from them. Every text here is valid UTF-8,
// whatever the file held.
namespace boxwalk {

// One value of a tag.
struct TagValue {
    ValueKind kind = ValueKind::bytes;
    // The type as the file stores it, where it stores one: an item's data
    // type indicator, an Xtra value's type, a keys item's type.
    std::optional<std::uint32_t> stored_type;
    // The value as a person reads it: the text, "3 of 12", "Rock", "yes",
    // "+48.8577+002.2945/", "2023-01-02 03:04:05 UTC"; for bytes not read as
    // anything, their hex. Cut at a character's end when it is long (`cut`).
    std::string text;
    bool cut = false;
    // The language code stored with it (QuickTime text, 3GPP assets), as
    // three ISO 639-2/T letters ("eng"), or empty.
    std::string language;
    // Which part of its tag the value is, where a tag holds parts of several
    // kinds: a 3GPP location's "name", "role", "coordinates", "body" and
    // "notes"; an album's "track"; a classification's or rating's "entity",
    // "table" and "criteria". Empty for a tag's own value or values.
    std::string part;
    // Where its bytes lie in the file.
    FileRange bytes;
};

// One tag.
struct Tag {
    Store store = Store::item_list;
    // 0 for the movie's own tags; N for the Nth trak of moov, from 1.
    unsigned track = 0;
    // The key as stored, as text: an item's four type bytes (0xA9 as ©), a
    // keys entry's name (com.apple.quicktime.make), an Xtra entry's name, an
    // asset's type, an XMP property's qualified name (dc:title).
    std::string key;
    // A ---- item's mean and name; empty for others.
    std::string mean;
    std::string name;
    // An English label for a well-known key ("Title"), or empty.
    std::string label;
    // The atom or entry that holds the tag.
    FileRange bytes;
    std::vector<TagValue> values;
};

// Damage met while reading tags: where, and what was lost.
struct Damage {
    Store store = Store::item_list;
    unsigned track = 0;
    FileRange bytes;
    // What is wrong and what it cost, as a sentence: "an item of 4,000,000
    // bytes runs past the end of its list at 2,345: 14 of 26 items read".
    std::string what;
};

// An XMP packet: where it lies, and its text (cut when it is long).
struct XmpPacket {
    unsigned track = 0;
    FileRange bytes;
    std::string text;
    bool cut = false;
};

// Everything the tag reader found in one file.
struct TagReport {
    FileKind kind = FileKind::unknown;
    // The major brand of ftyp, as text, when the file begins with one.
    std::string brand;
    // The first top-level moov, when there is one.
    std::optional<FileRange> moov;
    std::vector<Tag> tags;
    std::vector<XmpPacket> xmp;
    std::vector<Damage> damage;
};

}  // namespace boxwalk
