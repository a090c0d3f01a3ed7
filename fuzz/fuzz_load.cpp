// libFuzzer entry point: the scan over the sources that read a file against
// the scan over the same bytes in memory. The first four bytes of the input
// choose the read-ahead and how short each read of the fake file comes
// back; the rest is the file. Read where the scan asks, and read through as
// a stream keeping only what the scan will ask for, it must print the same
// as from memory; anything else aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "primitives/render.hpp"
#include "source/load.hpp"
#include "support/fake_file.hpp"
#include "tree/scan.hpp"

namespace {

std::string scan(boxwalk::Source& source) {
    boxwalk::StringOutput out;
    boxwalk::scan_top_level(source, out);
    return boxwalk::decimal(source.size()) + "\n" + out.text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    boxwalk::ReadAhead read_ahead;
    read_ahead.first = std::size_t{1} + data[0] * std::size_t{7};
    read_ahead.most = read_ahead.first + data[1] * std::size_t{61};
    boxwalk::test::FakeFaults faults;
    faults.most_per_read = std::size_t{1} + data[2] + std::size_t{256} * data[3];
    const boxwalk::ByteView file(data + 4, size - 4);
    const std::vector<std::uint8_t> bytes(file.begin(), file.end());

    boxwalk::MemorySource memory(file);
    const std::string expected = scan(memory);

    const auto read_where_asked =
        boxwalk::file_source(std::make_unique<boxwalk::test::FakeFile>(bytes, file.size(), faults),
                             file.size(), read_ahead);
    boxwalk::test::FakeFile stream_file(bytes, file.size(), faults);
    const boxwalk::LoadResult streamed =
        boxwalk::stream_source(stream_file, false, std::uint64_t{1} << 30);
    if (scan(*read_where_asked) != expected || read_where_asked->failed() || !streamed.ok() ||
        scan(*streamed.source) != expected) {
        std::abort();
    }
    return 0;
}
