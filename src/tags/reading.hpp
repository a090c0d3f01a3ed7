#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "primitives/atom.hpp"
#include "source/source.hpp"
#include "tags/known.hpp"
#include "tags/reader.hpp"
#include "tags/record.hpp"
#include "tags/values.hpp"

// What the readers of each store share: the source, the report they add to,
// the walk of an atom's children, and each store's reader.
namespace boxwalk {

// How deep udta and meta atoms nest before the reader stops going in.
inline constexpr unsigned kDeepest = 8;

// Where a reader stands: the track whose tags it reads (0 for the movie's
// own) and how many udta and meta atoms hold it.
struct Place {
    unsigned track = 0;
    unsigned depth = 0;

    Place deeper() const { return {track, depth + 1}; }
};

// One reading of a file's tags. Tags go to the sink in the order the file
// holds them, and only whole: once a read fails nothing more is added, so
// that a reading that fails holds the start of what a whole one holds. The
// rest of what is found goes into `report`.
class TagReading {
public:
    TagReading(Source& source, TagReport& report, TagSink& sink)
        : source_(source), report_(report), sink_(sink) {}

    Source& source() { return source_; }
    TagReport& report() { return report_; }
    std::uint64_t size() const { return source_.size(); }
    bool failed() const { return source_.failed(); }

    // The `count` bytes at `pos`, which the caller has found inside the
    // file; empty once a read has failed. Lent until the next read.
    std::optional<ByteView> bytes(std::uint64_t pos, std::size_t count) {
        const ByteView got = source_.read(pos, count);
        if (got.size() < count || source_.failed()) {
            return std::nullopt;
        }
        return got;
    }

    // The first `most` bytes of `range` (all of them when fewer), which lies
    // inside the file.
    std::optional<ByteView> head(FileRange range, std::size_t most) {
        return bytes(range.pos,
                     static_cast<std::size_t>(std::min<std::uint64_t>(range.size, most)));
    }

    // The atom at `pos`; false when its header is not inside the file or a
    // read failed.
    bool atom(std::uint64_t pos, Atom& atom) {
        // Most headers lie whole in the bytes at hand.
        const ByteView held = source_.held(pos);
        return held.size() >= kLongestHeader ? read_atom_head(held, pos, size(), atom)
                                             : read_atom(source_, pos, atom);
    }

    void damage(Store store, Place place, FileRange bytes, std::string what) {
        if (!failed()) {
            report_.damage.push_back(Damage{store, place.track, bytes, std::move(what)});
        }
    }

