#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>

namespace boxwalk {

// A borrowed run of bytes: the loaded file or a payload inside it.
using ByteView = std::span<const std::uint8_t>;

inline constexpr std::uint64_t kBeyondEveryEnd = std::numeric_limits<std::uint64_t>::max();

// a + b, or kBeyondEveryEnd when the sum cannot be represented; such a sum
// lies beyond every end a caller compares it with.
constexpr std::uint64_t sat_add(std::uint64_t a, std::uint64_t b) {
    return b > kBeyondEveryEnd - a ? kBeyondEveryEnd : a + b;
}

// True when `count` bytes starting at `pos` lie before `end`.
constexpr bool room_for(std::uint64_t pos, std::uint64_t end, std::uint64_t count) {
    return pos <= end && count <= end - pos;
}

// True when `count` bytes starting at `pos` lie inside `bytes`.
constexpr bool fits(ByteView bytes, std::uint64_t pos, std::uint64_t count) {
    return room_for(pos, bytes.size(), count);
}

// The bytes from `pos` up to `end`; the caller has checked pos <= end <= size.
inline ByteView sub_view(ByteView bytes, std::uint64_t pos, std::uint64_t end) {
    return bytes.subspan(static_cast<std::size_t>(pos), static_cast<std::size_t>(end - pos));
}

// The unsigned `Width`-byte value at `pos`, big- or little-endian; empty
// when fewer than `Width` bytes remain.
template <typename T, std::size_t Width, bool BigEndian>
constexpr std::optional<T> read_uint(ByteView bytes, std::uint64_t pos) {
    if (!fits(bytes, pos, Width)) {
        return std::nullopt;
    }
    // Checked once above for all of its bytes.
    const std::uint8_t* const at = bytes.data() + pos;
    T value = 0;
    for (std::size_t i = 0; i < Width; ++i) {
        value = static_cast<T>((value << 8) | at[BigEndian ? i : Width - 1 - i]);
    }
    return value;
}

// True when every byte of `word` is printable ASCII (0x20..0x7E), all of
// them tested at once. A high bit marks a byte below 0x20, at 0x7F or from
// 0x80 on; a borrow or carry crosses into the next byte only from one that
// is marked itself, so the test is exact for the word as a whole.
template <std::unsigned_integral Word>
requires(sizeof(Word) >= sizeof(unsigned))  // no promotion to int
    constexpr bool all_printable_ascii(Word word) {
    constexpr Word kOnes = static_cast<Word>(~Word{0}) / 0xFF;
    return ((((word - kOnes * 0x20) & ~word) | ((word + kOnes) | word)) & (kOnes * 0x80)) == 0;
}

constexpr std::optional<std::uint16_t> read_u16_be(ByteView bytes, std::uint64_t pos) {
    return read_uint<std::uint16_t, 2, true>(bytes, pos);
}

constexpr std::optional<std::uint32_t> read_u32_be(ByteView bytes, std::uint64_t pos) {
    return read_uint<std::uint32_t, 4, true>(bytes, pos);
}

constexpr std::optional<std::uint64_t> read_u64_be(ByteView bytes, std::uint64_t pos) {
    return read_uint<std::uint64_t, 8, true>(bytes, pos);
}

constexpr std::optional<std::uint64_t> read_u64_le(ByteView bytes, std::uint64_t pos) {
    return read_uint<std::uint64_t, 8, false>(bytes, pos);
}

}  // namespace boxwalk
