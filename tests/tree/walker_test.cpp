#include "tree/walker.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/atoms.hpp"
#include "support/table.hpp"
#include "support/walk.hpp"

namespace boxwalk {
namespace {

using namespace test;

// Checks walk_all on the bytes of each row.
void check_rows(const std::vector<test::Row<Bytes>>& rows) { test::check_rows(rows, walk_all); }

TEST(WalkContainer, Ranges) {
    const Bytes leaf = atom("abcd", raw("x"));
    EXPECT_EQ(walk(leaf, 0, 7), "");
    EXPECT_EQ(walk(leaf, 5, 4), "");
    EXPECT_EQ(walk(leaf, 9, 9), "");
    EXPECT_EQ(walk(leaf, kBeyondEveryEnd - 3, kBeyondEveryEnd), "");
    EXPECT_EQ(walk(leaf, 0, 9), "    abcd (size=9) \"x\"\n");
    // the first atom is printed with its absolute offset when malformed
    const Bytes late = cat({zeros(208), atom_sized(4, "abcd")});
    EXPECT_EQ(walk(late, 208, late.size()), "    [malformed @ 208, size=4]\n");
}

TEST(WalkContainer, AtomLines) {
    check_rows({
        {"container of header size", atom("udta"), "    udta (size=8)\n"},
        {"leaf of header size", atom("free"), "    free (size=8) \"\"\n"},
        {"leaf preview", atom("free", {1, 2, 3, 4}), "    free (size=12) hex: 01 02 03 04\n"},
        {"nesting adds two spaces",
         atom("udta", cat({atom("trak", atom("mdia", atom("minf", atom("stbl", atom("edts"))))),
                           atom("moov", atom("tool", raw("t")))})),
         "    udta (size=65)\n"
         "      trak (size=40)\n"
         "        mdia (size=32)\n"
         "          minf (size=24)\n"
         "            stbl (size=16)\n"
         "              edts (size=8)\n"
         "      moov (size=17)\n"
         "        tool (size=9) \"t\"\n"},
        {"container names are exact",
         cat({atom("MOOV", raw("a")), atom("Meta", raw("b")), atom("\xA9udt", raw("c")),
              atom("udt\x01", raw("d"))}),
         "    MOOV (size=9) \"a\"\n    Meta (size=9) \"b\"\n    @udt (size=9) \"c\"\n"
         "    udt? (size=9) \"d\"\n"},
        {"trailing bytes ignored", cat({atom("free", raw("a")), zeros(7)}),
         "    free (size=9) \"a\"\n"},
        {"size 4 ends the range but not the parent's",
         cat({atom("udta", cat({atom("free"), atom_sized(4, "abcd"), atom("late")})),
              atom("next")}),
         "    udta (size=32)\n      free (size=8) \"\"\n      [malformed @ 16, size=4]\n"
         "    next (size=8) \"\"\n"},
        {"one byte past the range", atom("udta", atom_sized(10, "free", raw("a"))),
         "    udta (size=17)\n      [malformed @ 8, size=10]\n"},
        {"size 0 runs to the end of the data",
         cat({atom("free"), atom_sized(0, "abcd", raw("xy"))}),
         "    free (size=8) \"\"\n    abcd (size=10) \"xy\"\n"},
        {"size 0 inside a shorter range", cat({atom("udta", atom_sized(0, "abcd")), zeros(4)}),
         "    udta (size=16)\n      [malformed @ 8, size=12]\n"},
    });
}

TEST(WalkContainer, MetaSkipsVersionAndFlags) {
    check_rows({
        {"meta 8", atom("meta"), "    meta (size=8 (skip 4 byte vfh))\n"},
        {"meta 12", atom("meta", zeros(4)), "    meta (size=12 (skip 4 byte vfh))\n"},
        {"meta 19", atom("meta", zeros(11)), "    meta (size=19 (skip 4 byte vfh))\n"},
        {"meta 20", meta(atom("free")),
         "    meta (size=20 (skip 4 byte vfh))\n      free (size=8) \"\"\n"},
        {"64-bit meta: children 20 bytes in", atom64("meta", cat({be32(0), atom("free")})),
         "    meta (size=28 (skip 4 byte vfh))\n      free (size=8) \"\"\n"},
    });
}

TEST(WalkContainer, SixtyFourBitSizes) {
    check_rows({
        {"payload 16 bytes in", atom64("abcd", raw("ok")), "    abcd (size=18) \"ok\"\n"},
        {"container", atom64("udta", atom("free")),
         "    udta (size=24)\n      free (size=8) \"\"\n"},
        {"64-bit size 8", atom64_sized(8, "abcd"), "    [malformed @ 0, size=8]\n"},
        {"64-bit size 15", atom64_sized(15, "abcd"), "    [malformed @ 0, size=15]\n"},
        {"64-bit size 0", atom64_sized(0, "abcd"), "    [malformed @ 0, size=0]\n"},
        // offset + size past 2^64 counts as beyond the end; the size is shown as read
        {"sum saturates", cat({atom("free"), atom64_sized(kBeyondEveryEnd - 3, "abcd")}),
         "    free (size=8) \"\"\n    [malformed @ 8, size=18446744073709551612]\n"},
        {"largest size", atom64_sized(kBeyondEveryEnd, "abcd"),
         "    [malformed @ 0, size=18446744073709551615]\n"},
    });
}

TEST(WalkContainer, RangeBeyondTheData) {
    // A udta that claims more than the file holds: its range is cut back to
    // the data before the atoms are judged.
    const Bytes body = cat({atom("free", raw("a")), atom_sized(20, "cut!", raw("xy"))});
    EXPECT_EQ(walk(body, 0, 1000), "    free (size=9) \"a\"\n    [malformed @ 9, size=20]\n");
    // a header partly beyond the data ends the range silently
    const Bytes partial = cat({atom("free", raw("a")), be32(8), raw("ab")});
    EXPECT_EQ(walk(partial, 0, 1000), "    free (size=9) \"a\"\n");
    EXPECT_EQ(walk(partial, 0, kBeyondEveryEnd), "    free (size=9) \"a\"\n");
    // a 64-bit header with 8 to 15 bytes of data left ends it silently too
    for (std::size_t left = 8; left < 16; ++left) {
        const Bytes cut = cat({atom("free", raw("a")), be32(1), raw("abcd"), zeros(left - 8)});
        EXPECT_EQ(walk(cut, 0, 1000), "    free (size=9) \"a\"\n") << left;
    }
    // but inside the data and past the range, its 64-bit size is judged
    const Bytes inside = cat({atom64_sized(40, "abcd"), zeros(24)});
    EXPECT_EQ(walk(inside, 0, 12), "    [malformed @ 0, size=40]\n");
}

TEST(WalkContainer, NestingDepthIsBounded) {
    EXPECT_EQ(walk(atom("free"), 0, 8, kMaxDepth + 1),
              std::string(2 * (kMaxDepth + 1), ' ') + "[nesting too deep]\n");
    EXPECT_EQ(walk(atom("free"), 0, 7, kMaxDepth + 1), "");
    EXPECT_EQ(walk(atom("free"), 0, 8, kMaxDepth),
              std::string(2 * kMaxDepth, ' ') + "free (size=8) \"\"\n");

    // 5000 udta atoms inside each other: lines down to depth 1000, then the
    // one marker line for the rest.
    const std::size_t levels = 5000;
    Bytes data(levels * 8 + 4);
    for (std::size_t i = 0; i < levels; ++i) {
        const Bytes header = atom_sized(static_cast<std::uint32_t>(data.size() - i * 8), "udta");
        std::copy(header.begin(), header.end(), data.begin() + static_cast<std::ptrdiff_t>(i * 8));
    }
    const std::string text = walk_all(data);
    const std::string last_line = std::string(2 * (kMaxDepth + 1), ' ') + "[nesting too deep]\n";
    ASSERT_GE(text.size(), last_line.size());
    EXPECT_EQ(text.substr(text.size() - last_line.size()), last_line);
    EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')),
              kMaxDepth - 2 + 1 + 1);
}

}  // namespace
}  // namespace boxwalk
