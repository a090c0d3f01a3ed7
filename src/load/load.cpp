#include "load/load.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "primitives/atom.hpp"
#include "primitives/render.hpp"
#include "tree/plan.hpp"

namespace boxwalk {
namespace {

// The first read of a file: enough to tell one that holds less than its
// length (files of /proc and /sys report a page) from one that shrinks as
// it is read, whatever the read-ahead.
constexpr std::size_t kFirstRead = std::size_t{16} << 10;

// How much of what was at hand before the bytes asked for a read keeps: an
// item's texts are asked for after its children's headers, a little way
// back, and a long text a piece at a time.
constexpr std::uint64_t kKeptBehind = std::uint64_t{64} << 10;

// How far past the bytes at hand a read may start and still read on from
// their end, the bytes between read ahead: far enough for the texts an
// item's walk steps over, short of the payloads a listing skips.
constexpr std::uint64_t kReadThrough = std::uint64_t{4} << 10;

// A file of a known length, read at the positions the scan asks for. What
// one read brings stays at hand until the next, which keeps of it what it
// still needs.
class FileSource final : public Source {
public:
    FileSource(std::unique_ptr<InputFile> file, std::uint64_t length, ReadAhead read_ahead)
        : Source(length),
          file_(std::move(file)),
          read_ahead_(read_ahead),
          next_(std::max<std::size_t>(read_ahead.first, 1)) {}

    // Reads the file's first bytes ahead of need: false when the file ends
    // before its length there. A failed read tells nothing of the length; its
    // bytes are left to the reads that need them.
    bool holds_its_start() {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(size(), kFirstRead));
        if (!make_room(want, 0, 0)) {
            return true;  // the scan's first read will say so
        }
        window_pos_ = 0;
        const Filled filled = fill(0, want);
        if (filled.error) {
            avoid_ = {filled.reached, want};
        }
        window_ = ByteView(buffer_.get(), static_cast<std::size_t>(filled.reached));
        return filled.error || filled.reached == want;
    }

    std::unique_ptr<InputFile> release_file() { return std::move(file_); }

private:
    // Where reading the file into the buffer got to, and the system's error
    // when a read failed there.
    struct Filled {
        std::uint64_t reached = 0;
        std::optional<std::string> error;
    };

    // What one fetch reads into the buffer: from `from` on, the bytes at
    // hand up to `kept_end` kept where they are, then read on to
    // `ahead_end`. The read asked for bytes from `pos` to `needed_end`.
    struct Fetch {
        std::uint64_t pos = 0;
        std::uint64_t needed_end = 0;
        std::uint64_t from = 0;
        std::uint64_t kept_end = 0;
        std::uint64_t ahead_end = 0;
    };

    std::optional<std::string> fetch(std::uint64_t pos, std::size_t count) override {
        if (pos >= size()) {
            return std::nullopt;  // nothing lies there
        }
        const Fetch plan = plan_fetch(pos, count);
        if (!make_room(static_cast<std::size_t>(plan.ahead_end - plan.from), plan.from,
                       plan.kept_end)) {
            return "out of memory";
        }
        return fill_or_retry(plan);
    }

    // The fetch of `count` bytes at `pos`, inside the file: how far it reads
    // ahead, and what it keeps of the bytes at hand.
    Fetch plan_fetch(std::uint64_t pos, std::size_t count) {
        Fetch plan;
        plan.pos = pos;
        const std::uint64_t left = size() - pos;
        plan.needed_end = pos + std::min<std::uint64_t>(count, left);
        // Reads that go on near where the last ended take more each time,
        // as a walk of many small atoms does; a jump starts small again.
        const std::uint64_t last_end = window_pos_ + window_.size();
        const bool near = !window_.empty() && pos >= window_pos_;
        const bool onward = near && (pos <= last_end || pos - last_end <= next_);
        next_ = onward ? std::min(next_ * 2, std::max(read_ahead_.most, read_ahead_.first))
                       : std::max<std::size_t>(read_ahead_.first, 1);
        plan.ahead_end = pos + std::min<std::uint64_t>(std::max(count, next_), left);
        // Bytes whose read failed are asked for again only where a line
        // needs them.
        if (plan.ahead_end > avoid_.first && pos < avoid_.second) {
            plan.ahead_end = std::max(plan.needed_end, std::min(plan.ahead_end, avoid_.first));
        }
        // A read that goes on from the bytes at hand, or a little past them,
        // keeps those from `pos` on, with some before, and reads on from
        // their end.
        plan.from = pos;
        plan.kept_end = pos;
        if (near && (pos <= last_end || pos - last_end <= kReadThrough)) {
            plan.from = std::max(window_pos_, pos - std::min(pos, kKeptBehind));
            plan.kept_end = last_end;
        }
        return plan;
    }

