#include "support/walk.hpp"

#include "tree/walker.hpp"

namespace boxwalk::test {

std::string walk(const Bytes& data, std::uint64_t start, std::uint64_t end, unsigned depth) {
    StringOutput out;
    walk_container(view(data), start, end, depth, out);
    return out.text();
}

std::string walk_all(const Bytes& data) { return walk(data, 0, data.size()); }

}  // namespace boxwalk::test
