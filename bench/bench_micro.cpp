// Microbenchmarks of the hot pieces: header reading, type code text, the
// payload preview on text and binary, hex, lenient UTF-8 decoding, and the
// walkers over the metadata-heavy files. Output goes to a sink that only
// counts, so the figures are the formatting work alone.
#include <benchmark/benchmark.h>

#include <string>

#include "heavy_files.hpp"
#include "primitives/atom.hpp"
#include "primitives/render.hpp"
#include "primitives/text.hpp"
#include "tree/item_list.hpp"
#include "tree/walker.hpp"
#include "tree/xtra.hpp"

namespace {

using boxwalk::ByteView;
using boxwalk::Output;
using boxwalk::bench::Bytes;
using boxwalk::test::view;

class CountingOutput final : public Output {
public:
    CountingOutput() : Output(64 * 1024) {}
    std::uint64_t bytes = 0;

private:
    void hand_on(std::string_view text) override { bytes += text.size(); }
};

// Where the payload of the udta inside the file's moov starts and ends.
struct Range {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
};

// The payload of the first atom of `type` in the range, or an empty range.
Range find_child(ByteView data, Range range, std::string_view type) {
    for (std::uint64_t pos = range.start; pos < range.end;) {
        const auto header = boxwalk::read_atom_header(data, pos);
        if (!header || header->size < header->header_len) {
            break;
        }
        if (boxwalk::type_code_text(data, pos) == type) {
            return Range{pos + header->header_len, pos + header->size};
        }
        pos += header->size;
    }
    return Range{};
}

Range udta_payload(ByteView data) {
    const Range moov = find_child(data, Range{0, data.size()}, "moov");
    return find_child(data, moov, "udta");
}

const Bytes& leaves_file() {
    static const Bytes bytes = boxwalk::bench::many_leaves_file(1000000);
    return bytes;
}

void report(benchmark::State& state, std::uint64_t bytes_in, std::uint64_t items) {
    const auto rounds = static_cast<std::uint64_t>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(rounds * bytes_in));
    state.SetItemsProcessed(static_cast<std::int64_t>(rounds * items));
}

void BM_ReadAtomHeader(benchmark::State& state) {
    const ByteView data = view(leaves_file());
    const Range udta = udta_payload(data);
    std::uint64_t atoms = 0;
    for (auto _ : state) {
        atoms = 0;
        for (std::uint64_t pos = udta.start; pos < udta.end; ++atoms) {
            const auto header = boxwalk::read_atom_header(data, pos);
            benchmark::DoNotOptimize(header);
            pos += header->size;
        }
    }
    report(state, udta.end - udta.start, atoms);
}
BENCHMARK(BM_ReadAtomHeader);

void BM_TypeCodeText(benchmark::State& state) {
    const ByteView data = view(leaves_file());
    const Range udta = udta_payload(data);
    std::uint64_t atoms = 0;
    for (auto _ : state) {
        atoms = 0;
        for (std::uint64_t pos = udta.start; pos < udta.end; pos += 16, ++atoms) {
            benchmark::DoNotOptimize(boxwalk::type_code_text(data, pos));
        }
    }
    report(state, udta.end - udta.start, atoms);
}
BENCHMARK(BM_TypeCodeText);

// 80 bytes of text with a line feed and a multi-byte character, and 80
// bytes that are not text.
Bytes text_payload() {
    std::string text = "Recorded live,\nsecond take \xE2\x80\x94 mixed by someone else entirely ok";
    text.append(80 - text.size(), 'x');
    return Bytes(text.begin(), text.end());
}

Bytes binary_payload() {
    Bytes bytes(80);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 13);
    }
    return bytes;
}

void BM_WritePreview(benchmark::State& state, const Bytes& payload) {
    CountingOutput out;
    for (auto _ : state) {
        boxwalk::write_preview(out, view(payload), payload.size());
    }
    benchmark::DoNotOptimize(out.bytes);
    report(state, payload.size(), 1);
}
BENCHMARK_CAPTURE(BM_WritePreview, text, text_payload());
BENCHMARK_CAPTURE(BM_WritePreview, binary, binary_payload());

void BM_PreviewPayload(benchmark::State& state, const Bytes& payload) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(boxwalk::preview_payload(view(payload)));
    }
    report(state, payload.size(), 1);
}
BENCHMARK_CAPTURE(BM_PreviewPayload, text, text_payload());
BENCHMARK_CAPTURE(BM_PreviewPayload, binary, binary_payload());

void BM_HexJoin(benchmark::State& state) {
    const Bytes payload = binary_payload();
    for (auto _ : state) {
        benchmark::DoNotOptimize(boxwalk::hex_join(view(payload), " "));
    }
    report(state, payload.size(), 1);
}
BENCHMARK(BM_HexJoin);

// 4 KiB of text: ASCII, two- to four-byte sequences and ill-formed bytes.
Bytes mixed_utf8() {
    const std::string unit =
        "name \xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 bad\xFF\xC3 end ";
    Bytes bytes;
    while (bytes.size() < 4096) {
        bytes.insert(bytes.end(), unit.begin(), unit.end());
    }
    return bytes;
}

void BM_LenientUtf8(benchmark::State& state) {
    const Bytes bytes = mixed_utf8();
    CountingOutput out;
    for (auto _ : state) {
        boxwalk::write_lenient_utf8(out, view(bytes));
    }
    benchmark::DoNotOptimize(out.bytes);
    report(state, bytes.size(), 1);
}
BENCHMARK(BM_LenientUtf8);

void BM_WalkContainer(benchmark::State& state) {
    const ByteView data = view(leaves_file());
    const Range udta = udta_payload(data);
    CountingOutput out;
    for (auto _ : state) {
        boxwalk::walk_container(data, udta.start, udta.end, 2, out);
    }
    benchmark::DoNotOptimize(out.bytes);
    report(state, data.size(), 1000000);
}
BENCHMARK(BM_WalkContainer)->Unit(benchmark::kMillisecond);

void BM_DescribeIlst(benchmark::State& state) {
    static const Bytes file = boxwalk::bench::item_list_file(200000);
    const ByteView data = view(file);
    const Range meta = find_child(data, udta_payload(data), "meta");
    const Range ilst = find_child(data, Range{meta.start + 4, meta.end}, "ilst");
    CountingOutput out;
    for (auto _ : state) {
        boxwalk::describe_ilst(data, ilst.start, ilst.end, 3, out);
    }
    benchmark::DoNotOptimize(out.bytes);
    report(state, data.size(), 200000);
}
BENCHMARK(BM_DescribeIlst)->Unit(benchmark::kMillisecond);

void BM_DescribeXtra(benchmark::State& state) {
    static const Bytes file = boxwalk::bench::xtra_file(200000);
    const ByteView data = view(file);
    const Range xtra = find_child(data, udta_payload(data), "Xtra");
    CountingOutput out;
    for (auto _ : state) {
        boxwalk::describe_xtra(data.subspan(xtra.start, xtra.end - xtra.start), 2, out);
    }
    benchmark::DoNotOptimize(out.bytes);
    report(state, data.size(), 200000);
}
BENCHMARK(BM_DescribeXtra)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
