// libFuzzer entry point: the scan over the sources that read a file against
// the scan over the same bytes in memory, and what the tag plan reads of a
// stream against what it reads of them. The first six bytes of the input
// choose the read-ahead, how short each read of the fake file comes back and
// a bad byte; the rest is the file. Read where the scan asks, and read
// through as a stream keeping only what the scan will ask for, it must print
// the same as from memory; with the bad byte, the same or whole lines of it
// before the error. Anything else aborts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "load/load.hpp"
#include "primitives/render.hpp"
#include "support/fake_file.hpp"
#include "tree/plan.hpp"
#include "tree/scan.hpp"

namespace {

// What `plan` reads of `source`, one line an atom: its depth, offset, size
// and take, and for an atom read whole whether its bytes can be read.
std::string planned(boxwalk::Source& source, const boxwalk::ReadPlan& plan) {
    std::string atoms;
    boxwalk::for_each_planned(source, plan, [&](const boxwalk::Planned& atom) {
        atoms += std::to_string(atom.depth) + " " + std::to_string(atom.atom.pos) + " " +
                 std::to_string(atom.atom.header.size) + " " +
                 std::to_string(static_cast<int>(atom.take));
        if (atom.take == boxwalk::Take::whole) {
            const std::uint64_t end = std::min(boxwalk::walk_reach(atom.atom), source.size());
            const std::uint64_t size = end - std::min(end, atom.atom.pos);
            const bool whole =
                size > (std::uint64_t{1} << 20) ||
                source.read(atom.atom.pos, static_cast<std::size_t>(size)).size() == size;
            atoms += whole ? " whole" : " cut";
        }
        atoms += "\n";
    });
    return atoms;
}

std::string scan(boxwalk::Source& source) {
    boxwalk::StringOutput out;
    boxwalk::scan_top_level(source, out);
    return boxwalk::decimal(source.size()) + "\n" + out.text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fuzzed = boxwalk::test::FuzzedFile::from(data, size);
    if (!fuzzed) {
        return 0;
    }
    const boxwalk::ByteView file = fuzzed->file();
    const std::vector<std::uint8_t>& bytes = fuzzed->bytes;
    const boxwalk::test::FakeFaults& faults = fuzzed->faults;

    boxwalk::MemorySource memory(file);
    const std::string expected = scan(memory);

    const auto read_where_asked = fuzzed->source();
    boxwalk::test::FakeFile stream_file(bytes, file.size(), faults);
    const boxwalk::LoadResult streamed =
        boxwalk::stream_source(stream_file, false, std::uint64_t{1} << 30, boxwalk::kConsolePlan);
    // Streamed for the tag plan, what it reads is kept as from memory.
    boxwalk::test::FakeFile tags_file(bytes, file.size(), faults);
    const boxwalk::LoadResult tags =
        boxwalk::stream_source(tags_file, false, std::uint64_t{1} << 30, boxwalk::kEveryTagPlan);
    if (!tags.ok() ||
        planned(*tags.source, boxwalk::kEveryTagPlan) != planned(memory, boxwalk::kEveryTagPlan)) {
        std::abort();
    }
    const auto bad = fuzzed->source(true);
    const std::string before_error = scan(*bad);
    if (scan(*read_where_asked) != expected || read_where_asked->failed() || !streamed.ok() ||
        scan(*streamed.source) != expected ||
        (bad->failed() ? !expected.starts_with(before_error) || !before_error.ends_with('\n')
                       : before_error != expected)) {
        std::abort();
    }
    return 0;
}
