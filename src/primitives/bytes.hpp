#pragma once

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

// Big-endian unsigned 16-bit value at `pos`; empty when fewer than 2 bytes remain.
constexpr std::optional<std::uint16_t> read_u16_be(ByteView bytes, std::uint64_t pos) {
    if (!fits(bytes, pos, 2)) {
        return std::nullopt;
    }
    const auto at = static_cast<std::size_t>(pos);
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

// Big-endian unsigned 32-bit value at `pos`; empty when fewer than 4 bytes remain.
constexpr std::optional<std::uint32_t> read_u32_be(ByteView bytes, std::uint64_t pos) {
    if (!fits(bytes, pos, 4)) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = (value << 8) | bytes[static_cast<std::size_t>(pos) + i];
    }
    return value;
}

// Big-endian unsigned 64-bit value at `pos`; empty when fewer than 8 bytes remain.
constexpr std::optional<std::uint64_t> read_u64_be(ByteView bytes, std::uint64_t pos) {
    if (!fits(bytes, pos, 8)) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        value = (value << 8) | bytes[static_cast<std::size_t>(pos) + i];
    }
    return value;
}

// Little-endian unsigned 64-bit value at `pos`; empty when fewer than 8 bytes remain.
constexpr std::optional<std::uint64_t> read_u64_le(ByteView bytes, std::uint64_t pos) {
    if (!fits(bytes, pos, 8)) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 8; i-- > 0;) {
        value = (value << 8) | bytes[static_cast<std::size_t>(pos) + i];
    }
    return value;
}

}  // namespace boxwalk
