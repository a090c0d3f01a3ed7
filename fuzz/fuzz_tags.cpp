// libFuzzer entry point: the tag reader on arbitrary bytes. Every report
// keeps its invariants (valid UTF-8 everywhere, ranges inside the file), and
// the reading is the same with its tags handed on one at a time, and through
// a source that reads a file where it is asked; with a bad sector, the
// records found before the error are the start of those of the whole
// reading. The first six bytes of the input choose the read-ahead, how short
// each read comes back and the bad byte; the rest is the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "load/load.hpp"
#include "support/fake_file.hpp"
#include "support/tag_lines.hpp"
#include "tags/reader.hpp"

namespace {

using boxwalk::test::ReportLines;

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "%s\n", why.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fuzzed = boxwalk::test::FuzzedFile::from(data, size);
    if (!fuzzed) {
        return 0;
    }
    const boxwalk::ByteView file = fuzzed->file();

    boxwalk::MemorySource memory(file);
    const boxwalk::TagReport report = boxwalk::read_tags(memory);
    if (const std::string fault = boxwalk::test::report_fault(report, file.size());
        !fault.empty()) {
        fail(fault);
    }
    const ReportLines expected = boxwalk::test::report_lines(report);

    // Handed on one at a time and copied, the tags are the same: the reader
    // fills the same storage again for each, and leaves nothing of one in
    // the next.
    struct Copy final : boxwalk::TagSink {
        void take(boxwalk::Tag& tag) override { tags.push_back(tag); }
        std::vector<boxwalk::Tag> tags;
    } copy;
    boxwalk::MemorySource again(file);
    boxwalk::TagReport streamed;
    boxwalk::read_tags(again, streamed, copy);
    streamed.tags = std::move(copy.tags);
    if (boxwalk::test::report_lines(streamed) != expected) {
        fail("handed on one at a time: not the same");
    }

    const auto where_asked = fuzzed->source();
    if (boxwalk::test::report_lines(boxwalk::read_tags(*where_asked)) != expected ||
        where_asked->failed()) {
        fail("read where asked: not the same");
    }

    const auto bad = fuzzed->source(true);
    const ReportLines before_error = boxwalk::test::report_lines(boxwalk::read_tags(*bad));
    if (bad->failed() ? !boxwalk::test::starts_with_lines(expected, before_error)
                      : before_error != expected) {
        fail("with a bad sector: not the start of the whole reading");
    }
    return 0;
}
