#include "bin/boxwalk-json/driver.hpp"

#include <string>
#include <vector>

#include "report/json.hpp"
#include "report/lines.hpp"
#include "tags/reader.hpp"
#include "tree/scan.hpp"
#include "xmp/xmp.hpp"

namespace boxwalk {
namespace {

// Lines taken from the scan at a time: enough that the hand-over costs
// nothing, few enough that they stay in the cache between the scan that
// makes them and the JSON that reads them.
constexpr std::size_t kLineBatch = 4096;

// The pieces an object goes out in: as the console's writes.
constexpr std::size_t kPiece = BufferedOutput::kCapacity;

// Each tag into the JSON as the tag reader makes it, after what the file
// is, which is known by the first tag.
class TagsToJson final : public TagSink {
public:
    TagsToJson(JsonWriter& json, const TagReport& report) : json_(json), report_(report) {}

    void take(Tag& tag) override {
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

// The tag fields of `source`'s file into `json`, each tag as it is read,
// then the properties of its XMP packets.
void write_tags(Source& source, JsonWriter& json) {
    TagReport report;
    TagsToJson sink(json, report);
    read_tags(source, report, sink);
    sink.start();
    if (!source.failed()) {
        std::vector<Tag> properties;
        for (const XmpPacket& packet : report.xmp) {
            properties.clear();
            read_xmp_properties(packet, properties, report.damage);
            for (const Tag& tag : properties) {
                json.add_tag(tag);
            }
        }
    }
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
            LineRecorder lines;
            lines.take_in_batches(kLineBatch,
                                  [&json](LineRecorder& full) { json.add_lines(full); });
            scan_top_level(source, lines);
            lines.flush();
            json.add_lines(lines);
            if (!source.failed()) {
                write_tags(source, json);
            } else {
                json.add_tags(TagReport{});
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
