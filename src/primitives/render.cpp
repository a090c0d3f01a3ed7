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
    char digits[20];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, result.ptr);
}

std::string hex_join(ByteView bytes, std::string_view separator) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    if (bytes.empty()) {
        return text;
    }
    text.reserve(bytes.size() * (2 + separator.size()));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) {
            text.append(separator);
        }
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

std::string preview_payload(ByteView payload) {
    const ByteView shown = payload.first(std::min(payload.size(), kPreviewLimit));
    const std::string_view suffix = payload.size() > kPreviewLimit ? "..." : "";
    const bool text = std::all_of(shown.begin(), shown.end(), is_text_byte) && is_valid_utf8(shown);
    std::string result;
    if (!text) {
        result = "hex: ";
        result += hex_join(shown, " ");
        result += suffix;
        return result;
    }
    std::size_t length = shown.size();
    while (length > 0 && shown[length - 1] == 0x00) {
        --length;
    }
    result.reserve(length + 2 + suffix.size());
    result.push_back('"');
    for (std::size_t i = 0; i < length; ++i) {
        if (shown[i] == 0x0A) {
            result += "\\n";
        } else {
            result.push_back(static_cast<char>(shown[i]));
        }
    }
    result.push_back('"');
    result += suffix;
    return result;
}

}  // namespace boxwalk
