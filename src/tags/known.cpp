#include "tags/known.hpp"

#include <vector>

namespace boxwalk {
namespace {

// FNV-1a: keys are short, and a list of hundreds of thousands of items
// looks each one up.
std::size_t hash_of(std::string_view key) {
    std::uint32_t hash = 2166136261u;
    for (const char c : key) {
        hash = (hash ^ static_cast<std::uint8_t>(c)) * 16777619u;
    }
    return hash;
}

// The rows of every store in one table of open addressing, by store and
// key, at most half full: a lookup hashes the key and most often compares
// one row.
class KeyIndex {
public:
    KeyIndex() : slots_(kSlots, nullptr) {
        static_assert(kKnownKeys.size() * 2 <= kSlots);
        for (const KnownKey& row : kKnownKeys) {
            std::size_t slot = first_slot(row.store, row.key);
            while (slots_[slot] != nullptr) {
                slot = (slot + 1) % kSlots;
            }
            slots_[slot] = &row;
        }
    }

    const KnownKey* find(Store store, std::string_view key) const {
        for (std::size_t slot = first_slot(store, key);; slot = (slot + 1) % kSlots) {
            const KnownKey* row = slots_[slot];
            if (row == nullptr || (row->store == store && row->key == key)) {
                return row;
            }
        }
    }

private:
    static constexpr std::size_t kSlots = 512;

    static std::size_t first_slot(Store store, std::string_view key) {
        return (hash_of(key) + static_cast<std::size_t>(store)) % kSlots;
    }

    std::vector<const KnownKey*> slots_;
};

}  // namespace

const KnownKey* find_known_key(Store store, std::string_view key) {
    static const KeyIndex index;
    return index.find(store, key);
}

}  // namespace boxwalk
