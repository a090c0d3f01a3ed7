// What the platform layer does the same on every system: the load, the
// arguments' fallback and the console. The system calls are behind
// system.hpp.
#include "bin/boxwalk/platform.hpp"

#include "bin/boxwalk/system.hpp"

namespace boxwalk {

LoadResult load_file_for(const Argument& path, const ReadPlan& plan) {
    std::string error;
    auto opened = sys::open_file(path, error);
    if (!opened) {
        return LoadResult::failure(error);
    }
    LoadLimits limits;
    limits.memory = sys::physical_memory();
    return open_source(std::move(opened->file), opened->length, limits, plan);
}

std::unique_ptr<Source> load_file_again(const Argument& path, std::uint64_t size) {
    std::string error;
    auto opened = sys::open_file(path, error);
    if (!opened || opened->length != size || size == 0) {
        return nullptr;
    }
    return file_source(std::move(opened->file), size);
}

std::vector<Argument> platform_arguments(int argc, char** argv) {
    std::vector<Argument> args = sys::given_arguments(argc, argv);
    // Started with no arguments at all (Linux then hands over one empty
    // one): the program's own path stands in for its name.
    if (args.empty()) {
        args.push_back(sys::own_path());
    } else if (args[0].native.empty()) {
        args[0] = sys::own_path();
    }
    return args;
}

struct Console::Streams {
    std::unique_ptr<BufferedOutput> out = sys::standard_output();
    std::unique_ptr<LineOutput> err = sys::standard_error(*out);
};

Console::Console() : streams_(std::make_unique<Streams>()) {}

Console::~Console() { streams_->out->flush(); }

BufferedOutput& Console::out() { return *streams_->out; }

Output& Console::err() { return *streams_->err; }

}  // namespace boxwalk
