#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "primitives/bytes.hpp"

namespace boxwalk {

// Appends the UTF-8 encoding of `code_point`, which must be a scalar value
// (not a surrogate, at most U+10FFFF).
void append_utf8(std::string& text, char32_t code_point);

// True when `bytes` is well-formed UTF-8 as a whole; a sequence cut at the
// end makes it ill-formed.
bool is_valid_utf8(ByteView bytes);

// `bytes` decoded as UTF-8 with every maximal ill-formed subpart replaced by
// one U+FFFD, the substitution the Unicode Standard recommends. Never fails.
std::string lenient_utf8(ByteView bytes);
std::string lenient_utf8(std::string_view bytes);

}  // namespace boxwalk
