#pragma once

// Builds atom bytes for tests: sizes are computed unless a case overrides
// them to make a malformed atom.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "primitives/bytes.hpp"

namespace boxwalk::test {

using Bytes = std::vector<std::uint8_t>;

Bytes be16(std::uint16_t value);
Bytes be32(std::uint32_t value);
Bytes be64(std::uint64_t value);
Bytes le64(std::uint64_t value);
// The bytes of `text` as they are (no terminator).
Bytes raw(std::string_view text);
Bytes zeros(std::size_t count);
Bytes cat(std::initializer_list<Bytes> parts);

// An atom with an 8-byte header whose size field is the computed size.
Bytes atom(std::string_view type, const Bytes& payload = {});
// An atom whose 32-bit size field holds `size32` whatever the payload.
Bytes atom_sized(std::uint32_t size32, std::string_view type, const Bytes& payload = {});
// An atom with a 16-byte header (size field 1) and the computed 64-bit size.
Bytes atom64(std::string_view type, const Bytes& payload = {});
// An atom with a 16-byte header whose 64-bit size holds `size`.
Bytes atom64_sized(std::uint64_t size, std::string_view type, const Bytes& payload = {});

// meta with its 4-byte version and flags field (zero) before `children`.
Bytes meta(const Bytes& children);
// A data atom: type indicator, locale 0, value.
Bytes data_atom(std::uint32_t indicator, const Bytes& value);
// A mean or name atom: version and flags 0, then the text bytes.
Bytes text_atom(std::string_view type, std::string_view text);

// One Xtra entry with a single value; sizes computed.
Bytes xtra_entry(std::string_view name, std::uint32_t count, std::uint16_t value_type,
                 const Bytes& value_data);

// The 294-byte song.m4a shipped as the sample: ftyp, moov (mvhd, udta with
// meta/ilst and Xtra), mdat.
Bytes sample_song();
// damaged.m4a, the README's damaged sample: an item list that ends early,
// an Xtra entry and an Xtra name that overrun, and a file cut short.
Bytes sample_damaged();

inline ByteView view(const Bytes& bytes) {
    return ByteView(bytes.data(), bytes.size());
}

}  // namespace boxwalk::test
