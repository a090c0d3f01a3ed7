#include "primitives/output.hpp"

#include <algorithm>

namespace boxwalk {

Output::Output(std::size_t capacity, bool by_line, bool locates)
    : buffer_(new char[capacity + kRoom]),
      next_(buffer_.get()),
      limit_(buffer_.get() + capacity),
      by_line_(by_line),
      locates_(locates) {}

void Output::drain() {
    if (next_ != buffer_.get()) {
        const std::string_view text = buffered();
        next_ = buffer_.get();
        hand_on(text);
    }
}

// Fills the buffer and hands it on, as often as `text` fills it.
void Output::write_long(std::string_view text) {
    while (!text.empty()) {
        const auto size = std::min(text.size(), static_cast<std::size_t>(limit_ - next_));
        std::memcpy(next_, text.data(), size);
        text.remove_prefix(size);
        commit(next_ + size);
    }
}

// The buffer has reached its limit: its first bytes, up to the limit, go on
// whole, and what room() formatted past the limit moves to its start.
void Output::spill() {
    char* const start = buffer_.get();
    const auto capacity = static_cast<std::size_t>(limit_ - start);
    while (next_ >= limit_) {
        hand_on(std::string_view(start, capacity));
        const auto over = static_cast<std::size_t>(next_ - limit_);
        std::memmove(start, limit_, over);
        next_ = start + over;
    }
}

}  // namespace boxwalk
