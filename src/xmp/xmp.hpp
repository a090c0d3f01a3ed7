#pragma once

#include <vector>

#include "tags/record.hpp"

// The properties of XMP packets as tags: the packets' text comes from the
// tag reader, the parse from the XML parser of the system (xml.hpp).
namespace boxwalk {

// Appends the simple properties of `packet` to `tags`, one tag of
// Store::xmp each, keyed by its qualified name as written (dc:title): an
// attribute of rdf:Description, or a child element of it that holds text
// or an rdf:Alt, rdf:Seq or rdf:Bag of rdf:li texts (one value each, with
// its xml:lang). Structures and qualifiers are left out. Each value's
// range is its text in the file where the parser says where it lies (an
// attribute's: the start tag that holds it), else the packet's; the same
// for the tag's. A packet that is not well-formed, or declares a DOCTYPE,
// adds a Damage; the properties read before the fault stand.
void read_xmp_properties(const XmpPacket& packet, std::vector<Tag>& tags,
                         std::vector<Damage>& damage);

// read_xmp_properties for every packet of `report`.
void add_xmp_properties(TagReport& report);

}  // namespace boxwalk
