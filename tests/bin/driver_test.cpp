#include "bin/boxwalk/driver.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "bin/boxwalk/platform.hpp"
#include "bin/boxwalk/streams.hpp"
#include "load/load.hpp"
#include "support/atoms.hpp"
#include "support/fake_file.hpp"
#include "support/process.hpp"
#include "support/table.hpp"
#include "tree/plan.hpp"
#include "tree/scan.hpp"

namespace boxwalk {
namespace {

using namespace test;

std::string scan(const Bytes& data) {
    StringOutput out;
    scan_top_level(view(data), out);
    return out.text();
}

// Rows of file bytes and the lines of their scan.
using Row = test::Row<Bytes>;

TEST(ScanTopLevel, FindsTheFirstMoov) {
    const Bytes abcd = atom("abcd");
    const std::vector<Row> rows = {
        {"empty file", {}, ""},
        {"seven bytes", zeros(7), ""},
        {"bare moov", atom("moov"), "moov (size=8, @ 0)\n"},
        {"moov after another atom", cat({atom("ftyp", zeros(16)), atom("moov", abcd)}),
         "moov (size=16, @ 24)\n  abcd (size=8, @ 32)\n"},
        {"moov size 0 runs to the end",
         cat({atom("ftyp", zeros(16)), atom_sized(0, "moov", atom("free", zeros(60)))}),
         "moov (size=76, @ 24)\n  free (size=68, @ 32)\n"},
        {"64-bit moov", atom64("moov", abcd), "moov (size=24, @ 0)\n  abcd (size=8, @ 16)\n"},
        {"size 0 before moov", cat({atom_sized(0, "free"), atom("moov")}), ""},
        {"size 4 before moov", cat({atom_sized(4, "free"), atom("moov")}), ""},
        {"64-bit size 12 before moov", cat({atom64_sized(12, "free"), atom("moov")}), ""},
        {"no moov", cat({atom("ftyp"), atom("mdat", zeros(4))}), ""},
        {"upper case is not moov", atom("MOOV", abcd), ""},
        {"only the first moov", cat({atom("moov", atom("one!")), atom("moov", atom("two!"))}),
         "moov (size=16, @ 0)\n  one! (size=8, @ 8)\n"},
        {"reaching past the data ends the scan", cat({atom_sized(100, "free"), atom("moov")}), ""},
        {"64-bit sum past 2^64 ends the scan",
         cat({atom64_sized(kBeyondEveryEnd - 2, "free"), atom("moov")}), ""},
        {"64-bit header in the last 15 bytes", cat({atom("free"), be32(1), raw("moov"), zeros(7)}),
         ""},
    };
    test::check_rows(rows, scan);
}

TEST(ScanTopLevel, MoovChildren) {
    const std::vector<Row> rows = {
        // the next child's size is the first child's type field
        {"size 4 child: next read 4 bytes on", atom("moov", cat({be32(4), be32(8), raw("next")})),
         "moov (size=20, @ 0)\n  ???? (size=4, @ 8)\n  next (size=8, @ 12)\n"},
        {"size 0 child runs to the end of the data, not of moov",
         cat({atom("moov", atom_sized(0, "abcd")), zeros(8)}),
         "moov (size=16, @ 0)\n  abcd (size=16, @ 8)\n"},
        {"64-bit child", atom("moov", atom64("abcd", zeros(2))),
         "moov (size=26, @ 0)\n  abcd (size=18, @ 8)\n"},
        {"64-bit udta walks 16 bytes in", atom("moov", atom64("udta", atom("free"))),
         "moov (size=32, @ 0)\n  udta (size=24, @ 8)\n    free (size=8) \"\"\n"},
        {"udta of size 8", atom("moov", atom("udta")),
         "moov (size=16, @ 0)\n  udta (size=8, @ 8)\n"},
        {"two udta, each walked",
         atom("moov", cat({atom("udta", atom("one!")), atom("mvhd"), atom("udta", atom("two!"))})),
         "moov (size=48, @ 0)\n  udta (size=16, @ 8)\n    one! (size=8) \"\"\n"
         "  mvhd (size=8, @ 24)\n  udta (size=16, @ 32)\n    two! (size=8) \"\"\n"},
        {"1 to 7 trailing bytes", atom("moov", cat({atom("mvhd"), zeros(7)})),
         "moov (size=23, @ 0)\n  mvhd (size=8, @ 8)\n"},
        {"trak is not descended into", atom("moov", atom("trak", atom("tkhd"))),
         "moov (size=24, @ 0)\n  trak (size=16, @ 8)\n"},
        // 64-bit udta of size 12: its range starts past its end; the next
        // child starts inside its largesize field
        {"udta below its header size walks nothing",
         atom("moov", cat({atom64_sized(12, "udta"), raw("next"), zeros(4)})),
         "moov (size=32, @ 0)\n  udta (size=12, @ 8)\n  next (size=12, @ 20)\n"},
        {"udta reaching past moov is walked to its own end",
         cat({atom("moov", atom_sized(24, "udta")), atom("free")}),
         "moov (size=16, @ 0)\n  udta (size=24, @ 8)\n    free (size=8) \"\"\n"},
    };
    test::check_rows(rows, scan);
}

TEST(ScanTopLevel, MoovListingEndsSafely) {
    const std::vector<Row> rows = {
        // 64-bit size 0 would never advance: printed, then the listing ends
        {"64-bit child of size 0", atom("moov", cat({atom64_sized(0, "abcd"), atom("next")})),
         "moov (size=32, @ 0)\n  abcd (size=0, @ 8)\n"},
        {"64-bit udta of size 0", atom("moov", cat({atom64_sized(0, "udta"), atom("free")})),
         "moov (size=32, @ 0)\n  udta (size=0, @ 8)\n"},
        // moov claims more than the file holds: children are read while
        // their headers lie inside the data
        {"moov past the data", cat({atom_sized(1000, "moov"), atom("abcd"), be32(8), raw("ef")}),
         "moov (size=1000, @ 0)\n  abcd (size=8, @ 8)\n"},
        {"64-bit child header cut by the data",
         cat({atom_sized(1000, "moov"), atom("abcd"), be32(1), raw("abcd"), zeros(4)}),
         "moov (size=1000, @ 0)\n  abcd (size=8, @ 8)\n"},
        {"moov end saturates", cat({atom64_sized(kBeyondEveryEnd, "moov"), atom("abcd")}),
         "moov (size=18446744073709551615, @ 0)\n  abcd (size=8, @ 16)\n"},
        {"child end saturates",
         atom64_sized(kBeyondEveryEnd, "moov",
                      cat({atom64_sized(kBeyondEveryEnd - 1, "abcd"), atom("next")})),
         "moov (size=18446744073709551615, @ 0)\n  abcd (size=18446744073709551614, @ 16)\n"},
        {"udta range saturates",
         atom64_sized(kBeyondEveryEnd, "moov", atom64_sized(kBeyondEveryEnd, "udta", atom("free"))),
         "moov (size=18446744073709551615, @ 0)\n  udta (size=18446744073709551615, @ 16)\n"
         "    free (size=8) \"\"\n"},
    };
    test::check_rows(rows, scan);
}

// An output whose writes fail as a full disk or a closed pipe would.
class FailingOutput final : public Output {
public:
    explicit FailingOutput(WriteFailure failure) : Output(256), failure_(std::move(failure)) {}
    std::optional<WriteFailure> flush() override { return failure_; }

private:
    void hand_on(std::string_view) override {}
    WriteFailure failure_;
};

// A loader of bytes in memory that outlive the run.
FileLoader memory(const Bytes& bytes) {
    return [&bytes](const Argument&) {
        return LoadResult{std::make_unique<MemorySource>(view(bytes)), {}};
    };
}

std::vector<Argument> arguments(std::vector<std::string> texts) {
    std::vector<Argument> args;
    for (std::string& text : texts) {
        args.push_back(Argument{text, text});
    }
    return args;
}

TEST(Run, StatusAndStreams) {
    const auto never = [](const Argument&) -> LoadResult {
        ADD_FAILURE() << "no load expected";
        return {};
    };
    StringOutput out;
    StringOutput err;
    EXPECT_EQ(run(arguments({"prog"}), never, out, err), 1);
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(err.text(), "Usage: prog <input.mp4>\n");

    std::string opened;
    const Bytes moov = atom("moov");
    const auto sample = [&](const Argument& path) {
        opened = path.native;
        return memory(moov)(path);
    };
    StringOutput out2;
    StringOutput err2;
    EXPECT_EQ(run(arguments({"prog", "a.mp4", "b.mp4", "c"}), sample, out2, err2), 0);
    EXPECT_EQ(opened, "a.mp4");
    EXPECT_EQ(out2.text(),
              "[boxwalk] File: a.mp4\n[boxwalk] Size: 8 bytes\n\nmoov (size=8, @ 0)\n");
    EXPECT_EQ(err2.text(), "");

    const auto no_memory = [](const Argument&) { return LoadResult::failure("out of memory"); };
    StringOutput out3;
    StringOutput err3;
    EXPECT_EQ(run(arguments({"prog", "big.mp4"}), no_memory, out3, err3), 1);
    EXPECT_EQ(out3.text(), "[boxwalk] File: big.mp4\n");
    EXPECT_EQ(err3.text(), "[boxwalk] ERROR: read: out of memory\n");
}

TEST(Run, LostOutputIsNotSuccess) {
    const Bytes moov = atom("moov");
    const FileLoader sample = memory(moov);
    FailingOutput full(WriteFailure{false, "No space left on device (os error 28)"});
    StringOutput err;
    EXPECT_EQ(run(arguments({"prog", "a.mp4"}), sample, full, err), 1);
    EXPECT_EQ(err.text(), "[boxwalk] ERROR: write: No space left on device (os error 28)\n");

    FailingOutput closed(WriteFailure{true, "Broken pipe (os error 32)"});
    StringOutput quiet;
    EXPECT_EQ(run(arguments({"prog", "a.mp4"}), sample, closed, quiet), 1);
    EXPECT_EQ(quiet.text(), "");
}

// What a run on "f" prints, standard output then standard error, and its
// status.
std::string run_on(const FileLoader& load) {
    StringOutput out;
    StringOutput err;
    const int status = run(arguments({"boxwalk", "f"}), load, out, err);
    return out.text() + err.text() + "status " + std::to_string(status);
}

// A loader of a fake file that reports `reported` and holds `bytes`, then
// zeros up to `length`.
FileLoader fake(std::optional<std::uint64_t> reported, const Bytes& bytes, std::uint64_t length,
                FakeFaults faults = {}) {
    return [=](const Argument&) {
        LoadLimits limits;
        limits.memory = std::uint64_t{1} << 20;
        return open_source(std::make_unique<FakeFile>(bytes, length, faults), reported, limits);
    };
}

FileLoader real(const char* path) {
    return [path](const Argument&) { return load_file(Argument{path, path}); };
}

// How a file is read, whatever the system says of its length or does to it
// meanwhile: the output is the file's, or lines of it and then an error.
TEST(LoadFile, Cases) {
    const Bytes song = sample_song();
    const std::string head = "[boxwalk] File: f\n[boxwalk] Size: 294 bytes\n\n";
    std::string tree = test::read_file(std::string(BOXWALK_SOURCE_DIR) + "/tests/golden/song.out");
    tree = tree.substr(tree.find("\n\n") + 2);
    const auto tree_before = [&tree](const char* line) { return tree.substr(0, tree.find(line)); };
    const std::string whole = head + tree + "status 0";
    const std::string io_error = "[boxwalk] ERROR: read: Input/output error (os error 5)\n";
    // A moov behind 1 MiB of media.
    const Bytes moov = atom("moov", atom("udta", atom("name", raw("after"))));
    const std::size_t length = std::size_t{1} << 20;
    const Bytes media = cat(
        {be32(1), raw("mdat"), be64(length - moov.size()), zeros(length - 16 - moov.size()), moov});
    const char* sys = "/sys/kernel/mm/transparent_hugepage/enabled";
    const auto held = [](const char* path) {
        return "[boxwalk] File: f\n[boxwalk] Size: " +
               std::to_string(test::read_file(path).size()) + " bytes\n\nstatus 0";
    };
    check_rows<FileLoader>(
        {
            {"bytes appended after the open are not read",
             fake(294, cat({song, atom("more", zeros(92))}), 394), whole},
            {"shorter than it says at the first read: read as a stream", fake(4096, song, 294),
             whole},
            {"cut to nothing after the first read: the length now",
             fake(length, media, length, {.ends_at = 0, .intact_reads = 1}),
             "[boxwalk] File: f\n[boxwalk] Size: 1048576 bytes\n\n[boxwalk] ERROR: read: the "
             "file shrank while it was read: it ends at byte 0 of 1048576\nstatus 1"},
            {"a bad sector in the tags", fake(294, song, 294, {.error_at = 210}),
             head + tree_before("      \"Title") + io_error + "status 1"},
            {"a bad sector at the start", fake(294, song, 294, {.error_at = 0}),
             "[boxwalk] File: f\n" + io_error + "status 1"},
            {"a bad sector in media data is never read",
             fake(length, media, length, {.error_at = 100}),
             "[boxwalk] File: f\n[boxwalk] Size: 1048576 bytes\n\nmoov (size=29, @ 1048547)\n"
             "  udta (size=21, @ 1048555)\n    name (size=13) \"after\"\nstatus 0"},
            {"but a stream reads it", fake(std::nullopt, media, length, {.error_at = 100}),
             "[boxwalk] File: f\n" + io_error + "status 1"},
            {"a stream that never ends", fake(std::nullopt, {}, kBeyondEveryEnd),
             "[boxwalk] File: f\n[boxwalk] ERROR: read: out of memory\nstatus 1"},
            {"/proc reports 0 and holds more", real("/proc/self/cmdline"),
             held("/proc/self/cmdline")},
            {"/sys reports a page and holds less", real(sys), held(sys)},
        },
        run_on);
}

// A file whose lines show runs longer than the 64 KiB a text is read in:
// an Xtra entry with a long name and a long date, one with long UTF-16
// text, and a ---- item with a long mean; each run's bytes are its own.
Bytes long_lines_file() {
    constexpr std::size_t kLong = (std::size_t{64} << 10) + 100;
    Bytes utf16;
    for (std::size_t i = 0; i < kLong / 2; ++i) {
        utf16.insert(utf16.end(), {'u', 0});
    }
    const Bytes xtra =
        atom("Xtra", cat({xtra_entry(std::string(kLong, 'n'), 1, 21, Bytes(kLong, 0xDA)),
                          xtra_entry("text", 1, 8, utf16)}));
    const Bytes ilst =
        atom("ilst", atom("----", cat({text_atom("mean", std::string(kLong, 'm')),
                                       text_atom("name", "KEY"), data_atom(1, raw("v"))})));
    return cat({atom("ftyp", zeros(16)), atom("moov", atom("udta", cat({meta(ilst), xtra})))});
}

// A bad sector at each byte of real files and of long lines (there every
// byte outside the runs, and in them the bytes near their ends, where
// their first pieces end, and a byte in 1021). Where no line shows the byte (anywhere but the
// headers the scan reads up to moov's children and the udta atoms), the
// run prints what it prints without it; where one may, what stands before
// the error is whole lines of that output.
TEST(LoadFile, BadSectorAtEveryByte) {
    std::vector<std::pair<std::string, Bytes>> files = {{"long lines", long_lines_file()}};
    for (const char* name : {"tagged.m4a", "ffmpeg_tags.m4a"}) {
        const std::string text =
            test::read_file(std::string(BOXWALK_SOURCE_DIR) + "/tests/fixtures/" + name);
        files.emplace_back(name, Bytes(text.begin(), text.end()));
    }
    for (const auto& named : files) {
        // Named apart: lambdas capture no structured binding before clang 16.
        const std::string& name = named.first;
        const Bytes& file = named.second;
        std::vector<bool> may_show(file.size());
        const auto mark = [&may_show](std::uint64_t from, std::uint64_t to) {
            std::fill(may_show.begin() + static_cast<std::ptrdiff_t>(from),
                      may_show.begin() + static_cast<std::ptrdiff_t>(to), true);
        };
        Atom atom;
        std::uint64_t pos = 0;
        for (; read_atom(view(file), pos, atom) && !atom.is("moov"); pos = atom.end) {
            mark(pos, atom.payload_start);
        }
        mark(pos, atom.payload_start);
        for (std::uint64_t off = atom.payload_start; off < atom.end;) {
            Atom child;
            ASSERT_TRUE(read_atom(view(file), off, child));
            mark(off, child.is("udta") ? child.end : child.payload_start);
            off = child.end;
        }
        // A byte amid 256 of a run is tried only now and then.
        const auto tried = [&file](std::size_t bad) {
            const auto same = [&](std::size_t from, std::size_t to) {
                return from >= to ||
                       std::equal(file.begin() + static_cast<std::ptrdiff_t>(from),
                                  file.begin() + static_cast<std::ptrdiff_t>(to) - 2,
                                  file.begin() + static_cast<std::ptrdiff_t>(from) + 2);
            };
            const bool in_run =
                bad >= 128 && bad + 128 <= file.size() && same(bad - 128, bad + 128);
            return !in_run || bad % 1021 == 0;
        };
        const auto run_with = [&](FakeFaults faults, StringOutput& out) {
            StringOutput err;
            const int status = run(arguments({"boxwalk", "f"}),
                                   fake(file.size(), file, file.size(), faults), out, err);
            return err.text() + "status " + std::to_string(status);
        };
        StringOutput clean;
        ASSERT_EQ(run_with({}, clean), "status 0");
        for (std::size_t bad = 0; bad < file.size(); ++bad) {
            if (!tried(bad)) {
                continue;
            }
            SCOPED_TRACE(name + " bad byte " + std::to_string(bad));
            StringOutput out;
            const std::string end = run_with({.error_at = bad}, out);
            if (!may_show[bad] || end == "status 0") {
                EXPECT_EQ(out.text() + end, clean.text() + "status 0");
            } else {
                EXPECT_EQ(end, "[boxwalk] ERROR: read: Input/output error (os error 5)\nstatus 1");
                EXPECT_TRUE(clean.text().starts_with(out.text()) && out.text().ends_with('\n'));
            }
        }
    }
}

// What `plan` reads of `source`: each atom's depth, offset, size and take.
std::vector<std::array<std::uint64_t, 4>> planned_atoms(Source& source, const ReadPlan& plan) {
    std::vector<std::array<std::uint64_t, 4>> atoms;
    for_each_planned(source, plan, [&atoms](const Planned& planned) {
        atoms.push_back({planned.depth, planned.atom.pos, planned.atom.header.size,
                         static_cast<std::uint64_t>(planned.take)});
    });
    return atoms;
}

// A stream keeps what its plan reads, and no more: the plan's walk over the
// kept bytes is its walk over the file, and of the atoms below, the console
// keeps only its udta while the tag plan keeps the rest but the media, and
// the file's first bytes.
TEST(StreamSource, KeepsWhatItsPlanReads) {
    const Bytes udta = atom("udta", atom("\xA9nam", data_atom(1, raw("Song"))));
    const Bytes meta_atom = meta(atom("ilst", atom("\xA9"
                                                   "ART",
                                                   data_atom(1, raw("Band")))));
    const Bytes media = atom("mdia", zeros(4000));
    const Bytes tkhd = atom("tkhd", zeros(84));
    const Bytes trak = atom("trak", cat({tkhd, udta, meta_atom, media}));
    const Bytes mvhd = atom("mvhd", zeros(100));
    const Bytes moov = atom("moov", cat({mvhd, trak, meta_atom, udta}));
    // The first 512 bytes are the tag plan's whatever they hold: the atoms
    // below start past them.
    const Bytes head =
        cat({atom("ftyp", zeros(16)), atom("uuid", zeros(40)), atom("free", zeros(600))});
    const Bytes xmp = atom("uuid", raw(std::string(300, 'x')));
    const Bytes file = cat({head, moov, atom("free", zeros(3000)), xmp, atom("mdat", zeros(9000))});
    // Where each atom below starts.
    const std::uint64_t moov_at = head.size();
    const std::uint64_t trak_at = moov_at + 8 + mvhd.size();
    const std::uint64_t media_at = trak_at + 8 + tkhd.size() + udta.size() + meta_atom.size();
    const std::uint64_t xmp_at = moov_at + moov.size() + 3008;
    // Each row's range, and whether the console and the tag plan keep it.
    using Range = std::pair<std::uint64_t, std::uint64_t>;
    const std::vector<test::Row<Range, std::pair<bool, bool>>> rows = {
        {"the first bytes", {0, kEveryTagPlan.head}, {false, true}},
        {"moov's udta", {moov_at + moov.size() - udta.size(), udta.size()}, {true, true}},
        {"moov's meta", {trak_at + trak.size(), meta_atom.size()}, {false, true}},
        {"a track's udta", {trak_at + 8 + tkhd.size(), udta.size()}, {false, true}},
        {"a track's meta",
         {trak_at + 8 + tkhd.size() + udta.size(), meta_atom.size()},
         {false, true}},
        {"XMP after moov", {xmp_at, xmp.size()}, {false, true}},
        {"a track's media past its header", {media_at + 16, 100}, {false, false}},
        {"the track header past its header", {trak_at + 8 + 16, 16}, {false, false}},
    };
    for (const ReadPlan* plan : {&kConsolePlan, &kEveryTagPlan}) {
        SCOPED_TRACE(plan == &kConsolePlan ? "console" : "every tag");
        // Chunks of 1000 bytes cut atoms and headers anywhere.
        FakeFile stream(file, file.size(), {.most_per_read = 1000});
        const LoadResult kept = stream_source(stream, false, std::uint64_t{1} << 20, *plan);
        ASSERT_TRUE(kept.ok());
        MemorySource memory(view(file));
        EXPECT_EQ(planned_atoms(*kept.source, *plan), planned_atoms(memory, *plan));
        test::for_each_row(rows, [&](const auto& row) {
            const auto [pos, size] = row.input;
            const bool wanted = plan == &kConsolePlan ? row.expected.first : row.expected.second;
            EXPECT_EQ(kept.source->read(pos, static_cast<std::size_t>(size)).size() == size,
                      wanted);
        });
    }
}

// Short writes are retried; a stream that takes nothing while reporting no
// error fails the write instead of spinning forever, as does an error.
TEST(WriteFully, ShortStalledAndFailedWrites) {
    std::string taken;
    const auto three_then_nothing = [&taken](const char* bytes, std::size_t count) {
        const std::size_t take = taken.size() < 6 ? std::min<std::size_t>(count, 3) : 0;
        taken.append(bytes, take);
        return WriteStep{take, 0};
    };
    EXPECT_EQ(write_fully("abcdefghij", three_then_nothing, 99), 99u);
    EXPECT_EQ(taken, "abcdef");
    taken.clear();
    EXPECT_EQ(write_fully("abcde", three_then_nothing, 99), 0u);
    EXPECT_EQ(taken, "abcde");
    EXPECT_EQ(write_fully(
                  "abc",
                  [](const char*, std::size_t) {
                      return WriteStep{0, 28};
                  },
                  99),
              28u);
}

// The two console streams, sending what they write out into strings.
class StringStream final : public BufferedOutput {
public:
    StringStream(bool terminal, std::size_t capacity)
        : BufferedOutput(terminal, capacity), capacity_(capacity) {}
    std::string sent;
    bool short_write = false;  // one that was not the last was shorter than the buffer

private:
    std::optional<WriteFailure> emit(std::string_view text) override {
        short_write = short_write || last_short_;
        last_short_ = text.size() != capacity_;
        sent.append(text);
        return std::nullopt;
    }
    std::size_t capacity_;
    bool last_short_ = false;
};

class StringLines final : public LineOutput {
public:
    StringLines(Output& out, bool terminal) : LineOutput(out, terminal) {}
    std::string sent;

private:
    void emit(std::string_view line) override { sent.append(line); }
};

// What standard output and standard error send on when `pieces` are written
// to each, one after another, as one line.
std::pair<std::string, std::string> sent(const std::vector<std::string_view>& pieces, bool terminal,
                                         std::size_t capacity = BufferedOutput::kCapacity) {
    StringStream out(terminal, capacity);
    StringLines err(out, terminal);
    for (Output* stream : {static_cast<Output*>(&out), static_cast<Output*>(&err)}) {
        for (const std::string_view piece : pieces) {
            stream->write(piece);
        }
        stream->end_line();
    }
    out.flush();
    EXPECT_FALSE(!terminal && out.short_write) << "buffer of " << capacity;
    return {out.sent, err.sent};
}

TEST(Streams, EscapingDoesNotDependOnWhereTextIsCut) {
    using namespace std::string_literals;
    // Controls of each kind, C1 controls, characters of every length, ill-formed
    // bytes, a four-byte lead cut before an escape, and a lead byte at the end.
    const std::string text =
        "a\t\x1b[2J\xC2\x9B"
        "1\xC2\xA0\xE2\x82\xAC\xF0\x9F\x98\x80\xC2\x85\x7F\r"
        "\xC2\xC2\x80\xE2\x82\xFF\xED\xA0\x80\0z\xF0\x9F\x98\x1B\xC2"s;
    const std::string escaped =
        "a\t\\x1b[2J\\x9b1\xC2\xA0\xE2\x82\xAC\xF0\x9F\x98\x80\\x85\\x7f\\x0d"
        "\xC2\\x80\xE2\x82\xFF\xED\xA0\x80\\x00z\xF0\x9F\x98\\x1b\xC2\n";
    for (const bool terminal : {false, true}) {
        // Redirected, the bytes go out exactly as they came.
        const std::string line = terminal ? escaped : text + "\n";
        ASSERT_EQ(sent({text}, terminal), std::make_pair(line, line)) << terminal;
        // Handed on from buffers of every size, cut at every point.
        for (std::size_t capacity = 1; capacity <= line.size(); ++capacity) {
            ASSERT_EQ(sent({text}, terminal, capacity), std::make_pair(line, line))
                << "terminal " << terminal << ", buffer of " << capacity;
        }
        // Cut into three pieces at every two points (empty pieces included).
        for (std::size_t first = 0; first <= text.size(); ++first) {
            for (std::size_t second = first; second <= text.size(); ++second) {
                const std::string_view all = text;
                ASSERT_EQ(sent({all.substr(0, first), all.substr(first, second - first),
                                all.substr(second)},
                               terminal),
                          std::make_pair(line, line))
                    << "terminal " << terminal << ", cut at " << first << " and " << second;
            }
        }
    }
}

TEST(Console, BuffersOutputThatIsNotATerminal) {
    test::TempDir dir;
    const auto path = dir.path() / "out";
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(file, 0);
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(file, STDOUT_FILENO);
    ::close(file);

    const auto write_calls = [] {
        std::ifstream io("/proc/self/io");
        std::string key;
        std::uint64_t value = 0;
        while (io >> key >> value) {
            if (key == "syscw:") {
                return value;
            }
        }
        return std::uint64_t{0};
    };
    const std::uint64_t before = write_calls();
    std::optional<WriteFailure> failure;
    {
        Console console;
        for (int i = 0; i < 1000000; ++i) {
            console.out().line("      line");
        }
        // An empty view of no bytes at all, as an empty payload gives.
        console.out().write(std::string_view());
        failure = console.out().flush();
    }
    const std::uint64_t calls = write_calls() - before;
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);

    EXPECT_FALSE(failure.has_value());
    EXPECT_EQ(std::filesystem::file_size(path), 11000000u);
    EXPECT_LT(calls, 1000u);
}

TEST(Console, FlushesAndEscapesEveryLineOnATerminal) {
    test::PseudoTerminal terminal;
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(terminal.terminal(), STDOUT_FILENO);

    std::string seen;
    {
        Console console;
        // Text from a file cannot reach the terminal as control characters.
        console.out().line(
            "first \x1b]0;title\x07 \r\xc2\x9b"
            "2J\n line");
        console.out().write("no line end yet");
        // Whatever reaches the terminal before the console is flushed.
        while (terminal.read_some(seen, 200)) {
        }
    }
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    EXPECT_EQ(seen, "first \\x1b]0;title\\x07 \\x0d\\x9b2J\\x0a line\n");
}

}  // namespace
}  // namespace boxwalk
