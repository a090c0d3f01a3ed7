// The page's program: the entry point that the page's worker calls in place
// of the console's main. The file a person chose in the page is read in
// slices by the worker (web/worker.js), and the two streams are kept for the
// page with the range of the file each line shows. Built only by emscripten.
#include <emscripten.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bin/boxwalk/driver.hpp"
#include "primitives/atom.hpp"
#include "primitives/text.hpp"
#include "source/file.hpp"
#include "load/load.hpp"

namespace boxwalk {
namespace {

// Reads the chosen File's bytes [offset, offset + count) into `into`: the
// count read, 0 at or past the end, or -1 with the browser's error text at
// `error`. Offsets travel as doubles, exact up to 2^53, beyond any File.
EM_JS(int, page_read,
      (double offset, std::uint8_t* into, std::size_t count, char* error, std::size_t error_size),
      { return boxwalkRead(offset, into, count, error, error_size); });

// Hands the results of one listing to the worker glue.
EM_JS(void, page_deliver,
      (int status, const char* out, std::size_t out_size, const char* shown, std::size_t shown_size,
       const char* err, std::size_t err_size, const char* err_shown, std::size_t err_shown_size,
       const double* lines, const double* about, std::size_t line_count, const double* values,
       std::size_t value_count, const double* atoms, std::size_t atom_count, const double* stats),
      {
          boxwalkDeliver(status, out, out_size, shown, shown_size, err, err_size, err_shown,
                         err_shown_size, lines, about, line_count, values, value_count, atoms,
                         atom_count, stats);
      });

// The most a stream may keep in memory. A File always has a length, so only
// an empty one, or one that shrank since it was chosen, is read as a stream.
// The heap grows to 2 GiB at most, and a failed allocation there stops the
// program (exceptions are not caught in this build): kept well below it,
// the limit fails the load with "out of memory" first.
constexpr std::uint64_t kMemoryLimit = std::uint64_t{256} << 20;

// The top-level atoms the map shows at most; a fragmented file may hold
// many thousands.
constexpr std::size_t kMostAtoms = 100000;

// The first position no double holds exactly, past every File's size.
constexpr std::uint64_t kExactLimit = std::uint64_t{1} << 53;

struct ReadCount {
    double reads = 0;
    double bytes = 0;
};

// The chosen File through the page's reads. There is one position to read
// from, kept here, for the stream source that reads in order.
class PageFile final : public InputFile {
public:
    PageFile(ReadCount& count, std::uint64_t size) : count_(count), size_(size) {}

    ReadResult read_at(std::uint64_t offset, std::uint8_t* into, std::size_t count) override {
        if (offset >= kExactLimit || count == 0) {
            return {};
        }
        char error[256] = {};
        const int got = page_read(static_cast<double>(offset), into, count, error, sizeof error);
        if (got < 0) {
            return {0, std::string(error)};
        }
        count_.reads += 1;
        count_.bytes += got;
        return {static_cast<std::size_t>(got), std::nullopt};
    }

    ReadResult read(std::uint8_t* into, std::size_t count) override {
        ReadResult result = read_at(position_, into, count);
        position_ += result.count;
        return result;
    }

    // A File's size is fixed when it is chosen: a file changed since fails
    // its reads instead.
    std::optional<std::uint64_t> length() override { return size_; }

private:
    ReadCount& count_;
    std::uint64_t size_;
    std::uint64_t position_ = 0;
};

// A stream as the page keeps it: the exact bytes a pipe would get, the same
// text escaped as a terminal shows it, and per line two numbers for the
// file range it shows (NaN for a line that shows none) and nine for what
// it shows (see about()), and an item's values after the first (see
// values()). Each line is taken as it ends, so what it shows goes with its
// own text.
class PageOutput final : public Output {
public:
    PageOutput() : Output(64 * 1024, true, true) {}

    void located(const Located& line) override { line_ = line; }
    bool wants_every_value() const override { return true; }
    void another_value(std::optional<FileRange> value, std::uint32_t type) override {
        constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
        values_.insert(values_.end(), {static_cast<double>(ranges_.size() / 2),
                                       value ? static_cast<double>(value->pos) : kNone,
                                       value ? static_cast<double>(value->size) : kNone,
                                       static_cast<double>(type)});
    }

