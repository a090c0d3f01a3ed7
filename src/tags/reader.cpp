#include "tags/reader.hpp"

#include <algorithm>
#include <array>

#include "primitives/text.hpp"
#include "tags/file_kind.hpp"
#include "tags/reading.hpp"

namespace boxwalk {
namespace {

// The user type of a uuid atom that holds XMP.
constexpr std::array<std::uint8_t, 16> kXmpUuid = {0xBE, 0x7A, 0xCF, 0xCB, 0x97, 0xA9, 0x42, 0xE8,
                                                   0x9C, 0x71, 0x99, 0x94, 0x91, 0xE3, 0xAF, 0xAC};

constexpr std::string_view kMdta = "mdta";

// A meta atom's first child. QuickTime's meta has none of the version and
// flags that ISO's has before it: its first child, the handler, stands
// where they would, and a child is never of size 0.
std::uint64_t meta_children_start(TagReading& reading, const Atom& meta) {
    if (!room_for(meta.payload_start, std::min(meta.end, reading.size()), 8)) {
        return meta.payload_start;
    }
    const auto head = reading.bytes(meta.payload_start, 8);
    const bool quicktime =
        head && (as_chars(head->subspan(4)) == "hdlr" || read_u32_be(*head, 0) != 0u);
    return quicktime ? meta.payload_start : meta.payload_start + 4;
}

// The handler type of an hdlr atom: after version and flags and a
// predefined word. Empty when the atom is too short.
std::string handler_type(TagReading& reading, const Atom& hdlr) {
    const FileRange payload = inside(hdlr, hdlr.payload_start, reading.size());
    if (payload.size < 12) {
        return {};
    }
    const auto bytes = reading.bytes(payload.pos + 8, 4);
    return bytes ? std::string(as_chars(*bytes)) : std::string();
}

// A trak atom: its udta and meta atoms, as track `place.track`'s.
void read_track(TagReading& reading, const Atom& trak, Place place) {
    walk_children(reading, trak, trak.payload_start, Store::structure, place,
                  [&](const Atom& child) {
                      if (child.is("udta")) {
                          read_user_data(reading, child, place.deeper());
                          return true;
                      }
                      if (child.is("meta")) {
                          read_meta(reading, child, place.deeper());
                          return true;
                      }
                      return false;
                  });
}

// moov: its udta and meta atoms, and those of each track, the tracks
// counted from 1 in the order moov holds them.
void read_movie(TagReading& reading, const Atom& moov) {
    unsigned track = 0;
    walk_children(reading, moov, moov.payload_start, Store::structure, Place{},
                  [&](const Atom& child) {
                      if (child.is("udta")) {
                          read_user_data(reading, child, Place{0, 1});
                          return true;
                      }
                      if (child.is("meta")) {
                          read_meta(reading, child, Place{0, 1});
                          return true;
                      }
                      if (child.is("trak")) {
                          read_track(reading, child, Place{++track, 0});
                          return true;
                      }
                      return false;
                  });
}

// The first of the type bytes of `atom`, whose header was read last.
std::uint8_t first_type_byte(TagReading& reading, const Atom& atom) {
    const ByteView held = reading.source().held(atom.pos + 4);
    if (!held.empty()) {
        return held[0];
    }
    const auto type = reading.bytes(atom.pos + 4, 1);
    return type ? (*type)[0] : 0;
}

// True when `atom`, a uuid atom, has the user type of XMP.
bool holds_xmp(TagReading& reading, const Atom& atom) {
    if (!room_for(atom.payload_start, std::min(atom.end, reading.size()), kXmpUuid.size())) {
        return false;
    }
    const auto user_type = reading.bytes(atom.payload_start, kXmpUuid.size());
    return user_type && std::equal(user_type->begin(), user_type->end(), kXmpUuid.begin());
}

// The top level: what the file is, its brand, the first moov and the XMP
// of uuid atoms.
void read_top_level(TagReading& reading) {
    TagReport& report = reading.report();
    const std::uint64_t size = reading.size();
    if (size == 0) {
        report.kind = FileKind::empty;
        return;
    }
    bool mp4 = false;
    {
        const auto head = reading.head({0, size}, kSniffLength);
        if (!head) {
            return;
        }
        const auto size32 = read_u32_be(*head, 0);
        mp4 = head->size() >= 8 && (*size32 <= 1 || *size32 >= 8) &&
              is_top_level_type(head->subspan(4, 4));
        report.kind = mp4 ? FileKind::mp4 : file_kind(*head);
    }
    const Store store = Store::structure;
    for (std::uint64_t pos = 0; room_for(pos, size, 8) && !reading.failed();) {
        Atom atom;
        if (!reading.atom(pos, atom)) {
            if (mp4) {
                reading.damage(store, {}, {pos, size - pos},
                               "the file ends at " + grouped(size) +
                                   ", inside the 64-bit header of an atom at " + grouped(pos));
            }
            return;
        }
        if (!atom.whole()) {
            if (mp4) {
                reading.damage(store, {}, declared(atom),
                               atom_key(reading, atom) + " at " + grouped(pos) + " declares " +
                                   grouped(atom.header.size) +
                                   " bytes, fewer than its header: the rest of the file, " +
                                   grouped(size - pos) + " bytes, not read");
            }
            return;
        }
        bool walked_in = false;
        if (pos == 0 && atom.is("ftyp")) {
            if (room_for(atom.payload_start, std::min(atom.end, size), 4)) {
                const auto brand = reading.bytes(atom.payload_start, 4);
                report.brand = brand ? latin1_text(*brand) : std::string();
            }
        } else if (atom.is("moov") && !report.moov) {
            mp4 = true;
            report.kind = FileKind::mp4;
            report.moov = declared(atom);
            read_movie(reading, atom);
            walked_in = true;
        } else if (mp4 && atom.is("uuid") && holds_xmp(reading, atom)) {
            read_xmp(reading, atom, atom.payload_start + kXmpUuid.size(), Place{});
        }
        if (atom.end > size) {
            if (mp4 && !walked_in) {
                reading.damage(damaged_store(reading, atom, store), {}, declared(atom),
                               atom_key(reading, atom) + " of " + grouped(atom.header.size) +
                                   " bytes at " + grouped(pos) +
                                   " is cut short by the end of the file at " + grouped(size) +
                                   ": its last " + grouped(atom.end - size) + " bytes are missing");
            }
            return;
        }
        pos = atom.end;
    }
}

}  // namespace

std::string atom_key(TagReading& reading, const Atom& atom) {
    std::string key;
    atom_key(reading, atom, key);
    return key;
}

void atom_key(TagReading& reading, const Atom& atom, std::string& key) {
    const std::string_view shown = atom.type();
    // Most types are printable: their text is the bytes.
    if (std::none_of(shown.begin(), shown.end(), [](char c) { return c == '@' || c == '?'; })) {
        key.assign(shown);
        return;
    }
    // The header was read last: its type bytes are at hand.
    ByteView type = reading.source().held(atom.pos + 4);
    if (type.size() < 4) {
        const auto read = reading.bytes(atom.pos + 4, 4);
        if (!read) {
            key.assign(shown);
            return;
        }
        type = *read;
    }
    latin1_text(type.first(4), key);
}

Store damaged_store(TagReading& reading, const Atom& atom, Store otherwise) {
    // Inside a store, its own items are damaged, whatever their types.
    if (otherwise != Store::structure) {
        return otherwise;
    }
    if (atom.is("ilst")) {
        return Store::item_list;
    }
    if (atom.is("Xtra")) {
        return Store::xtra;
    }
    if (atom.is("keys")) {
        return Store::keys;
    }
    if (atom.is("XMP_") || (atom.is("uuid") && holds_xmp(reading, atom))) {
        return Store::xmp;
    }
    if (is_asset(atom)) {
        return Store::assets;
    }
    if (atom.is("name") || (atom.type()[0] == '@' && first_type_byte(reading, atom) == 0xA9)) {
        return Store::quicktime;
    }
    return otherwise;
}

std::string unread_bytes(TagReading& reading, const Atom& parent, std::uint64_t stop) {
    return "the rest of " + atom_key(reading, parent) + ", " + grouped(parent.end - stop) +
           " bytes, not read";
}

void read_user_data(TagReading& reading, const Atom& udta, Place place) {
    if (place.depth > kDeepest) {
        reading.damage(Store::structure, place, declared(udta),
                       "udta at " + grouped(udta.pos) + " nested deeper than " + grouped(kDeepest) +
                           " levels: not read");
        return;
    }
    walk_children(
        reading, udta, udta.payload_start, Store::structure, place, [&](const Atom& child) {
            if (child.is("meta")) {
                read_meta(reading, child, place.deeper());
                return true;
            }
            if (child.is("udta")) {
                read_user_data(reading, child, place.deeper());
                return true;
            }
            if (child.is("Xtra")) {
                read_xtra(reading, child, place);
            } else if (child.is("XMP_")) {
                read_xmp(reading, child, child.payload_start, place);
            } else if (child.is("name")) {
                read_bare_text(reading, child, place);
            } else if (child.type()[0] == '@' && first_type_byte(reading, child) == 0xA9) {
                read_quicktime_text(reading, child, place);
            } else {
                read_asset(reading, child, place);
            }
            return false;
        });
}

void read_meta(TagReading& reading, const Atom& meta, Place place) {
    if (place.depth > kDeepest) {
        reading.damage(Store::structure, place, declared(meta),
                       "meta at " + grouped(meta.pos) + " nested deeper than " + grouped(kDeepest) +
                           " levels: not read");
        return;
    }
    const std::uint64_t start = meta_children_start(reading, meta);
    // The handler and the keys table come first, wherever they stand: the
    // item list is read by them. A first look, that reports nothing.
    std::string handler;
    std::optional<Atom> keys_atom;
    for (std::uint64_t pos = start; room_for(pos, std::min(meta.end, reading.size()), 8);) {
        Atom child;
        if (!reading.atom(pos, child) || !child.within(std::min(meta.end, reading.size()))) {
            break;
        }
        if (child.is("hdlr") && handler.empty()) {
            handler = handler_type(reading, child);
        } else if (child.is("keys") && !keys_atom) {
            keys_atom = child;
        }
        pos = child.end;
    }
    std::optional<KeyTable> keys;
    if (keys_atom) {
        keys = read_keys(reading, *keys_atom, place);
    } else if (handler == kMdta) {
        keys.emplace();
    }
    walk_children(reading, meta, start, Store::structure, place, [&](const Atom& child) {
        if (child.is("ilst")) {
            read_item_list(reading, child, place, keys ? &*keys : nullptr);
            return true;
        }
        if (child.is("meta")) {
            read_meta(reading, child, place.deeper());
            return true;
        }
        return false;
    });
}

TagReport read_tags(Source& source) {
    // Each tag moved into the report as it comes.
    class Collect final : public TagSink {
    public:
        explicit Collect(std::vector<Tag>& tags) : tags_(tags) {}
        void take(Tag& tag) override { tags_.push_back(std::move(tag)); }

    private:
        std::vector<Tag>& tags_;
    };
    TagReport report;
    Collect collect(report.tags);
    read_tags(source, report, collect);
    return report;
}

void read_tags(Source& source, TagReport& report, TagSink& sink) {
    TagReading reading(source, report, sink);
    read_top_level(reading);
}

}  // namespace boxwalk
