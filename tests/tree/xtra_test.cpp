#include "tree/xtra.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "primitives/render.hpp"
#include "primitives/text.hpp"
#include "support/atoms.hpp"
#include "support/table.hpp"
#include "support/walk.hpp"
#include "tree/item_list.hpp"
#include "tree/walker.hpp"

namespace boxwalk {
namespace {

using namespace test;

const std::string kReplacement = "\xEF\xBF\xBD";

std::string repeat(const std::string& text, int times) {
    std::string result;
    for (int i = 0; i < times; ++i) {
        result += text;
    }
    return result;
}

// Entry lines of a payload whose atom line sits at depth 2.
std::string entries(const Bytes& payload) {
    StringOutput out;
    describe_xtra(view(payload), 2, out);
    return out.text();
}

// The 29-byte entry: name Title, count 1, type 8 "H", "i" and a zero unit.
const Bytes kTitle = {0x00, 0x00, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x05, 0x54, 0x69,
                      0x74, 0x6C, 0x65, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                      0x0C, 0x00, 0x08, 0x48, 0x00, 0x69, 0x00, 0x00, 0x00};
const std::string kTitleLine = "      \"Title\" count=1 Unicode \"Hi\"\n";

TEST(Utf16leText, UnitsAndSurrogates) {
    const std::vector<test::Row<Bytes>> rows = {
        {"", {}, ""},
        {"one zero unit dropped", {0x41, 0x00, 0x00, 0x00, 0x00, 0x00}, std::string("A\0", 2)},
        {"odd byte ignored", {0x41, 0x00, 0x42}, "A"},
        {"", {0x00, 0x00}, ""},
        {"high then non-low: one unit used", {0x00, 0xD8, 0x41, 0x00}, kReplacement + "A"},
        {"", {0x00, 0xDC}, kReplacement},
        {"", {0x41, 0x00, 0x00, 0xD8}, "A" + kReplacement},
        {"U+1F600", {0x3D, 0xD8, 0x00, 0xDE}, "\xF0\x9F\x98\x80"},
        {"", {0x3D, 0xD8, 0x00, 0xDE, 0x00, 0x00}, "\xF0\x9F\x98\x80"},
        // the pair split by the dropped zero unit's removal is not a pair
        {"", {0x3D, 0xD8, 0x00, 0x00}, kReplacement},
        {"", {0x3D, 0xD8, 0x3D, 0xD8, 0x00, 0xDE}, kReplacement + "\xF0\x9F\x98\x80"},
        {"", {0x00, 0xDC, 0x00, 0xD8}, kReplacement + kReplacement},
        {"U+10FFFF", {0xFF, 0xDB, 0xFF, 0xDF}, "\xF4\x8F\xBF\xBF"},
        {"", {0xE9, 0x00, 0xAC, 0x20}, "\xC3\xA9\xE2\x82\xAC"},
        {"nothing escaped", {0x22, 0x00, 0x0A, 0x00}, "\"\n"},
    };
    test::check_rows(rows, [](const Bytes& data) { return utf16le_text(view(data)); });
}

TEST(XtraValueText, ByType) {
    // The value's type and its bytes.
    using Value = std::pair<std::uint16_t, Bytes>;
    Bytes counting(40);
    for (std::size_t i = 0; i < counting.size(); ++i) {
        counting[i] = static_cast<std::uint8_t>(i);
    }
    const std::vector<test::Row<Value>> rows = {
        {"", {19, le64(42)}, "int64u 42"},
        {"", {19, Bytes(8, 0xFF)}, "int64u 18446744073709551615"},
        {"", {19, zeros(4)}, "int64u? wrong len 4"},
        {"", {19, {}}, "int64u? wrong len 0"},
        {"", {19, zeros(9)}, "int64u? wrong len 9"},
        {"", {21, {0x00, 0x80, 0x3E, 0xD5, 0xDE, 0xB1, 0x9D, 0x01}}, "date hex=00803ed5deb19d01"},
        {"", {21, {}}, "date hex="},
        {"dates are never cut", {21, Bytes(40, 0xAB)}, "date hex=" + repeat("ab", 40)},
        {"", {11, {0x01, 0x00}}, "type=11 hex=0100"},
        {"",
         {3, counting},
         "type=3 hex=000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"},
        {"", {2048, {0x41, 0x00}}, "type=2048 hex=4100"},
        {"", {65535, {}}, "type=65535 hex="},
        {"", {0, {0x00}}, "type=0 hex=00"},
        {"", {8, {}}, "Unicode \"\""},
    };
    test::check_rows(
        rows, [](const Value& value) { return xtra_value_text(value.first, view(value.second)); });
}

TEST(DescribeXtra, Entries) {
    // An entry with a first value given as raw bytes after the count.
    const auto entry_with = [](std::uint32_t count, const Bytes& after_count) {
        const Bytes body = cat({be32(1), raw("n"), be32(count), after_count});
        return cat({be32(static_cast<std::uint32_t>(4 + body.size())), body});
    };
    const std::vector<test::Row<Bytes>> rows = {
        {"one text entry", kTitle, kTitleLine},
        {"empty payload", {}, ""},
        {"7 bytes", zeros(7), ""},
        {"smallest entry", {0, 0, 0, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0x07}, "      \"\" count=7 \n"},
        {"count 0", entry_with(0, cat({be32(14), be16(19), le64(1)})), "      \"n\" count=0 \n"},
        {"value size 5", entry_with(1, cat({be32(5), be16(19), le64(1)})),
         "      \"n\" count=1 \n"},
        {"value past the entry", entry_with(1, cat({be32(15), be16(19), le64(1)})),
         "      \"n\" count=1 \n"},
        {"value size FFFFFFFF", entry_with(1, cat({be32(0xFFFFFFFF), be16(19), le64(1)})),
         "      \"n\" count=1 \n"},
        {"no room for size and type", entry_with(1, cat({be32(6), raw("x")})),
         "      \"n\" count=1 \n"},
        {"value of size 6 exactly at the end", entry_with(1, cat({be32(6), be16(21)})),
         "      \"n\" count=1 date hex=\n"},
        {"only the first of two values",
         cat({be32(33), be32(1), raw("n"), be32(2), be32(10), be16(8), Bytes{0x41, 0, 0, 0},
              be32(10), be16(8), Bytes{0x42, 0, 0, 0}}),
         "      \"n\" count=2 Unicode \"A\"\n"},
        {"the damaged value does not move the next entry",
         cat({entry_with(1, cat({be32(99), be16(8), raw("xx")})), kTitle}),
         "      \"n\" count=1 \n" + kTitleLine},
        {"names: ill-formed UTF-8, NULs and quotes as they are",
         cat({be32(17), be32(5), Bytes{0x61, 0xFF, 0x62, 0x22, 0x00}, be32(0)}),
         "      \"a" + kReplacement + "b\"" + std::string("\0", 1) + "\" count=0 \n"},
        {"two entries", cat({kTitle, xtra_entry("Counter", 1, 19, le64(42))}),
         kTitleLine + "      \"Counter\" count=1 int64u 42\n"},
    };
    test::check_rows(rows, entries);
}

TEST(DescribeXtra, DamagedStores) {
    const std::vector<test::Row<Bytes>> rows = {
        {"entry size 8", {0, 0, 0, 8, 0, 0, 0, 0}, "      [malformed Xtra entry @ 0, size=8]\n"},
        {"entry size 0", zeros(8), "      [malformed Xtra entry @ 0, size=0]\n"},
        {"entry past the payload", cat({kTitle, be32(40), zeros(8)}),
         kTitleLine + "      [malformed Xtra entry @ 29, size=40]\n"},
        {"entry size FFFFFFFF", cat({be32(0xFFFFFFFF), zeros(12)}),
         "      [malformed Xtra entry @ 0, size=4294967295]\n"},
        {"name too long", cat({kTitle, be32(12), be32(1), be32(0)}),
         kTitleLine + "      [malformed Xtra tag @ 29]\n"},
        {"name length FFFFFFFF", cat({be32(12), be32(0xFFFFFFFF), be32(0)}),
         "      [malformed Xtra tag @ 0]\n"},
        {"7 bytes after the last entry", cat({kTitle, zeros(7)}), kTitleLine},
        {"9 bytes after the last entry", cat({kTitle, zeros(9)}),
         kTitleLine + "      [malformed Xtra entry @ 29, size=0]\n"},
        {"nothing after a malformed entry", cat({be32(8), zeros(4), kTitle}),
         "      [malformed Xtra entry @ 0, size=8]\n"},
    };
    test::check_rows(rows, entries);
}

TEST(DescribeXtra, HandOffFromTheWalker) {
    using test::walk_all;
    // Offsets are relative to the payload whatever the header length.
    const Bytes bad = cat({be32(8), zeros(4)});
    EXPECT_EQ(
        walk_all(cat({atom64("Xtra", bad), atom("next")})),
        "    Xtra (size=24)\n      [malformed Xtra entry @ 0, size=8]\n    next (size=8) \"\"\n");
    EXPECT_EQ(
        walk_all(cat({atom("Xtra", cat({kTitle, be32(12), be32(1), be32(0)})), atom("next")})),
        "    Xtra (size=49)\n" + kTitleLine +
            "      [malformed Xtra tag @ 29]\n    next (size=8) \"\"\n");
    EXPECT_EQ(walk_all(atom("Xtra", zeros(7))), "    Xtra (size=15)\n");
    // A malformed Xtra atom is the walker's to report.
    EXPECT_EQ(walk_all(atom_sized(99, "Xtra", kTitle)), "    [malformed @ 0, size=99]\n");
    // Other spellings are leaves.
    EXPECT_EQ(walk_all(atom("XTRA", raw("x"))), "    XTRA (size=9) \"x\"\n");
}

}  // namespace
}  // namespace boxwalk

