// What the platform layer does the same on every system: the load, the
// arguments' fallback and the console. The system calls themselves are in
// platform_posix.cpp and platform_windows.cpp, behind system.hpp.
#include "bin/boxwalk/platform.hpp"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <map>

#include "bin/boxwalk/scan.hpp"
#include "bin/boxwalk/system.hpp"

namespace boxwalk {
namespace {

// No single read asks for more: every system takes this much at once.
constexpr std::uint64_t kReadPiece = std::uint64_t{1} << 30;

// The first guess for a file that reports no length, such as a pipe.
constexpr std::uint64_t kFirstGuess = 64 * 1024;

constexpr std::uint64_t round_up(std::uint64_t value, std::uint64_t step) {
    return value / step * step + (value % step == 0 ? 0 : step);
}

void free_heap(std::uint8_t* bytes, std::uint64_t) { std::free(bytes); }

void release_reservation(std::uint8_t* bytes, std::uint64_t reserved) {
    sys::release_pages(bytes, reserved);
}

// Reads `file` into a heap buffer until a read returns nothing: at
// increasing offsets from 0 when `positioned`, else from where it stands.
// `guess` sizes the buffer first; it grows when the data goes on.
LoadResult read_whole(sys::InputFile& file, std::uint64_t guess, bool positioned) {
    struct Heap {
        std::uint8_t* bytes = nullptr;
        ~Heap() { std::free(bytes); }
    } heap;
    std::uint64_t capacity = 0;
    std::uint64_t size = 0;
    for (;;) {
        if (size == capacity) {
            // One byte over the guess, so that the read which finds the end
            // of a file of the guessed length needs no larger buffer.
            const std::uint64_t grown =
                capacity == 0 ? sat_add(guess, 1) : sat_add(capacity, capacity);
            // Never more than the machine holds, which a system that
            // overcommits would grant and then kill the process for.
            const std::uint64_t limit = std::min<std::uint64_t>(
                std::numeric_limits<std::size_t>::max(), sys::physical_memory());
            void* larger =
                grown > limit ? nullptr : std::realloc(heap.bytes, static_cast<std::size_t>(grown));
            if (larger == nullptr) {
                return LoadResult::failure("out of memory");
            }
            heap.bytes = static_cast<std::uint8_t*>(larger);
            capacity = grown;
        }
        const auto want = static_cast<std::size_t>(std::min(capacity - size, kReadPiece));
        const sys::ReadResult got = positioned ? file.read_at(size, heap.bytes + size, want)
                                               : file.read(heap.bytes + size, want);
        if (got.error) {
            return LoadResult::failure(*got.error);
        }
        if (got.count == 0) {
            break;
        }
        size += got.count;
    }
    LoadResult result;
    result.data = FileData(heap.bytes, size, capacity, free_heap);
    heap.bytes = nullptr;
    result.ok = true;
    return result;
}

// The address space for a file of `length` bytes: whole pages, and for a
// file of a huge page or more, through the end of the huge page that holds
// its last byte (the reservation puts the file's second page on a huge-page
// boundary), so that a run read to the file's end can be backed in huge
// pages to its last byte.
std::uint64_t reservation(std::uint64_t length, std::uint64_t page) {
    if (length < sys::kHugePage + page) {
        return round_up(length, page);
    }
    return round_up(length - page, sys::kHugePage) + page;
}

// A file of a known length read into a reservation of that whole length,
// only where the plan asks: every other page stays inaccessible, so that a
// read the plan did not foresee faults at once instead of seeing zeros.
class PlannedLoad final : public ReadPlanner {
public:
    PlannedLoad(sys::InputFile& file, std::uint64_t length)
        : file_(file),
          length_(length),
          page_(sys::page_size()),
          reserved_(reservation(length, page_)),
          budget_(sys::physical_memory()) {}
    ~PlannedLoad() {
        if (base_ != nullptr) {
            sys::release_pages(base_, reserved_);
        }
    }
    PlannedLoad(const PlannedLoad&) = delete;
    PlannedLoad& operator=(const PlannedLoad&) = delete;

