#pragma once

// The walker's lines for test bytes, as one string.

#include <cstdint>
#include <string>

#include "support/atoms.hpp"

namespace boxwalk::test {

// What walk_container prints for the atoms of `data` from `start` to `end`
// at `depth`.
std::string walk(const Bytes& data, std::uint64_t start, std::uint64_t end, unsigned depth = 2);

// What it prints for all of `data` as the inside of a udta (depth 2): atom
// lines get four spaces.
std::string walk_all(const Bytes& data);

}  // namespace boxwalk::test
