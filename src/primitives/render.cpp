#include "primitives/render.hpp"

#include <cstring>

namespace boxwalk {
namespace {

// Each byte as two hex digits.
char* place_hex(char* at, ByteView bytes) {
    for (const std::uint8_t byte : bytes) {
        std::memcpy(at, kHexDigits[byte].data(), 2);
        at += 2;
    }
    return at;
}

}  // namespace

char* detail::place_text(char* at, ByteView bytes) {
    std::size_t length = bytes.size();
    while (length > 0 && bytes[length - 1] == 0x00) {
        --length;
    }
    for (const std::uint8_t byte : bytes.first(length)) {
        if (byte == 0x0A) {
            at = place(at, "\\n");
        } else {
            *at++ = static_cast<char>(byte);
        }
    }
    return at;
}

std::string decimal(std::uint64_t value) {
    return written_text([value](Output& out) { write_decimal(out, value); });
}

std::string hex_join(ByteView bytes, std::string_view separator) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) {
            text.append(separator);
        }
        text.append(kHexDigits[bytes[i]].data(), 2);
    }
    return text;
}

void write_hex(Output& out, ByteView bytes) {
    // In batches that fit the room.
    constexpr std::size_t kBatch = Output::kRoom / 2;
    for (std::size_t done = 0; done < bytes.size(); done += kBatch) {
        const ByteView part = bytes.subspan(done, std::min(kBatch, bytes.size() - done));
        out.commit(place_hex(out.room(), part));
    }
}

std::string preview_payload(ByteView payload) {
    return written_text([payload](Output& out) { write_preview(out, payload, payload.size()); });
}

}  // namespace boxwalk
