#include <gtest/gtest.h>
#include <sys/mman.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "primitives/render.hpp"
#include "primitives/text.hpp"
#include "support/atoms.hpp"
#include "support/process.hpp"
#include "support/table.hpp"
#include "tree/scan.hpp"
#include "tree/walker.hpp"
#include "tree/xtra.hpp"

namespace boxwalk {
namespace {

using namespace test;

bool valid_utf8(std::string_view text) {
    return is_valid_utf8(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// Keeps each line with what locate said of it, and the whole text.
class LocatingOutput final : public Output {
public:
    LocatingOutput() : Output(256, true, true) {}
    void located(const Located& line) override { located_ = line; }
    const std::string& text() const { return text_; }
    std::vector<std::pair<std::string, Located>> lines;

private:
    void hand_on(std::string_view text) override { line_.append(text); }
    void line_ended() override {
        drain();
        text_.append(line_).push_back('\n');
        lines.push_back({std::exchange(line_, {}), std::exchange(located_, {})});
    }

    std::string text_;
    std::string line_;
    Located located_;
};

// The line that `located` describes, made again from the bytes it names,
// after the indent: a viewer that reads those bytes sees what the line says.
std::string line_from_bytes(ByteView file, const Located& located) {
    const auto bytes = [file](const std::optional<FileRange>& range) {
        return range ? sub_view(file, range->pos, range->pos + range->size) : ByteView();
    };
    const auto text = [&](const std::optional<FileRange>& range) {
        std::string decoded = lenient_utf8(bytes(range));
        return decoded.erase(decoded.find_last_not_of('\0') + 1);
    };
    std::string made(located.type.begin(), located.type.end());
    const bool meta = made == "meta";
    made.append(" (size=").append(decimal(located.bytes.size));
    switch (located.kind) {
        case LineKind::moov:
        case LineKind::child:
            return made.append(", @ ").append(decimal(located.bytes.pos)).append(")");
        case LineKind::item_list:
        case LineKind::xtra:
        case LineKind::container:
            return made.append(meta ? " (skip 4 byte vfh))" : ")");
        case LineKind::leaf:
            return made.append(") ");
        case LineKind::item:
            made.replace(0, 4, detail::type_chars(bytes(located.key).data()).data(), 4);
            if (!located.value) {
                return made.append(") (no data)");
            }
            return made.append(") type=")
                .append(decimal(located.value_type))
                .append(" ")
                .append(preview_payload(bytes(located.value)));
        case LineKind::freeform:
            made.replace(0, 4, "----");
            made.append(") mean=\"").append(text(located.key));
            made.append("\" name=\"").append(text(located.name)).append("\" data=");
            return made.append(located.value ? preview_payload(bytes(located.value)) : "");
        case LineKind::entry:
            made.assign("\"").append(lenient_utf8(bytes(located.key)));
            return made.append("\" count=");
        case LineKind::malformed:
            return "[malformed";
        case LineKind::none:
            break;
    }
    return "[nesting too deep]";
}

// Scans `bytes` from a buffer of exactly their size, so that under the
// sanitizers a read one byte too far is caught, and checks that what comes
// out is whole lines of valid UTF-8.
void scan_exactly(const Bytes& bytes, const std::string& what) {
    const auto buffer = std::make_unique<std::uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), buffer.get());
    LocatingOutput out;
    scan_top_level(ByteView(buffer.get(), bytes.size()), out);
    const std::string& text = out.text();
    ASSERT_TRUE(text.empty() || text.back() == '\n') << what;
    ASSERT_TRUE(valid_utf8(text)) << what;
    // Every line starts as its bytes say (an atom leaf's preview and an
    // entry's count are left out); an entry's value ends it.
    const ByteView file(buffer.get(), bytes.size());
    for (const auto& [line, located] : out.lines) {
        const std::string made = line_from_bytes(file, located);
        // Only spaces before it: a type may start with one.
        const std::size_t at = line.find(made);
        ASSERT_TRUE(at != std::string::npos && line.find_first_not_of(' ') >= at)
            << what << ": " << line << " is not " << made;
        if (located.kind == LineKind::entry && located.value) {
            std::string value = " ";
            value += xtra_value_text(
                static_cast<std::uint16_t>(located.value_type),
                sub_view(file, located.value->pos, located.value->pos + located.value->size));
            ASSERT_TRUE(line.ends_with(value)) << what;
        }
    }
}

// Values longer than the output's 256-byte buffer in tests, made of
// multi-byte characters: UTF-16 text, a name with ill-formed bytes, and a
// long date.
Bytes long_values() {
    Bytes utf16;
    Bytes name;
    for (int i = 0; i < 150; ++i) {
        const Bytes unit = i % 3 == 0 ? Bytes{0x3D, 0xD8, 0x00, 0xDE} : Bytes{0xAC, 0x20};
        utf16.insert(utf16.end(), unit.begin(), unit.end());
        const Bytes bytes = i % 5 == 0 ? Bytes{0xC2, 0x9B, 0xFF} : Bytes{0xC2, 0x85};
        name.insert(name.end(), bytes.begin(), bytes.end());
    }
    const std::string name_text(name.begin(), name.end());
    return test::atom(
        "moov",
        test::atom("udta",
                   test::atom("Xtra", test::cat({
                                          test::xtra_entry("WM/Long", 1, 8, utf16),
                                          test::xtra_entry(name_text, 1, 21, Bytes(200, 0xAB)),
                                      }))));
}

std::vector<std::pair<std::string, Bytes>> rich_files() {
    const std::filesystem::path source = BOXWALK_SOURCE_DIR;
    std::vector<std::pair<std::string, Bytes>> files = {{"sample", test::sample_song()},
                                                        {"long values", long_values()}};
    std::vector<std::filesystem::path> paths = {source / "tests" / "fixtures" / "tagged.m4a",
                                                source / "tests" / "fixtures" / "xtra_mixed.mp4"};
    // The fuzzers' seeds, and every input that once found a fault. A folder
    // that cannot be read fails the test rather than shrinking it.
    for (const char* folder : {"corpus", "regressions"}) {
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator(source / "fuzz" / folder, error)) {
            if (entry.path().filename() != "README.md") {
                paths.push_back(entry.path());
            }
        }
        if (error) {
            ADD_FAILURE() << "fuzz/" << folder << ": " << error.message();
        }
    }
    for (const auto& path : paths) {
        const std::string bytes = test::read_file(path);
        files.emplace_back(path.filename().string(), Bytes(bytes.begin(), bytes.end()));
    }
    return files;
}

TEST(Robustness, EveryPrefix) {
    for (const auto& [name, bytes] : rich_files()) {
        for (std::size_t length = 0; length <= bytes.size(); ++length) {
            scan_exactly(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)),
                         name + " cut to " + std::to_string(length));
        }
    }
}

