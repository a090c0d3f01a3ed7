// Prints how fast the scan runs over a large synthetic file that exercises
// every printer: leaves with previews, nested containers, an item list and
// an Xtra store. With an argument it also writes that file, for timing the
// whole program (see bench/run.sh).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "bin/boxwalk/driver.hpp"
#include "support/atoms.hpp"
#include "support/process.hpp"

namespace {

using namespace boxwalk::test;

class CountingOutput final : public boxwalk::Output {
public:
    void write(std::string_view text) override {
        bytes += text.size();
    }
    void end_line() override {
        ++bytes;
        ++lines;
    }
    std::uint64_t bytes = 0;
    std::uint64_t lines = 0;
};

Bytes large_file(std::size_t units) {
    Bytes udta_body;
    Bytes items;
    Bytes entries;
    for (std::size_t i = 0; i < units; ++i) {
        const std::string n = std::to_string(i);
        const Bytes leaf = atom("free", raw("leaf number " + n));
        const Bytes nested = atom("trak", atom("mdia", atom("tool", Bytes(100, 0x01))));
        udta_body.insert(udta_body.end(), leaf.begin(), leaf.end());
        udta_body.insert(udta_body.end(), nested.begin(), nested.end());
        const Bytes item = i % 2 == 0
                               ? atom("\xA9nam", data_atom(1, raw("title " + n)))
                               : atom("----", cat({text_atom("mean", "com.example"),
                                                   text_atom("name", "key" + n),
                                                   data_atom(1, raw("value"))}));
        items.insert(items.end(), item.begin(), item.end());
        const Bytes entry = xtra_entry("WM/Entry" + n, 1, 19, le64(i));
        entries.insert(entries.end(), entry.begin(), entry.end());
    }
    const Bytes udta = atom64("udta", cat({udta_body, meta(atom64("ilst", items)),
                                           atom64("Xtra", entries)}));
    return cat({atom("ftyp", zeros(16)), atom64("moov", cat({atom("mvhd", zeros(100)), udta}))});
}

}  // namespace

int main(int argc, char** argv) {
    const Bytes file = large_file(200000);
    if (argc > 1) {
        write_file(argv[1], file);
        std::printf("wrote %zu bytes to %s\n", file.size(), argv[1]);
        return 0;
    }
    const int rounds = 5;
    double best = 1e9;
    CountingOutput out;
    for (int round = 0; round < rounds; ++round) {
        out = CountingOutput();
        const auto start = std::chrono::steady_clock::now();
        boxwalk::scan_top_level(boxwalk::ByteView(file.data(), file.size()), out);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("input      %.1f MB\n", static_cast<double>(file.size()) / 1e6);
    std::printf("output     %llu lines, %.1f MB\n", static_cast<unsigned long long>(out.lines),
                static_cast<double>(out.bytes) / 1e6);
    std::printf("best of %d %.3f s: %.1f MB/s in, %.2f M lines/s\n", rounds, best,
                static_cast<double>(file.size()) / 1e6 / best,
                static_cast<double>(out.lines) / 1e6 / best);
    std::printf("peak RSS   %.1f MB (input built in memory: %.1f MB)\n",
                static_cast<double>(usage.ru_maxrss) / 1e3, static_cast<double>(file.size()) / 1e6);
    return 0;
}