    // The tag to fill next, empty but for these fields. Its storage, and
    // that of its values, is the last tag's: a long list of tags is read
    // without allocating for each.
    Tag& new_tag(Store store, unsigned track, FileRange bytes) {
        // The last tag's values become spare, most often by a swap.
        if (spare_values_.empty()) {
            tag_.values.swap(spare_values_);
        } else {
            std::move(tag_.values.begin(), tag_.values.end(), std::back_inserter(spare_values_));
            tag_.values.clear();
        }
        tag_.store = store;
        tag_.track = track;
        tag_.key.clear();
        tag_.mean.clear();
        tag_.name.clear();
        tag_.label.clear();
        tag_.bytes = bytes;
        return tag_;
    }
    // A new value at the end of `tag`'s, empty.
    TagValue& new_value(Tag& tag) {
        if (spare_values_.empty()) {
            return tag.values.emplace_back();
        }
        TagValue& value = tag.values.emplace_back(std::move(spare_values_.back()));
        spare_values_.pop_back();
        value.kind = ValueKind::bytes;
        value.stored_type.reset();
        value.text.clear();
        value.cut = false;
        value.language.clear();
        value.part.clear();
        value.bytes = {};
        return value;
    }
    // Hands `tag` on, whole, unless a read has failed.
    void hand_on(Tag& tag) {
        if (!failed()) {
            sink_.take(tag);
        }
    }

private:
    Source& source_;
    TagReport& report_;
    TagSink& sink_;
    Tag tag_;
    std::vector<TagValue> spare_values_;
};

// The part of `atom`'s payload from `from` on that lies inside a file of
// `size` bytes.
inline FileRange inside(const Atom& atom, std::uint64_t from, std::uint64_t size) {
    const std::uint64_t end = std::min(atom.end, size);
    return from < end ? FileRange{from, end - from} : FileRange{from, 0};
}

// An atom's declared range, for damage.
inline FileRange declared(const Atom& atom) { return {atom.pos, atom.header.size}; }

// The type of `atom` as the records name it: its four type bytes as text,
// 0xA9 as ©.
std::string atom_key(TagReading& reading, const Atom& atom);
void atom_key(TagReading& reading, const Atom& atom, std::string& key);

// The store that damage to `atom`, met in a walk for `otherwise`, costs:
// inside a store, that store; among the atoms around the stores, that of
// the tag or tags `atom` holds by its type (an asset, Xtra, XMP, ...), or
// `otherwise` for the atoms around them.
Store damaged_store(TagReading& reading, const Atom& atom, Store otherwise);

// How a walk of an atom's children ended.
struct WalkEnd {
    bool damaged = false;
    std::size_t taken = 0;   // children handed over
    std::uint64_t stop = 0;  // where the walk stopped
};

// Says what a walk lost when it stopped at `end.stop` inside `parent`: the
// default says how many of its bytes were left unread.
std::string unread_bytes(TagReading& reading, const Atom& parent, std::uint64_t stop);

// Hands each child of `parent` from `start` on to `take(child)`, in order.
// A child shorter than its header or running past its parent ends the walk
// as damage of `store`, and so does the end of the file inside the parent;
// `lost(end)` then says what that cost. `take` returns true when it walks
// into the child and so reports the file's end inside it itself; for any
// other child that the file's end cuts short the walk reports it. Fewer than
// 8 bytes left at the end are padding and end the walk quietly.
template <typename Take, typename Lost>
WalkEnd walk_children(TagReading& reading, const Atom& parent, std::uint64_t start, Store store,
                      Place place, Take&& take, Lost&& lost) {
    WalkEnd end;
    const std::uint64_t size = reading.size();
    std::uint64_t pos = start;
    const auto stop = [&](FileRange bytes, const std::string& what) {
        end.damaged = true;
        end.stop = pos;
        reading.damage(store, place, bytes, what + ": " + lost(end));
        return end;
    };
    for (; room_for(pos, parent.end, 8) && !reading.failed(); ++end.taken) {
        if (!room_for(pos, size, 8)) {
            return stop(declared(parent), "the file ends at " + grouped(size) + ", inside " +
                                              atom_key(reading, parent) + " of " +
                                              grouped(parent.header.size) + " bytes at " +
                                              grouped(parent.pos));
        }
        Atom child;
        if (!reading.atom(pos, child)) {
            if (reading.failed()) {
                break;
            }
            return stop(FileRange{pos, size - pos},
                        "the file ends at " + grouped(size) +
                            ", inside the 64-bit header of an atom at " + grouped(pos));
        }
        if (!child.whole()) {
            store = damaged_store(reading, child, store);
            return stop(declared(child), atom_key(reading, child) + " at " + grouped(pos) +
                                             " declares " + grouped(child.header.size) +
                                             " bytes, fewer than its header");
        }
        if (child.end > parent.end) {
            store = damaged_store(reading, child, store);
            return stop(declared(child),
                        atom_key(reading, child) + " of " + grouped(child.header.size) +
                            " bytes at " + grouped(pos) + " runs past the end of " +
                            atom_key(reading, parent) + " at " + grouped(parent.end));
        }
        const bool walked_in = take(child);
        if (child.end > size) {
            end.taken += 1;
            end.stop = size;
            end.damaged = !walked_in;
            if (!walked_in) {
                reading.damage(damaged_store(reading, child, store), place, declared(child),
                               atom_key(reading, child) + " of " + grouped(child.header.size) +
                                   " bytes at " + grouped(child.pos) +
                                   " is cut short by the end of the file at " + grouped(size) +
                                   ": its last " + grouped(child.end - size) +
                                   " bytes are missing");
            }
            return end;
        }
        pos = child.end;
    }
    end.stop = pos;
    return end;
}

// walk_children saying how many bytes were left unread.
template <typename Take>
WalkEnd walk_children(TagReading& reading, const Atom& parent, std::uint64_t start, Store store,
                      Place place, Take&& take) {
    return walk_children(
        reading, parent, start, store, place, std::forward<Take>(take),
        [&](const WalkEnd& end) { return unread_bytes(reading, parent, end.stop); });
}

// The readers of each store. Each adds what it finds to the report.

// A udta atom: the stores it holds, nested udta and meta atoms included.
void read_user_data(TagReading& reading, const Atom& udta, Place place);
// A meta atom: an item list, numbered by a keys table when its handler is
// mdta, and nested meta atoms.
void read_meta(TagReading& reading, const Atom& meta, Place place);

// A keys table: the names of an mdta item list's items, by number from 1.
class KeyTable {
public:
    std::size_t size() const { return spans_.size(); }
    // The name of key `number`, from 1; empty for none.
    std::optional<std::string_view> name(std::uint64_t number) const {
        if (number == 0 || number > spans_.size()) {
            return std::nullopt;
        }
        const auto [pos, length] = spans_[static_cast<std::size_t>(number - 1)];
        return std::string_view(names_).substr(pos, length);
    }
    void add(std::string_view name) {
        spans_.emplace_back(names_.size(), name.size());
        names_.append(name);
    }

private:
    // One string for all names: a table of many short names stays as large
    // as the bytes that hold it.
    std::string names_;
    std::vector<std::pair<std::size_t, std::size_t>> spans_;
};

// The names of a keys atom; the entries read before damage or a failed read.
KeyTable read_keys(TagReading& reading, const Atom& keys, Place place);
// An ilst atom's items: four type bytes as their keys, or with `keys`
// numbers into that table.
void read_item_list(TagReading& reading, const Atom& ilst, Place place, const KeyTable* keys);
// The data children of an item from `start` on into `tag`'s values, read as
// `reads` says; false when a read failed.
bool read_data_children(TagReading& reading, const Atom& item, std::uint64_t start, Tag& tag,
                        Reads reads);

// An Xtra atom's entries, each a tag with every value.
void read_xtra(TagReading& reading, const Atom& xtra, Place place);
// A QuickTime text atom (©xxx) of udta.
void read_quicktime_text(TagReading& reading, const Atom& atom, Place place);
// An atom of udta that holds a text alone, as QuickTime's name atom does:
// a QuickTime tag, labelled as in `labels`.
void read_bare_text(TagReading& reading, const Atom& atom, Place place,
                    Store labels = Store::quicktime);
// A 3GPP asset atom of udta; false, reading nothing, for other atoms.
bool read_asset(TagReading& reading, const Atom& atom, Place place);
// True when `atom` is one of the 3GPP assets read_asset reads.
bool is_asset(const Atom& atom);
// An XMP packet: the payload of `holder` from `start` on.
void read_xmp(TagReading& reading, const Atom& holder, std::uint64_t start, Place place);

}  // namespace boxwalk
