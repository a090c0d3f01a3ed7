#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "report/lines.hpp"
#include "tags/record.hpp"

// The JSON of what boxwalk-json reports on a file, and of the tag records
// that the page shows, with the field and kind names of contract.hpp.
namespace boxwalk {

// What is known of one file, for its object.
struct FileFacts {
    std::string_view path;
    // The file's length, once it is open.
    std::optional<std::uint64_t> size;
    // Why the file could not be opened ("read: ..."); the object then says
    // nothing more.
    std::optional<std::string_view> error;
    // The tag reader's records and the console's lines, when read.
    const TagReport* tags = nullptr;
    const LineRecorder* lines = nullptr;
};

// Writes JSON into a buffer of its own, kept from one object to the next.
class JsonWriter {
public:
    JsonWriter();
    ~JsonWriter();
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

    // One file's object on one line, its line feed included: boxwalk-json's
    // output for it. Lent until the next call.
    std::string_view file_object(const FileFacts& file);

    // The same object in steps: everything before the lines (file.tags and
    // file.lines are not read), the lines a recorder holds (as often as it
    // fills, as the scan goes), what the tag reader found, and the end,
    // with the error of a read that failed after the file was opened, if
    // one did (what was read before it stands). The tag reader's fields
    // come after the lines, so that the lines can go out as they are made
    // while the tags are read beside them. The end lends what is not
    // handed to the spill until the next call.
    void start_file(const FileFacts& file);
    void add_lines(const LineRecorder& lines);
    void add_tags(const TagReport& report);
    std::string_view finish_file(std::optional<std::string_view> error = std::nullopt);

    // add_tags in steps, for tags that come one at a time as they are read
    // (see TagSink): what the file is (the report's kind, brand and moov),
    // each tag, and the rest of the report (its damage and XMP packets).
    void start_tags(const TagReport& report);
    void add_tag(const Tag& tag);
    void end_tags(const TagReport& report);

    // Hands what is written of an object to `spill` whenever it reaches
    // `size` bytes, after a whole tag or line: an object of any length then
    // takes memory for `size` bytes and its longest record.
    void spill_at(std::size_t size, std::function<void(std::string_view)> spill);

    // The tag records of one file as one object: what the file is, its
    // moov, the tags, the damage and the XMP packets (the fields of a
    // file's object from `kind` to `xmp`), without a line feed. The page
    // takes all but the tags this way. Lent until the next call; never
    // spilled.
    std::string_view tag_records(const TagReport& report);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace boxwalk
