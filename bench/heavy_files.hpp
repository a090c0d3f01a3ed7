#pragma once

// The metadata-heavy benchmark files, built in memory with the tests' atom
// builder: a udta holding many small leaves, an ilst holding many items
// (every other one freeform) and an Xtra holding many entries of every value
// type. Shared by the program that writes them for the whole-program
// benchmark and by the microbenchmarks.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "support/atoms.hpp"

namespace boxwalk::bench {

using test::Bytes;

// Six decimal digits of `value`, zero-padded, for names that differ.
inline std::string number(std::size_t value) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06zu", value % 1000000);
    return std::string(digits, 6);
}

// Appends `part` to `bytes`: cat() of a million parts would hold them all.
inline void append(Bytes& bytes, const Bytes& part) {
    bytes.insert(bytes.end(), part.begin(), part.end());
}

// ftyp, then a moov holding an mvhd and a udta holding `children`.
inline Bytes movie_with_udta(const Bytes& children) {
    using test::atom;
    using test::cat;
    using test::raw;
    using test::zeros;
    return cat({atom("ftyp", cat({raw("isom"), zeros(4), raw("isomiso2mp41")})),
                atom("moov", cat({atom("mvhd", zeros(100)), atom("udta", children)}))});
}

// `count` 16-byte leaves: every other one a text comment, the rest binary.
inline Bytes many_leaves_file(std::size_t count) {
    Bytes leaves;
    for (std::size_t i = 0; i < count; ++i) {
        if (i % 2 == 0) {
            append(leaves, test::atom("\xA9"
                                      "cmt",
                                      test::raw("n=" + number(i))));
            continue;
        }
        Bytes binary(8);
        for (std::size_t b = 0; b < binary.size(); ++b) {
            binary[b] = static_cast<std::uint8_t>(i + b * 37);
        }
        append(leaves, test::atom("free", binary));
    }
    return movie_with_udta(leaves);
}

// An ilst of `count` items: plain title items and ---- items with a mean, a
// name and a data child, alternating.
inline Bytes item_list_file(std::size_t count) {
    using test::atom;
    using test::raw;
    Bytes items;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string n = number(i);
        if (i % 2 == 0) {
            append(items, atom("\xA9nam", test::data_atom(1, raw("Title no. " + n))));
            continue;
        }
        append(items, atom("----", test::cat({test::text_atom("mean", "com.apple.iTunes"),
                                              test::text_atom("name", "KEY" + n),
                                              test::data_atom(1, raw("value " + n))})));
    }
    return movie_with_udta(test::meta(atom("ilst", items)));
}

// An Xtra of `count` entries whose single values cycle through UTF-16 text,
// a 64-bit integer, a date and another type.
inline Bytes xtra_file(std::size_t count) {
    Bytes entries;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string n = number(i);
        const std::uint16_t kinds[] = {8, 19, 21, 3};
        Bytes value;
        if (i % 4 == 0) {
            for (const char c : n) {
                value.push_back(static_cast<std::uint8_t>(c));
                value.push_back(0);
            }
            value.insert(value.end(), 2, 0);
        } else {
            for (std::size_t b = 0; b < 8; ++b) {
                value.push_back(static_cast<std::uint8_t>(i >> (8 * b)));
            }
        }
        append(entries, test::xtra_entry("WM/BenchEntry-" + n, 1, kinds[i % 4], value));
    }
    return movie_with_udta(test::atom("Xtra", entries));
}

}  // namespace boxwalk::bench
