#pragma once

#include <vector>

#include "bin/boxwalk/platform.hpp"
#include "bin/boxwalk/streams.hpp"
#include "primitives/output.hpp"

namespace boxwalk {

// One run of boxwalk-json: for each file named after args[0], in order, its
// object on one line of `out`, within one record of it (see
// BufferedOutput::begin_record); a file that cannot be opened or read gets
// an object that says why, and a line on `err`. A failed write ends the
// run. Returns the exit status: 1 after a usage error, a file not read or a failed
// write, 0 otherwise.
int run_json(const std::vector<Argument>& args, const FileLoader& load, BufferedOutput& out,
             Output& err);

}  // namespace boxwalk
