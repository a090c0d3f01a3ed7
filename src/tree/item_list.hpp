#pragma once

#include <cstdint>

#include "primitives/bytes.hpp"
#include "primitives/output.hpp"
#include "source/source.hpp"

namespace boxwalk {

// Prints one line per item of the ilst payload between `items_start` and
// `items_end` (absolute offsets, items_end within the data), two spaces
// deeper than `depth`: plain items with their first usable data child, ----
// items with their last usable mean, name and data. A malformed item ends
// the list silently; a malformed child ends its item's children.
void describe_ilst(Source& source, std::uint64_t items_start, std::uint64_t items_end,
                   unsigned depth, Output& out);
// The same over bytes in memory.
void describe_ilst(ByteView data, std::uint64_t items_start, std::uint64_t items_end,
                   unsigned depth, Output& out);

}  // namespace boxwalk