    // Reads into the buffer as `plan` says, and returns the error that ends
    // the reads, if one does. An error among bytes read ahead of need, in
    // the media data say, is not the scan's: the bytes needed are read
    // again alone, and later reads ahead stay out of those that failed.
    std::optional<std::string> fill_or_retry(Fetch plan) {
        window_pos_ = plan.from;
        Filled filled = fill(plan.kept_end - plan.from, plan.ahead_end - plan.from);
        if (filled.error) {
            avoid_ = {plan.from + filled.reached, plan.ahead_end};
        }
        if (filled.error && plan.from + filled.reached < plan.needed_end) {
            if (plan.from + filled.reached < plan.pos) {
                window_pos_ = plan.from = plan.pos;
                filled.reached = 0;
            }
            filled = fill(filled.reached, plan.needed_end - plan.from);
            if (filled.error) {
                return filled.error;
            }
        }
        window_ = ByteView(buffer_.get(), static_cast<std::size_t>(filled.reached));
        if (plan.from + filled.reached < plan.needed_end) {
            return shrank(plan.from + filled.reached);
        }
        return std::nullopt;
    }

    // Makes the buffer hold `want` bytes from `from` on, with the bytes at
    // hand in [from, kept_end) already in place; false when no memory can be
    // had for it.
    bool make_room(std::size_t want, std::uint64_t from, std::uint64_t kept_end) {
        const auto kept = static_cast<std::size_t>(kept_end - from);
        const std::uint8_t* const at = kept == 0 ? nullptr : window_.data() + (from - window_pos_);
        if (want > capacity_) {
            std::unique_ptr<std::uint8_t[]> larger(new (std::nothrow) std::uint8_t[want]);
            if (!larger) {
                return false;
            }
            if (kept != 0) {
                std::memcpy(larger.get(), at, kept);
            }
            buffer_ = std::move(larger);
            capacity_ = want;
        } else if (kept != 0) {
            std::memmove(buffer_.get(), at, kept);
        }
        window_ = {};
        return true;
    }

    // Reads the file into the buffer from offset `at` to `end`, both
    // relative to window_pos_, stopping early where the file ends.
    Filled fill(std::uint64_t at, std::uint64_t end) {
        while (at < end) {
            const ReadResult result = file_->read_at(window_pos_ + at, buffer_.get() + at,
                                                     static_cast<std::size_t>(end - at));
            if (result.error) {
                return Filled{at, result.error};
            }
            if (result.count == 0) {
                break;
            }
            at += result.count;
        }
        return Filled{at, std::nullopt};
    }

    // The error of a file that ended at `reached`, before the bytes a read
    // needed: where the system says it ends now.
    std::string shrank(std::uint64_t reached) const {
        const auto now = file_->length();
        return "the file shrank while it was read: it ends at byte " +
               decimal(now && *now < reached ? *now : reached) + " of " + decimal(size());
    }

    std::unique_ptr<InputFile> file_;
    ReadAhead read_ahead_;
    std::size_t next_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t capacity_ = 0;
    // Bytes read ahead whose read failed: [first, second).
    std::pair<std::uint64_t, std::uint64_t> avoid_{kBeyondEveryEnd, kBeyondEveryEnd};
};

// A run of a stream's bytes that was kept, as it arrived.
struct Block {
    std::uint64_t start = 0;
    std::vector<std::uint8_t> bytes;

