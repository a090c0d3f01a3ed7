// The page's program: the entry points that the page's workers call in
// place of the console's main. The file a person chose in the page is read
// in slices by the worker (web/worker.js), and the two streams are kept as
// records (LineRecorder): the text of every line and, in columns, what each
// line shows. The worker takes them as they are, a buffer each, never a line
// at a time. The file's tag records follow, read over the same source once
// the lines are on the page, in columns too. Two outputs are compared here
// too. Built only by emscripten.
#include <emscripten.h>
#include <wasm_simd128.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <numeric>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bin/boxwalk/driver.hpp"
#include "bin/page/compare.hpp"
#include "contract/contract.hpp"
#include "load/load.hpp"
#include "primitives/atom.hpp"
#include "primitives/render.hpp"
#include "primitives/text.hpp"
#include "report/json.hpp"
#include "report/lines.hpp"
#include "source/file.hpp"
#include "tags/reader.hpp"

namespace boxwalk {
namespace {

// Reads the chosen File's bytes [offset, offset + count) into `into`: the
// count read, 0 at or past the end, or -1 with the browser's error text at
// `error`. Offsets travel as doubles, exact up to 2^53, beyond any File.
EM_JS(int, page_read,
      (double offset, std::uint8_t* into, std::size_t count, char* error, std::size_t error_size),
      { return boxwalkRead(offset, into, count, error, error_size); });

// Hands the worker glue one buffer of results, [data, data + size), named by
// its group ("out", "err", "comparison"), its table ("text", "lines",
// "details", "values", ...) and its name in the table (a column's name in
// contract.hpp). A buffer `kept` (1) stays where it is until the worker
// ends, and the glue reads it there; any other (0) it copies out before the
// program goes on.
EM_JS(void, page_hand,
      (const char* group, const char* table, const char* name, std::size_t name_size,
       const void* data, std::size_t size, int kept),
      {
          boxwalkHand(UTF8ToString(group), UTF8ToString(table), UTF8ToString(name, name_size), data,
                      size, kept);
      });

// Tells the worker glue how far a comparison has come, from 0 to 1.
EM_JS(void, page_progress, (double done), { boxwalkProgress(done); });

// The most a stream may keep in memory. A File always has a length, so only
// an empty one, or one that shrank since it was chosen, is read as a stream.
// The heap grows to 2 GiB at most, and a failed allocation there stops the
// program (exceptions are not caught in this build): kept well below it,
// the limit fails the load with "out of memory" first.
constexpr std::uint64_t kMemoryLimit = std::uint64_t{256} << 20;

// How far the page's reads go ahead of need. A read of the browser's File
// costs some milliseconds whatever its size, a copy of the bytes far less:
// fewer and longer reads than the console's.
constexpr ReadAhead kReadAhead{std::size_t{64} << 10, std::size_t{2} << 20};

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

// Another source's bytes, lent: the console's run reads through it and
// ends it, while the source itself, with what it has read and its pace, is
// kept for the tag reader after the run.
class LentSource final : public Source {
public:
    explicit LentSource(Source& source) : Source(source.size()), source_(source) {}

private:
    // Lends all the bytes the source holds from `pos` on, not only those
    // asked for: the reads that follow mostly fall among them.
    std::optional<std::string> fetch(std::uint64_t pos, std::size_t count) override {
        source_.read(pos, count);
        window_ = source_.held(pos);
        window_pos_ = pos;
        return source_.error();
    }

