#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "source/file.hpp"
#include "source/source.hpp"
#include "tree/plan.hpp"

// The sources over a file: positioned reads where the scan asks for a file
// of known length, a stream read to its end for everything else.
namespace boxwalk {

// How much a file source reads at once beyond what is asked: `first` after
// a jump, doubling up to `most` while reads go on where the last ended.
struct ReadAhead {
    std::size_t first = std::size_t{16} << 10;
    std::size_t most = std::size_t{1} << 20;
};

struct LoadLimits {
    // The longest stream taken, as a whole read of it would need memory for
    // it all: beyond it the load fails with "out of memory".
    std::uint64_t memory = std::numeric_limits<std::uint64_t>::max();
    ReadAhead read_ahead;
};

// A source, or the text of the error that stopped the load.
struct LoadResult {
    std::unique_ptr<Source> source;
    std::string error;

    bool ok() const { return error.empty(); }
    static LoadResult failure(std::string error) { return LoadResult{nullptr, std::move(error)}; }
};

// `file`, `length` bytes long, read where the scan asks, each byte once. An
// error in bytes read ahead of need is not the scan's. Once the file ends
// before the bytes a read needs, reads fail with an error that gives the
// length the system reports then.
std::unique_ptr<Source> file_source(std::unique_ptr<InputFile> file, std::uint64_t length,
                                    ReadAhead read_ahead = {});

// Reads `file` to its end, from offset 0 when `positioned` or else from
// where it stands, keeping only what a program that reads by `plan` will
// ask for: the headers the plan reads, and the atoms it reads whole with
// the header room after their ends. Beyond `memory` bytes of stream, fails
// with "out of memory".
LoadResult stream_source(InputFile& file, bool positioned, std::uint64_t memory,
                         const ReadPlan& plan);

// The source for a file whose length the system reports (none for pipes
// and devices): read where the scan asks when the length is known and not
// 0, read as a stream otherwise, or when the file turns out shorter than
// its length at its first read, of 16 KiB whatever the read-ahead (files of
// /proc and /sys report a length that is not their content). A stream keeps
// what a program that reads by `plan` will ask for: the console's unless
// told.
LoadResult open_source(std::unique_ptr<InputFile> file, std::optional<std::uint64_t> length,
                       const LoadLimits& limits = {}, const ReadPlan& plan = kConsolePlan);

}  // namespace boxwalk