TEST(Robustness, ByteCorruptions) {
    // Values that turn sizes into 0, 1 (64-bit follows), tiny, huge or
    // sign-bit-set, and text into ill-formed UTF-8.
    const std::uint8_t values[] = {0x00, 0x01, 0x07, 0x0F, 0x10, 0x7F, 0x80, 0xC3, 0xFE, 0xFF};
    for (const auto& [name, bytes] : rich_files()) {
        for (std::size_t pos = 0; pos < bytes.size(); ++pos) {
            for (const std::uint8_t value : values) {
                Bytes corrupt = bytes;
                corrupt[pos] = value;
                scan_exactly(corrupt,
                             name + " byte " + std::to_string(pos) + " = " + std::to_string(value));
            }
        }
    }
}

// A region whose first page can be read and whose other bytes cannot: any
// touch past the first page ends the test with a fault.
class GuardedRegion {
public:
    explicit GuardedRegion(std::size_t size) : size_(size) {
        void* base =
            ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (base != MAP_FAILED && ::mprotect(base, kPage, PROT_READ | PROT_WRITE) == 0) {
            bytes_ = static_cast<std::uint8_t*>(base);
        }
    }
    ~GuardedRegion() {
        if (bytes_ != nullptr) {
            ::munmap(bytes_, size_);
        }
    }
    GuardedRegion(const GuardedRegion&) = delete;
    GuardedRegion& operator=(const GuardedRegion&) = delete;
    std::uint8_t* bytes() const { return bytes_; }
    static constexpr std::size_t kPage = 4096;

private:
    std::uint8_t* bytes_ = nullptr;
    std::size_t size_;
};

// A 100 MB value costs its first bytes, not its length: only the first page
// of each payload below is readable.
TEST(Robustness, WideValuesAreReadOnlyAtTheirStart) {
    constexpr std::uint32_t kSize = 100'000'000;
    using test::atom_sized;
    using test::be16;
    using test::be32;
    using test::cat;
    const Bytes text(200, 'a');
    // Each row's input is the readable start; the rest of kSize bytes is
    // guarded.
    using Row = test::Row<Bytes>;
    const std::string dots = std::string(80, 'a') + "\"...\n";
    const std::vector<Row> rows = {
        {"leaf", cat({atom_sized(kSize, "free"), text}), "free (size=100000000) \"" + dots},
        {"item",
         atom_sized(
             kSize, "ilst",
             atom_sized(kSize - 8,
                        "\xA9"
                        "nam",
                        cat({atom_sized(kSize - 16, "data", cat({be32(1), be32(0)})), text}))),
         "ilst (size=100000000)\n  @nam (size=99999992) type=1 \"" + dots},
        {"Xtra value",
         atom_sized(kSize, "Xtra",
                    cat({be32(kSize - 8), be32(1), test::raw("n"), be32(1), be32(kSize - 21),
                         be16(3), text})),
         "Xtra (size=100000000)\n  \"n\" count=1 type=3 hex=" +
             hex_join(test::view(text).first(32), "") + "\n"},
    };
    test::for_each_row(rows, [](const Row& row) {
        GuardedRegion region(kSize);
        ASSERT_NE(region.bytes(), nullptr);
        ASSERT_LE(row.input.size(), GuardedRegion::kPage);
        std::copy(row.input.begin(), row.input.end(), region.bytes());
        StringOutput out;
        walk_container(ByteView(region.bytes(), kSize), 0, kSize, 0, out);
        EXPECT_EQ(out.text(), row.expected);
    });
}

}  // namespace
}  // namespace boxwalk
