#pragma once

#include <vector>

#include "bin/boxwalk/platform.hpp"
#include "load/load.hpp"
#include "primitives/output.hpp"

namespace boxwalk {

// One whole run: usage check, file line, load, size line, top-level scan and
// moov listing. Returns the exit status: 1 after a usage, read or write
// error, 0 otherwise.
int run(const std::vector<Argument>& args, const FileLoader& load, Output& out, Output& err);

}  // namespace boxwalk
