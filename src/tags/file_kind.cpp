#include "tags/file_kind.hpp"

#include <algorithm>
#include <cstdint>

#include "primitives/text.hpp"

namespace boxwalk {
namespace {

bool starts_with(ByteView head, std::string_view magic, std::size_t at = 0) {
    return fits(head, at, magic.size()) && as_chars(head.subspan(at, magic.size())) == magic;
}

// An MPEG audio frame header: the sync bits, then no reserved version,
// layer, bit rate or sample rate. A layer of 0 is left out, which ADTS
// (AAC) uses.
bool is_mpeg_audio_frame(ByteView head) {
    if (head.size() < 4 || head[0] != 0xFF || (head[1] & 0xE0) != 0xE0) {
        return false;
    }
    const int version = (head[1] >> 3) & 3;
    const int layer = (head[1] >> 1) & 3;
    const int bit_rate = head[2] >> 4;
    const int sample_rate = (head[2] >> 2) & 3;
    return version != 1 && layer != 0 && bit_rate != 15 && sample_rate != 3;
}

// Text: a byte-order mark of UTF-16, or UTF-8 (a sequence cut by the end of
// what was looked at aside) of no controls but tab, line and form feed and
// carriage return.
bool is_text(ByteView head) {
    if (starts_with(head, "\xFF\xFE") || starts_with(head, "\xFE\xFF")) {
        return true;
    }
    if (head.size() == kSniffLength) {
        head = head.first(head.size() - unfinished_utf8_tail(as_chars(head)));
    }
    const bool plain = std::all_of(head.begin(), head.end(), [](std::uint8_t byte) {
        return byte >= 0x20 ? byte != 0x7F
                            : byte == '\t' || byte == '\n' || byte == '\f' || byte == '\r';
    });
    return plain && is_valid_utf8(head);
}

}  // namespace

bool is_top_level_type(ByteView type) {
    return type.size() == 4 && std::find(kTopLevelTypes.begin(), kTopLevelTypes.end(),
                                         as_chars(type)) != kTopLevelTypes.end();
}

FileKind file_kind(ByteView head) {
    if (head.empty()) {
        return FileKind::empty;
    }
    if (starts_with(head, "\x89PNG\r\n\x1A\n")) {
        return FileKind::png;
    }
    if (starts_with(head, "\xFF\xD8\xFF")) {
        return FileKind::jpeg;
    }
    if (starts_with(head, "GIF87a") || starts_with(head, "GIF89a")) {
        return FileKind::gif;
    }
    if ((starts_with(head, "RIFF") || starts_with(head, "RF64") || starts_with(head, "BW64")) &&
        starts_with(head, "WAVE", 8)) {
        return FileKind::wav;
    }
    if (starts_with(head, "ID3") || is_mpeg_audio_frame(head)) {
        return FileKind::mp3;
    }
    if (starts_with(head, "OggS")) {
        return FileKind::ogg;
    }
    if (starts_with(head, "fLaC")) {
        return FileKind::flac;
    }
    if (starts_with(head, "\x1A\x45\xDF\xA3")) {
        return FileKind::matroska;
    }
    if (starts_with(head, "%PDF-")) {
        return FileKind::pdf;
    }
    if (starts_with(head, "PK\x03\x04") || starts_with(head, "PK\x05\x06") ||
        starts_with(head, "PK\x07\x08")) {
        return FileKind::zip;
    }
    return is_text(head) ? FileKind::text : FileKind::unknown;
}

}  // namespace boxwalk
