#pragma once

#include <functional>
#include <vector>

#include "bin/boxwalk/platform.hpp"
#include "primitives/output.hpp"
#include "load/load.hpp"

namespace boxwalk {

using FileLoader = std::function<LoadResult(const Argument&)>;

// One whole run: usage check, file line, load, size line, top-level scan and
// moov listing. Returns the exit status: 1 after a usage, read or write
// error, 0 otherwise.
int run(const std::vector<Argument>& args, const FileLoader& load, Output& out, Output& err);

}  // namespace boxwalk
