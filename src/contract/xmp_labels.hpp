#pragma once

#include <array>
#include <string_view>

// The names XMP's properties go by in the records: the namespaces the
// readers of packets resolve, and an English label for each well-known
// property, by namespace and local name. The native programs' reader (over
// expat or XmlLite) and the page's (over the browser's DOMParser) both
// label by this table; contract.js holds it for the page.
namespace boxwalk {

inline constexpr std::string_view kRdfNamespace = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
inline constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";

struct XmpLabel {
    std::string_view space;
    std::string_view local;
    std::string_view label;
};

inline constexpr std::string_view kDublinCore = "http://purl.org/dc/elements/1.1/";
inline constexpr std::string_view kXmpBasic = "http://ns.adobe.com/xap/1.0/";
inline constexpr std::string_view kDynamicMedia = "http://ns.adobe.com/xmp/1.0/DynamicMedia/";

inline constexpr std::array kXmpLabels = {
    XmpLabel{kDublinCore, "title", "Title"},
    XmpLabel{kDublinCore, "creator", "Creator"},
    XmpLabel{kDublinCore, "description", "Description"},
    XmpLabel{kDublinCore, "subject", "Keywords"},
    XmpLabel{kDublinCore, "rights", "Rights"},
    XmpLabel{kDublinCore, "publisher", "Publisher"},
    XmpLabel{kDublinCore, "contributor", "Contributor"},
    XmpLabel{kDublinCore, "date", "Date"},
    XmpLabel{kDublinCore, "language", "Language"},
    XmpLabel{kDublinCore, "format", "Format"},
    XmpLabel{kDublinCore, "identifier", "Identifier"},
    XmpLabel{kXmpBasic, "CreateDate", "Created"},
    XmpLabel{kXmpBasic, "ModifyDate", "Modified"},
    XmpLabel{kXmpBasic, "MetadataDate", "Metadata date"},
    XmpLabel{kXmpBasic, "CreatorTool", "Creator tool"},
    XmpLabel{kXmpBasic, "Rating", "Rating"},
    XmpLabel{kXmpBasic, "Label", "Label"},
    XmpLabel{kDynamicMedia, "artist", "Artist"},
    XmpLabel{kDynamicMedia, "album", "Album"},
    XmpLabel{kDynamicMedia, "genre", "Genre"},
    XmpLabel{kDynamicMedia, "composer", "Composer"},
    XmpLabel{kDynamicMedia, "trackNumber", "Track"},
    XmpLabel{kDynamicMedia, "releaseDate", "Release date"},
};

}  // namespace boxwalk
