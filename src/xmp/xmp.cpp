#include "xmp/xmp.hpp"

#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "contract/xmp_labels.hpp"
#include "primitives/render.hpp"
#include "xmp/xml.hpp"

namespace boxwalk {
namespace {

constexpr std::string_view kRdf = kRdfNamespace;
constexpr std::string_view kXml = kXmlNamespace;

// What an element is to the properties.
enum class Role : std::uint8_t {
    outside,      // around rdf:RDF (x:xmpmeta) or before it
    rdf,          // rdf:RDF
    description,  // an rdf:Description directly in rdf:RDF
    property,     // an element directly in such a description
    list,         // rdf:Alt, rdf:Seq or rdf:Bag directly in a property
    item,         // rdf:li directly in such a list
    ignored,      // anything else, and everything inside it
};

struct Frame {
    Role role = Role::outside;
    std::string name;
    // The namespaces it declares: prefix ("" for the default) and URI.
    std::vector<std::pair<std::string, std::string>> spaces;
    xml::Span start;
    std::string text;
    std::size_t text_begin = xml::kNowhere;
    std::string language;
    bool has_child = false;
    // A structure, a qualified value or mixed content: not a simple value.
    bool structure = false;
    bool has_list = false;
    // Its value is an rdf:resource attribute, in its start tag.
    bool resource = false;
    std::vector<TagValue> values;
};

class Properties final : public xml::Events {
public:
    Properties(const XmpPacket& packet, std::vector<Tag>& tags)
        : packet_(packet),
          exact_(!packet.cut && packet.text.size() == packet.bytes.size),
          tags_(tags) {}

    void start(std::string_view name, std::span<const xml::Attribute> attributes,
               xml::Span tag) override {
        Frame frame;
        frame.name = name;
        frame.start = tag;
        for (const xml::Attribute& attribute : attributes) {
            if (attribute.name == "xmlns") {
                frame.spaces.emplace_back("", attribute.value);
            } else if (attribute.name.starts_with("xmlns:")) {
                frame.spaces.emplace_back(attribute.name.substr(6), attribute.value);
            }
        }
        frames_.push_back(std::move(frame));
        Frame& self = frames_.back();
        Frame* parent = frames_.size() > 1 ? &frames_[frames_.size() - 2] : nullptr;
        const Role above = parent != nullptr ? parent->role : Role::outside;
        if (parent != nullptr) {
            parent->has_child = true;
        }
        self.role = Role::ignored;
        switch (above) {
            case Role::outside:
                self.role = is_rdf(name, "RDF") ? Role::rdf : Role::outside;
                break;
            case Role::rdf:
                if (is_rdf(name, "Description")) {
                    self.role = Role::description;
                    attribute_properties(attributes, tag);
                }
                break;
            case Role::description:
                self.role = Role::property;
                take_value_attributes(self, attributes);
                break;
            case Role::property:
                if (!parent->has_list &&
                    (is_rdf(name, "Alt") || is_rdf(name, "Seq") || is_rdf(name, "Bag"))) {
                    self.role = Role::list;
                    parent->has_list = true;
                } else {
                    parent->structure = true;
                }
                break;
            case Role::list:
                if (is_rdf(name, "li")) {
                    self.role = Role::item;
                    take_value_attributes(self, attributes);
                }
                break;
            case Role::item:
                parent->structure = true;
                break;
            case Role::ignored:
                break;
        }
    }

    void end(xml::Span tag) override {
        Frame frame = std::move(frames_.back());
        frames_.pop_back();
        Frame* parent = frames_.empty() ? nullptr : &frames_.back();
        if (frame.role == Role::item && parent != nullptr && !frame.structure && !frame.has_child) {
            parent->values.push_back(value_of(frame, tag));
        } else if (frame.role == Role::list && parent != nullptr) {
            parent->values = std::move(frame.values);
        } else if (frame.role == Role::property && !frame.structure) {
            if (!frame.has_child) {
                frame.values.push_back(value_of(frame, tag));
            }
            if (!frame.values.empty()) {
                add_tag(frame.name, in_file(frame.start.begin, tag.end), std::move(frame.values));
            }
        }
    }

    void text(std::string_view text, xml::Span raw) override {
        if (frames_.empty()) {
            return;
        }
        Frame& frame = frames_.back();
        if (frame.resource) {
            return;
        }
        if (frame.text.empty() && frame.text_begin == xml::kNowhere) {
            frame.text_begin = raw.begin;
        }
        frame.text += text;
    }

private:
    // Whether the qualified `name` is `local` of the RDF namespace.
    bool is_rdf(std::string_view name, std::string_view local) const {
        const auto [space, rest] = resolve(name);
        return space == kRdf && rest == local;
    }