    Source& source_;
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

// The most lines and text the listing makes room for ahead (see
// reserve_room); a longer one grows as it goes.
constexpr std::uint64_t kMostLinesAhead = std::uint64_t{2} << 20;
constexpr std::uint64_t kMostTextAhead = std::uint64_t{128} << 20;

// Makes room in `out` for the lines of the first moov among `atoms`, as
// the map found them: at most a line for every 8 bytes of it (the least an
// atom or an entry takes), each of some tens of bytes. The program's
// memory is left with its listing, so room not used costs nothing after;
// growing instead costs a copy of everything so far each time it doubles.
void reserve_room(LineRecorder& out, const std::vector<double>& atoms) {
    constexpr double kMoov = 'm' * 16777216.0 + 'o' * 65536.0 + 'o' * 256.0 + 'v';
    for (std::size_t at = 0; at + 4 <= atoms.size(); at += 4) {
        if (atoms[at + 3] == kMoov && atoms[at + 2] != 0) {
            const auto moov = static_cast<std::uint64_t>(atoms[at + 1]);
            out.reserve(static_cast<std::size_t>(std::min(moov / 8 + 64, kMostLinesAhead)),
                        static_cast<std::size_t>(std::min(moov * 3, kMostTextAhead)));
            return;
        }
    }
}

// Hands `bytes` to the worker glue as `group`'s `table` `name`, `kept` in
// place or copied (see page_hand).
template <typename Element>
void hand(const char* group, const char* table, std::string_view name,
          std::span<const Element> bytes, bool kept = false) {
    page_hand(group, table, name.data(), name.size(), bytes.data(), bytes.size_bytes(),
              kept ? 1 : 0);
}

// Hands the text and the columns of `lines`, kept in place, to the worker
// glue as `group`, each column by its name in contract.hpp.
void hand_lines(const char* group, const LineRecorder& lines) {
    hand(group, "text", "text", std::span<const char>(lines.text()), true);
    const auto table = [group](const char* name) {
        return [group, name](std::string_view column_name, const auto& column) {
            hand(group, name, column_name, std::span(column), true);
        };
    };
    visit_columns(lines.lines(), table("lines"));
    visit_columns(lines.details(), table("details"));
    visit_columns(lines.values(), table("values"));
}

// Texts one after another, as UTF-8, with where each ends.
struct TextColumn {
    std::string bytes;
    std::vector<std::uint32_t> ends;

    void push(std::string_view text) {
        bytes.append(text);
        ends.push_back(static_cast<std::uint32_t>(bytes.size()));
    }
};

// Ranges of the file as the worker keeps them: positions and sizes as
// doubles, exact up to 2^53; a range past that is listed apart as its index
// and the four 32-bit halves of its position and size, high first.
struct RangeColumn {
    std::vector<double> pos;
    std::vector<double> size;
    std::vector<std::uint32_t> wide;

    void push(FileRange range) {
        constexpr std::uint64_t kExact = std::uint64_t{1} << 53;
        if (range.pos >= kExact || range.size >= kExact) {
            for (const std::uint64_t part : {std::uint64_t{pos.size()}, range.pos >> 32, range.pos,
                                             range.size >> 32, range.size}) {
                wide.push_back(static_cast<std::uint32_t>(part));
            }
        }
        pos.push_back(static_cast<double>(range.pos));
        size.push_back(static_cast<double>(range.size));
    }
};

// The tag records in columns, as the page's worker keeps them: numbers a
// tag or a value each, texts one after another. A tag's label is the index
// of its text among the labels met, from 1 (0 for none): there are few.
// The columns stay in the program's memory for as long as the listing, and
// the worker reads them there: a copy would hold them twice.
class TagColumns final : public TagSink {
public:
    void take(Tag& tag) override {
        store_.push_back(static_cast<std::uint8_t>(tag.store));
        track_.push_back(tag.track);
        first_.push_back(static_cast<std::uint32_t>(value_kinds_.size()));
        count_.push_back(static_cast<std::uint32_t>(tag.values.size()));
        label_.push_back(label(tag.label));
        key_.push(tag.key);
        mean_.push(tag.mean);
        name_.push(tag.name);
        tag_bytes_.push(tag.bytes);
        for (const TagValue& value : tag.values) {
            value_kinds_.push_back(static_cast<std::uint8_t>(value.kind));
            value_cuts_.push_back(value.cut ? 1 : 0);
            value_types_.push_back(value.stored_type ? static_cast<double>(*value.stored_type)
                                                     : -1);
            text_.push(value.text);
            language_.push(value.language);
            part_.push(value.part);
            value_bytes_.push(value.bytes);
        }
    }

    std::size_t count() const { return key_.ends.size(); }

