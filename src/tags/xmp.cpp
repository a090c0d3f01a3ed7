// XMP packets: kept whole as text, up to a bound, for the XML parsers of
// the programs that show them.
#include <algorithm>

#include "tags/reading.hpp"

namespace boxwalk {
namespace {

// The most bytes of a packet kept.
constexpr std::size_t kXmpLimit = std::size_t{4} << 20;

}  // namespace

void read_xmp(TagReading& reading, const Atom& holder, std::uint64_t start, Place place) {
    const FileRange packet = inside(holder, start, reading.size());
    const auto bytes = reading.head(packet, kXmpLimit);
    if (!bytes) {
        return;
    }
    XmpPacket xmp;
    xmp.track = place.track;
    xmp.bytes = packet;
    xmp.cut = packet.size > bytes->size();
    // XMP is UTF-8, or UTF-16 or -32 after a byte-order mark; UTF-32 is
    // not met in these files.
    const bool big = bytes->size() >= 2 && (*bytes)[0] == 0xFE && (*bytes)[1] == 0xFF;
    const bool little = bytes->size() >= 2 && (*bytes)[0] == 0xFF && (*bytes)[1] == 0xFE;
    xmp.text =
        big || little ? utf16_text(bytes->subspan(2), big, xmp.cut) : utf8_text(*bytes, xmp.cut);
    if (xmp.cut) {
        reading.damage(Store::xmp, place, packet,
                       "the XMP packet of " + grouped(packet.size) + " bytes at " +
                           grouped(packet.pos) + " is longer than " + grouped(kXmpLimit) +
                           " bytes: the rest of it not kept");
    }
    reading.report().xmp.push_back(std::move(xmp));
}

}  // namespace boxwalk
