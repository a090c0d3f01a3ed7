// libFuzzer entry point for the byte-level text routines: UTF-8 and UTF-16
// decoding, terminal escaping (whole and cut in two), payload previews and
// hex. Each is checked against the property its callers rely on, and the
// preview against its rules written plainly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "primitives/render.hpp"
#include "primitives/text.hpp"
#include "tree/xtra.hpp"

namespace {

using boxwalk::ByteView;

ByteView bytes_of(std::string_view text) {
    return ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The preview as its rules say it, byte by byte: text when the shown
// bytes hold no control other than tab, line feed, carriage return and
// NUL and are UTF-8, else hex. The program's places it a word at a time
// where it can.
std::string reference_preview(ByteView payload) {
    const ByteView shown = payload.first(payload.size() < 80 ? payload.size() : 80);
    bool text = boxwalk::is_valid_utf8(shown);
    for (const std::uint8_t byte : shown) {
        text = text && byte != 0x7F &&
               (byte >= 0x20 || byte == 0 || byte == 9 || byte == 10 || byte == 13);
    }
    std::string preview = text ? "\"" : "hex: " + boxwalk::hex_join(shown, " ");
    if (text) {
        std::string bytes(shown.begin(), shown.end());
        bytes.erase(bytes.find_last_not_of('\0') + 1);
        for (const char c : bytes) {
            preview += c == '\n' ? std::string("\\n") : std::string(1, c);
        }
        preview += '"';
    }
    return payload.size() > 80 ? preview + "..." : preview;
}

bool has_control(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F ||
            (byte == 0xC2 && i + 1 < text.size() &&
             (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80)) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView input(data, size);

    const std::string decoded = boxwalk::lenient_utf8(input);
    require(boxwalk::is_valid_utf8(bytes_of(decoded)));
    require(boxwalk::is_valid_utf8(input) ==
            (decoded == std::string_view(reinterpret_cast<const char*>(data), size)));

    std::string escaped;
    boxwalk::append_escaped(escaped, decoded);
    require(boxwalk::is_valid_utf8(bytes_of(escaped)) && !has_control(escaped));

    // Escaping any bytes in two pieces gives what escaping them whole gives,
    // wherever the cut (every point of the first 32 bytes).
    const std::string_view head(reinterpret_cast<const char*>(data), size < 32 ? size : 32);
    std::string whole;
    boxwalk::append_escaped(whole, head);
    for (std::size_t cut = 0; cut <= head.size(); ++cut) {
        boxwalk::TerminalEscaper escaper;
        std::string pieces;
        escaper.append(pieces, head.substr(0, cut));
        escaper.append(pieces, head.substr(cut));
        escaper.finish(pieces);
        require(pieces == whole);
    }

    const std::string preview = boxwalk::preview_payload(input);
    require(boxwalk::is_valid_utf8(bytes_of(preview)));
    require(preview.find('\n') == std::string::npos);
    require(preview == reference_preview(input));

    require(boxwalk::is_valid_utf8(bytes_of(boxwalk::utf16le_text(input))));
    require(boxwalk::hex_join(input, ":").size() == (size == 0 ? 0 : size * 3 - 1));
    return 0;
}