    // Hands every column to the worker glue as group "tags", table
    // "columns", kept in place.
    void hand_all() const {
        const auto column = [](std::string_view name, const auto& values) {
            hand("tags", "columns", name, std::span(values), true);
        };
        const auto texts = [&column](std::string_view name, const TextColumn& text) {
            column(std::string(name) + "_bytes", text.bytes);
            column(std::string(name) + "_ends", text.ends);
        };
        const auto ranges = [&column](std::string_view name, const RangeColumn& range) {
            column(std::string(name) + "_pos", range.pos);
            column(std::string(name) + "_size", range.size);
            column(std::string(name) + "_wide", range.wide);
        };
        column("store", store_);
        column("track", track_);
        column("first", first_);
        column("count", count_);
        column("label", label_);
        texts("key", key_);
        texts("mean", mean_);
        texts("name", name_);
        texts("labels", labels_);
        ranges("tag", tag_bytes_);
        column("value_kinds", value_kinds_);
        column("value_cuts", value_cuts_);
        column("value_types", value_types_);
        texts("text", text_);
        texts("language", language_);
        texts("part", part_);
        ranges("value", value_bytes_);
    }

private:
    std::uint32_t label(const std::string& text) {
        if (text.empty()) {
            return 0;
        }
        const auto [at, added] =
            label_index_.try_emplace(text, static_cast<std::uint32_t>(labels_.ends.size() + 1));
        if (added) {
            labels_.push(text);
        }
        return at->second;
    }

