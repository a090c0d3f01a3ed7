#include "tags/known.hpp"

#include <unordered_map>

namespace boxwalk {
namespace {

// FNV-1a: keys are short, and a list of hundreds of thousands of items
// looks each one up.
struct KeyHash {
    std::size_t operator()(std::string_view key) const {
        std::uint32_t hash = 2166136261u;
        for (const char c : key) {
            hash = (hash ^ static_cast<std::uint8_t>(c)) * 16777619u;
        }
        return hash;
    }
};

// The rows of each store by key.
using KeyIndex =
    std::array<std::unordered_map<std::string_view, const KnownKey*, KeyHash>, kStores.size()>;

const KeyIndex& key_index() {
    static const KeyIndex index = [] {
        KeyIndex stores;
        for (const KnownKey& row : kKnownKeys) {
            stores[static_cast<std::size_t>(row.store)].emplace(row.key, &row);
        }
        return stores;
    }();
    return index;
}

}  // namespace

const KnownKey* find_known_key(Store store, std::string_view key) {
    const auto& rows = key_index()[static_cast<std::size_t>(store)];
    const auto found = rows.find(key);
    return found != rows.end() ? found->second : nullptr;
}

}  // namespace boxwalk