    std::uint64_t end() const { return start + bytes.size(); }
};

// The bytes of a stream that the scan will ask for; nothing else of it.
// Kept in blocks as they arrive, so that memory grows by what is kept.
class StreamSource final : public Source {
public:
    explicit StreamSource(std::uint64_t size, std::vector<Block> blocks = {})
        : Source(size), blocks_(std::move(blocks)) {}

    // Keeps `bytes`, the stream's bytes at `pos`, less those kept already;
    // false when no memory can be had for them.
    bool keep(std::uint64_t pos, ByteView bytes) {
        // Ranges can overlap the bytes kept last: a header inside the one before.
        const std::uint64_t kept_end = blocks_.empty() ? 0 : blocks_.back().end();
        const auto skip = static_cast<std::size_t>(
            std::min<std::uint64_t>(kept_end - std::min(kept_end, pos), bytes.size()));
        if (skip == bytes.size()) {
            return true;
        }
        try {
            blocks_.push_back(Block{
                pos + skip, std::vector<std::uint8_t>(
                                bytes.begin() + static_cast<std::ptrdiff_t>(skip), bytes.end())});
        } catch (const std::bad_alloc&) {
            return false;
        } catch (const std::length_error&) {
            return false;
        }
        return true;
    }

    std::vector<Block> blocks() && { return std::move(blocks_); }

private:
    std::optional<std::string> fetch(std::uint64_t pos, std::size_t count) override {
        window_ = {};
        const auto after =
            std::upper_bound(blocks_.begin(), blocks_.end(), pos,
                             [](std::uint64_t at, const Block& block) { return at < block.start; });
        if (after == blocks_.begin() || pos >= std::prev(after)->end()) {
            return std::nullopt;  // not kept: never asked for by the scan
        }
        const Block& block = *std::prev(after);
        if (pos + count <= block.end() || after == blocks_.end() || after->start != block.end()) {
            // The whole block comes to hand, for the reads that follow.
            window_ = block.bytes;
            window_pos_ = block.start;
            return std::nullopt;
        }
        // The bytes run on into the next blocks: joined for this read.
        if (count > joined_capacity_) {
            joined_.reset(new (std::nothrow) std::uint8_t[count]);
            joined_capacity_ = joined_ ? count : 0;
            if (!joined_) {
                return "out of memory";
            }
        }
        std::size_t joined = 0;
        for (auto next = std::prev(after);
             joined < count && next != blocks_.end() && next->start <= pos + joined &&
             pos + joined < next->end();
             ++next) {
            const auto skip = static_cast<std::size_t>(pos + joined - next->start);
            const std::size_t take = std::min(count - joined, next->bytes.size() - skip);
            std::memcpy(joined_.get() + joined, next->bytes.data() + skip, take);
            joined += take;
        }
        window_ = ByteView(joined_.get(), joined);
        window_pos_ = pos;
        return std::nullopt;
    }

    std::vector<Block> blocks_;
    std::unique_ptr<std::uint8_t[]> joined_;
    std::size_t joined_capacity_ = 0;
};

// Decides, as a stream goes by, which of its bytes the scan will ask for:
// the plan's own walk, run on the bytes kept so far as on data whose end is
// not known yet. Each range is decided before the stream reaches it.
class Keeper {
public:
    explicit Keeper(const ReadPlan& plan) : walk_(plan), head_(plan.head) {}

