#include "tree/item_list.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "load/load.hpp"
#include "support/atoms.hpp"
#include "support/fake_file.hpp"
#include "support/table.hpp"
#include "support/walk.hpp"
#include "tree/walker.hpp"

namespace boxwalk {
namespace {

using namespace test;

// The item lines of an ilst holding `items_bytes`, followed by a sibling atom
// so that every case also shows the walk going on after the list; the ilst
// line gets four spaces, its items six.
std::string items(const Bytes& items_bytes) {
    const std::string text = walk_all(cat({atom("ilst", items_bytes), atom("next")}));
    const std::string next = "    next (size=8) \"\"\n";
    EXPECT_EQ(text.substr(text.size() - next.size()), next);
    const std::size_t first = text.find('\n') + 1;
    return text.substr(first, text.size() - next.size() - first);
}

// Rows of the items inside an ilst and their lines.
using Row = test::Row<Bytes>;

const Bytes kSongMean = text_atom("mean", "tools");
const Bytes kSongName = text_atom("name", "KEY");
const Bytes kSongData = data_atom(1, raw("ok"));

TEST(DescribeIlst, WorkedExampleAtDepthThree) {
    const Bytes ilst = atom("ilst", cat({atom("\xA9nam", data_atom(1, raw("Song"))),
                                         atom("tmpo", data_atom(21, {0x01, 0x2C})),
                                         atom("----", cat({kSongMean, kSongName, kSongData}))}));
    StringOutput out;
    walk_container(view(ilst), 0, ilst.size(), 3, out);
    EXPECT_EQ(out.text(),
              "      ilst (size=120)\n"
              "        @nam (size=28) type=1 \"Song\"\n"
              "        tmpo (size=26) type=21 hex: 01 2c\n"
              "        ---- (size=58) mean=\"tools\" name=\"KEY\" data=\"ok\"\n");
}

TEST(DescribeIlst, PlainItems) {
    const std::vector<Row> rows = {
        {"header only", atom("\xA9nam"), "      @nam (size=8) (no data)\n"},
        {"zero type", atom(std::string_view("\0\0\0\0", 4), data_atom(1, raw("x"))),
         "      ???? (size=25) type=1 \"x\"\n"},
        {"first usable data wins",
         atom("tmpo",
              cat({data_atom(1, {}), data_atom(2, raw("first")), data_atom(3, raw("2nd"))})),
         "      tmpo (size=64) type=2 \"first\"\n"},
        {"mean, name and other children passed over",
         atom("cprt",
              cat({text_atom("name", "n"), atom("free", raw("x")), data_atom(1, raw("c"))})),
         "      cprt (size=47) type=1 \"c\"\n"},
        {"all 32 indicator bits", atom("covr", data_atom(0x01000001, raw("x"))),
         "      covr (size=25) type=16777217 \"x\"\n"},
        {"value that is not text", atom("trkn", data_atom(21, be32(1))),
         "      trkn (size=28) type=21 hex: 00 00 00 01\n"},
        {"value of NULs", atom("desc", data_atom(1, zeros(3))),
         "      desc (size=27) type=1 \"\"\n"},
        {"long value", atom("\xA9lyr", data_atom(1, raw(std::string(81, 'l')))),
         "      @lyr (size=105) type=1 \"" + std::string(80, 'l') + "\"...\n"},
        {"child past the item's end keeps what was found",
         atom("aART",
              cat({atom("free"), atom_sized(40, "data", cat({be32(1), be32(0), raw("x")}))})),
         "      aART (size=33) (no data)\n"},
        {"child below its header keeps what was found",
         atom("aART", cat({atom_sized(7, "data"), data_atom(1, raw("x"))})),
         "      aART (size=33) (no data)\n"},
        {"1 to 7 bytes left in an item", atom("aART", cat({data_atom(1, raw("x")), zeros(7)})),
         "      aART (size=32) type=1 \"x\"\n"},
        {"container types are plain items here", atom("meta", atom("ilst", data_atom(1, raw("x")))),
         "      meta (size=33) (no data)\n"},
        {"64-bit item and child",
         atom64("\xA9"
                "ART",
                atom64("data", cat({be32(1), be32(0), raw("x")}))),
         "      @ART (size=41) type=1 \"x\"\n"},
    };
    test::check_rows(rows, items);
}

TEST(DescribeIlst, FreeformItems) {
    const std::string r = "\xEF\xBF\xBD";
    const std::vector<Row> rows = {
        {"header only", atom("----"), "      ---- (size=8) mean=\"\" name=\"\" data=\n"},
        {"template order whatever the child order",
         atom("----", cat({kSongData, kSongName, kSongMean})),
         "      ---- (size=58) mean=\"tools\" name=\"KEY\" data=\"ok\"\n"},
        {"last usable of each kind wins",
         atom("----", cat({text_atom("mean", "m1"), text_atom("mean", "m2"), text_atom("mean", ""),
                           text_atom("name", "n1"), text_atom("name", "n2"),
                           data_atom(1, raw("d1")), data_atom(1, raw("d2")), data_atom(1, {})})),
         "      ---- (size=128) mean=\"m2\" name=\"n2\" data=\"d2\"\n"},
        {"texts: trailing NULs go, inner ones stay, bad bytes replaced",
         atom("----", cat({atom("mean", cat({zeros(4), Bytes{0x61, 0x00, 0x62, 0x00, 0x00}})),
                           atom("name", cat({zeros(4), Bytes{0x4B, 0xFF, 0x22, 0x0A}}))})),
         "      ---- (size=41) mean=\"" + std::string("a\0b", 3) + "\" name=\"K" + r +
             "\"\n\" data=\n"},
        {"a text of one NUL is empty",
         atom("----", cat({atom("mean", cat({zeros(4), Bytes{0x00}})), text_atom("name", "n")})),
         "      ---- (size=34) mean=\"\" name=\"n\" data=\n"},
        {"data of NULs", atom("----", data_atom(1, zeros(4))),
         "      ---- (size=28) mean=\"\" name=\"\" data=\"\"\n"},
        {"child past the item's end keeps what was found",
         atom("----", cat({kSongMean, atom_sized(100, "name", raw("KEY"))})),
         "      ---- (size=36) mean=\"tools\" name=\"\" data=\n"},
    };
    test::check_rows(rows, items);
}

TEST(DescribeIlst, ListEndsSilently) {
    const Bytes song = atom("\xA9nam", data_atom(1, raw("Song")));
    const std::string song_line = "      @nam (size=28) type=1 \"Song\"\n";
    const std::vector<Row> rows = {
        {"empty list", {}, ""},
        {"1 to 7 bytes", zeros(7), ""},
        {"item past the list's end", cat({song, atom_sized(30, "tmpo", zeros(4))}), song_line},
        {"item size 2", cat({song, atom_sized(2, "tmpo", zeros(4)), song}), song_line},
        {"64-bit item below 16", cat({song, atom64_sized(12, "tmpo"), song}), song_line},
        {"64-bit item past 2^64", cat({song, atom64_sized(kBeyondEveryEnd - 4, "tmpo"), song}),
         song_line},
        {"size 0 item inside a list that ends earlier", cat({song, atom_sized(0, "tmpo")}),
         song_line},
    };
    test::check_rows(rows, items);
}

TEST(DescribeIlst, AtTheEndOfTheData) {
    // An item whose size field is 0 runs to the end of the file: used when
    // the list ends there too.
    const Bytes tail = atom("ilst", atom_sized(0,
                                               "\xA9"
                                               "day",
                                               cat({data_atom(1, raw("2024"))})));
    EXPECT_EQ(walk_all(tail), "    ilst (size=36)\n      @day (size=28) type=1 \"2024\"\n");
    // A 64-bit child header that the data cuts off ends its item's children.
    for (std::size_t left = 8; left < 16; ++left) {
        const Bytes cut = cat({atom("ilst", atom("aART", cat({data_atom(1, raw("x")), be32(1),
                                                              raw("data"), zeros(left - 8)})))});
        // describe_ilst called directly, as the walker would for a list that
        // ends at the data's end
        StringOutput out;
        describe_ilst(view(cut), 8, cut.size(), 2, out);
        EXPECT_EQ(out.text(), "      aART (size=" + std::to_string(25 + left) + ") type=1 \"x\"\n")
            << left;
    }
    // The list's end is cut back to the data as well.
    StringOutput out;
    const Bytes items_only = atom("aART", data_atom(1, raw("x")));
    describe_ilst(view(items_only), 0, kBeyondEveryEnd, 2, out);
    EXPECT_EQ(out.text(), "      aART (size=25) type=1 \"x\"\n");
}

TEST(DescribeIlst, HandOffFromTheWalker) {
    // 64-bit ilst: items start 16 bytes in; ilst is never walked or previewed.
    EXPECT_EQ(walk_all(cat({atom64("ilst", atom("aART", data_atom(1, raw("x")))), atom("free")})),
              "    ilst (size=41)\n      aART (size=25) type=1 \"x\"\n    free (size=8) \"\"\n");
    EXPECT_EQ(walk_all(atom("ilst")), "    ilst (size=8)\n");
    // An item reaching past the ilst: the next line is the walker's.
    EXPECT_EQ(walk_all(atom("udta", cat({atom("ilst", atom_sized(99, "aART")), atom("tail")}))),
              "    udta (size=32)\n      ilst (size=16)\n      tail (size=8) \"\"\n");
    // A malformed ilst gets the walker's line and never reaches the decoder.
    EXPECT_EQ(walk_all(atom_sized(99, "ilst", atom("aART"))), "    [malformed @ 0, size=99]\n");
}

// A sink that takes every value gets an item's values after the first
// before the item's line, whose text stays the same.
TEST(DescribeIlst, EveryValueForASinkThatAsks) {
    struct Every final : Output {
        Every() : Output(256) {}
        bool wants_every_value() const override { return true; }
        void another_value(std::optional<FileRange> value, std::uint32_t type) override {
            drain();
            got.append(value ? std::to_string(value->pos) : "more").append(1, '/');
            got.append(std::to_string(type)).append(1, ' ');
        }
        void hand_on(std::string_view text) override { got.append(text); }
        std::string got;
    };
    const Bytes list = atom("covr", cat({data_atom(14, raw("a")), atom("free"), data_atom(1, {}),
                                         data_atom(13, raw("bc")), data_atom(0, raw("d"))}));
    Every out;
    describe_ilst(view(list), 0, list.size(), 0, out);
    out.flush();
    EXPECT_EQ(out.got, "65/13 83/0   covr (size=84) type=14 \"a\"\n");
    // Read from a file a few bytes at a time, the later values' reads must
    // leave the preview's bytes as they were.
    Every from_file;
    const auto source =
        file_source(std::make_unique<FakeFile>(list, list.size()), list.size(), ReadAhead{1, 1});
    describe_ilst(*source, 0, list.size(), 0, from_file);
    from_file.flush();
    EXPECT_EQ(from_file.got, out.got);
    EXPECT_EQ(written_text([&](Output& o) { describe_ilst(view(list), 0, list.size(), 0, o); }),
              "  covr (size=84) type=14 \"a\"\n");
}

}  // namespace
}  // namespace boxwalk