namespace boxwalk {
namespace {

// Texts and values longer than the 64 KiB pieces they are read in print as
// they would whole: UTF-8 and a surrogate pair cut by a piece's end, NULs
// trimmed across pieces, long dates and the first 32 bytes of a long value.
TEST(LongTexts, PrintAsIfReadWhole) {
    constexpr std::size_t kPiece = std::size_t{64} << 10;
    // A euro sign across the first piece's end, a cut four-byte sequence
    // across the second's, then NULs longer than a piece.
    Bytes text(kPiece - 1, 'a');
    text.insert(text.end(), {0xE2, 0x82, 0xAC});
    text.resize(2 * kPiece - 1, 'b');
    text.insert(text.end(), {0xF0, 0x9F, 'c'});
    const std::string shown = lenient_utf8(view(text));
    text.resize(text.size() + kPiece + 5, 0x00);
    const Bytes item = atom("----", cat({text_atom("mean", std::string(text.begin(), text.end())),
                                         text_atom("name", "KEY"), data_atom(1, raw("ok"))}));
    StringOutput items;
    describe_ilst(view(item), 0, item.size(), 2, items);
    EXPECT_EQ(items.text(), "      ---- (size=" + std::to_string(item.size()) + ") mean=\"" +
                                shown + "\" name=\"KEY\" data=\"ok\"\n");

    // UTF-16 with U+1F600 across a piece's end and a zero unit at the end,
    // and values of every type, each in an entry larger than a piece by its
    // name: printed as the same values in memory.
    Bytes utf16;
    for (std::size_t i = 0; i + 2 < kPiece; i += 2) {
        utf16.insert(utf16.end(), {'x', 0});
    }
    utf16.insert(utf16.end(), {0x3D, 0xD8, 0x00, 0xDE, 'y', 0, 0, 0});
    Bytes bytes(kPiece + 40);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 13);
    }
    const std::string name(kPiece + 3, 'n');
    Bytes payload;
    std::string expected;
    for (const auto& [type, data] : std::vector<std::pair<std::uint16_t, Bytes>>{
             {8, utf16}, {21, bytes}, {3, bytes}, {19, le64(42)}, {19, bytes}}) {
        payload = cat({payload, xtra_entry(name, 1, type, data)});
        expected += "      \"" + name + "\" count=1 " + xtra_value_text(type, view(data)) + "\n";
    }
    EXPECT_EQ(entries(payload), expected);
}

}  // namespace
}  // namespace boxwalk
