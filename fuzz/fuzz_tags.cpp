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
    if (size < 6) {
        return 0;
    }
    boxwalk::ReadAhead read_ahead;
    read_ahead.first = std::size_t{1} + data[0] * std::size_t{7};
    read_ahead.most = read_ahead.first + data[1] * std::size_t{61};
    boxwalk::test::FakeFaults faults;
    faults.most_per_read = std::size_t{1} + data[2] + std::size_t{256} * data[3];
    const boxwalk::ByteView file(data + 6, size - 6);
    const std::vector<std::uint8_t> bytes(file.begin(), file.end());

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
    const ReportLines one_by_one = boxwalk::test::report_lines(streamed);
    if (one_by_one.head != expected.head || one_by_one.tags != expected.tags ||
        one_by_one.xmp != expected.xmp || one_by_one.damage != expected.damage) {
        fail("handed on one at a time: not the same");
    }

    const auto where_asked =
        boxwalk::file_source(std::make_unique<boxwalk::test::FakeFile>(bytes, file.size(), faults),
                             file.size(), read_ahead);
    const ReportLines asked = boxwalk::test::report_lines(boxwalk::read_tags(*where_asked));
    if (where_asked->failed() || asked.head != expected.head || asked.tags != expected.tags ||
        asked.xmp != expected.xmp || asked.damage != expected.damage) {
        fail("read where asked: not the same");
    }

    faults.error_at = data[4] + std::size_t{256} * data[5];
    const auto bad =
        boxwalk::file_source(std::make_unique<boxwalk::test::FakeFile>(bytes, file.size(), faults),
                             file.size(), read_ahead);
    const ReportLines before_error = boxwalk::test::report_lines(boxwalk::read_tags(*bad));
    if (bad->failed() ? !boxwalk::test::starts_with_lines(expected, before_error)
                      : before_error.tags != expected.tags || before_error.xmp != expected.xmp ||
                            before_error.damage != expected.damage) {
        fail("with a bad sector: not the start of the whole reading");
    }
    return 0;
}