    // The loaded file; empty when the file is not as its length said (it
    // must then be read whole), or with the error that stopped the load.
    std::optional<LoadResult> run() {
        if (length_ > std::numeric_limits<std::size_t>::max() || reserved_ < length_) {
            return LoadResult::failure("out of memory");
        }
        // The length must be the whole story: files of /proc and /sys, and
        // files still growing, hold data past what they report.
        std::uint8_t probe = 0;
        const sys::ReadResult past_end = file_.read_at(length_, &probe, 1);
        if (past_end.error) {
            return LoadResult::failure(*past_end.error);
        }
        if (past_end.count != 0) {
            return std::nullopt;
        }
        if (length_ == 0) {
            LoadResult empty;
            empty.ok = true;
            return empty;
        }
        base_ = sys::reserve_pages(reserved_);
        if (base_ == nullptr) {
            return LoadResult::failure("out of memory");
        }
        const bool planned = plan_reads(ByteView(base_, static_cast<std::size_t>(length_)), *this);
        if (error_) {
            return LoadResult::failure(*error_);
        }
        if (!planned) {
            return std::nullopt;  // a read came back short: the file shrank
        }
        for (const auto& [from, to] : runs_) {
            sys::seal_pages(base_ + from, to - from);
        }
        LoadResult result;
        result.data = FileData(base_, length_, reserved_, release_reservation);
        result.ok = true;
        base_ = nullptr;
        return result;
    }

    // Reads the pages that hold [pos, pos + count), those not read already.
    bool fetch(std::uint64_t pos, std::uint64_t count) override {
        if (pos >= length_ || count == 0) {
            return true;
        }
        const std::uint64_t from = pos / page_ * page_;
        std::uint64_t to = round_up(std::min(sat_add(pos, count), length_), page_);
        // A run to the end of the file takes the rest of the reservation
        // too: past the file's last byte there is nothing to hide, and the
        // last huge page is then backed whole.
        if (to == round_up(length_, page_)) {
            to = reserved_;
        }
        // Read the gaps between the runs already read.
        for (std::uint64_t at = from; at < to;) {
            const auto next = runs_.upper_bound(at);
            if (next != runs_.begin() && std::prev(next)->second > at) {
                at = std::prev(next)->second;
                continue;
            }
            const std::uint64_t gap_end = next == runs_.end() ? to : std::min(next->first, to);
            if (!read_pages(at, gap_end)) {
                return false;
            }
            at = gap_end;
        }
        return true;
    }

private:
    // Commits and reads the pages [from, to), which are not read yet.
    bool read_pages(std::uint64_t from, std::uint64_t to) {
        // What the plan holds may never exceed the machine's memory: the
        // system would grant it and kill the process when it fills it.
        if (to - from > budget_ - std::min(budget_, committed_) ||
            !sys::commit_pages(base_ + from, to - from)) {
            error_ = "out of memory";
            return false;
        }
        committed_ += to - from;
        for (std::uint64_t at = from, end = std::min(to, length_); at < end;) {
            const auto want = static_cast<std::size_t>(std::min(end - at, kReadPiece));
            const sys::ReadResult got = file_.read_at(at, base_ + at, want);
            if (got.error) {
                error_ = *got.error;
                return false;
            }
            if (got.count == 0) {
                return false;
            }
            at += got.count;
        }
        add_run(from, to);
        return true;
    }

    // Records [from, to) as read, merged with the runs it touches.
    void add_run(std::uint64_t from, std::uint64_t to) {
        auto it = runs_.upper_bound(from);
        if (it != runs_.begin() && std::prev(it)->second >= from) {
            --it;
            from = it->first;
        }
        while (it != runs_.end() && it->first <= to) {
            to = std::max(to, it->second);
            it = runs_.erase(it);
        }
        runs_.emplace(from, to);
    }

    sys::InputFile& file_;
    std::uint64_t length_;
    std::uint64_t page_;
    std::uint64_t reserved_;
    std::uint64_t budget_;
    std::uint64_t committed_ = 0;
    std::uint8_t* base_ = nullptr;
    std::map<std::uint64_t, std::uint64_t> runs_;  // pages read: start to end, apart
    std::optional<std::string> error_;             // a read error, or "out of memory"
};

}  // namespace

LoadResult load_file(const Argument& path) {
    std::string error;
    auto file = sys::InputFile::open(path, error);
    if (!file) {
        return LoadResult::failure(error);
    }
    const auto length = file->reported_length();
    if (!length) {
        return read_whole(*file, kFirstGuess, false);
    }
    if (auto planned = PlannedLoad(*file, *length).run()) {
        return std::move(*planned);
    }
    // Not what its length said: read it all, from the start.
    return read_whole(*file, std::max(*length, kFirstGuess), true);
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

Output& Console::out() { return *streams_->out; }

Output& Console::err() { return *streams_->err; }

}  // namespace boxwalk
