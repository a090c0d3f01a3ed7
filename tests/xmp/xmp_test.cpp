// The XMP properties over this system's XML parser (expat; XmlLite on
// Windows, run under Wine): one table of packets and the tags they must
// give, and a packet exiftool wrote into tests/xmp/exiftool.m4a with
//   exiftool -XMP-dc:Title='Café <&> "night"' -XMP-dc:Creator=Ann
//            -XMP-dc:Creator+=Bob -XMP-xmp:Rating=4
//            -XMP-dc:Description="two<LF>lines" samples/song.m4a
// Wherever a value's range is not the packet's, its bytes must be the
// value as written, in place. A plain program, not GoogleTest, so that the
// Windows build runs the same table.
//   xmp_test SOURCE_DIR
#include "xmp/xmp.hpp"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace boxwalk;

int g_failures = 0;

// The tags and damage as text: a line per tag, "key (label) = [lang] value
// | ..." ("(empty)" for an empty value), then "damage" (with "DOCTYPE" when that was the fault).
// The parsers word their faults apart; the table checks only which.
std::string shown(const std::vector<Tag>& tags, const std::vector<Damage>& damage) {
    std::string text;
    for (const Tag& tag : tags) {
        text += tag.key + (tag.label.empty() ? "" : " (" + tag.label + ")") + " =";
        for (std::size_t i = 0; i < tag.values.size(); ++i) {
            const TagValue& value = tag.values[i];
            text += (i == 0 ? " " : " | ") +
                    (value.language.empty() ? "" : "[" + value.language + "] ") +
                    (value.text.empty() ? "(empty)" : value.text);
        }
        text += "\n";
    }
    for (const Damage& each : damage) {
        text += each.what.find("DOCTYPE") != std::string::npos ? "damage: DOCTYPE\n" : "damage\n";
    }
    return text;
}

