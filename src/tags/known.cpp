#include "tags/known.hpp"

#include <algorithm>
#include <utility>
#include <vector>

namespace boxwalk {
namespace {

std::pair<Store, std::string_view> order_of(const KnownKey& row) { return {row.store, row.key}; }

// The rows by store and key, for a binary search: a list of hundreds of
// items looks each key up.
const std::vector<const KnownKey*>& sorted_keys() {
    static const std::vector<const KnownKey*> sorted = [] {
        std::vector<const KnownKey*> rows;
        rows.reserve(kKnownKeys.size());
        for (const KnownKey& row : kKnownKeys) {
            rows.push_back(&row);
        }
        std::sort(rows.begin(), rows.end(),
                  [](const KnownKey* a, const KnownKey* b) { return order_of(*a) < order_of(*b); });
        return rows;
    }();
    return sorted;
}

}  // namespace

const KnownKey* find_known_key(Store store, std::string_view key) {
    const auto& rows = sorted_keys();
    const std::pair<Store, std::string_view> wanted{store, key};
    const auto found = std::lower_bound(
        rows.begin(), rows.end(), wanted,
        [](const KnownKey* row, const auto& value) { return order_of(*row) < value; });
    return found != rows.end() && order_of(**found) == wanted ? *found : nullptr;
}

}  // namespace boxwalk
