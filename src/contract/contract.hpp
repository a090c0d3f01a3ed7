#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <vector>

// What the program tells the page and the scripts that read boxwalk-json:
// the kinds of its records and the names they go by, declared once. The
// page's side, contract.js, is written from these tables at build time by
// contract_js.cpp; no list here is kept by hand in JavaScript. Each table
// is a plain list, one row a kind: a kind is added by one enumerator and one
// row, and the build stops when the two disagree.
namespace boxwalk {

// The version of the objects boxwalk-json prints: raised when a field
// changes its meaning or goes away, not when one is added.
inline constexpr unsigned kSchemaVersion = 1;

// A kind, the name it goes by outside the program, and what it is.
template <typename Kind>
struct Named {
    Kind kind;
    std::string_view name;
    std::string_view about;
};

// True when row i of `table` names kind i: the rows follow the enumerators.
template <typename Kind, std::size_t N>
constexpr bool follows_enum(const std::array<Named<Kind>, N>& table) {
    for (std::size_t i = 0; i < N; ++i) {
        if (static_cast<std::size_t>(table[i].kind) != i || table[i].name.empty()) {
            return false;
        }
    }
    return true;
}

// The name of `kind` in `table`.
template <typename Kind, std::size_t N>
constexpr std::string_view name_of(const std::array<Named<Kind>, N>& table, Kind kind) {
    return table[static_cast<std::size_t>(kind)].name;
}

// What a line of the console's output shows.
enum class LineKind : std::uint8_t {
    none,
    moov,
    child,
    container,
    item_list,
    xtra,
    leaf,
    item,
    freeform,
    entry,
    malformed,
};

inline constexpr std::array kLineKinds = {
    Named<LineKind>{LineKind::none, "none", "a line that shows no bytes of the file"},
    Named<LineKind>{LineKind::moov, "moov", "the first top-level moov"},
    Named<LineKind>{LineKind::child, "child", "an atom directly inside that moov"},
    Named<LineKind>{LineKind::container, "container", "an atom walked into: meta, udta, trak, ..."},
    Named<LineKind>{LineKind::item_list, "ilst", "an item list, whose items are decoded"},
    Named<LineKind>{LineKind::xtra, "Xtra", "an Xtra atom, whose entries are decoded"},
    Named<LineKind>{LineKind::leaf, "leaf", "any other atom, with a preview of its payload"},
    Named<LineKind>{LineKind::item, "item", "an item-list item other than ----"},
    Named<LineKind>{LineKind::freeform, "freeform", "a ---- item"},
    Named<LineKind>{LineKind::entry, "entry", "an Xtra entry"},
    Named<LineKind>{LineKind::malformed, "malformed",
                    "an atom or Xtra entry that does not fit where it stands"},
};
static_assert(follows_enum(kLineKinds));

// A range of the file that a record does not have: a line that shows no
// bytes, an item without a value.
inline constexpr std::uint64_t kNoPosition = ~std::uint64_t{0};
// A line with no key, name or value of its own.
inline constexpr std::uint32_t kNoDetail = ~std::uint32_t{0};

// The console's lines as records, in columns, one value a line in each: how
// the page receives them (each column one typed array, in the order listed
// by visit_columns) and what boxwalk-json prints for each line.
struct LineColumns {
    // Where the line's text ends in the text of every line, its line feed
    // included: line i is text[end[i - 1], end[i]) (from 0 for the first).
    std::vector<std::uint64_t> end;
    // Its LineKind.
    std::vector<std::uint8_t> kind;
    // An atom's type code text, four characters as one big-endian number;
    // 0 for a line of no atom.
    std::vector<std::uint32_t> type;
    // The bytes it shows, as the header declares them (so possibly past the
    // file's end); kNoPosition when it shows none.
    std::vector<std::uint64_t> pos;
    std::vector<std::uint64_t> size;
    // Its row in DetailColumns: items, ---- items and Xtra entries; else
    // kNoDetail.
    std::vector<std::uint32_t> detail;
};

// What an item, a ---- item or an Xtra entry line holds: where its key, its
// name (a ---- item's) and its first value lie, and the value's type as
// stored. kNoPosition for a part it lacks.
struct DetailColumns {
    std::vector<std::uint32_t> line;
    std::vector<std::uint64_t> key_pos;
    std::vector<std::uint64_t> key_size;
    std::vector<std::uint64_t> name_pos;
    std::vector<std::uint64_t> name_size;
    std::vector<std::uint64_t> value_pos;
    std::vector<std::uint64_t> value_size;
    std::vector<std::uint32_t> value_type;
};

// An item's values after the first, for the sinks that want every value:
// the item's line, where the value lies and its type. A value at
// kNoPosition stands for more values than are reported.
struct ValueColumns {
    std::vector<std::uint32_t> line;
    std::vector<std::uint64_t> pos;
    std::vector<std::uint64_t> size;
    std::vector<std::uint32_t> type;
};

// Calls visit(name, column) for each column of `columns`, in the order the
// page receives them: the one list of their names.
template <typename Columns, typename Visit>
constexpr void visit_columns(Columns& columns, Visit&& visit) {
    using Plain = std::remove_const_t<Columns>;
    if constexpr (std::is_same_v<Plain, LineColumns>) {
        visit("end", columns.end);
        visit("kind", columns.kind);
        visit("type", columns.type);
        visit("pos", columns.pos);
        visit("size", columns.size);
        visit("detail", columns.detail);
    } else if constexpr (std::is_same_v<Plain, DetailColumns>) {
        visit("line", columns.line);
        visit("key_pos", columns.key_pos);
        visit("key_size", columns.key_size);
        visit("name_pos", columns.name_pos);
        visit("name_size", columns.name_size);
        visit("value_pos", columns.value_pos);
        visit("value_size", columns.value_size);
        visit("value_type", columns.value_type);
    } else {
        static_assert(std::is_same_v<Plain, ValueColumns>);
        visit("line", columns.line);
        visit("pos", columns.pos);
        visit("size", columns.size);
        visit("type", columns.type);
    }
}

// Where a tag is stored. A tag of a track says so apart (its track number),
// whatever its store.
enum class Store : std::uint8_t {
    item_list,
    xtra,
    keys,
    quicktime,
    assets,
    xmp,
    structure,
};

inline constexpr std::array kStores = {
    Named<Store>{Store::item_list, "ilst", "the item list, moov/udta/meta/ilst"},
    Named<Store>{Store::xtra, "Xtra", "the Xtra attribute store"},
    Named<Store>{Store::keys, "keys", "a meta of handler mdta: the keys table and its ilst"},
    Named<Store>{Store::quicktime, "quicktime", "QuickTime text atoms in udta"},
    Named<Store>{Store::assets, "3gpp", "3GPP asset atoms in udta"},
    Named<Store>{Store::xmp, "xmp", "an XMP packet"},
    Named<Store>{Store::structure, "structure",
                 "the atoms around the stores (moov, trak, udta, meta): named by damage only"},
};
static_assert(follows_enum(kStores));

// How a tag's value was read.
enum class ValueKind : std::uint8_t {
    text,
    integer,
    real,
    flag,
    pair,
    genre,
    choice,
    date,
    location,
    picture,
    bytes,
};

inline constexpr std::array kValueKinds = {
    Named<ValueKind>{ValueKind::text, "text", "text, whatever its encoding in the file"},
    Named<ValueKind>{ValueKind::integer, "integer", "a signed or unsigned integer"},
    Named<ValueKind>{ValueKind::real, "float", "a floating-point number"},
    Named<ValueKind>{ValueKind::flag, "flag", "yes or no"},
    Named<ValueKind>{ValueKind::pair, "pair", "a number of a total: track 3 of 12"},
    Named<ValueKind>{ValueKind::genre, "genre", "a genre stored as its number"},
    Named<ValueKind>{ValueKind::choice, "choice", "a number that names one of a set"},
    Named<ValueKind>{ValueKind::date, "date", "a date and time"},
    Named<ValueKind>{ValueKind::location, "location", "a place on Earth, in degrees"},
    Named<ValueKind>{ValueKind::picture, "picture", "a picture's bytes"},
    Named<ValueKind>{ValueKind::bytes, "bytes", "bytes not read as any of these"},
};
static_assert(follows_enum(kValueKinds));

// What a file's first bytes say it is.
enum class FileKind : std::uint8_t {
    mp4,
    empty,
    unknown,
    png,
    jpeg,
    gif,
    wav,
    mp3,
    ogg,
    flac,
    matroska,
    pdf,
    zip,
    text,
};

inline constexpr std::array kFileKinds = {
    Named<FileKind>{FileKind::mp4, "mp4", "an MP4-family file"},
    Named<FileKind>{FileKind::empty, "empty", "an empty file"},
    Named<FileKind>{FileKind::unknown, "unknown", "not an MP4-family file"},
    Named<FileKind>{FileKind::png, "png", "a PNG image"},
    Named<FileKind>{FileKind::jpeg, "jpeg", "a JPEG image"},
    Named<FileKind>{FileKind::gif, "gif", "a GIF image"},
    Named<FileKind>{FileKind::wav, "wav", "a WAV sound file"},
    Named<FileKind>{FileKind::mp3, "mp3", "an MP3 or ID3-tagged file"},
    Named<FileKind>{FileKind::ogg, "ogg", "an Ogg file"},
    Named<FileKind>{FileKind::flac, "flac", "a FLAC file"},
    Named<FileKind>{FileKind::matroska, "matroska", "a Matroska or WebM file"},
    Named<FileKind>{FileKind::pdf, "pdf", "a PDF document"},
    Named<FileKind>{FileKind::zip, "zip", "a ZIP archive"},
    Named<FileKind>{FileKind::text, "text", "a text file"},
};
static_assert(follows_enum(kFileKinds));

// The fields of boxwalk-json's objects, which the page's tag records share:
// each record's field names, declared here once. A range of the file is an
// array [offset, length] of exact 64-bit integers. A field whose value would
// be none, empty, false or track 0 is left out, unless its row says
// otherwise.

// One file's object, one line of boxwalk-json's output, its fields in this
// order.
enum class FileField : std::uint8_t {
    schema,
    path,
    size,
    lines,
    kind,
    description,
    brand,
    moov,
    tags,
    damage,
    xmp,
    error,
};

inline constexpr std::array kFileFields = {
    Named<FileField>{FileField::schema, "schema",
                     "the version of these objects, always there: 1"},
    Named<FileField>{FileField::path, "path", "the path as given, always there"},
    Named<FileField>{FileField::size, "size", "the file's length in bytes, once it is open"},
    Named<FileField>{FileField::lines, "lines",
                     "the console's lines after its empty line, in order; there once the "
                     "file is open"},
    Named<FileField>{FileField::kind, "kind", "what the file is, a name of fileKinds"},
    Named<FileField>{FileField::description, "description", "what the file is, in words"},
    Named<FileField>{FileField::brand, "brand", "the major brand of its ftyp"},
    Named<FileField>{FileField::moov, "moov", "the range of the first top-level moov"},
    Named<FileField>{FileField::tags, "tags",
                     "every tag, in the order found; there once the file is open"},
    Named<FileField>{FileField::damage, "damage",
                     "damage met reading the tags; there once the file is open"},
    Named<FileField>{FileField::xmp, "xmp", "the XMP packets; there once the file is open"},
    Named<FileField>{FileField::error, "error",
                     "why the file could not be read (\"read: ...\"): after the path when it "
                     "could not be opened, last when a later read failed"},
};
static_assert(follows_enum(kFileFields));

// A tag.
enum class TagField : std::uint8_t { store, track, key, mean, name, label, bytes, values };

inline constexpr std::array kTagFields = {
    Named<TagField>{TagField::store, "store", "where it is stored, a name of stores"},
    Named<TagField>{TagField::track, "track", "the track it belongs to, from 1"},
    Named<TagField>{TagField::key, "key", "the key as stored, as text"},
    Named<TagField>{TagField::mean, "mean", "a ---- item's mean"},
    Named<TagField>{TagField::name, "name", "a ---- item's name"},
    Named<TagField>{TagField::label, "label", "an English label for a well-known key"},
    Named<TagField>{TagField::bytes, "bytes", "the range of the atom or entry that holds it"},
    Named<TagField>{TagField::values, "values", "its values, in order; always there"},
};
static_assert(follows_enum(kTagFields));

// A value of a tag.
enum class ValueField : std::uint8_t { kind, type, text, cut, language, part, bytes };

inline constexpr std::array kValueFields = {
    Named<ValueField>{ValueField::kind, "kind", "how it was read, a name of valueKinds"},
    Named<ValueField>{ValueField::type, "type", "its type as the file stores it, a number"},
    Named<ValueField>{ValueField::text, "text", "the value as a person reads it; always there"},
    Named<ValueField>{ValueField::cut, "cut", "true when the text was cut short"},
    Named<ValueField>{ValueField::language, "language", "the language code stored with it"},
    Named<ValueField>{ValueField::part, "part",
                      "which part of its tag it is, where a tag holds several: a location's "
                      "name, role, coordinates, body and notes"},
    Named<ValueField>{ValueField::bytes, "bytes", "the range of its bytes"},
};
static_assert(follows_enum(kValueFields));

// Damage met while reading tags.
enum class DamageField : std::uint8_t { store, track, bytes, what };

inline constexpr std::array kDamageFields = {
    Named<DamageField>{DamageField::store, "store", "the store being read, a name of stores"},
    Named<DamageField>{DamageField::track, "track", "the track being read, from 1"},
    Named<DamageField>{DamageField::bytes, "bytes", "the range of what is damaged"},
    Named<DamageField>{DamageField::what, "what", "what is wrong and what it cost, in words"},
};
static_assert(follows_enum(kDamageFields));

// An XMP packet.
enum class XmpField : std::uint8_t { track, bytes, text, cut };

inline constexpr std::array kXmpFields = {
    Named<XmpField>{XmpField::track, "track", "the track it belongs to, from 1"},
    Named<XmpField>{XmpField::bytes, "bytes", "the range of the packet"},
    Named<XmpField>{XmpField::text, "text", "the packet's text; always there"},
    Named<XmpField>{XmpField::cut, "cut", "true when the text was cut short"},
};
static_assert(follows_enum(kXmpFields));

// A line of the console's output (see LineColumns).
enum class LineField : std::uint8_t {
    text,
    kind,
    type,
    bytes,
    key,
    name,
    value,
    value_type,
    values,
    more_values,
};

inline constexpr std::array kLineFields = {
    Named<LineField>{LineField::text, "text", "the line as printed, without its line feed"},
    Named<LineField>{LineField::kind, "kind", "what it shows, a name of lineKinds; always there"},
    Named<LineField>{LineField::type, "type", "the type code text of its atom"},
    Named<LineField>{LineField::bytes, "bytes",
                     "the range it shows, as the header declares it (may pass the file's end)"},
    Named<LineField>{LineField::key, "key", "the range of an item's key or an entry's name"},
    Named<LineField>{LineField::name, "name", "the range of a ---- item's name"},
    Named<LineField>{LineField::value, "value", "the range of the first value"},
    Named<LineField>{LineField::value_type, "value_type", "the first value's type as stored"},
    Named<LineField>{LineField::values, "values", "an item's values after the first"},
    Named<LineField>{LineField::more_values, "more_values",
                     "true when the item holds more values than listed"},
};
static_assert(follows_enum(kLineFields));

// An item's value after the first, on its line.
enum class OtherValueField : std::uint8_t { bytes, type };

inline constexpr std::array kOtherValueFields = {
    Named<OtherValueField>{OtherValueField::bytes, "bytes", "the range of the value"},
    Named<OtherValueField>{OtherValueField::type, "type", "its type as stored"},
};
static_assert(follows_enum(kOtherValueFields));

}  // namespace boxwalk
