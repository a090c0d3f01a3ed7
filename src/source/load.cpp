#include "source/load.hpp"

#include <algorithm>
#include <new>
#include <vector>

#include "primitives/atom.hpp"
#include "primitives/render.hpp"

namespace boxwalk {
namespace {

// A file of a known length, read at the positions the scan asks for. What
// one read brings stays at hand until the next.
class FileSource final : public Source {
public:
    FileSource(std::unique_ptr<InputFile> file, std::uint64_t length, ReadAhead read_ahead)
        : Source(length),
          file_(std::move(file)),
          read_ahead_(read_ahead),
          next_(std::max<std::size_t>(read_ahead.first, 1)) {}

    // True once a read met the end of the file before its length.
    bool ended_early() const { return ended_early_; }
    std::unique_ptr<InputFile> release_file() { return std::move(file_); }

private:
    ByteView fetch(std::uint64_t pos, std::size_t count) override {
        if (failed() || pos >= size()) {
            return {};
        }
        // Reads that go on near where the last ended take more each time,
        // as a walk of many small atoms does; a jump starts small again.
        const std::uint64_t last_end = window_pos_ + window_.size();
        const bool onward =
            !window_.empty() && pos >= window_pos_ && (pos <= last_end || pos - last_end <= next_);
        next_ = onward ? std::min(next_ * 2, std::max(read_ahead_.most, read_ahead_.first))
                       : std::max<std::size_t>(read_ahead_.first, 1);
        const std::uint64_t left = size() - pos;
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(std::max(count, next_), left));
        auto error = read_window(pos, want);
        if (error && want > count) {
            // Bytes read ahead are bytes no line may need: an error among
            // them, a bad sector in the media data say, is not the scan's.
            error =
                read_window(pos, static_cast<std::size_t>(std::min<std::uint64_t>(count, left)));
        }
        if (error) {
            fail(*error);
        }
        return window_.first(std::min(count, window_.size()));
    }

    // Reads `want` bytes at `pos` into the window. The system's error, or
    // none: also when the file ended before them, which fails the source.
    std::optional<std::string> read_window(std::uint64_t pos, std::size_t want) {
        window_ = {};  // its bytes are about to be overwritten
        if (want > capacity_) {
            buffer_.reset(new (std::nothrow) std::uint8_t[want]);
            capacity_ = buffer_ ? want : 0;
            if (!buffer_) {
                fail("out of memory");
                return std::nullopt;
            }
        }
        for (std::size_t got = 0; got < want;) {
            const ReadResult result = file_->read_at(pos + got, buffer_.get() + got, want - got);
            if (result.error) {
                return result.error;
            }
            if (result.count == 0) {
                ended_early_ = true;
                fail("the file shrank while it was read: it ends at byte " + decimal(pos + got) +
                     " of " + decimal(size()));
                return std::nullopt;
            }
            got += result.count;
        }
        window_ = ByteView(buffer_.get(), want);
        window_pos_ = pos;
        return std::nullopt;
    }

    std::unique_ptr<InputFile> file_;
    ReadAhead read_ahead_;
    std::size_t next_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t capacity_ = 0;
    bool ended_early_ = false;
};

// A run of a stream's bytes that was kept.
struct Segment {
    std::uint64_t start = 0;
    std::vector<std::uint8_t> bytes;
};

// The kept segment that holds the byte at `pos`, or null.
const Segment* segment_at(const std::vector<Segment>& segments, std::uint64_t pos) {
    const auto after = std::upper_bound(
        segments.begin(), segments.end(), pos,
        [](std::uint64_t at, const Segment& segment) { return at < segment.start; });
    if (after == segments.begin() ||
        pos - std::prev(after)->start >= std::prev(after)->bytes.size()) {
        return nullptr;
    }
    return &*std::prev(after);
}

// Up to `count` kept bytes at `pos`: as far as its segment goes.
ByteView kept_at(const std::vector<Segment>& segments, std::uint64_t pos, std::size_t count) {
    const Segment* segment = segment_at(segments, pos);
    if (segment == nullptr) {
        return {};
    }
    const auto skip = static_cast<std::size_t>(pos - segment->start);
    return ByteView(segment->bytes).subspan(skip, std::min(count, segment->bytes.size() - skip));
}

// The bytes of a stream that the scan will ask for; nothing else of it.
class StreamSource final : public Source {
public:
    StreamSource(std::uint64_t size, std::vector<Segment> segments)
        : Source(size), segments_(std::move(segments)) {}

private:
    ByteView fetch(std::uint64_t pos, std::size_t count) override {
        const Segment* segment = segment_at(segments_, pos);
        if (segment == nullptr) {
            return {};
        }
        // The whole segment comes to hand, for the reads that follow.
        window_ = segment->bytes;
        window_pos_ = segment->start;
        return kept_at(segments_, pos, count);
    }

