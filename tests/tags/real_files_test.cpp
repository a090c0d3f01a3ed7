// The tag reader over the real files of tests/fixtures, each held to what its
// writer was told to write (tests/fixtures/expected_tags.json, one row a
// file; README.md there says how each was made).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "support/process.hpp"
#include "support/tag_lines.hpp"
#include "tags/reader.hpp"
#include "xmp/xmp.hpp"

namespace boxwalk {
namespace {

using nlohmann::json;

const std::filesystem::path kFixtures =
    std::filesystem::path(BOXWALK_SOURCE_DIR) / "tests" / "fixtures";

const json& expected_files() {
    static const json files =
        json::parse(test::read_file(kFixtures / "expected_tags.json")).at("files");
    return files;
}

// Whether `range` shares a byte with, or lies inside, an atom of the
// expectations ([offset, size], both small). A range may be as its header
// declares it, up to 2^64-1: no sum of its own.
bool overlaps(const FileRange& range, const json& atom) {
    const auto pos = atom.at(0).get<std::uint64_t>();
    const auto size = atom.at(1).get<std::uint64_t>();
    return range.pos < pos + size && (range.pos >= pos || pos - range.pos < range.size);
}

bool inside(const FileRange& range, const json& atom) {
    const auto pos = atom.at(0).get<std::uint64_t>();
    const auto size = atom.at(1).get<std::uint64_t>();
    return range.pos >= pos && range.pos - pos <= size && range.size <= size - (range.pos - pos);
}

// The decimal numbers in `text`, signed where a sign stands before them:
// "+48.8577+002.2945+35.000/" holds 48.8577, 2.2945 and 35.
std::vector<double> numbers_in(const std::string& text) {
    std::vector<double> numbers;
    for (const char* at = text.c_str(); *(at += std::strcspn(at, "+-0123456789")) != '\0';) {
        char* end = nullptr;
        const double number = std::strtod(at, &end);
        if (end == at) {
            ++at;  // a sign before no digit
            continue;
        }
        numbers.push_back(number);
        at = end;
    }
    return numbers;
}

// True when `place` (latitude, longitude and perhaps altitude) stands in
// that order among the numbers of `text`, each within 0.0001.
bool has_location(const std::string& text, const json& place) {
    const std::vector<double> numbers = numbers_in(text);
    for (std::size_t at = 0; at + place.size() <= numbers.size(); ++at) {
        bool all = true;
        for (std::size_t i = 0; i < place.size(); ++i) {
            all = all && std::fabs(numbers[at + i] - place[i].get<double>()) < 1e-4;
        }
        if (all) {
            return true;
        }
    }
    return false;
}

// What is wrong with `value` for the expected `want`, or nothing.
std::string mismatch(const TagValue& value, const json& want, std::string_view file) {
    const std::string got = "\"" + value.text + "\" (" +
                            std::string(name_of(kValueKinds, value.kind)) +
                            (value.language.empty() ? "" : ", " + value.language) + ")";
    if (want.is_string()) {
        return value.text == want.get<std::string>() ? "" : got;
    }
    if (want.contains("text") && value.text != want["text"].get<std::string>()) {
        return got;
    }
    if (want.contains("kind") &&
        name_of(kValueKinds, value.kind) != want["kind"].get<std::string>()) {
        return got;
    }
    if (want.contains("language") && value.language != want["language"].get<std::string>()) {
        return got;
    }
    if (want.contains("location") && !has_location(value.text, want["location"])) {
        return got;
    }
    if (want.contains("number")) {
        const std::vector<double> numbers = numbers_in(value.text);
        if (numbers.size() != 1 || numbers[0] != want["number"].get<double>()) {
            return got;
        }
    }
    if (want.contains("picture")) {
        // A signature at the start of the value's bytes or of a data atom's
        // payload among them.
        const std::string signature = want["picture"] == "png" ? "\x89PNG" : "\xFF\xD8\xFF";
        const std::string_view start =
            value.bytes.pos < file.size()
                ? file.substr(static_cast<std::size_t>(value.bytes.pos), 16)
                : std::string_view();
        if (value.kind != ValueKind::picture || start.find(signature) == std::string_view::npos) {
            return got + ", not a " + want["picture"].get<std::string>() + " picture";
        }
    }
    return "";
}

// A tag's name in failures, and what matches it: store, track, key and a
// ---- item's mean and name.
std::string tag_name(std::string_view store, unsigned track, const std::string& key,
                     const std::string& mean, const std::string& name) {
    return std::string(store) + " track " + std::to_string(track) + " " + key +
           (mean.empty() && name.empty() ? "" : " " + mean + ":" + name);
}

std::string tag_name(const Tag& tag) {
    return tag_name(name_of(kStores, tag.store), tag.track, tag.key, tag.mean, tag.name);
}

std::string tag_name(const json& want) {
    return tag_name(want.at("store").get<std::string>(), want.at("track").get<unsigned>(),
                    want.at("key").get<std::string>(), want.value("mean", ""),
                    want.value("name", ""));
}

void check_file(const json& row, const std::string& file, const TagReport& report) {
    EXPECT_EQ(name_of(kFileKinds, report.kind), row.at("kind").get<std::string>());
    if (row.at("kind") == "mp4") {
        EXPECT_EQ(report.brand, row.at("brand").get<std::string>());
        ASSERT_TRUE(report.moov.has_value());
        ASSERT_LT(report.moov->pos, file.size());
        EXPECT_EQ(file.substr(static_cast<std::size_t>(report.moov->pos) + 4, 4), "moov");
    } else {
        EXPECT_FALSE(report.moov.has_value());
    }

    // Whatever the file, every text is UTF-8 and every range lies in it.
    EXPECT_EQ(test::report_fault(report, file.size()), "");

    // Every expected tag, with exactly its values: those of all the records
    // under its store, track and key, in file order. The XMP properties are
    // the movie's tags of the XMP store.
    json tags = row.value("tags", json::array());
    for (json property : row.value("xmp", json::array())) {
        property["store"] = "xmp";
        property["track"] = 0;
        tags.push_back(property);
    }
    for (const json& want : tags) {
        SCOPED_TRACE(tag_name(want));
        std::vector<const TagValue*> values;
        for (const Tag& tag : report.tags) {
            if (tag_name(tag) == tag_name(want)) {
                for (const TagValue& value : tag.values) {
                    values.push_back(&value);
                }
            }
        }
        const json& wanted = want.at("values");
        if (want.value("open", false)) {
            EXPECT_GE(values.size(), wanted.size());
        } else {
            EXPECT_EQ(values.size(), wanted.size());
        }
        for (std::size_t i = 0; i < std::min(values.size(), wanted.size()); ++i) {
            EXPECT_EQ(mismatch(*values[i], wanted[i], file), "")
                << "value " << i << ", expected " << wanted[i].dump();
        }
    }
    if (!row.value("more_tags", false)) {
        for (const Tag& tag : report.tags) {
            bool expected = false;
            for (const json& want : tags) {
                expected = expected || tag_name(want) == tag_name(tag);
            }
            EXPECT_TRUE(expected) << "unexpected " << tag_name(tag);
        }
    }

    const json damage = row.value("damage", json::array());
    for (const json& want : damage) {
        bool found = false;
        for (const Damage& met : report.damage) {
            bool says = true;
            for (const json& words : want.at("says")) {
                says = says && met.what.find(words.get<std::string>()) != std::string::npos;
            }
            found = found || (name_of(kStores, met.store) == want.at("store").get<std::string>() &&
                              met.track == want.at("track").get<unsigned>() &&
                              overlaps(met.bytes, want.at("atom")) && says);
        }
        EXPECT_TRUE(found) << "no damage as " << want.dump();
    }
    if (damage.empty()) {
        for (const Damage& met : report.damage) {
            ADD_FAILURE() << "damage claimed: " << name_of(kStores, met.store) << " at "
                          << met.bytes.pos << ": " << met.what;
        }
    }

    const json packets = row.value("xmp_packets", json::array());
    for (const json& want : packets) {
        bool found = false;
        for (const XmpPacket& packet : report.xmp) {
            found = found || (packet.track == want.at("track").get<unsigned>() &&
                              inside(packet.bytes, want.at("atom")) &&
                              packet.text.find("xmpmeta") != std::string::npos);
        }
        EXPECT_TRUE(found) << "no XMP packet in " << want.at("atom").dump();
    }
    if (packets.empty() && !row.value("more_tags", false)) {
        EXPECT_TRUE(report.xmp.empty());
    }
}

// A file's path as a test's name: not_mp4/image.png as not_mp4_image_png.
std::string test_name(const testing::TestParamInfo<std::size_t>& file) {
    std::string name = expected_files().at(file.param).at("file");
    for (char& c : name) {
        const bool word =
            (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        c = word ? c : '_';
    }
    return name;
}

class RealFile : public testing::TestWithParam<std::size_t> {};

TEST_P(RealFile, HoldsWhatItsWriterWrote) {
    const json& row = expected_files().at(GetParam());
    SCOPED_TRACE(row.at("file").get<std::string>());
    const std::string file = test::read_file(kFixtures / row.at("file").get<std::string>());
    const std::vector<std::uint8_t> bytes(file.begin(), file.end());
    MemorySource memory(ByteView(bytes.data(), bytes.size()));
    TagReport report = read_tags(memory);
    add_xmp_properties(report);
    check_file(row, file, report);
    EXPECT_FALSE(memory.failed());
}

INSTANTIATE_TEST_SUITE_P(ReadTags, RealFile,
                         testing::Range<std::size_t>(0, expected_files().size()), test_name);

}  // namespace
}  // namespace boxwalk