    const std::string& bytes() const { return bytes_; }
    const std::string& shown() const { return shown_; }
    const std::vector<double>& ranges() const { return ranges_; }
    // Per line: its LineKind, its atom type's four characters as one
    // big-endian number (0 for none), then position and size of its key,
    // its name and its value (NaN for none), and its value's type.
    const std::vector<double>& about() const { return about_; }
    // Four numbers per value of an item after the first: the index of the
    // item's line, the value's position and size, and its type. A position
    // and size of NaN stand for more values than are reported.
    const std::vector<double>& values() const { return values_; }

private:
    void hand_on(std::string_view text) override {
        bytes_.append(text);
        escaper_.append(shown_, text);
    }
    void line_ended() override {
        drain();
        bytes_.push_back('\n');
        escaper_.finish(shown_);
        shown_.push_back('\n');
        constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
        const bool located = line_.kind != LineKind::none;
        ranges_.push_back(located ? static_cast<double>(line_.bytes.pos) : kNone);
        ranges_.push_back(located ? static_cast<double>(line_.bytes.size) : kNone);
        const auto range = [&](const std::optional<FileRange>& r) {
            about_.push_back(r ? static_cast<double>(r->pos) : kNone);
            about_.push_back(r ? static_cast<double>(r->size) : kNone);
        };
        double type = 0;
        for (const char c : line_.type) {
            type = type * 256 + static_cast<unsigned char>(c);
        }
        about_.push_back(static_cast<double>(line_.kind));
        about_.push_back(type);
        range(line_.key);
        range(line_.name);
        range(line_.value);
        about_.push_back(line_.value ? line_.value_type : kNone);
        line_ = Located{};
    }

    std::string bytes_;
    std::string shown_;
    TerminalEscaper escaper_;
    std::vector<double> ranges_;
    std::vector<double> about_;
    std::vector<double> values_;
    Located line_;
};

// The top-level atoms as the map draws them, four numbers each: position,
// declared size, header length and the type's four characters as one
// big-endian number. The walk stops at the first atom that is shorter than
// its header or reaches past the file, and a last entry with header length
// 0 covers bytes at the end that hold no whole header.
std::vector<double> top_level_atoms(Source& source) {
    std::vector<double> atoms;
    const std::uint64_t length = source.size();
    for (std::uint64_t pos = 0; pos < length;) {
        Atom atom;
        if (atoms.size() / 4 == kMostAtoms || !read_atom(source, pos, atom)) {
            if (!source.failed()) {
                atoms.insert(atoms.end(),
                             {static_cast<double>(pos), static_cast<double>(length - pos), 0, 0});
            }
            break;
        }
        double type = 0;
        for (const char c : atom.type()) {
            type = type * 256 + static_cast<unsigned char>(c);
        }
        atoms.insert(atoms.end(), {static_cast<double>(pos), static_cast<double>(atom.header.size),
                                   static_cast<double>(atom.header.header_len), type});
        if (!atom.within(length) || atom.header.size == 0) {
            break;
        }
        pos = atom.end;
    }
    return atoms;
}

}  // namespace
}  // namespace boxwalk

// Lists the chosen File, `length` bytes long and named `name` (UTF-8), as
// the console tool would with the name as its argument, and hands the page
// what it printed, the ranges of its lines, the top-level atoms and the
// count of reads. Returns the exit status.
extern "C" EMSCRIPTEN_KEEPALIVE int boxwalk_list(const char* name, double length) {
    using namespace boxwalk;
    const auto size = static_cast<std::uint64_t>(length);
    const std::string text = lenient_utf8(std::string_view(name));
    const std::vector<Argument> args = {{"boxwalk", "boxwalk"}, {text, text}};
    ReadCount run_reads;
    ReadCount map_reads;
    PageOutput out;
    PageOutput err;
    LoadLimits limits;
    limits.memory = kMemoryLimit;
    const FileLoader load = [&](const Argument&) {
        return open_source(std::make_unique<PageFile>(run_reads, size), size, limits);
    };
    const int status = run(args, load, out, err);
    std::vector<double> atoms;
    if (LoadResult map = open_source(std::make_unique<PageFile>(map_reads, size), size, limits);
        map.ok()) {
        atoms = top_level_atoms(*map.source);
    }
    const double stats[] = {run_reads.reads, run_reads.bytes, map_reads.reads, map_reads.bytes};
    page_deliver(status, out.bytes().data(), out.bytes().size(), out.shown().data(),
                 out.shown().size(), err.bytes().data(), err.bytes().size(), err.shown().data(),
                 err.shown().size(), out.ranges().data(), out.about().data(),
                 out.ranges().size() / 2, out.values().data(), out.values().size() / 4,
                 atoms.data(), atoms.size() / 4, stats);
    return status;
}
