#pragma once

#include <array>
#include <string_view>

#include "contract/contract.hpp"
#include "primitives/bytes.hpp"
#include "tree/plan.hpp"

// What a file is, from its first bytes.
namespace boxwalk {

// The types that MP4 and QuickTime files hold at their top level, as the
// ISO base media file format and the QuickTime file format list them: a file
// whose first atom has another type is no MP4-family file.
inline constexpr std::array<std::string_view, 24> kTopLevelTypes = {
    "ftyp", "moov", "mdat", "free", "skip", "wide", "pnot", "PICT", "pict", "uuid", "junk", "moof",
    "mfra", "styp", "sidx", "ssix", "prft", "emsg", "meta", "pdin", "bloc", "meco", "etyp", "jP  ",
};

// True when `type`, four type bytes, is one of kTopLevelTypes.
bool is_top_level_type(ByteView type);

// How many of a file's first bytes file_kind looks at: those the tag
// reader's plan reads whatever they hold.
inline constexpr auto kSniffLength = static_cast<std::size_t>(kEveryTagPlan.head);

// What the first bytes of a file that holds no MP4 atoms say it is, or
// FileKind::unknown.
FileKind file_kind(ByteView head);

}  // namespace boxwalk
