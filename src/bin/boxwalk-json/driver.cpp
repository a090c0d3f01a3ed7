#include "bin/boxwalk-json/driver.hpp"

#include <string>

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
constexpr std::size_t kLineBatch = 1024;

// The pieces an object goes out in: as the console's writes.
constexpr std::size_t kPiece = BufferedOutput::kCapacity;

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
            // The tags, then the console's lines, each reading only what it
            // shows; the lines go into the object as the scan makes them.
            // A failed read ends both, and the object says why after what
            // was read before.
            Source& source = *loaded.source;
            facts.size = source.size();
            TagReport tags = read_tags(source);
            if (!source.failed()) {
                add_xmp_properties(tags);
            }
            facts.tags = &tags;
            json.start_file(facts);
            if (!source.failed()) {
                LineRecorder lines;
                lines.take_in_batches(
                    kLineBatch, [&json](const LineRecorder& batch) { json.add_lines(batch); });
                scan_top_level(source, lines);
                json.add_lines(lines);
            }
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
