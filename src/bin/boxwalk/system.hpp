#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bin/boxwalk/platform.hpp"
#include "bin/boxwalk/streams.hpp"
#include "source/file.hpp"

// The calls each system supplies, implemented by platform_posix.cpp and
// platform_windows.cpp; platform.cpp holds what every system shares. No
// system headers here.
namespace boxwalk::sys {

// A file opened for reading only, never locked or kept from programs that
// write or delete it, with the length the system reports for a regular file
// (none for pipes, terminals and devices).
struct OpenedFile {
    std::unique_ptr<InputFile> file;
    std::optional<std::uint64_t> length;
};

// Empty, with the system's error text in `error`, when `path` cannot be
// opened.
std::optional<OpenedFile> open_file(const Argument& path, std::string& error);

// The machine's physical memory in bytes.
std::uint64_t physical_memory();

// The arguments as the system hands them over, possibly none.
std::vector<Argument> given_arguments(int argc, char** argv);

// The running program's own file, or an empty argument.
Argument own_path();

// The process's standard output and standard error.
std::unique_ptr<BufferedOutput> standard_output();
std::unique_ptr<LineOutput> standard_error(Output& out);

}  // namespace boxwalk::sys
