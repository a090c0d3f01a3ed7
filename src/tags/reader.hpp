#pragma once

#include "source/source.hpp"
#include "tags/record.hpp"

namespace boxwalk {

// Where the tag reader hands each tag as it makes it.
class TagSink {
public:
    virtual ~TagSink() = default;
    // A whole tag, the next in the order the file holds them. The reader
    // fills the same storage again for the next tag: what is kept must be
    // copied or moved out.
    virtual void take(Tag& tag) = 0;
};

// Every tag of the file behind `source`, wherever it is stored, with what
// the file is and the damage met. Reads only what the records need, through
// the same bounded reads as the console's walk. A failed read ends the
// reading; the records found before it stand, and source.failed() says so.
TagReport read_tags(Source& source);

// The same reading, each tag handed to `sink` as it is made rather than
// kept in report.tags; the rest (what the file is, its brand and moov, the
// XMP packets and the damage) goes into `report`. The kind, brand and moov
// are final by the time the first tag is handed on: tags are read inside
// the moov only.
void read_tags(Source& source, TagReport& report, TagSink& sink);

}  // namespace boxwalk
