#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "bin/boxwalk/platform.hpp"
#include "bin/boxwalk/streams.hpp"
#include "primitives/output.hpp"

namespace boxwalk {

// A second source over a file already loaded at `size` bytes, for the tag
// reader on a thread of its own; none when the file cannot be read twice
// (a pipe) or no longer has that length.
using SecondLoader = std::function<std::unique_ptr<Source>(const Argument&, std::uint64_t size)>;

// One run of boxwalk-json: for each file named after args[0], in order, its
// object on one line of `out`, within one record of it (see
// BufferedOutput::begin_record); a file that cannot be opened or read gets
// an object that says why, and a line on `err`. A failed write ends the
// run. With `again`, the tags of a file are read beside its lines. Returns
// the exit status: 1 after a usage error, a file not read or a failed
// write, 0 otherwise.
int run_json(const std::vector<Argument>& args, const FileLoader& load, BufferedOutput& out,
             Output& err, const SecondLoader& again = {});

}  // namespace boxwalk
