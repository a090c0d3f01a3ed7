#include "support/atoms.hpp"

namespace boxwalk::test {

Bytes be16(std::uint16_t value) {
    return {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

Bytes be32(std::uint32_t value) {
    Bytes bytes;
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
    return bytes;
}

Bytes be64(std::uint64_t value) {
    Bytes bytes;
    for (int shift = 56; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
    return bytes;
}

Bytes le64(std::uint64_t value) {
    Bytes bytes;
    for (int shift = 0; shift < 64; shift += 8) {
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
    return bytes;
}

Bytes raw(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes zeros(std::size_t count) {
    return Bytes(count, 0);
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes bytes;
    for (const Bytes& part : parts) {
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return bytes;
}

Bytes atom_sized(std::uint32_t size32, std::string_view type, const Bytes& payload) {
    return cat({be32(size32), raw(type), payload});
}

Bytes atom(std::string_view type, const Bytes& payload) {
    return atom_sized(static_cast<std::uint32_t>(8 + payload.size()), type, payload);
}

Bytes atom64_sized(std::uint64_t size, std::string_view type, const Bytes& payload) {
    return cat({be32(1), raw(type), be64(size), payload});
}

Bytes atom64(std::string_view type, const Bytes& payload) {
    return atom64_sized(16 + payload.size(), type, payload);
}

Bytes meta(const Bytes& children) {
    return atom("meta", cat({be32(0), children}));
}

Bytes data_atom(std::uint32_t indicator, const Bytes& value) {
    return atom("data", cat({be32(indicator), be32(0), value}));
}

Bytes text_atom(std::string_view type, std::string_view text) {
    return atom(type, cat({be32(0), raw(text)}));
}

Bytes xtra_entry(std::string_view name, std::uint32_t count, std::uint16_t value_type,
                 const Bytes& value_data) {
    const Bytes value = cat({be32(static_cast<std::uint32_t>(6 + value_data.size())),
                             be16(value_type), value_data});
    const Bytes body = cat({be32(static_cast<std::uint32_t>(name.size())), raw(name), be32(count),
                            value});
    return cat({be32(static_cast<std::uint32_t>(4 + body.size())), body});
}

Bytes sample_song() {
    const Bytes ilst = atom(
        "ilst",
        cat({atom("\xA9nam", data_atom(1, raw("Song"))),
             atom("tmpo", data_atom(21, {0x01, 0x2C})),
             atom("----", cat({text_atom("mean", "tools"), text_atom("name", "KEY"),
                               data_atom(1, raw("ok"))}))}));
    const Bytes xtra = atom(
        "Xtra", cat({xtra_entry("Title", 1, 8, {'H', 0, 'i', 0, 0, 0}),
                     xtra_entry("Counter", 1, 19, le64(42))}));
    const Bytes udta = atom("udta", cat({meta(cat({atom("free", {1, 2, 3, 4}), ilst})), xtra}));
    return cat({atom("ftyp", zeros(16)), atom("moov", cat({atom("mvhd", zeros(8)), udta})),
                atom("mdat", zeros(16))});
}

Bytes sample_damaged() {
    // The second item claims more bytes than the list holds, so the list
    // ends before it and the third item is never reached.
    const Bytes ilst = atom(
        "ilst", cat({atom("\xA9nam", data_atom(1, raw("Song"))),
                     atom_sized(200, "\xA9wrt", data_atom(1, raw("Composer"))),
                     atom("\xA9too", data_atom(1, raw("Encoder")))}));
    // An entry that claims 40 bytes with 12 left, then a name longer than
    // its entry.
    const Bytes entry_past_end = atom(
        "Xtra", cat({xtra_entry("Title", 1, 8, {'H', 0, 'i', 0, 0, 0}), be32(40), zeros(8)}));
    const Bytes name_past_entry = atom("Xtra", cat({be32(16), be32(20), raw("Rating"), zeros(2)}));
    const Bytes udta = atom("udta", cat({meta(ilst), entry_past_end, name_past_entry,
                                         atom("cprt", raw("(c) 2026 Example Records"))}));
    Bytes file = cat({atom("ftyp", zeros(16)), atom("moov", cat({atom("mvhd", zeros(8)), udta}))});
    // Cut short inside cprt, as by an interrupted download.
    file.resize(file.size() - 12);
    return file;
}

}  // namespace boxwalk::test
