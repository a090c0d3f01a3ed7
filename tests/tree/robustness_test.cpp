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

// Scans `bytes` from a buffer of exactly their size, so that under the
// sanitizers a read one byte too far is caught, and checks that what comes
// out is whole lines of valid UTF-8.
void scan_exactly(const Bytes& bytes, const std::string& what) {
    const auto buffer = std::make_unique<std::uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), buffer.get());
    StringOutput out;
    scan_top_level(ByteView(buffer.get(), bytes.size()), out);
    const std::string& text = out.text();
    ASSERT_TRUE(text.empty() || text.back() == '\n') << what;
    ASSERT_TRUE(is_valid_utf8(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()),
                                       text.size())))
        << what;
}

std::vector<std::pair<std::string, Bytes>> rich_files() {
    const std::filesystem::path source = BOXWALK_SOURCE_DIR;
    std::vector<std::pair<std::string, Bytes>> files = {{"sample", test::sample_song()}};
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