    // Per tag: its store, its track, its first value, its value count, its
    // label.
    std::vector<std::uint8_t> store_;
    std::vector<std::uint32_t> track_, first_, count_, label_;
    TextColumn key_, mean_, name_, labels_;
    std::unordered_map<std::string, std::uint32_t> label_index_;
    RangeColumn tag_bytes_;
    // Per value: its kind, whether it was cut, its stored type (-1 for
    // none).
    std::vector<std::uint8_t> value_kinds_, value_cuts_;
    std::vector<double> value_types_;
    TextColumn text_, language_, part_;
    RangeColumn value_bytes_;
};

// What a listing printed, kept for as long as the worker lives: the page
// reads it in place, and uses a worker for one listing only.
// The lines a search lets through, by index, standard error's after
// standard output's.
// The source the lines were read through, and the count of its reads, are
// kept for the tag records. The page shows a line's bytes whole, and finds
// a tag's line by where it starts: it keeps no ranges of a line's parts.
struct Listing {
    LineRecorder out{LineRecorder::Details::lines_only};
    LineRecorder err{LineRecorder::Details::lines_only};
    std::vector<std::uint32_t> found;
    ReadCount reads;
    std::unique_ptr<Source> source;
    TagColumns tags;
};
std::unique_ptr<Listing> listing;

// A byte with ASCII letters in lower case.
constexpr std::uint8_t folded(std::uint8_t byte) {
    return byte >= 'A' && byte <= 'Z' ? static_cast<std::uint8_t>(byte + 32) : byte;
}

// Where `needle` (folded, not empty) first occurs in text[from, to), ASCII
// letters in either case: its position, or `to`. Sixteen bytes at a time
// are looked at for the needle's first byte, in one WebAssembly SIMD
// comparison each: search keeps up with typing on a million lines so.
std::size_t find_folded(const std::uint8_t* text, std::size_t from, std::size_t to,
                        std::string_view needle) {
    const auto first = static_cast<std::uint8_t>(needle[0]);
    const auto other = first >= 'a' && first <= 'z' ? static_cast<std::uint8_t>(first - 32) : first;
    const auto holds_needle = [&](std::size_t at) {
        if (to - at < needle.size()) {
            return false;
        }
        for (std::size_t k = 1; k < needle.size(); ++k) {
            if (folded(text[at + k]) != static_cast<std::uint8_t>(needle[k])) {
                return false;
            }
        }
        return true;
    };
    const v128_t lower = wasm_i8x16_splat(static_cast<std::int8_t>(first));
    const v128_t upper = wasm_i8x16_splat(static_cast<std::int8_t>(other));
    std::size_t at = from;
    for (; to - at >= 16; at += 16) {
        const v128_t block = wasm_v128_load(text + at);
        auto hits = static_cast<std::uint32_t>(wasm_i8x16_bitmask(
            wasm_v128_or(wasm_i8x16_eq(block, lower), wasm_i8x16_eq(block, upper))));
        for (; hits != 0; hits &= hits - 1) {
            if (holds_needle(at + static_cast<std::size_t>(std::countr_zero(hits)))) {
                return at + static_cast<std::size_t>(std::countr_zero(hits));
            }
        }
    }
    for (; at < to; ++at) {
        if ((text[at] == first || text[at] == other) && holds_needle(at)) {
            return at;
        }
    }
    return to;
}

// Adds to `found` (first + line) the lines of `lines` that hold `needle`:
// among `among` (indexes, first's included) when given, else all.
void find_lines(const LineRecorder& lines, std::uint32_t first, std::string_view needle,
                const std::vector<std::uint32_t>* among, std::vector<std::uint32_t>& found) {
    const auto* text = reinterpret_cast<const std::uint8_t*>(lines.text().data());
    const std::vector<std::uint64_t>& ends = lines.lines().end;
    const auto start = [&](std::size_t line) {
        return line == 0 ? std::size_t{0} : static_cast<std::size_t>(ends[line - 1]);
    };
    if (among != nullptr) {
        for (const std::uint32_t index : *among) {
            const std::size_t line = index - first;
            if (index >= first && line < ends.size()) {
                const auto end = static_cast<std::size_t>(ends[line]) - 1;
                if (find_folded(text, start(line), end, needle) != end) {
                    found.push_back(index);
                }
            }
        }
        return;
    }
    const std::size_t size = lines.text().size();
    std::size_t line = 0;
    for (std::size_t at = 0; at < size;) {
        const std::size_t hit = find_folded(text, at, size, needle);
        if (hit == size) {
            break;
        }
        while (ends[line] <= hit) {
            ++line;
        }
        found.push_back(first + static_cast<std::uint32_t>(line));
        at = static_cast<std::size_t>(ends[line]);
        ++line;
    }
}

}  // namespace
}  // namespace boxwalk

namespace {

// `value` as four bytes, big-endian, and an atom of `type` holding
// `payload`: for the made-up file of boxwalk_warm.
std::string warm_u32(std::size_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
            static_cast<char>(value >> 8), static_cast<char>(value)};
}
std::string warm_atom(std::string_view type, std::string_view payload) {
    return warm_u32(8 + payload.size()) + std::string(type) + std::string(payload);
}

// A file whose moov's udta holds `count` of each kind that heavy files hold
// many of: items (every other one freeform), Xtra entries and leaves.
std::string warm_file(std::size_t count) {
    using namespace std::string_literals;
    const std::string zero4(4, '\0');
    std::string items;
    std::string entries;
    std::string leaves;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string n = boxwalk::decimal(i);
        const std::string data = warm_atom("data", warm_u32(1) + zero4 + "value " + n);
        items += i % 2 == 0 ? warm_atom("\xA9nam", data)
                            : warm_atom("----", warm_atom("mean", zero4 + "com.apple.iTunes") +
                                                    warm_atom("name", zero4 + "KEY" + n) + data);
        // An entry of one value: a 64-bit number (type 19).
        const std::string name = "WM/Entry" + n;
        const std::string entry = warm_u32(name.size()) + name + warm_u32(1) + warm_u32(14) +
                                  "\0\x13"s + std::string(8, 'x');
        entries += warm_u32(4 + entry.size()) + entry;
        leaves += warm_atom(i % 2 == 0 ? "\xA9"
                                         "cmt"
                                       : "free",
                            "n=" + n);
    }
    const std::string meta = warm_atom("meta", zero4 + warm_atom("ilst", items));
    return warm_atom("ftyp", "isom" + zero4) +
           warm_atom("moov", warm_atom("mvhd", std::string(100, '\0')) +
                                 warm_atom("udta", meta + warm_atom("Xtra", entries) + leaves));
}

// The top-level atoms of the File chosen, as boxwalk_map found them, and the
// reads that took, for the listing that follows.
std::vector<double> map_atoms;
boxwalk::ReadCount map_reads;

boxwalk::LoadLimits page_limits() {
    boxwalk::LoadLimits limits;
    limits.memory = boxwalk::kMemoryLimit;
    limits.read_ahead = boxwalk::kReadAhead;
    return limits;
}

}  // namespace

