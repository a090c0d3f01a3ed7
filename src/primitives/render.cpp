#include "primitives/render.hpp"

#include <algorithm>
#include <charconv>

#include "primitives/text.hpp"

namespace boxwalk {
namespace {

bool is_text_byte(std::uint8_t byte) {
    return byte == 0x00 || byte == 0x09 || byte == 0x0A || byte == 0x0D ||
           (byte >= 0x20 && byte <= 0x7E) || byte >= 0x80;
}

}  // namespace

std::string decimal(std::uint64_t value) {
    return written_text([value](Output& out) { write_decimal(out, value); });
}

void write_decimal(Output& out, std::uint64_t value) {
    char digits[20];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.write(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
}

std::string hex_join(ByteView bytes, std::string_view separator) {
    return written_text([&](Output& out) { write_hex(out, bytes, separator); });
}

void write_hex(Output& out, ByteView bytes, std::string_view separator) {
    static constexpr char kDigits[] = "0123456789abcdef";
    // All ASCII, so the pieces can be single characters.
    PieceWriter pieces(out);
    // The loop's bound keeps every index inside `bytes`.
    const std::uint8_t* const at = bytes.data();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) {
            for (const char c : separator) {
                pieces.put(c);
            }
        }
        pieces.put(kDigits[at[i] >> 4]);
        pieces.put(kDigits[at[i] & 0x0F]);
    }
}

std::string preview_payload(ByteView payload) {
    return written_text([payload](Output& out) { write_preview(out, payload); });
}

void write_preview(Output& out, ByteView payload) { write_preview(out, payload, payload.size()); }

void write_preview(Output& out, ByteView head, std::uint64_t payload_size) {
    const ByteView shown = head.first(std::min(head.size(), kPreviewLimit));
    const bool cut = payload_size > kPreviewLimit;
    const bool text = std::all_of(shown.begin(), shown.end(), is_text_byte) && is_valid_utf8(shown);
    if (!text) {
        out.write("hex: ");
        write_hex(out, shown, " ");
        if (cut) {
            out.write("...");
        }
        return;
    }
    // The loops' bounds keep every index inside `shown`.
    const std::uint8_t* const at = shown.data();
    std::size_t length = shown.size();
    while (length > 0 && at[length - 1] == 0x00) {
        --length;
    }
    // The text goes out in runs between line feeds, each line feed as \n; a
    // line feed never sits inside a UTF-8 sequence, so no run cuts one.
    out.write("\"");
    std::size_t run = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (at[i] == 0x0A) {
            out.write(as_chars(shown.subspan(run, i - run)));
            out.write("\\n");
            run = i + 1;
        }
    }
    out.write(as_chars(shown.subspan(run, length - run)));
    out.write(cut ? "\"..." : "\"");
}

}  // namespace boxwalk
