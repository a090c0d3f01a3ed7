#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "primitives/atom.hpp"
#include "primitives/render.hpp"
#include "primitives/text.hpp"
#include "support/atoms.hpp"
#include "support/table.hpp"

namespace boxwalk {

// Headers compare and print field by field in the table below (found by
// argument-dependent lookup, so not in the unnamed namespace).
bool operator==(const AtomHeader& a, const AtomHeader& b) {
    return a.size == b.size && a.header_len == b.header_len;
}
void PrintTo(const AtomHeader& header, std::ostream* os) {
    *os << "{size " << header.size << ", header_len " << header.header_len << "}";
}

namespace {

using namespace test;

constexpr std::uint64_t kMax = kBeyondEveryEnd;

TEST(SatAdd, SaturatesOnlyPastTheTop) {
    EXPECT_EQ(sat_add(kMax - 8, 8), kMax);
    EXPECT_EQ(sat_add(kMax - 8, 7), kMax - 1);
    EXPECT_EQ(sat_add(kMax - 7, 8), kMax);
    EXPECT_EQ(sat_add(kMax, kMax), kMax);
    EXPECT_EQ(sat_add(1, kMax - 1), kMax);
}

TEST(ReadAtomHeader, SizeForms) {
    // The bytes and the offset of the header in them.
    using At = std::pair<Bytes, std::uint64_t>;
    const std::vector<test::Row<At, std::optional<AtomHeader>>> rows = {
        // size field 0 runs to the end of the range: 20 - 4
        {"", {cat({zeros(4), be32(0), raw("free"), zeros(8)}), 4}, AtomHeader{16, 8}},
        // size field 1 with largesize 32
        {"", {cat({be32(1), raw("moov"), be64(32), zeros(16)}), 0}, AtomHeader{32, 16}},
        // sizes below the header are returned unchanged for the caller to judge
        {"", {cat({be32(4), raw("abcd")}), 0}, AtomHeader{4, 8}},
        {"", {cat({be32(1), raw("abcd"), be64(8)}), 0}, AtomHeader{8, 16}},
        {"", {cat({be32(0xFFFFFFFF), raw("abcd")}), 0}, AtomHeader{0xFFFFFFFF, 8}},
        // largesize near 2^64 and 0
        {"", {cat({be32(1), raw("abcd"), be64(kMax)}), 0}, AtomHeader{kMax, 16}},
        {"", {cat({be32(1), raw("abcd"), be64(0)}), 0}, AtomHeader{0, 16}},
        // exactly 8 bytes left is a header; 7 is none
        {"", {cat({zeros(3), be32(9), raw("abcd")}), 3}, AtomHeader{9, 8}},
        {"", {cat({be32(9), raw("abc")}), 0}, std::nullopt},
        // size field 1 with 8 to 15 bytes left: no header
        {"", {cat({be32(1), raw("abcd")}), 0}, std::nullopt},
        {"", {cat({be32(1), raw("abcd"), zeros(7)}), 0}, std::nullopt},
        // offsets at and past the end, and near 2^64
        {"", {cat({be32(8), raw("abcd")}), 8}, std::nullopt},
        {"", {cat({be32(8), raw("abcd")}), 9}, std::nullopt},
        {"", {cat({be32(8), raw("abcd")}), kMax - 3}, std::nullopt},
    };
    test::check_rows(rows,
                     [](const At& at) { return read_atom_header(view(at.first), at.second); });
}

TEST(ReadU32Be, StaysInsideTheRange) {
    const Bytes bytes = {0x01, 0x02, 0x03, 0x04, 0xFF};
    EXPECT_EQ(read_u32_be(view(bytes), 0), 0x01020304u);
    EXPECT_EQ(read_u32_be(view(bytes), 1), 0x020304FFu);
    EXPECT_EQ(read_u32_be(view(bytes), 2), std::nullopt);
    EXPECT_EQ(read_u32_be(view(bytes), kMax), std::nullopt);
    EXPECT_EQ(read_u64_be(view(cat({be64(kMax - 1)})), 0), kMax - 1);
    EXPECT_EQ(read_u64_le(view(Bytes{0x2A, 0, 0, 0, 0, 0, 0, 0}), 0), 42u);
}

TEST(TypeCodeText, MapsEveryByte) {
    const std::vector<test::Row<Bytes>> rows = {
        {"", {0xA9, 0x74, 0x6F, 0x6F}, "@too"}, {"", raw("moov"), "moov"},
        {"", {0x00, 0x01, 0x02, 0x03}, "????"}, {"", {0x7F, 0x20, 0x7E, 0x1F}, "? ~?"},
        {"", {0x80, 0xA8, 0xAA, 0xFF}, "????"}, {"", raw("----"), "----"},
    };
    // Each type after a size field.
    test::check_rows(rows, [](const Bytes& type) {
        return type_code_text(view(cat({be32(8), type})), 0);
    });
}

TEST(PreviewPayload, TextOrHex) {
    const std::string letters80(80, 'x');
    std::string hex80 = "01";
    for (int i = 1; i < 80; ++i) {
        hex80 += " 01";
    }
    const std::vector<test::Row<Bytes>> rows = {
        {"", {}, "\"\""},
        {"", raw(letters80), "\"" + letters80 + "\""},
        {"", raw(letters80 + "y"), "\"" + letters80 + "\"..."},
        {"", raw("a\nb"), "\"a\\nb\""},
        // trailing NULs go, inner ones, tabs and carriage returns stay
        {"", cat({raw("abc"), zeros(3)}), "\"abc\""},
        {"", raw(std::string("a\0b\t\r", 5)), std::string("\"a\0b\t\r\"", 7)},
        {"", zeros(4), "\"\""},
        {"", {0x00, 0x01}, "hex: 00 01"},
        {"", {0x7F}, "hex: 7f"},
        {"", {0xC3, 0xA9}, "\"\xC3\xA9\""},
        {"", {0xE9}, "hex: e9"},
        // a quote inside stays as it is
        {"", raw("say \"hi\""), "\"say \"hi\"\""},
        // hex stops at 80 bytes too
        {"", Bytes(81, 0x01), "hex: " + hex80 + "..."},
        {"", Bytes(80, 0x01), "hex: " + hex80},
    };
    test::check_rows(rows, [](const Bytes& payload) { return preview_payload(view(payload)); });
}

TEST(PreviewPayload, CharacterCutAtTheLimitGivesHex) {
    // 79 letters, then the first two bytes of a three-byte character.
    const Bytes payload = cat({raw(std::string(79, 'a')), Bytes{0xE2, 0x82, 0xAC}, raw("zz")});
    const std::string preview = preview_payload(view(payload));
    EXPECT_EQ(preview.rfind("hex: 61 61 ", 0), 0u) << preview;
    EXPECT_EQ(preview.substr(preview.size() - 9), " 61 e2...") << preview;
    EXPECT_EQ(preview.size(), 5 + 80 * 3 - 1 + 3);
    // The same character whole inside the limit is text.
    const Bytes whole = cat({raw(std::string(77, 'a')), Bytes{0xE2, 0x82, 0xAC}});
    // (The quote is a string of its own: GCC 12 warns falsely of an overlap
    // when a literal is put before a temporary string.)
    EXPECT_EQ(preview_payload(view(whole)),
              std::string("\"") + std::string(77, 'a') + "\xE2\x82\xAC\"");
}

TEST(HexJoin, Separators) {
    EXPECT_EQ(hex_join(view(Bytes{}), " "), "");
    EXPECT_EQ(hex_join(view(Bytes{0x0A}), " "), "0a");
    EXPECT_EQ(hex_join(view(Bytes{0x00, 0xFF, 0x10}), " "), "00 ff 10");
    EXPECT_EQ(hex_join(view(Bytes{0x00, 0xFF, 0x10}), ""), "00ff10");
}

TEST(Decimal, Extremes) {
    EXPECT_EQ(decimal(0), "0");
    EXPECT_EQ(decimal(kMax), "18446744073709551615");
}

TEST(LenientUtf8, MaximalSubparts) {
    const std::string r = "\xEF\xBF\xBD";  // U+FFFD
    const std::vector<test::Row<Bytes>> rows = {
        {"", raw("plain"), "plain"},
        {"", {0x61, 0xFF, 0x62}, "a" + r + "b"},
        {"U+1F600", {0xF0, 0x9F, 0x98, 0x80}, "\xF0\x9F\x98\x80"},
        // truncated sequences: one replacement for the whole cut prefix
        {"", {0xE2, 0x82}, r},
        {"", {0xF0, 0x9F, 0x98, 0x41}, r + "A"},
        {"", {0xC3}, r},
        // overlongs: the lead byte alone is ill-formed, then each trail
        {"", {0xC0, 0xAF}, r + r},
        {"", {0xE0, 0x80, 0xAF}, r + r + r},
        // surrogates encoded in UTF-8
        {"", {0xED, 0xA0, 0x80}, r + r + r},
        {"U+D7FF is fine", {0xED, 0x9F, 0xBF}, "\xED\x9F\xBF"},
        // above U+10FFFF
        {"", {0xF4, 0x90, 0x80, 0x80}, r + r + r + r},
        {"", {0xF5, 0x80}, r + r},
        {"", {0xF4, 0x8F, 0xBF, 0xBF}, "\xF4\x8F\xBF\xBF"},
        // a lone trail byte, and a lead followed by a new lead
        {"", {0x80}, r},
        {"", {0xE2, 0xE2, 0x82, 0xAC}, r + "\xE2\x82\xAC"},
        // NUL is a character like any other
        {"", {0x00, 0x41}, std::string("\0A", 2)},
    };
    test::check_rows(rows, [](const Bytes& bytes) { return lenient_utf8(view(bytes)); });
    // Valid exactly when nothing was replaced.
    test::for_each_row(rows, [](const test::Row<Bytes>& row) {
        EXPECT_EQ(is_valid_utf8(view(row.input)),
                  lenient_utf8(view(row.input)) == std::string(row.input.begin(), row.input.end()));
    });
}

TEST(AppendEscaped, OnlyControlCharacters) {
    const std::vector<test::Row<std::string>> rows = {
        {"", "plain\ttab stays", "plain\ttab stays"},
        {"", std::string("\0\x01\x08\n\r\x1b[2J\x1f\x7f", 11),
         "\\x00\\x01\\x08\\x0a\\x0d\\x1b[2J\\x1f\\x7f"},
        {"C1 controls are U+0080..U+009F; U+00A0 and other letters pass",
         "\xC2\x80|\xC2\x9B|\xC2\x9F|\xC2\xA0|\xC3\xA9", "\\x80|\\x9b|\\x9f|\xC2\xA0|\xC3\xA9"},
        {"U+FFFD and a lead byte cut off at the end pass unchanged", "\xEF\xBF\xBD\xC2",
         "\xEF\xBF\xBD\xC2"},
        {"", "", ""},
    };
    test::for_each_row(rows, [](const test::Row<std::string>& row) {
        std::string target = "kept:";
        append_escaped(target, row.input);
        EXPECT_EQ(target, "kept:" + row.expected);
    });
}

}  // namespace
}  // namespace boxwalk