// `raw` with the five predefined references replaced: a value's bytes as
// written, read back.
std::string unescaped(std::string_view raw) {
    static const std::pair<std::string_view, char> kReferences[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string text;
    for (std::size_t i = 0; i < raw.size();) {
        bool replaced = false;
        for (const auto& [reference, c] : kReferences) {
            if (raw.substr(i).starts_with(reference)) {
                text += c;
                i += reference.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            text += raw[i++];
        }
    }
    return text;
}

// Reads `packet` and checks what it gives against `expected`, and every
// range: inside the packet, and a value's, where it is not the packet's or
// a start tag (a value written as an attribute), its bytes as written.
void check(const std::string& name, const XmpPacket& packet, const std::string& expected) {
    std::vector<Tag> tags;
    std::vector<Damage> damage;
    read_xmp_properties(packet, tags, damage);
    const std::string got = shown(tags, damage);
    if (got != expected) {
        ++g_failures;
        std::printf("FAIL %s\n  got:\n%s  wanted:\n%s", name.c_str(), got.c_str(),
                    expected.c_str());
    }
    const auto inside = [&](const FileRange& range) {
        return range.pos >= packet.bytes.pos && range.size <= packet.bytes.size &&
               range.pos - packet.bytes.pos <= packet.bytes.size - range.size;
    };
    for (const Tag& tag : tags) {
        for (const TagValue& value : tag.values) {
            if (!inside(tag.bytes) || !inside(value.bytes)) {
                ++g_failures;
                std::printf("FAIL %s: %s: a range outside the packet\n", name.c_str(),
                            tag.key.c_str());
                continue;
            }
            if (value.bytes.pos == packet.bytes.pos && value.bytes.size == packet.bytes.size) {
                continue;
            }
            const std::string_view raw =
                std::string_view(packet.text)
                    .substr(static_cast<std::size_t>(value.bytes.pos - packet.bytes.pos),
                            static_cast<std::size_t>(value.bytes.size));
            const bool tag_range = raw.starts_with('<') && raw.ends_with('>');
            if (!tag_range && unescaped(raw) != value.text) {
                ++g_failures;
                std::printf("FAIL %s: %s: the range holds \"%.*s\", not \"%s\"\n", name.c_str(),
                            tag.key.c_str(), static_cast<int>(raw.size()), raw.data(),
                            value.text.c_str());
            }
        }
    }
}

XmpPacket packet_of(std::string text, std::uint64_t pos = 1000) {
    XmpPacket packet;
    packet.bytes = {pos, text.size()};
    packet.text = std::move(text);
    return packet;
}

constexpr std::string_view kRdf =
    "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
    "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>";
constexpr std::string_view kEnd = "</rdf:RDF></x:xmpmeta>";

// A packet of rdf:Descriptions `inside`, declaring dc, xmp and a private
// namespace.
std::string described(std::string_view inside) {
    return std::string(kRdf) +
           "<rdf:Description rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/' "
           "xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmlns:my='urn:example:my'>" +
           std::string(inside) + "</rdf:Description>" + std::string(kEnd);
}

// `text` up to the end of the first `marker` in it.
std::string up_to(const std::string& text, std::string_view marker) {
    return text.substr(0, text.find(marker) + marker.size());
}

struct Case {
    std::string name;
    std::string packet;
    std::string expected;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Usage: xmp_test SOURCE_DIR\n", stderr);
        return 2;
    }
    const std::string laughs =
        "<?xml version='1.0'?><!DOCTYPE x [<!ENTITY a 'aaaaaaaaaa'>"
        "<!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'><!ENTITY c "
        "'&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'>]>";
    const std::vector<Case> cases = {
        {"element values, lists, languages and references",
         described("<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>A &amp; B</rdf:li>"
                   "<rdf:li xml:lang='de'>Ä</rdf:li></rdf:Alt></dc:title>"
                   "<dc:creator><rdf:Seq><rdf:li>Ann</rdf:li><rdf:li>Bob</rdf:li></rdf:Seq>"
                   "</dc:creator><dc:subject><rdf:Bag><rdf:li>k1</rdf:li></rdf:Bag></dc:subject>"
                   "<xmp:Rating>5</xmp:Rating><my:Note>line\none &lt;x&gt;</my:Note>"),
         "dc:title (Title) = [x-default] A & B | [de] Ä\n"
         "dc:creator (Creator) = Ann | Bob\ndc:subject (Keywords) = k1\n"
         "xmp:Rating (Rating) = 5\nmy:Note = line\none <x>\n"},
        {"attributes of the description, not its own",
         std::string(kRdf) +
             "<rdf:Description rdf:about='x' xmlns:xmp='http://ns.adobe.com/xap/1.0/' "
             "xmp:Rating='3' xmp:CreateDate='2023-01-02T03:04:05Z' xml:lang='en'/>" +
             std::string(kEnd),
         "xmp:Rating (Rating) = 3\nxmp:CreateDate (Created) = 2023-01-02T03:04:05Z\n"},
        {"a resource, and empty values",
         described("<dc:source rdf:resource='http://example.com/?a=1&amp;b=2'/>"
                   "<dc:format></dc:format><dc:type/>"),
         "dc:source = http://example.com/?a=1&b=2\ndc:format (Format) = (empty)\ndc:type = "
         "(empty)\n"},
        {"structures and qualifiers left out, the texts beside them kept",
         described("<my:S rdf:parseType='Resource'><my:a>1</my:a></my:S>"
                   "<my:D><rdf:Description><my:a>1</my:a></rdf:Description></my:D>"
                   "<my:H><rdf:Seq><rdf:li rdf:parseType='Resource'><my:a>1</my:a></rdf:li>"
                   "<rdf:li>kept</rdf:li><rdf:li><my:b>2</my:b></rdf:li></rdf:Seq></my:H>"
                   "<my:Q my:qualifier='q'>v</my:Q><my:T>text</my:T>"),
         "my:H = kept\nmy:T = text\n"},
        {"the RDF namespace by any prefix",
         "<r:RDF xmlns:r='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
         "<r:Description xmlns:d='http://purl.org/dc/elements/1.1/'><d:title>T</d:title>"
         "</r:Description></r:RDF>",
         "d:title (Title) = T\n"},
        {"an element named rdf:RDF of another namespace holds no properties",
         "<rdf:RDF xmlns:rdf='urn:not-rdf'><rdf:Description><a>1</a></rdf:Description></rdf:RDF>",
         ""},
        {"NUL padding after the packet",
         described("<xmp:Rating>1</xmp:Rating>") + std::string(7, '\0'),
         "xmp:Rating (Rating) = 1\n"},
        {"cut short: what was whole before stands",
         up_to(described("<xmp:Rating>1</xmp:Rating><dc:title><rdf:Alt><rdf:li>cut!"), "cut"),
         "xmp:Rating (Rating) = 1\ndamage\n"},
        {"not XML", "Rating: 5", "damage\n"},
        {"empty", "", "damage\n"},
        {"an internal entity, refused with its DOCTYPE",
         "<!DOCTYPE x [<!ENTITY t 'Title'>]>" + described("<dc:title>&t;</dc:title>"),
         "damage: DOCTYPE\n"},
        {"an external entity, never fetched",
         "<!DOCTYPE x [<!ENTITY t SYSTEM 'file:///etc/passwd'>]>" +
             described("<dc:title>&t;</dc:title>"),
         "damage: DOCTYPE\n"},
        {"an external DTD, never fetched",
         "<!DOCTYPE x SYSTEM 'http://127.0.0.1:9/x.dtd'>" + described("<dc:title>t</dc:title>"),
         "damage: DOCTYPE\n"},
        {"entities that expand a billionfold", laughs + described("<dc:title>&c;&c;</dc:title>"),
         "damage: DOCTYPE\n"},
    };
    for (const Case& each : cases) {
        check(each.name, packet_of(each.packet), each.expected);
    }

    // A packet that is not the file's bytes as they are (cut, or made
    // valid UTF-8) has its values in the packet's range.
    XmpPacket cut = packet_of(described("<xmp:Rating>2</xmp:Rating>"));
    cut.cut = true;
    std::vector<Tag> tags;
    std::vector<Damage> damage;
    read_xmp_properties(cut, tags, damage);
    if (tags.size() != 1 || tags[0].values[0].bytes.pos != cut.bytes.pos ||
        tags[0].values[0].bytes.size != cut.bytes.size) {
        ++g_failures;
        std::puts("FAIL a cut packet's values lie in the packet's range");
    }

    // The packet exiftool wrote: a top-level uuid atom with the XMP
    // identifier, the packet after it.
    std::ifstream file(std::string(argv[1]) + "/tests/xmp/exiftool.m4a", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    const std::string xmp_uuid = "\xbe\x7a\xcf\xcb\x97\xa9\x42\xe8\x9c\x71\x99\x94\x91\xe3\xaf\xac";
    const std::size_t at = bytes.find("uuid" + xmp_uuid);
    if (at == std::string::npos || at < 4) {
        ++g_failures;
        std::puts("FAIL tests/xmp/exiftool.m4a holds no XMP uuid atom");
    } else {
        const auto size = static_cast<std::size_t>(static_cast<unsigned char>(bytes[at - 4]) << 24 |
                                                   static_cast<unsigned char>(bytes[at - 3]) << 16 |
                                                   static_cast<unsigned char>(bytes[at - 2]) << 8 |
                                                   static_cast<unsigned char>(bytes[at - 1]));
        const std::size_t start = at + 4 + xmp_uuid.size();
        check("exiftool's packet", packet_of(bytes.substr(start, at - 4 + size - start), start),
              "dc:creator (Creator) = Ann | Bob\n"
              "dc:description (Description) = [x-default] two\nlines\n"
              "dc:title (Title) = [x-default] Caf\xc3\xa9 <&> \"night\"\n"
              "xmp:Rating (Rating) = 4\n");
    }
    std::printf("%s: %d failures\n", g_failures == 0 ? "passed" : "FAILED", g_failures);
    return g_failures == 0 ? 0 : 1;
}