    // The namespace URI and local name of a qualified name, by the
    // declarations in scope ("xml" is bound without one).
    std::pair<std::string_view, std::string_view> resolve(std::string_view name) const {
        const std::size_t colon = name.find(':');
        const std::string_view prefix =
            colon == std::string_view::npos ? std::string_view() : name.substr(0, colon);
        const std::string_view local =
            colon == std::string_view::npos ? name : name.substr(colon + 1);
        if (prefix == "xml") {
            return {kXml, local};
        }
        for (auto frame = frames_.rbegin(); frame != frames_.rend(); ++frame) {
            for (const auto& [declared, uri] : frame->spaces) {
                if (declared == prefix) {
                    return {uri, local};
                }
            }
        }
        return {std::string_view(), local};
    }

    std::string_view label_of(std::string_view name) const {
        const auto [space, local] = resolve(name);
        for (const XmpLabel& row : kXmpLabels) {
            if (row.space == space && row.local == local) {
                return row.label;
            }
        }
        return {};
    }

    // Properties written as attributes of an rdf:Description: all but the
    // RDF and XML ones and the namespace declarations.
    void attribute_properties(std::span<const xml::Attribute> attributes, xml::Span tag) {
        for (const xml::Attribute& attribute : attributes) {
            const auto [space, local] = resolve(attribute.name);
            if (attribute.name == "xmlns" || attribute.name.starts_with("xmlns:") ||
                space == kRdf || space == kXml) {
                continue;
            }
            TagValue value;
            value.kind = ValueKind::text;
            value.text = attribute.value;
            value.bytes = in_file(tag.begin, tag.end);
            add_tag(attribute.name, value.bytes, {std::move(value)});
        }
    }

    // A property's or an item's xml:lang and rdf:resource; rdf:parseType
    // and any other attribute make it a structure or a qualified value.
    void take_value_attributes(Frame& frame, std::span<const xml::Attribute> attributes) {
        for (const xml::Attribute& attribute : attributes) {
            const auto [space, local] = resolve(attribute.name);
            if (attribute.name == "xmlns" || attribute.name.starts_with("xmlns:")) {
                continue;
            }
            if (space == kXml && local == "lang") {
                frame.language = attribute.value;
            } else if (space == kRdf && local == "resource") {
                frame.text = attribute.value;
                frame.resource = true;
            } else {
                frame.structure = true;
            }
        }
    }

    // The value an element holds as text: its range from its first text
    // to its end tag (none between them: where the end tag starts); an
    // rdf:resource's, its start tag.
    TagValue value_of(Frame& frame, xml::Span end) const {
        TagValue value;
        value.kind = ValueKind::text;
        value.text = std::move(frame.text);
        value.language = std::move(frame.language);
        if (frame.resource) {
            value.bytes = in_file(frame.start.begin, frame.start.end);
        } else if (frame.text_begin != xml::kNowhere) {
            value.bytes = in_file(frame.text_begin, end.begin);
        } else {
            value.bytes = in_file(end.begin, end.begin);
        }
        return value;
    }

    void add_tag(std::string_view key, FileRange bytes, std::vector<TagValue> values) {
        Tag tag;
        tag.store = Store::xmp;
        tag.track = packet_.track;
        tag.key = key;
        tag.label = label_of(key);
        tag.bytes = bytes;
        tag.values = std::move(values);
        tags_.push_back(std::move(tag));
    }

    // Bytes [begin, end) of the packet's text as a range of the file, when
    // the text is the packet's bytes as they are and the parser said where
    // both lie; the packet's range otherwise.
    FileRange in_file(std::size_t begin, std::size_t end) const {
        if (!exact_ || begin == xml::kNowhere || end == xml::kNowhere || begin > end ||
            end > packet_.bytes.size) {
            return packet_.bytes;
        }
        return {packet_.bytes.pos + begin, end - begin};
    }

    const XmpPacket& packet_;
    bool exact_;
    std::vector<Tag>& tags_;
    std::vector<Frame> frames_;
};

}  // namespace

void read_xmp_properties(const XmpPacket& packet, std::vector<Tag>& tags,
                         std::vector<Damage>& damage) {
    // A packet kept in an atom may be padded with NULs after its end.
    std::string_view text = packet.text;
    while (!text.empty() && text.back() == '\0') {
        text.remove_suffix(1);
    }
    const std::size_t before = tags.size();
    Properties properties(packet, tags);
    if (const auto fault = xml::parse(text, properties)) {
        const std::size_t read = tags.size() - before;
        damage.push_back({Store::xmp, packet.track, packet.bytes,
                          "XMP packet not read: " + *fault + "; " +
                              (read == 0 ? std::string("none of its properties read")
                                         : decimal(read) + " of its properties read before")});
    }
}

void add_xmp_properties(TagReport& report) {
    for (const XmpPacket& packet : report.xmp) {
        read_xmp_properties(packet, report.tags, report.damage);
    }
}

}  // namespace boxwalk