    // Keeps what is wanted of `chunk`, the stream's bytes from `at` on;
    // false when no memory can be had for it.
    bool take(ByteView chunk, std::uint64_t at) {
        const std::uint64_t chunk_end = at + chunk.size();
        // The file's first bytes, whatever they hold.
        if (!keep(chunk, at, 0, head_)) {
            return false;
        }
        for (;;) {
            // The rest of the atom read whole last, then the header that
            // the walk reads next.
            if (!keep(chunk, at, whole_from_, whole_to_)) {
                return false;
            }
            const std::optional<std::uint64_t> pos = walk_.next(kept_);
            if (!pos) {
                return true;  // nothing further is read
            }
            const std::uint64_t header_end = sat_add(*pos, kLongestHeader);
            if (!keep(chunk, at, *pos, header_end)) {
                return false;
            }
            if (header_end > chunk_end) {
                return true;  // the header goes on in the stream
            }
            const std::optional<Planned> planned = walk_.step(kept_);
            if (kept_.failed()) {
                return false;
            }
            // An atom read whole may reach past its parent, over the atoms
            // read after it: both are kept.
            if (planned && planned->take == Take::whole) {
                if (planned->atom.pos >= whole_to_) {
                    whole_from_ = planned->atom.pos;
                }
                whole_to_ = std::max(whole_to_, walk_reach(planned->atom));
            }
        }
    }

    std::vector<Block> blocks() && { return std::move(kept_).blocks(); }

private:
    // Keeps the bytes of `chunk` (the stream's from `at` on) that lie in
    // [from, to); false when no memory can be had for them.
    bool keep(ByteView chunk, std::uint64_t at, std::uint64_t from, std::uint64_t to) {
        from = std::max(from, at);
        to = std::min(to, at + chunk.size());
        return from >= to || kept_.keep(from, chunk.subspan(static_cast<std::size_t>(from - at),
                                                            static_cast<std::size_t>(to - from)));
    }

    StreamSource kept_{kBeyondEveryEnd};
    PlanWalk walk_;
    std::uint64_t head_;
    std::uint64_t whole_from_ = 0;
    std::uint64_t whole_to_ = 0;
};

}  // namespace

std::unique_ptr<Source> file_source(std::unique_ptr<InputFile> file, std::uint64_t length,
                                    ReadAhead read_ahead) {
    return std::make_unique<FileSource>(std::move(file), length, read_ahead);
}

LoadResult stream_source(InputFile& file, bool positioned, std::uint64_t memory,
                         const ReadPlan& plan) {
    constexpr std::size_t kChunk = std::size_t{256} << 10;
    const std::unique_ptr<std::uint8_t[]> chunk(new (std::nothrow) std::uint8_t[kChunk]);
    if (!chunk) {
        return LoadResult::failure("out of memory");
    }
    Keeper keeper(plan);
    std::uint64_t total = 0;
    for (;;) {
        const ReadResult got =
            positioned ? file.read_at(total, chunk.get(), kChunk) : file.read(chunk.get(), kChunk);
        if (got.error) {
            return LoadResult::failure(*got.error);
        }
        if (got.count == 0) {
            break;
        }
        // A stream that never ends (/dev/zero) ends here, as its whole read would.
        if (got.count > memory - std::min(memory, total) ||
            !keeper.take(ByteView(chunk.get(), got.count), total)) {
            return LoadResult::failure("out of memory");
        }
        total += got.count;
    }
    return LoadResult{std::make_unique<StreamSource>(total, std::move(keeper).blocks()), {}};
}

LoadResult open_source(std::unique_ptr<InputFile> file, std::optional<std::uint64_t> length,
                       const LoadLimits& limits, const ReadPlan& plan) {
    if (!length || *length == 0) {
        return stream_source(*file, false, limits.memory, plan);
    }
    auto source = std::make_unique<FileSource>(std::move(file), *length, limits.read_ahead);
    if (!source->holds_its_start()) {
        const std::unique_ptr<InputFile> again = source->release_file();
        return stream_source(*again, true, limits.memory, plan);
    }
    // The first header is read before the size line: a file that cannot be
    // read fails as a load.
    Atom first;
    read_atom(*source, 0, first);
    if (source->failed()) {
        return LoadResult::failure(*source->error());
    }
    return LoadResult{std::move(source), {}};
}

}  // namespace boxwalk
