#include "bin/boxwalk-json/driver.hpp"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "primitives/atom.hpp"
#include "report/json.hpp"
#include "report/lines.hpp"
#include "tags/reader.hpp"
#include "tree/scan.hpp"
#include "xmp/xmp.hpp"

namespace boxwalk {
namespace {

// Lines and tags taken at a time: enough that the hand-over costs nothing,
// few enough that they stay in the cache between the thread that makes them
// and the one that writes their JSON.
constexpr std::size_t kLineBatch = 4096;
constexpr std::size_t kTagBatch = 1024;

// Batches in flight between the two threads.
constexpr std::size_t kBatches = 3;

// The pieces an object goes out in: as the console's writes.
constexpr std::size_t kPiece = BufferedOutput::kCapacity;

// The moov from which the JSON is written on a thread of its own, beside
// the scan and the tag reader. Most files' moov is a few kilobytes, read
// faster than a thread starts.
constexpr std::uint64_t kHeavyMoov = std::uint64_t{1} << 20;

// Whether the first top-level moov of `source` is long enough for a second
// thread to pay for itself: found by the scan's own rules, over the
// headers it reads first anyway.
bool is_heavy(Source& source) {
    for (std::uint64_t pos = 0; room_for(pos, source.size(), 8);) {
        Atom atom;
        if (!read_top_level_atom(source, pos, atom)) {
            return false;
        }
        if (atom.is("moov")) {
            return atom.header.size >= kHeavyMoov;
        }
        pos = atom.end;
    }
    return false;
}

// Tags as the reader hands them on, up to `size` of them. The tags stay
// when the batch is emptied, for their storage to be filled again.
struct TagBatch {
    std::vector<Tag> tags;
    std::size_t size = 0;

    void swap(TagBatch& other) {
        tags.swap(other.tags);
        std::swap(size, other.size);
    }
    void clear() { size = 0; }
};

// Batches handed from the thread that makes them to the one that writes
// them: `full` in the order they were made, `spare` to be filled.
template <typename Batch>
class Handover {
public:
    Handover() {
        for (std::size_t i = 0; i < kBatches; ++i) {
            spare_.push_back(std::make_unique<Batch>());
        }
    }

    // The maker's side: trades what `filled` holds for a spare batch's,
    // waiting for one, and hands it on.
    template <typename Trade>
    void give(Batch& filled, Trade&& trade) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !spare_.empty(); });
        std::unique_ptr<Batch> batch = std::move(spare_.back());
        spare_.pop_back();
        trade(filled, *batch);
        full_.push_back(std::move(batch));
        changed_.notify_all();
    }
    // No more batches.
    void close() {
        const std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }

    // The writer's side: `write(batch)` for every batch handed on, in
    // order, until the maker closes.
    template <typename Write>
    void take_all(Write&& write) {
        for (;;) {
            std::unique_ptr<Batch> batch;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [this] { return !full_.empty() || closed_; });
                if (full_.empty()) {
                    return;
                }
                batch = std::move(full_.front());
                full_.erase(full_.begin());
            }
            write(*batch);
            batch->clear();
            const std::lock_guard<std::mutex> lock(mutex_);
            spare_.push_back(std::move(batch));
            changed_.notify_all();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::unique_ptr<Batch>> full_;
    std::vector<std::unique_ptr<Batch>> spare_;
    bool closed_ = false;
};

// Each tag the reader hands on into a batch, a batch at a time to `give`.
// The tag is swapped into the batch, and the reader fills the storage it
// gets back.
class TagsInBatches final : public TagSink {
public:
    explicit TagsInBatches(std::function<void(TagBatch&)> give) : give_(std::move(give)) {}

    void take(Tag& tag) override {
        if (filling_.size == filling_.tags.size()) {
            filling_.tags.emplace_back();
        }
        std::swap(filling_.tags[filling_.size++], tag);
        if (filling_.size == kTagBatch) {
            give_(filling_);
        }
    }
    // The tags not handed on yet.
    TagBatch& rest() { return filling_; }

private:
    TagBatch filling_;
    std::function<void(TagBatch&)> give_;
};

// What the tag reader finds beside the tags it hands on, and the tags'
// JSON: what the file is goes before the first tag, and is known by then.
class TagsToJson {
public:
    TagsToJson(JsonWriter& json, const TagReport& report) : json_(json), report_(report) {}

    void add(const Tag& tag) {
        start();
        json_.add_tag(tag);
    }
    void start() {
        if (!started_) {
            json_.start_tags(report_);
            started_ = true;
        }
    }

private:
    JsonWriter& json_;
    const TagReport& report_;
    bool started_ = false;
};

