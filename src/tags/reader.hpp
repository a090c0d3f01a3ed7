#pragma once

#include "source/source.hpp"
#include "tags/record.hpp"

namespace boxwalk {

// Every tag of the file behind `source`, wherever it is stored, with what
// the file is and the damage met. Reads only what the records need, through
// the same bounded reads as the console's walk. A failed read ends the
// reading; the records found before it stand, and source.failed() says so.
TagReport read_tags(Source& source);

}  // namespace boxwalk
