#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "primitives/bytes.hpp"

namespace boxwalk {
namespace {

// A hardened build has the standard library check its indexes, whichever
// library it is: an index past a view's end stops the program instead of
// reading on.
TEST(Hardening, IndexPastTheEndStops) {
    const std::array<std::uint8_t, 4> bytes{1, 2, 3, 4};
    const ByteView view(bytes);
    volatile std::size_t past = view.size();
    EXPECT_DEATH(static_cast<void>(view[past]), "");
}

}  // namespace
}  // namespace boxwalk
