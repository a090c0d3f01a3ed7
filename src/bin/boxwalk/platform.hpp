#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bin/boxwalk/streams.hpp"
#include "load/load.hpp"
#include "primitives/output.hpp"

// The operating system as the driver sees it: arguments, the load of a
// file, and the two console streams. Only the platform_*.cpp files include
// system headers.
namespace boxwalk {

// One command-line argument: the form the system opens, and lenient UTF-8
// for printing.
struct Argument {
#ifdef _WIN32
    std::wstring native;
#else
    std::string native;
#endif
    std::string text;
};

// The process's arguments; element 0 is always present.
std::vector<Argument> platform_arguments(int argc, char** argv);

// The file named by `path`, opened without locking it (open_source says how
// it is read; a stream keeps what `plan` reads). Errors read "{system
// message} (os error {code})" or "out of memory".
LoadResult load_file_for(const Argument& path, const ReadPlan& plan);
// load_file_for what the console reads.
inline LoadResult load_file(const Argument& path) { return load_file_for(path, kConsolePlan); }

// The file named by `path` opened once more, read where a reader asks, for
// a second reader beside the first; none unless it is a file whose length
// the system reports as `size` (a pipe or a device cannot be read twice).
std::unique_ptr<Source> load_file_again(const Argument& path, std::uint64_t size);

// How a run loads a file: load_file, or a stand-in in tests.
using FileLoader = std::function<LoadResult(const Argument&)>;

// Standard output and standard error. Output is buffered unless it is a
// terminal, and flushed before anything goes to standard error; errors on
// standard error itself are ignored.
class Console {
public:
    Console();
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    BufferedOutput& out();
    Output& err();

private:
    struct Streams;
    std::unique_ptr<Streams> streams_;
};

}  // namespace boxwalk
