#pragma once

// The metadata-heavy benchmark files, built in memory: a udta holding many
// small leaves, an ilst holding many items (every other one freeform) and an
// Xtra holding many entries of every value type. Shared by the program that
// writes them for the whole-program benchmark and by the microbenchmarks.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

namespace boxwalk::bench {

using Bytes = std::vector<std::uint8_t>;

// Appends atoms whose sizes are patched in when they are closed.
class AtomWriter {
public:
    void u16(std::uint32_t value) {
        bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
        bytes_.push_back(static_cast<std::uint8_t>(value));
    }
    void u32(std::uint32_t value) {
        u16(value >> 16);
        u16(value & 0xFFFF);
    }
    void text(std::string_view text) { bytes_.insert(bytes_.end(), text.begin(), text.end()); }
    void zeros(std::size_t count) { bytes_.insert(bytes_.end(), count, 0); }
    void byte(std::uint8_t value) { bytes_.push_back(value); }

    // Starts an atom of `type` (four bytes); returns its offset for close().
    std::size_t open(std::string_view type) {
        const std::size_t start = bytes_.size();
        u32(0);
        text(type);
        return start;
    }
    void close(std::size_t start) {
        const auto size = static_cast<std::uint32_t>(bytes_.size() - start);
        for (std::size_t i = 0; i < 4; ++i) {
            bytes_[start + i] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
        }
    }
    std::size_t size() const { return bytes_.size(); }
    Bytes take() { return std::move(bytes_); }

private:
    Bytes bytes_;
};

// Six decimal digits of `value`, zero-padded, for names that differ.
inline std::string_view number(std::size_t value, char (&digits)[8]) {
    std::snprintf(digits, sizeof digits, "%06zu", value % 1000000);
    return std::string_view(digits, 6);
}

// ftyp, then a moov holding an mvhd and a udta whose children `body` writes.
template <typename Body>
Bytes movie_with_udta(Body body) {
    AtomWriter w;
    const std::size_t ftyp = w.open("ftyp");
    w.text("isom");
    w.zeros(4);
    w.text("isomiso2mp41");
    w.close(ftyp);
    const std::size_t moov = w.open("moov");
    const std::size_t mvhd = w.open("mvhd");
    w.zeros(100);
    w.close(mvhd);
    const std::size_t udta = w.open("udta");
    body(w);
    w.close(udta);
    w.close(moov);
    return w.take();
}

// `count` 16-byte leaves: every other one a text comment, the rest binary.
inline Bytes many_leaves_file(std::size_t count) {
    return movie_with_udta([count](AtomWriter& w) {
        char digits[8];
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t leaf = w.open(i % 2 == 0 ? "\xA9" "cmt" : "free");
            if (i % 2 == 0) {
                w.text("n=");
                w.text(number(i, digits));
            } else {
                for (std::uint32_t b = 0; b < 8; ++b) {
                    w.byte(static_cast<std::uint8_t>(i + b * 37));
                }
            }
            w.close(leaf);
        }
    });
}

// An ilst of `count` items: plain title items and ---- items with a mean, a
// name and a data child, alternating.
inline Bytes item_list_file(std::size_t count) {
    return movie_with_udta([count](AtomWriter& w) {
        char digits[8];
        const std::size_t meta = w.open("meta");
        w.zeros(4);
        const std::size_t ilst = w.open("ilst");
        const auto data = [&w](std::string_view prefix, std::string_view value) {
            const std::size_t atom = w.open("data");
            w.u32(1);  // UTF-8 text
            w.u32(0);  // locale
            w.text(prefix);
            w.text(value);
            w.close(atom);
        };
        for (std::size_t i = 0; i < count; ++i) {
            const std::string_view n = number(i, digits);
            if (i % 2 == 0) {
                const std::size_t item = w.open("\xA9nam");
                data("Title no. ", n);
                w.close(item);
                continue;
            }
            const std::size_t item = w.open("----");
            const std::size_t mean = w.open("mean");
            w.zeros(4);
            w.text("com.apple.iTunes");
            w.close(mean);
            const std::size_t name = w.open("name");
            w.zeros(4);
            w.text("KEY");
            w.text(n);
            w.close(name);
            data("value ", n);
            w.close(item);
        }
        w.close(ilst);
        w.close(meta);
    });
}

// An Xtra of `count` entries whose single values cycle through UTF-16 text,
// a 64-bit integer, a date and another type.
inline Bytes xtra_file(std::size_t count) {
    return movie_with_udta([count](AtomWriter& w) {
        char digits[8];
        const std::size_t xtra = w.open("Xtra");
        for (std::size_t i = 0; i < count; ++i) {
            const std::string_view n = number(i, digits);
            const std::size_t entry = w.size();
            w.u32(0);  // entry size, patched below
            w.u32(static_cast<std::uint32_t>(14 + n.size()));
            w.text("WM/BenchEntry-");
            w.text(n);
            w.u32(1);
            const std::size_t value = w.size();
            w.u32(0);  // value size, patched below
            const std::uint32_t kinds[] = {8, 19, 21, 3};
            w.u16(kinds[i % 4]);
            if (i % 4 == 0) {
                for (const char c : n) {
                    w.byte(static_cast<std::uint8_t>(c));
                    w.byte(0);
                }
                w.zeros(2);
            } else {
                for (std::uint32_t b = 0; b < 8; ++b) {
                    w.byte(static_cast<std::uint8_t>(i >> (8 * b)));
                }
            }
            w.close(value);
            w.close(entry);
        }
        w.close(xtra);
    });
}

}  // namespace boxwalk::bench
