#include "bin/boxwalk-json/driver.hpp"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "primitives/atom.hpp"
#include "report/json.hpp"
#include "report/lines.hpp"
#include "tags/reader.hpp"
#include "tree/scan.hpp"
#include "xmp/xmp.hpp"

namespace boxwalk {
namespace {

// Lines taken from the scan at a time: enough that the hand-over costs
// nothing, few enough that they stay in the cache between the scan that
// makes them and the writer that reads them.
constexpr std::size_t kLineBatch = 4096;

// The pieces an object goes out in: as the console's writes.
constexpr std::size_t kPiece = BufferedOutput::kCapacity;

// Batches of lines in flight between the scan and the writer.
constexpr std::size_t kBatches = 3;

// The moov from which the lines and the tags are made on threads of their
// own.
constexpr std::uint64_t kHeavyMoov = std::uint64_t{1} << 20;

// Batches of lines handed from the scan to the writer: `full` in the order
// the scan made them, `spare` for the scan to fill.
class Handover {
public:
    Handover() {
        for (std::size_t i = 0; i < kBatches; ++i) {
            spare_.push_back(std::make_unique<LineRecorder>());
        }
    }

    // The scan's side: moves the lines `scanning` holds into a spare batch,
    // waiting for one, and hands that on.
    void give(LineRecorder& scanning) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !spare_.empty(); });
        std::unique_ptr<LineRecorder> batch = std::move(spare_.back());
        spare_.pop_back();
        scanning.swap_lines(*batch);
        full_.push_back(std::move(batch));
        changed_.notify_all();
    }
    // No more batches.
    void close() {
        const std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }

    // The writer's side: `write(batch)` for every batch handed on, in order,
    // until the scan closes.
    template <typename Write>
    void take_all(Write&& write) {
        for (;;) {
            std::unique_ptr<LineRecorder> batch;
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
    std::vector<std::unique_ptr<LineRecorder>> full_;
    std::vector<std::unique_ptr<LineRecorder>> spare_;
    bool closed_ = false;
};

// Whether the first top-level moov of `source` is long enough for more
// threads to pay for themselves: found by the scan's own rules, over the
// headers it reads first anyway. Most files' moov is a few kilobytes, read
// faster than a thread starts.
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

// The console's lines of `source` into `json` as the scan makes them, a
// batch at a time; `threaded`, written on a thread of their own while the
// scan goes on (the two halve the time on two cores, and the lines in
// flight are few).
void write_lines(Source& source, JsonWriter& json, bool threaded) {
    LineRecorder scanning;
    if (!threaded) {
        scanning.take_in_batches(kLineBatch, [&json](LineRecorder& full) { json.add_lines(full); });
        scan_top_level(source, scanning);
        json.add_lines(scanning);
        return;
    }
    Handover handover;
    std::thread writer(
        [&] { handover.take_all([&json](const LineRecorder& batch) { json.add_lines(batch); }); });
    scanning.take_in_batches(kLineBatch, [&handover](LineRecorder& full) { handover.give(full); });
    scan_top_level(source, scanning);
    handover.give(scanning);
    handover.close();
    writer.join();
}

}  // namespace

int run_json(const std::vector<Argument>& args, const FileLoader& load, BufferedOutput& out,
             Output& err, const SecondLoader& again) {
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
            // them; for a heavy moov, the tag reader reads meanwhile over a
            // second source of the same file, else after the scan (and over
            // the one source of a pipe). Each reads only what it shows. A failed read ends both,
            // and the object says why after what was read before.
            Source& source = *loaded.source;
            facts.size = source.size();
            json.start_file(facts);
            TagReport tags;
            const auto read_all_tags = [&tags](Source& from) {
                tags = read_tags(from);
                if (!from.failed()) {
                    add_xmp_properties(tags);
                }
            };
            const bool heavy = is_heavy(source);
            const std::unique_ptr<Source> second =
                heavy && again ? again(path, source.size()) : nullptr;
            std::thread beside;
            if (second) {
                beside = std::thread([&] { read_all_tags(*second); });
            }
            write_lines(source, json, heavy);
            if (second) {
                beside.join();
            } else if (!source.failed()) {
                read_all_tags(source);
            }
            json.add_tags(tags);
            const Source& failed = source.failed() || !second ? source : *second;
            if (failed.failed()) {
                error = "read: " + *failed.error();
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
