#include "tags/reader.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "load/load.hpp"
#include "support/atoms.hpp"
#include "support/fake_file.hpp"
#include "support/process.hpp"
#include "support/table.hpp"
#include "support/tag_lines.hpp"
#include "tags/values.hpp"

namespace boxwalk {
namespace {

using namespace test;
using namespace std::string_view_literals;

// The type byte that shows as ©.
const std::string kC = "\xA9";

Bytes ftyp(std::string_view brand = "M4A ") {
    return atom("ftyp", cat({raw(brand), be32(0), raw(brand)}));
}
Bytes movie(const Bytes& children, const Bytes& after = {}) {
    return cat({ftyp(), atom("moov", children), after});
}
Bytes full(const Bytes& body) { return cat({be32(0), body}); }
Bytes list(const Bytes& items) { return meta(atom("ilst", items)); }
// A QuickTime text: its length, its language code, the text.
Bytes qt_text(std::uint16_t language, std::string_view text) {
    return cat({be16(static_cast<std::uint16_t>(text.size())), be16(language), raw(text)});
}
// A keys table of `count` entries, with these names.
Bytes keys(std::uint32_t count, std::initializer_list<std::string_view> names) {
    Bytes entries;
    for (const std::string_view name : names) {
        entries = cat(
            {entries, be32(static_cast<std::uint32_t>(8 + name.size())), raw("mdta"), raw(name)});
    }
    return atom("keys", full(cat({be32(count), entries})));
}
// An item of an mdta list: numbered, not typed.
Bytes keyed(std::uint32_t number, const Bytes& children) {
    return cat({be32(static_cast<std::uint32_t>(8 + children.size())), be32(number), children});
}
Bytes handler(std::string_view type) {
    return atom("hdlr", full(cat({be32(0), raw(type), zeros(12)})));
}

std::string described(const Bytes& file) {
    MemorySource source(view(file));
    const TagReport report = read_tags(source);
    EXPECT_EQ(report_fault(report, file.size()), "");
    return describe_tags(report);
}

TEST(ReadTags, EveryStore) {
    const std::vector<Row<Bytes>> rows = {
        {"every data child; a ---- item's mean and name",
         movie(atom("udta", list(cat({
             atom(kC + "ART", cat({data_atom(1, raw("One")), data_atom(1, raw("Two"))})),
             atom("----", cat({text_atom("mean", "com.x"), text_atom("name", "K"),
                               data_atom(1, raw("a")), data_atom(1, raw("b"))})),
         })))),
         "ilst ©ART (Artist): text/1 \"One\" | text/1 \"Two\"\n"
         "ilst ---- com.x:K: text/1 \"a\" | text/1 \"b\"\n"},
        {"well-known keys; the genres that peers name so; what fits no reading, by its type",
         movie(atom("udta", list(cat({
             atom("trkn", data_atom(0, cat({be32(3), be32(12 << 16)}))),
             atom("disk", data_atom(0, cat({be32(1), be16(0)}))),
             atom("gnre", cat({data_atom(0, be16(41)), data_atom(0, be16(60)),
                               data_atom(0, be16(68)), data_atom(0, be16(85)),
                               data_atom(0, be16(86)), data_atom(0, be16(124)),
                               data_atom(0, be16(193))})),
             atom("cpil", cat({data_atom(21, {1}), data_atom(21, {2})})),
             atom("stik", data_atom(21, {10})),
             atom("rtng", data_atom(21, {4})),
             atom("tmpo", data_atom(21, be16(0xFFFB))),
             atom("covr", cat({data_atom(0, raw("\x89PNG\r\n\x1A\n")), data_atom(13, zeros(3))})),
         })))),
         "ilst trkn (Track): pair/0 \"3 of 12\"\n"
         "ilst disk (Disc): pair/0 \"1\"\n"
         "ilst gnre (Genre): genre/0 \"Alt. Rock\" | genre/0 \"Gangsta Rap\" | genre/0 "
         "\"Psychedelic\" | genre/0 \"Fast-Fusion\" | genre/0 \"Bebop\" | genre/0 \"A Cappella\" | "
         "bytes/0 \"00 c1\"\n"
         "ilst cpil (Compilation): flag/21 \"yes\" | integer/21 \"2\"\n"
         "ilst stik (Media kind): choice/21 \"TV show\"\n"
         "ilst rtng (Rating): choice/21 \"Explicit (old value)\"\n"
         "ilst tmpo (Tempo): integer/21 \"-5\"\n"
         "ilst covr (Cover): picture/0 \"PNG, 8 bytes\" | picture/13 \"JPEG, 3 bytes\"\n"},
        {"data types; a C1 control and a bad byte in UTF-8",
         movie(atom("udta", list(atom("xxxx", cat({
             data_atom(2, {0x00, 0xE9, 0x20, 0xAC, 0x00, 0x00}),
             data_atom(23, be32(0x3DCCCCCD)),
             data_atom(24, be64(0x3FD5555555555555)),
             data_atom(65, {0xFF}),
             data_atom(78, be64(~std::uint64_t{0})),
             data_atom(74, be64(std::uint64_t{1} << 63)),
             data_atom(66, {0x01}),
             data_atom(0x01000001, raw("x")),
             data_atom(1, raw("a\xC2\x85" "b\xFF")),
         }))))),
         "ilst xxxx: text/2 \"é€\" | float/23 \"0.1\" | float/24 \"0.3333333333333333\" | "
         "integer/65 \"-1\" | integer/78 \"18446744073709551615\" | "
         "integer/74 \"-9223372036854775808\" | bytes/66 \"01\" | bytes/16777217 \"78\" | "
         "text/1 \"a\xC2\x85" "b\xEF\xBF\xBD\"\n"},
        {"QuickTime texts: Mac Roman below 0x400, UTF-8 above; a text past its atom",
         movie(atom("udta", cat({
             atom(kC + "nam", cat({qt_text(0, "Caf\x8E"), qt_text(0x15C7, "Z\xC3\xBCrich")})),
             atom(kC + "xyz", qt_text(0x55C4, "+48.8577+002.2945/")),
             atom("name", raw("Tr\x8E\0"sv)),
             atom(kC + "cmt", cat({qt_text(0, "ok"), be16(9), be16(0), raw("short")})),
         }))),
         "quicktime ©nam (Title): text @eng \"Café\" | text @eng \"Zürich\"\n"
         "quicktime ©xyz (Location): location @und \"+48.8577+002.2945/\"\n"
         "quicktime name (Name): text \"Tré\"\n"
         "quicktime ©cmt (Comment): text @eng \"ok\"\n"
         "! quicktime the text of 9 bytes at 119 runs past the end of ©cmt at 128: 1 of its "
         "texts read\n"},
        {"a phone's keys in moov/meta, which has no version and flags; an item past the keys",
         movie(atom("meta", cat({
             handler("mdta"),
             keys(2, {"com.apple.quicktime.make", "com.apple.quicktime.location.ISO6709"}),
             atom("ilst", cat({keyed(1, data_atom(1, raw("Apple"))),
                               keyed(2, data_atom(1, raw("+1+2/"))),
                               keyed(9, data_atom(22, {7}))})),
         }))),
         "keys com.apple.quicktime.make (Make): text/1 \"Apple\"\n"
         "keys com.apple.quicktime.location.ISO6709 (Location): location/1 \"+1+2/\"\n"
         "keys 9: integer/22 \"7\"\n"
         "! keys the item at 226 is numbered 9, past the keys table of 2 entries\n"},
        {"keys in udta/meta: fewer entries than counted; an mdta list with no keys table",
         movie(atom("udta", cat({
             meta(cat({keys(26, {"a", "b"}), atom("ilst", keyed(2, data_atom(1, raw("B"))))})),
             meta(cat({handler("mdta"), atom("ilst", keyed(1, data_atom(1, raw("C"))))})),
         }))),
         "keys b: text/1 \"B\"\n"
         "keys 1: text/1 \"C\"\n"
         "! keys the keys table at 48 ends at 82: 2 of 26 keys read\n"
         "! keys the item at 167 is numbered 1, past the keys table of 0 entries\n"},
        {"Xtra: every value up to the count, and a count past the values",
         movie(atom("udta", atom("Xtra", cat({
             be32(37), be32(5), raw("Title"), be32(2), be32(10), be16(8), raw("H\0\0\0"sv),
             be32(10), be16(8), raw("i\0\0\0"sv),
             be32(30), be32(4), raw("Date"), be32(0xFFFFFFFF), be32(14), be16(21),
             le64(0x1D91E56DF94D707),
             be32(20), be32(1), raw("B"), be32(1), be32(7), be16(3), raw("\x01"),
         })))),
         "Xtra Title: text/8 \"H\" | text/8 \"i\"\n"
         "Xtra Date: date/21 \"2023-01-02 03:04:05.1234567 UTC\"\n"
         "Xtra B: bytes/3 \"01\"\n"
         "! Xtra the Xtra entry \"Date\" at 81 ends at 111: 1 value of 4,294,967,295 read\n"},
        {"3GPP assets of two tracks",
         movie(cat({
             atom("trak", atom("udta", cat({
                 atom("titl", full(cat({be16(0x15C7), raw("T"), zeros(1)}))),
                 atom("auth", full(cat({be16(0x15C7), raw("\xFE\xFF\0A\0\xE9\0\0"sv)}))),
                 atom("albm", full(cat({be16(0x15C7), raw("Al"), zeros(1), {7}}))),
                 atom("yrrc", full(be16(2020))),
                 atom("kywd", full(cat({be16(0x15C7), {2, 2}, raw("k"), zeros(1), {3}, raw("k2"),
                                        zeros(1)}))),
                 atom("clsf", full(cat({raw("ABCD"), be16(5), be16(0x15C7), raw("c"), zeros(1)}))),
                 atom("rtng", full(cat({raw("MPAA"), raw("PG13"), be16(0x15C7), raw("r")}))),
             }))),
             atom("trak", atom("udta", atom("loci", full(cat({
                 be16(0x15C7), raw("Paris"), zeros(1), {0},
                 be32(0x00024B64), be32(0x0030DB92), be32(0xFFFF8000),
                 raw("Earth"), zeros(1), raw("n"), zeros(1)}))))),
         })),
         "3gpp#1 titl (Title): text @eng \"T\"\n"
         "3gpp#1 auth (Author): text @eng \"Aé\"\n"
         "3gpp#1 albm (Album): text @eng \"Al\" | integer track: \"7\"\n"
         "3gpp#1 yrrc (Year): date \"2020\"\n"
         "3gpp#1 kywd (Keywords): text @eng \"k\" | text @eng \"k2\"\n"
         "3gpp#1 clsf (Classification): text entity: \"ABCD\" | integer table: \"5\" | "
         "text @eng \"c\"\n"
         "3gpp#1 rtng (Rating): text entity: \"MPAA\" | text criteria: \"PG13\" | text @eng \"r\"\n"
         "3gpp#2 loci (Location): text @eng name: \"Paris\" | choice role: \"Shooting location\" | "
         "location coordinates: \"+48.8577+002.2945-0.5/\" | text @eng body: \"Earth\" | "
         "text @eng notes: \"n\"\n"},
        {"XMP in a uuid atom after moov and in a track's udta",
         movie(atom("trak", atom("udta", atom("XMP_", raw("<x:xmpmeta/>")))),
               atom("uuid", cat({{0xBE, 0x7A, 0xCF, 0xCB, 0x97, 0xA9, 0x42, 0xE8, 0x9C, 0x71,
                                  0x99, 0x94, 0x91, 0xE3, 0xAF, 0xAC},
                                 raw("<?xpacket?>\0\0"sv)}))),
         "xmp#1: <x:xmpmeta/>\nxmp: <?xpacket?>\n"},
        {"udta nested past the limit",
         [] {
             Bytes nested = atom(kC + "nam", qt_text(0x15C7, "deep"));
             for (int i = 0; i < 9; ++i) {
                 nested = atom("udta", nested);
             }
             return movie(nested);
         }(),
         "! structure udta at 92 nested deeper than 8 levels: not read\n"},
    };
    check_rows(rows, described);
}

// The edges between the kinds; each kind's plain case is a real file of
// tests/fixtures/not_mp4.
TEST(ReadTags, FileKinds) {
    const std::vector<Row<Bytes>> rows = {
        {"", ftyp(), "mp4 M4A "},
        {"an unknown first atom, then moov", cat({atom("zzzz"), atom("moov")}), "mp4 moov @8+8"},
        {"", cat({be32(8), raw("wide"), zeros(3)}), "mp4"},
        {"an MPEG audio frame", {0xFF, 0xFB, 0x90, 0x64}, "mp3"},
        {"ADTS is no MP3", {0xFF, 0xF1, 0x50, 0x80}, "unknown"},
        {"", raw("hello, w\xC3\xB6rld\r\n\tthe end\n"), "text"},
        {"", raw("hello\x01"), "unknown"},
        {"a size that no atom has", cat({be32(5), raw("moov"), zeros(8)}), "unknown"},
    };
    check_rows(rows, [](const Bytes& file) {
        MemorySource source(view(file));
        return report_lines(read_tags(source)).head;
    });
}

// A file of `size` bytes holding `pieces` at their offsets, zeros elsewhere.
class SparseSource final : public Source {
public:
    SparseSource(std::uint64_t size, std::vector<std::pair<std::uint64_t, Bytes>> pieces)
        : Source(size), pieces_(std::move(pieces)) {}

private:
    std::optional<std::string> fetch(std::uint64_t pos, std::size_t count) override {
        held_.assign(static_cast<std::size_t>(std::min<std::uint64_t>(count, size() - pos)), 0);
        for (const auto& [at, bytes] : pieces_) {
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                if (at + i >= pos && at + i - pos < held_.size()) {
                    held_[static_cast<std::size_t>(at + i - pos)] = bytes[i];
                }
            }
        }
        window_ = held_;
        window_pos_ = pos;
        return {};
    }

