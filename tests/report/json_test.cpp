// The JSON of boxwalk-json, in process: every field name the contract
// declares, and no other, over a hand-made report that fills them all; text
// of every kind read back as written, by another library, nlohmann-json,
// which takes only valid UTF-8. (The lines as the console prints them,
// however they are cut up, are the fuzzer fuzz_lines' check.)
#include "report/json.hpp"

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.hpp"

namespace boxwalk {
namespace {

using namespace test;

using Json = nlohmann::json;

Json parsed(std::string_view json) {
    Json object = Json::parse(json, nullptr, false);
    EXPECT_FALSE(object.is_discarded()) << json.substr(0, 300);
    return object;
}

template <typename Table>
std::set<std::string> names_of(const Table& table) {
    std::set<std::string> names;
    for (const auto& row : table) {
        names.emplace(row.name);
    }
    return names;
}

// The field names met in a file's object, by record.
using Seen = std::map<std::string, std::set<std::string>>;

void add_keys(const Json& object, const std::string& record, Seen& seen) {
    ASSERT_TRUE(object.is_object()) << record;
    for (const auto& [key, value] : object.items()) {
        seen[record].insert(key);
    }
}

void collect(const Json& file, Seen& seen) {
    add_keys(file, "file", seen);
    for (const Json& tag : file.value("tags", Json::array())) {
        add_keys(tag, "tag", seen);
        for (const Json& value : tag["values"]) {
            add_keys(value, "value", seen);
        }
    }
    for (const Json& damage : file.value("damage", Json::array())) {
        add_keys(damage, "damage", seen);
    }
    for (const Json& packet : file.value("xmp", Json::array())) {
        add_keys(packet, "xmp", seen);
    }
    for (const Json& line : file.value("lines", Json::array())) {
        add_keys(line, "line", seen);
        for (const Json& value : line.value("values", Json::array())) {
            add_keys(value, "other value", seen);
        }
    }
}

// Text of every kind the JSON must carry: controls, quotes, backslashes,
// NUL, C1 controls, characters of two to four bytes, U+2028, in runs long
// and short around the 16-byte steps of the scan.
std::vector<std::string> hostile_texts() {
    const std::vector<std::string> pieces = {"a",
                                             "\"",
                                             "\\",
                                             std::string(1, '\0'),
                                             "\x01",
                                             "\x1f",
                                             "\x7f",
                                             "/",
                                             "\xc2\x85",
                                             "\xc3\xa9",
                                             "\xe2\x80\xa8",
                                             "\xf0\x9d\x84\x9e",
                                             "0123456789abcdef"};
    std::vector<std::string> texts = {""};
    std::uint32_t state = 12345;
    for (std::size_t length = 1; length < 120; ++length) {
        std::string text;
        for (std::size_t i = 0; i < length; ++i) {
            state = state * 1103515245u + 12345u;
            text += pieces[(state >> 16) % pieces.size()];
        }
        texts.push_back(text);
    }
    return texts;
}

TEST(JsonWriter, EveryFieldOfTheContractAndNoOther) {
    TagReport report;
    report.kind = FileKind::mp4;
    report.brand = "M4A ";
    report.moov = FileRange{24, ~std::uint64_t{0} - 24};
    TagValue value{ValueKind::pair, 0, "3 of 12", true, "eng", "track", {~std::uint64_t{0}, 1}};
    report.tags.push_back({Store::item_list,
                           2,
                           "----",
                           "com.apple.iTunes",
                           "NAME",
                           "Label",
                           {100, 50},
                           {value, TagValue{}}});
    report.damage.push_back({Store::keys, 1, {7, 8}, "14 of 26 items read"});
    report.xmp.push_back({3, {9, 10}, "<x/>", true});

    LineRecorder lines;
    Located item(LineKind::freeform, {88, 58}, {'-', '-', '-', '-'});
    item.key = FileRange{92, 4};
    item.name = FileRange{100, 3};
    item.value = FileRange{112, 4};
    item.value_type = 1;
    lines.locate(item);
    lines.another_value(FileRange{120, 2}, 21);
    lines.another_value(std::nullopt, 0);
    lines.line("        ---- (size=58) ...");
    lines.line("a line of no bytes");
    lines.flush();

    JsonWriter json;
    Seen seen;
    const std::string object(json.file_object({"a.mp4", 294, std::nullopt, &report, &lines}));
    EXPECT_TRUE(object.ends_with("}\n"));
    EXPECT_EQ(object.find('\n'), object.size() - 1);
    const Json file = parsed(object);
    collect(file, seen);
    collect(parsed(json.file_object({"b.mp4", std::nullopt, "read: gone", nullptr, nullptr})),
            seen);
    EXPECT_EQ(seen["file"], names_of(kFileFields));
    EXPECT_EQ(seen["tag"], names_of(kTagFields));
    EXPECT_EQ(seen["value"], names_of(kValueFields));
    EXPECT_EQ(seen["damage"], names_of(kDamageFields));
    EXPECT_EQ(seen["xmp"], names_of(kXmpFields));
    EXPECT_EQ(seen["line"], names_of(kLineFields));
    EXPECT_EQ(seen["other value"], names_of(kOtherValueFields));

    // Offsets are exact past 2^53; kinds go by their contract names.
    EXPECT_EQ(file["moov"][1].get<std::uint64_t>(), ~std::uint64_t{0} - 24);
    EXPECT_EQ(file["tags"][0]["values"][0]["bytes"][0].get<std::uint64_t>(), ~std::uint64_t{0});
    EXPECT_EQ(file["tags"][0]["values"][0]["kind"], "pair");
    EXPECT_EQ(file["lines"][0]["kind"], "freeform");
    EXPECT_EQ(file["lines"][1]["kind"], "none");

    // The page's records are the same fields, from kind to xmp.
    const Json records = parsed(json.tag_records(report));
    for (const auto& [key, field] : records.items()) {
        EXPECT_EQ(field, file[key]) << key;
    }
    EXPECT_EQ(records.size(), 7u);
}

// The manual page writes the schema down: every field and kind name of the
// contract in bold there.
TEST(JsonWriter, TheManualPageNamesEveryFieldAndKind) {
    std::set<std::string> bold;
    std::istringstream page(read_file(std::string(BOXWALK_SOURCE_DIR) + "/doc/boxwalk-json.1"));
    for (std::string line; std::getline(page, line);) {
        if (line.starts_with(".B ") || line.starts_with(".BR ")) {
            std::istringstream words(line.substr(line.find(' ')));
            for (std::string word; words >> word;) {
                bold.insert(word);
            }
        }
    }
    const auto check = [&](const auto& table) {
        for (const auto& row : table) {
            EXPECT_EQ(bold.count(std::string(row.name)), 1u) << row.name;
        }
    };
    check(kFileFields);
    check(kTagFields);
    check(kValueFields);
    check(kDamageFields);
    check(kXmpFields);
    check(kLineFields);
    check(kOtherValueFields);
    check(kFileKinds);
    check(kStores);
    check(kValueKinds);
    check(kLineKinds);
}

TEST(JsonWriter, TextOfEveryKindReadsBackAsWritten) {
    const std::vector<std::string> texts = hostile_texts();
    TagReport report;
    for (const std::string& text : texts) {
        TagValue value;
        value.text = text;
        report.tags.push_back({Store::xtra, 0, text, "", "", "", {}, {value}});
    }
    JsonWriter json;
    const Json file = parsed(json.file_object({"\"\\\x01", 0, std::nullopt, &report, nullptr}));
    EXPECT_EQ(file["path"], "\"\\\x01");
    const Json& tags = file["tags"];
    ASSERT_EQ(tags.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(tags[i]["key"], texts[i]) << "text " << i;
        EXPECT_EQ(tags[i]["values"][0]["text"], texts[i]) << "text " << i;
    }
}

}  // namespace
}  // namespace boxwalk
