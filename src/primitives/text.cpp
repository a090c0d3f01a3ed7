#include "primitives/text.hpp"

#include <cstring>

namespace boxwalk {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed sequence at `pos`, or 0 when it is ill-formed;
// `consumed` then holds the length of its maximal subpart (at least 1).
std::size_t sequence_length(ByteView bytes, std::size_t pos, std::size_t& consumed) {
    // Callers keep pos below the size; every later index is tested first.
    const std::uint8_t* const at = bytes.data() + pos;
    const std::uint8_t lead = at[0];
    std::size_t length = 0;
    // The second byte's range depends on the lead byte: it is what excludes
    // overlongs, surrogates and code points above U+10FFFF.
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead < 0x80) {
        consumed = 1;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            low = 0xA0;
        } else if (lead == 0xED) {
            high = 0x9F;
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;
        }
    } else {
        consumed = 1;
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (pos + i >= bytes.size()) {
            consumed = i;
            return 0;
        }
        const std::uint8_t byte = at[i];
        const bool in_range = i == 1 ? byte >= low && byte <= high : byte >= 0x80 && byte <= 0xBF;
        if (!in_range) {
            consumed = i;
            return 0;
        }
    }
    consumed = length;
    return length;
}

// The position of the first byte from `pos` on that is not ASCII, or the
// size; eight bytes at a time.
std::size_t skip_ascii(ByteView bytes, std::size_t pos) {
    constexpr std::uint64_t kHigh = 0x8080808080808080;
    for (; pos + 8 <= bytes.size(); pos += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes.data() + pos, 8);
        if ((word & kHigh) != 0) {
            break;
        }
    }
    while (pos < bytes.size() && bytes[pos] < 0x80) {
        ++pos;
    }
    return pos;
}

}  // namespace

// The length of the UTF-8 sequence that `text` ends inside of: a lead byte
// followed by fewer continuation bytes than it announces (at most 3 bytes),
// or 0 when the last sequence is complete or no sequence at all.
std::size_t unfinished_utf8_tail(std::string_view text) {
    for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if (byte >= 0x80 && byte <= 0xBF) {
            continue;  // a continuation byte: its lead is further back
        }
        const std::size_t length = byte >= 0xC2 && byte <= 0xDF   ? 2
                                   : byte >= 0xE0 && byte <= 0xEF ? 3
                                   : byte >= 0xF0 && byte <= 0xF4 ? 4
                                                                  : 0;
        return length > back ? back : 0;
    }
    return 0;
}

char* encode_utf8(char32_t code_point, char* at) {
    const auto cp = static_cast<std::uint32_t>(code_point);
    const auto byte = [](std::uint32_t value) { return static_cast<char>(value); };
    if (cp < 0x80) {
        at[0] = byte(cp);
        return at + 1;
    }
    if (cp < 0x800) {
        at[0] = byte(0xC0 | (cp >> 6));
        at[1] = byte(0x80 | (cp & 0x3F));
        return at + 2;
    }
    if (cp < 0x10000) {
        at[0] = byte(0xE0 | (cp >> 12));
        at[1] = byte(0x80 | ((cp >> 6) & 0x3F));
        at[2] = byte(0x80 | (cp & 0x3F));
        return at + 3;
    }
    at[0] = byte(0xF0 | (cp >> 18));
    at[1] = byte(0x80 | ((cp >> 12) & 0x3F));
    at[2] = byte(0x80 | ((cp >> 6) & 0x3F));
    at[3] = byte(0x80 | (cp & 0x3F));
    return at + 4;
}

void append_utf8(std::string& text, char32_t code_point) {
    char bytes[4];
    text.append(bytes, encode_utf8(code_point, bytes));
}

bool is_valid_utf8(ByteView bytes) {
    std::size_t pos = 0;
    while ((pos = skip_ascii(bytes, pos)) < bytes.size()) {
        std::size_t consumed = 0;
        if (sequence_length(bytes, pos, consumed) == 0) {
            return false;
        }
        pos += consumed;
    }
    return true;
}

std::string lenient_utf8(ByteView bytes) {
    return written_text([bytes](Output& out) { write_lenient_utf8(out, bytes); });
}

std::string lenient_utf8(std::string_view bytes) {
    return lenient_utf8(
        ByteView(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

void write_lenient_utf8(Output& out, ByteView bytes) {
    // Well-formed runs go out as they are, in one piece each.
    std::size_t run = 0;
    std::size_t pos = 0;
    while ((pos = skip_ascii(bytes, pos)) < bytes.size()) {
        std::size_t consumed = 0;
        if (sequence_length(bytes, pos, consumed) == 0) {
            out.write(as_chars(bytes.subspan(run, pos - run)));
            out.write(kReplacement);
            run = pos + consumed;
        }
        pos += consumed;
    }
    out.write(as_chars(bytes.subspan(run)));
}

std::string_view Utf8Joiner::join(std::string_view text) {
    // The copy is made only for a piece that followed a cut.
    if (held_size_ != 0) {
        joined_.assign(held_, held_size_);
        joined_.append(text);
        text = joined_;
        held_size_ = 0;
    }
    const std::size_t tail = unfinished_utf8_tail(text);
    text.substr(text.size() - tail).copy(held_, tail);
    held_size_ = tail;
    return text.substr(0, text.size() - tail);
}

std::string_view Utf8Joiner::finish() {
    const std::string_view held(held_, held_size_);
    held_size_ = 0;
    return held;
}

void TerminalEscaper::append(std::string& target, std::string_view text) {
    text = joiner_.join(text);
    std::size_t run = 0;  // start of the bytes not yet appended
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        const auto byte = static_cast<unsigned char>(text[pos]);
        const bool c0 = (byte < 0x20 && byte != '\t') || byte == 0x7F;
        // C1 controls are the two-byte sequences C2 80 .. C2 9F. The joiner
        // holds back a C2 at the end, so it is never seen alone.
        const bool c1 = byte == 0xC2 && pos + 1 < text.size() &&
                        (static_cast<unsigned char>(text[pos + 1]) & 0xE0) == 0x80;
        if (!c0 && !c1) {
            continue;
        }
        target.append(text.substr(run, pos - run));
        if (c1) {
            ++pos;
        }
        const auto code = static_cast<unsigned char>(text[pos]);
        const char escape[] = {'\\', 'x', kHexDigits[code][0], kHexDigits[code][1]};
        target.append(escape, sizeof escape);
        run = pos + 1;
    }
    target.append(text.substr(run));
}

void TerminalEscaper::finish(std::string& target) { target.append(joiner_.finish()); }

void append_escaped(std::string& target, std::string_view text) {
    TerminalEscaper escaper;
    escaper.append(target, text);
    escaper.finish(target);
}

}  // namespace boxwalk