    std::vector<std::pair<std::uint64_t, Bytes>> pieces_;
    Bytes held_;
};

TEST(ReadTags, OffsetsPast2To53AreExact) {
    const std::uint64_t at = (std::uint64_t{1} << 53) + 1;
    const Bytes moov = atom("moov", atom("udta", list(atom(kC + "nam", data_atom(1, raw("Far"))))));
    SparseSource source(at + moov.size(),
                        {{0, cat({ftyp(), be32(1), raw("mdat"), be64(at - 20)})}, {at, moov}});
    const ReportLines lines = report_lines(read_tags(source));
    EXPECT_EQ(lines.head, "mp4 M4A  moov @9007199254740993+63");
    EXPECT_EQ(lines.tags, std::vector<std::string>{"ilst ©nam (Title) @9007199254741029+27: "
                                                   "text/1 \"Far\" @9007199254741053+3"});
}

TEST(ReadTags, LongTextsCutAtACharacter) {
    // Three-byte characters past the limit, which no multiple of three is.
    std::string lyrics;
    while (lyrics.size() <= kTextLimit) {
        lyrics += "\xE6\x9D\xB1";
    }
    const Bytes file = movie(atom("udta", list(atom(kC + "lyr", data_atom(1, raw(lyrics))))));
    MemorySource source(view(file));
    const TagReport report = read_tags(source);
    ASSERT_EQ(report_fault(report, file.size()), "");
    const TagValue& value = report.tags.at(0).values.at(0);
    EXPECT_TRUE(value.cut);
    EXPECT_EQ(value.text.size(), kTextLimit - kTextLimit % 3);
    EXPECT_EQ(value.bytes.size, lyrics.size());
}

// A file with every store and some damage, for the checks of every prefix
// and every bad byte.
Bytes rich_file() {
    return movie(
        cat({atom("udta",
                  cat({list(cat({atom(kC + "nam", data_atom(1, raw("Song"))),
                                 atom("----", cat({text_atom("mean", "m"), text_atom("name", "n"),
                                                   data_atom(1, raw("v"))}))})),
                       atom("Xtra", xtra_entry("WM/Category", 1, 8, raw("A\0\0\0"sv))),
                       atom(kC + "day", qt_text(0x15C7, "2020")),
                       atom("titl", full(cat({be16(0x15C7), raw("T\0"sv)}))),
                       atom("XMP_", raw("<x/>"))})),
             atom("meta", cat({handler("mdta"), keys(1, {"k"}),
                               atom("ilst", keyed(1, data_atom(1, raw("B"))))})),
             atom("trak", atom("udta", atom("name", raw("Video"))))}));
}

// The rich file, the fuzzers' seeds and the real files of the fixtures.
std::vector<std::pair<std::string, Bytes>> checked_files() {
    const std::filesystem::path source = BOXWALK_SOURCE_DIR;
    std::vector<std::pair<std::string, Bytes>> files = {{"rich", rich_file()}};
    for (const auto& folder : {source / "fuzz" / "corpus", source / "tests" / "fixtures"}) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().extension() != ".md" && entry.path().extension() != ".sh" &&
                entry.path().extension() != ".py") {
                const std::string bytes = read_file(entry.path());
                files.emplace_back(entry.path().filename().string(),
                                   Bytes(bytes.begin(), bytes.end()));
            }
        }
    }
    return files;
}

