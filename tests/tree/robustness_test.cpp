#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bin/boxwalk/driver.hpp"
#include "primitives/text.hpp"
#include "support/atoms.hpp"
#include "support/process.hpp"

namespace boxwalk {
namespace {

using test::Bytes;

bool valid_utf8(std::string_view text) {
    return is_valid_utf8(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// Keeps what is written, and whether every single write was valid UTF-8: a
// terminal sink escapes each write on its own, so a write that cut a
// character (say C2 | 9B, a C1 control) would reach the terminal unescaped.
class PieceCheckingOutput final : public Output {
public:
    void write(std::string_view text) override {
        whole_pieces = whole_pieces && valid_utf8(text);
        text_.append(text);
    }
    void end_line() override { text_.push_back('\n'); }
    const std::string& text() const { return text_; }
    bool whole_pieces = true;

private:
    std::string text_;
};

// Scans `bytes` from a buffer of exactly their size, so that under the
// sanitizers a read one byte too far is caught, and checks that what comes
// out is whole lines of valid UTF-8, written in valid pieces.
void scan_exactly(const Bytes& bytes, const std::string& what) {
    const auto buffer = std::make_unique<std::uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), buffer.get());
    PieceCheckingOutput out;
    scan_top_level(ByteView(buffer.get(), bytes.size()), out);
    const std::string& text = out.text();
    ASSERT_TRUE(text.empty() || text.back() == '\n') << what;
    ASSERT_TRUE(valid_utf8(text)) << what;
    ASSERT_TRUE(out.whole_pieces) << what;
}

// Values longer than the writers' 256-byte piece buffer, made of multi-byte
// characters: UTF-16 text, a name with ill-formed bytes, and a long date.
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
    return test::atom("moov", test::atom("udta", test::atom("Xtra", test::cat({
        test::xtra_entry("WM/Long", 1, 8, utf16),
        test::xtra_entry(name_text, 1, 21, Bytes(200, 0xAB)),
    }))));
}

std::vector<std::pair<std::string, Bytes>> rich_files() {
    const std::filesystem::path source = BOXWALK_SOURCE_DIR;
    std::vector<std::pair<std::string, Bytes>> files = {{"sample", test::sample_song()},
                                                        {"long values", long_values()}};
    for (const char* name : {"tagged.m4a", "xtra_mixed.mp4"}) {
        const std::string bytes = test::read_file(source / "tests" / "fixtures" / name);
        files.emplace_back(name, Bytes(bytes.begin(), bytes.end()));
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
                scan_exactly(corrupt, name + " byte " + std::to_string(pos) + " = " +
                                          std::to_string(value));
            }
        }
    }
}

}  // namespace
}  // namespace boxwalk