// Of each kind in the made-up file of boxwalk_warm.
constexpr std::size_t kWarmCount = 2000;

// Lists a made-up file of many items, Xtra entries and leaves, and reads its
// tag records, a few times over, for their effect alone: the browser
// compiles the functions that run most again, optimized, and the page's
// later workers, which run the same program, find them so. Without it the
// first heavy file of a page runs partly in the browser's first, quick
// compilation: a fifth slower than the next.
extern "C" EMSCRIPTEN_KEEPALIVE void boxwalk_warm() {
    using namespace boxwalk;
    const std::string file = warm_file(kWarmCount);
    const ByteView bytes(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
    for (int round = 0; round < 8; ++round) {
        LineRecorder out(LineRecorder::Details::lines_only);
        LineRecorder err(LineRecorder::Details::lines_only);
        out.reserve(8 * kWarmCount, file.size() * 2);
        const FileLoader load = [&](const Argument&) {
            return LoadResult{std::make_unique<MemorySource>(bytes), {}};
        };
        run({{"boxwalk", "boxwalk"}, {"warm", "warm"}}, load, out, err);
        MemorySource source(bytes);
        TagReport report;
        TagColumns columns;
        read_tags(source, report, columns);
    }
}

// Finds the top-level atoms of the chosen File, `length` bytes long, for
// its map, and hands them to the worker glue, copied: four numbers each
// (see top_level_atoms). The glue may then read ahead what the listing will
// read (the first moov) before boxwalk_list.
extern "C" EMSCRIPTEN_KEEPALIVE void boxwalk_map(double length) {
    using namespace boxwalk;
    const auto size = static_cast<std::uint64_t>(length);
    map_reads = ReadCount{};
    map_atoms.clear();
    if (LoadResult map =
            open_source(std::make_unique<PageFile>(map_reads, size), size, page_limits());
        map.ok()) {
        map_atoms = top_level_atoms(*map.source);
    }
    hand("file", "atoms", "atoms", std::span<const double>(map_atoms));
}

// Lists the chosen File, `length` bytes long and named `name` (UTF-8), as
// the console tool would with the name as its argument, after boxwalk_map,
// and hands the worker glue what it printed, kept in place: each stream's
// text and the columns of its lines; and copied, the count of reads.
// Returns the exit status.
extern "C" EMSCRIPTEN_KEEPALIVE int boxwalk_list(const char* name, double length) {
    using namespace boxwalk;
    const auto size = static_cast<std::uint64_t>(length);
    const std::string text = lenient_utf8(std::string_view(name));
    const std::vector<Argument> args = {{"boxwalk", "boxwalk"}, {text, text}};
    const LoadLimits limits = page_limits();
    const std::vector<double>& atoms = map_atoms;
    listing = std::make_unique<Listing>();
    LineRecorder& out = listing->out;
    LineRecorder& err = listing->err;
    reserve_room(out, atoms);
    const FileLoader load = [&](const Argument&) {
        // A stream (an empty File, or one that shrank) keeps what the tag
        // reader will read too, after the lines.
        LoadResult loaded = open_source(std::make_unique<PageFile>(listing->reads, size), size,
                                        limits, kEveryTagPlan);
        if (!loaded.ok()) {
            return loaded;
        }
        listing->source = std::move(loaded.source);
        return LoadResult{std::make_unique<LentSource>(*listing->source), {}};
    };
    const int status = run(args, load, out, err);
    out.flush();
    err.flush();
    const double stats[] = {listing->reads.reads, listing->reads.bytes, map_reads.reads,
                            map_reads.bytes};
    hand_lines("out", out);
    hand_lines("err", err);
    hand("file", "reads", "reads", std::span<const double>(stats));
    return status;
}

// Reads the tag records of the file listed, over the source its lines were
// read through (after them, where that source stands), once, and hands them
// to the worker glue as group "tags": their columns, kept in place
// (TagColumns); and copied, the JSON boxwalk-json writes of a file's tags
// with none of the tags in it (what the file is, its moov, the damage and
// the XMP packets), three numbers (the reads of the file this took, the
// bytes they read and the number of tags) and, when a read failed, its
// error text. Returns 0 when the records are whole, 1 when a read failed
// while they were read (those found before stand), and 2 when none could be
// read: the file was not opened, or a read had failed before.
extern "C" EMSCRIPTEN_KEEPALIVE int boxwalk_tags() {
    using namespace boxwalk;
    const ReadCount before = listing->reads;
    Source* const source = listing->source.get();
    const bool readable = source != nullptr && !source->failed();
    TagReport report;
    TagColumns& columns = listing->tags;
    if (readable) {
        read_tags(*source, report, columns);
    }
    const double counts[] = {listing->reads.reads - before.reads,
                             listing->reads.bytes - before.bytes,
                             static_cast<double>(columns.count())};
    hand("tags", "counts", "counts", std::span<const double>(counts));
    columns.hand_all();
    JsonWriter json;
    hand("tags", "json", "json", std::span<const char>(json.tag_records(report)));
    if (source == nullptr || source->failed()) {
        const std::string error = source != nullptr ? *source->error() : "the file was not opened";
        hand("tags", "error", "error", std::span<const char>(error));
    }
    return !readable ? 2 : source->failed() ? 1 : 0;
}

// Narrows the listing's lines to those whose text holds `needle` (`size`
// bytes, UTF-8), ASCII letters in either case, and with `bad_only` to the
// malformed ones; with `narrow`, among those the last search let through.
// Hands the worker glue their indexes (copied) and returns how many.
extern "C" EMSCRIPTEN_KEEPALIVE std::size_t boxwalk_search(const char* needle, std::size_t size,
                                                           int bad_only, int narrow) {
    using namespace boxwalk;
    std::string wanted(needle, size);
    for (char& c : wanted) {
        c = static_cast<char>(folded(static_cast<std::uint8_t>(c)));
    }
    const auto out_lines = static_cast<std::uint32_t>(listing->out.line_count());
    const std::vector<std::uint32_t>* among = narrow != 0 ? &listing->found : nullptr;
    std::vector<std::uint32_t> found;
    if (wanted.empty()) {
        if (among != nullptr) {
            found = *among;
        } else {
            found.resize(out_lines + listing->err.line_count());
            std::iota(found.begin(), found.end(), std::uint32_t{0});
        }
    } else {
        find_lines(listing->out, 0, wanted, among, found);
        find_lines(listing->err, out_lines, wanted, among, found);
    }
    if (bad_only != 0) {
        const std::vector<std::uint8_t>& kinds = listing->out.lines().kind;
        std::erase_if(found, [&](std::uint32_t index) {
            return index >= out_lines ||
                   kinds[index] != static_cast<std::uint8_t>(LineKind::malformed);
        });
    }
    listing->found = std::move(found);
    hand("search", "found", "found", std::span<const std::uint32_t>(listing->found));
    return listing->found.size();
}

// Compares two outputs, `first_size` and `second_size` bytes long, trying
// at most `comparisons` line comparisons, and hands the worker glue the
// hunks of the unified diff, their ranges and marks (see Comparison), and
// seven numbers: the lines of each output, the lines removed and added,
// those of each side that no line of the other matches, and 1 if the
// search stopped at its bound (else 0).
extern "C" EMSCRIPTEN_KEEPALIVE void boxwalk_compare(const char* first, std::size_t first_size,
                                                     const char* second, std::size_t second_size,
                                                     double comparisons) {
    using namespace boxwalk;
    CompareBound bound;
    bound.comparisons = static_cast<std::uint64_t>(comparisons);
    const Comparison result =
        compare_outputs(std::string_view(first, first_size), std::string_view(second, second_size),
                        bound, page_progress);
    hand("comparison", "hunks", "hunks", std::span<const char>(result.hunks));
    hand("comparison", "ranges", "ranges", std::span<const std::uint32_t>(result.ranges));
    hand("comparison", "marks", "marks", std::span<const char>(result.marks));
    const double counts[] = {static_cast<double>(result.first_lines),
                             static_cast<double>(result.second_lines),
                             static_cast<double>(result.removed),
                             static_cast<double>(result.added),
                             static_cast<double>(result.only_first),
                             static_cast<double>(result.only_second),
                             result.bounded ? 1.0 : 0.0};
    hand("comparison", "counts", "counts", std::span<const double>(counts));
}