// The properties of the XMP packets in `report`, to `add` one at a time.
template <typename Add>
void xmp_properties(TagReport& report, Add&& add) {
    std::vector<Tag> properties;
    for (const XmpPacket& packet : report.xmp) {
        properties.clear();
        read_xmp_properties(packet, properties, report.damage);
        for (Tag& tag : properties) {
            add(tag);
        }
    }
}

// The console's lines of `source`, then its tags, into `json` as the scan
// and the tag reader make them; `threaded`, their JSON is written on a
// thread of its own while they go on (the two halve the time on two cores,
// and the records in flight are few).
void write_records(Source& source, JsonWriter& json, bool threaded) {
    TagReport report;
    TagsToJson tags(json, report);
    LineRecorder lines;
    if (!threaded) {
        lines.take_in_batches(kLineBatch, [&json](LineRecorder& full) { json.add_lines(full); });
        scan_top_level(source, lines);
        json.add_lines(lines);
        if (source.failed()) {
            json.add_tags(report);
            return;
        }
        class Direct final : public TagSink {
        public:
            explicit Direct(TagsToJson& tags) : tags_(tags) {}
            void take(Tag& tag) override { tags_.add(tag); }

        private:
            TagsToJson& tags_;
        } direct(tags);
        read_tags(source, report, direct);
        if (!source.failed()) {
            xmp_properties(report, [&tags](const Tag& tag) { tags.add(tag); });
        }
        tags.start();
        json.end_tags(report);
        return;
    }
    Handover<LineRecorder> line_batches;
    Handover<TagBatch> tag_batches;
    std::thread writer([&] {
        line_batches.take_all([&json](const LineRecorder& batch) { json.add_lines(batch); });
        tag_batches.take_all([&tags](const TagBatch& batch) {
            for (std::size_t i = 0; i < batch.size; ++i) {
                tags.add(batch.tags[i]);
            }
        });
    });
    const auto trade_lines = [](LineRecorder& full, LineRecorder& spare) {
        full.swap_lines(spare);
    };
    const auto trade_tags = [](TagBatch& full, TagBatch& spare) { full.swap(spare); };
    lines.take_in_batches(kLineBatch,
                          [&](LineRecorder& full) { line_batches.give(full, trade_lines); });
    scan_top_level(source, lines);
    line_batches.give(lines, trade_lines);
    line_batches.close();
    if (!source.failed()) {
        TagsInBatches batches([&](TagBatch& full) { tag_batches.give(full, trade_tags); });
        read_tags(source, report, batches);
        if (!source.failed()) {
            xmp_properties(report, [&batches](Tag& tag) { batches.take(tag); });
        }
        tag_batches.give(batches.rest(), trade_tags);
    }
    tag_batches.close();
    writer.join();
    tags.start();
    json.end_tags(report);
}

}  // namespace

int run_json(const std::vector<Argument>& args, const FileLoader& load, BufferedOutput& out,
             Output& err) {
    if (args.size() < 2) {
        err.line("Usage: " + (args.empty() ? std::string() : args[0].text) + " FILE...");
        return 1;
    }
    int status = 0;
    JsonWriter json;
    // An object goes out in pieces as it is made, within one record of the
    // output, so that a file of any size takes little memory, and lines
    // written by other runs into the same file never land inside it.
    json.spill_at(kPiece, [&out](std::string_view piece) { out.write_whole(piece); });
    for (std::size_t i = 1; i < args.size(); ++i) {
        const Argument& path = args[i];
        FileFacts facts;
        facts.path = path.text;
        std::string error;
        std::string_view rest;
        out.begin_record();
        const LoadResult loaded = load(path);
        if (!loaded.ok()) {
            error = "read: " + loaded.error;
            facts.error = error;
            rest = json.file_object(facts);
        } else {
            // The console's lines go into the object as the scan makes
            // them, then the tags as the tag reader makes them; each reads
            // only what it shows. A failed read ends both, and the object
            // says why after what was read before.
            Source& source = *loaded.source;
            facts.size = source.size();
            json.start_file(facts);
            write_records(source, json, is_heavy(source));
            if (source.failed()) {
                error = "read: " + *source.error();
            }
            rest = json.finish_file(error.empty() ? std::nullopt
                                                  : std::optional<std::string_view>(error));
        }
        out.write_whole(rest);
        const auto failure = out.end_record();
        if (!error.empty()) {
            err.line("[boxwalk-json] ERROR: " + path.text + ": " + error);
            status = 1;
        }
        if (failure) {
            if (!failure->closed_pipe) {
                err.line("[boxwalk-json] ERROR: write: " + failure->message);
            }
            return 1;
        }
    }
    return status;
}

}  // namespace boxwalk