    std::vector<Segment> segments_;
};

// Decides, as a stream goes by, which of its bytes the scan will ask for:
// the rules of the top-level scan and of the moov listing, run on the
// bytes kept so far. Each range is decided before the stream reaches it.
class Keeper {
public:
    // Keeps what is wanted of `chunk`, the stream's bytes from `at` on.
    bool take(ByteView chunk, std::uint64_t at) {
        const std::uint64_t chunk_end = at + chunk.size();
        while (looking_ != Looking::done) {
            const std::uint64_t from = std::max(from_, at);
            const std::uint64_t to = std::min(to_, chunk_end);
            if (from < to && !keep(from, chunk.subspan(static_cast<std::size_t>(from - at),
                                                       static_cast<std::size_t>(to - from)))) {
                return false;
            }
            if (to_ > chunk_end) {
                return true;  // the range goes on in the stream
            }
            decide_next();
        }
        return true;
    }

    std::vector<Segment> segments() && { return std::move(segments_); }

private:
    enum class Looking { top_level, moov, udta_tail, done };

    // Appends the bytes at `pos` to what is kept; false when no memory can
    // be had for them.
    bool keep(std::uint64_t pos, ByteView bytes) {
        try {
            if (segments_.empty() || pos > segments_.back().start + segments_.back().bytes.size()) {
                segments_.push_back(Segment{pos, {}});
            }
            Segment& last = segments_.back();
            const std::uint64_t kept_end = last.start + last.bytes.size();
            // Ranges can overlap the bytes kept last: a header inside the one before.
            const auto skip = static_cast<std::size_t>(
                std::min<std::uint64_t>(kept_end - std::min(kept_end, pos), bytes.size()));
            last.bytes.insert(last.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(skip),
                              bytes.end());
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    // The range after the one just completed.
    void decide_next() {
        if (looking_ == Looking::top_level) {
            const ByteView head = kept_at(segments_, from_, kLongestHeader);
            Atom atom;
            // A size field of 0 runs to the end of the stream, not known yet.
            const bool to_the_end = read_u32_be(head, 0) == 0;
            if (!read_atom_head(head, from_, kBeyondEveryEnd, atom) || !atom.whole()) {
                looking_ = Looking::done;
            } else if (atom.is("moov")) {
                moov_ = atom;
                looking_ = Looking::moov;
                to_ = to_the_end ? kBeyondEveryEnd : sat_add(atom.end, kHeaderLookahead);
            } else if (to_the_end) {
                looking_ = Looking::done;
            } else {
                from_ = atom.end;
                to_ = sat_add(from_, kLongestHeader);
            }
        } else if (looking_ == Looking::moov) {
            // A udta child may reach past moov: the walk follows it there.
            to_ = std::max(to_, furthest_udta_end());
            looking_ =
                to_ > sat_add(moov_.end, kHeaderLookahead) ? Looking::udta_tail : Looking::done;
        } else {
            looking_ = Looking::done;
        }
    }

    // Where the walks of moov's udta children end, with the header room
    // after; 0 when there is none.
    std::uint64_t furthest_udta_end() const {
        std::uint64_t furthest = 0;
        for (std::uint64_t off = moov_.payload_start; room_for(off, moov_.end, 8);) {
            const ByteView head = kept_at(segments_, off, kLongestHeader);
            Atom child;
            const bool to_the_end = read_u32_be(head, 0) == 0;
            if (!read_atom_head(head, off, kBeyondEveryEnd, child)) {
                break;
            }
            if (child.is("udta")) {
                furthest = std::max(
                    furthest, to_the_end ? kBeyondEveryEnd : sat_add(child.end, kHeaderLookahead));
            }
            // Such a child runs to the end of the data, or does not advance.
            if (to_the_end || child.header.size == 0) {
                break;
            }
            off = child.end;
        }
        return furthest;
    }

    Looking looking_ = Looking::top_level;
    std::uint64_t from_ = 0;
    std::uint64_t to_ = kLongestHeader;
    Atom moov_;
    std::vector<Segment> segments_;
};

}  // namespace

std::unique_ptr<Source> file_source(std::unique_ptr<InputFile> file, std::uint64_t length,
                                    ReadAhead read_ahead) {
    return std::make_unique<FileSource>(std::move(file), length, read_ahead);
}

LoadResult stream_source(InputFile& file, bool positioned, std::uint64_t memory) {
    constexpr std::size_t kChunk = std::size_t{256} << 10;
    const std::unique_ptr<std::uint8_t[]> chunk(new (std::nothrow) std::uint8_t[kChunk]);
    if (!chunk) {
        return LoadResult::failure("out of memory");
    }
    Keeper keeper;
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
    return LoadResult{std::make_unique<StreamSource>(total, std::move(keeper).segments()), {}};
}

LoadResult open_source(std::unique_ptr<InputFile> file, std::optional<std::uint64_t> length,
                       const LoadLimits& limits) {
    if (!length || *length == 0) {
        return stream_source(*file, false, limits.memory);
    }
    auto source = std::make_unique<FileSource>(std::move(file), *length, limits.read_ahead);
    // The first header is read before the size line, which must be right.
    source->read(0, kLongestHeader);
    if (source->ended_early()) {
        const std::unique_ptr<InputFile> again = source->release_file();
        return stream_source(*again, true, limits.memory);
    }
    if (source->failed()) {
        return LoadResult::failure(*source->error());
    }
    return LoadResult{std::move(source), {}};
}

}  // namespace boxwalk