TEST(ReadTags, EveryPrefixKeepsTheInvariants) {
    for (const auto& [name, file] : checked_files()) {
        for (std::size_t size = 0; size <= file.size(); ++size) {
            SCOPED_TRACE(name + ", prefix of " + std::to_string(size) + " bytes");
            // Exactly as long as the prefix, for the sanitizers to see a read past it.
            const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
            MemorySource source(view(prefix));
            EXPECT_EQ(report_fault(read_tags(source), size), "");
        }
    }
}

TEST(ReadTags, ABadByteLeavesTheStartOfTheRecords) {
    for (const auto& [name, file] : checked_files()) {
        MemorySource memory(view(file));
        const ReportLines whole = report_lines(read_tags(memory));
        if (name == "rich") {
            ASSERT_EQ(whole.tags.size(), 7u);
        }
        // A byte at a time through a file, whose bytes lent by one read are
        // gone at the next; the last run has no bad byte and reads it all.
        for (std::uint64_t bad = 0; bad <= file.size(); ++bad) {
            SCOPED_TRACE(name + ", bad byte at " + std::to_string(bad));
            FakeFaults faults;
            faults.error_at = bad;
            const auto source = file_source(std::make_unique<FakeFile>(file, file.size(), faults),
                                            file.size(), ReadAhead{1, 1});
            const ReportLines read = report_lines(read_tags(*source));
            EXPECT_TRUE(starts_with_lines(whole, read));
            if (bad == file.size()) {
                EXPECT_TRUE(read == whole);
            }
        }
    }
}

}  // namespace
}  // namespace boxwalk
