#include "primitives/render.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "primitives/text.hpp"

namespace boxwalk {
namespace {

using detail::kByteClass;
using detail::kSpacedHex;
using enum detail::ByteClass;

// Each byte's two hex digits, in order.
constexpr auto kHexPairs = [] {
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::array<char, 512> pairs{};
    for (std::size_t byte = 0; byte < 256; ++byte) {
        pairs[2 * byte] = kDigits[byte >> 4];
        pairs[2 * byte + 1] = kDigits[byte & 0x0F];
    }
    return pairs;
}();

// Each byte as two hex digits, a space between neighbours.
void write_spaced_hex(Output& out, ByteView bytes) {
    // In batches of 16 that fit the room, eight at a time where they can
    // be: each byte three characters and one more stored past them.
    constexpr std::size_t kBatch = 16;
    static_assert(kBatch * 3 + 1 <= Output::kRoom);
    const std::uint8_t* at = bytes.data();
    const std::uint8_t* const end = at + bytes.size();
    while (at != end) {
        char* text = out.room();
        const std::uint8_t* const stop =
            at + std::min<std::size_t>(static_cast<std::size_t>(end - at), kBatch);
        for (; stop - at >= 8; at += 8, text += 24) {
            for (std::size_t i = 0; i < 8; ++i) {
                std::memcpy(text + 3 * i, kSpacedHex[at[i]].data(), 4);
            }
        }
        for (; at != stop; ++at, text += 3) {
            std::memcpy(text, kSpacedHex[*at].data(), 4);
        }
        // No space after the last byte.
        out.commit(at == end ? text - 1 : text);
    }
}

// The classes of the bytes of `bytes`, or-ed together; eight at a time.
std::uint8_t byte_classes(ByteView bytes) {
    const std::uint8_t* at = bytes.data();
    const std::uint8_t* const end = at + bytes.size();
    unsigned classes = kPrintable;
    for (; end - at >= 8; at += 8) {
        for (std::size_t i = 0; i < 8; ++i) {
            classes |= kByteClass[at[i]];
        }
    }
    for (; at != end; ++at) {
        classes |= kByteClass[*at];
    }
    return static_cast<std::uint8_t>(classes);
}

// The preview of text that is not plain ASCII: without its trailing NUL
// bytes, each line feed as \n.
[[gnu::noinline]] void write_text_preview(Output& out, ByteView shown) {
    // The loops' bounds keep every index inside `shown`.
    const std::uint8_t* const at = shown.data();
    std::size_t length = shown.size();
    while (length > 0 && at[length - 1] == 0x00) {
        --length;
    }
    // The text goes out in runs between line feeds, each line feed as \n;
    // a line feed never sits inside a UTF-8 sequence, so no run cuts one.
    std::size_t run = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (at[i] == 0x0A) {
            out.write(as_chars(shown.subspan(run, i - run)));
            out.write("\\n");
            run = i + 1;
        }
    }
    out.write(as_chars(shown.subspan(run, length - run)));
}

// True when every byte of `bytes` is in 0x20..0x7E; eight at a time.
bool is_printable_ascii(ByteView bytes) {
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHigh = 0x8080808080808080;
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes.data() + i, 8);
        // A high bit where a byte is below 0x20, at 0x7F or from 0x80 on. A
        // borrow or carry crosses into the next byte only from one that is
        // marked itself, so the test is exact for the word as a whole.
        if ((((word - kOnes * 0x20) & ~word) | ((word + kOnes) | word)) & kHigh) {
            return false;
        }
    }
    for (; i < bytes.size(); ++i) {
        if (bytes[i] < 0x20 || bytes[i] > 0x7E) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string decimal(std::uint64_t value) {
    return written_text([value](Output& out) { write_decimal(out, value); });
}

std::string hex_join(ByteView bytes, std::string_view separator) {
    return written_text([&](Output& out) { write_hex(out, bytes, separator); });
}

void write_hex(Output& out, ByteView bytes, std::string_view separator) {
    if (bytes.empty()) {
        return;
    }
    // The loops' bounds keep every index inside `bytes`.
    const std::uint8_t* at = bytes.data();
    const std::uint8_t* const end = at + bytes.size();
    if (separator.size() > 2) {
        for (; at != end; ++at) {
            if (at != bytes.data()) {
                out.write(separator);
            }
            out.write(std::string_view(kHexPairs.data() + 2 * *at, 2));
        }
        return;
    }
    // In batches that fit the room, each byte at most four characters: the
    // separator's two places are always filled, then overwritten when it is
    // shorter.
    const char first = separator.empty() ? '\0' : separator[0];
    const char second = separator.size() < 2 ? '\0' : separator[1];
    char* text = out.room();
    std::memcpy(text, kHexPairs.data() + 2 * *at++, 2);
    text += 2;
    while (at != end) {
        const std::size_t batch =
            std::min<std::size_t>(static_cast<std::size_t>(end - at), (Output::kRoom - 2) / 4);
        for (const std::uint8_t* const stop = at + batch; at != stop; ++at) {
            text[0] = first;
            text[1] = second;
            text += separator.size();
            std::memcpy(text, kHexPairs.data() + 2 * *at, 2);
            text += 2;
        }
        out.commit(text);
        text = out.room();
    }
    out.commit(text);
}

std::string preview_payload(ByteView payload) {
    return written_text([payload](Output& out) { write_preview(out, payload); });
}

void write_preview(Output& out, ByteView payload) { write_preview(out, payload, payload.size()); }

void detail::write_general_preview(Output& out, ByteView head, std::uint64_t payload_size) {
    const ByteView shown = head.first(std::min(head.size(), kPreviewLimit));
    const bool cut = payload_size > kPreviewLimit;
    // Printable ASCII is shown as it is; tab, line feed, carriage return,
    // NUL and bytes from 0x80 on are text that needs a closer look; anything
    // else makes the payload binary.
    const bool plain = is_printable_ascii(shown);
    const std::uint8_t classes = plain ? std::uint8_t{kPrintable} : byte_classes(shown);
    const bool text =
        (classes & kBinaryByte) == 0 && ((classes & kHighByte) == 0 || is_valid_utf8(shown));
    if (!text) {
        out.write("hex: ");
        write_spaced_hex(out, shown);
        if (cut) {
            out.write("...");
        }
        return;
    }
    out.put('"');
    if (plain) {
        out.write(as_chars(shown));
    } else {
        write_text_preview(out, shown);
    }
    out.write(cut ? "\"..." : "\"");
}

}  // namespace boxwalk
