#include "report/lines.hpp"

#include <utility>

namespace boxwalk {
namespace {

constexpr std::size_t kBuffer = std::size_t{64} << 10;

// The position and size of `range`, or kNoPosition and 0 for none.
std::uint64_t pos_of(const std::optional<FileRange>& range) {
    return range ? range->pos : kNoPosition;
}
std::uint64_t size_of(const std::optional<FileRange>& range) { return range ? range->size : 0; }

}  // namespace

LineRecorder::LineRecorder(Details details) : Output(kBuffer, true, true), keeps_(details) {}

std::string_view LineRecorder::line_text(std::size_t i) const {
    const std::uint64_t start = i == 0 ? 0 : lines_.end[i - 1];
    // Every end counts the line's line feed.
    return std::string_view(text_).substr(static_cast<std::size_t>(start),
                                          static_cast<std::size_t>(lines_.end[i] - start - 1));
}

void LineRecorder::take_in_batches(std::size_t batch, std::function<void(LineRecorder&)> take) {
    batch_ = batch;
    take_ = std::move(take);
}

void LineRecorder::clear() {
    discard();
    text_.clear();
    visit_columns(lines_, [](std::string_view, auto& column) { column.clear(); });
    visit_columns(details_, [](std::string_view, auto& column) { column.clear(); });
    visit_columns(values_, [](std::string_view, auto& column) { column.clear(); });
}

void LineRecorder::reserve(std::size_t lines, std::size_t text_bytes) {
    text_.reserve(text_bytes);
    visit_columns(lines_, [lines](std::string_view, auto& column) { column.reserve(lines); });
    if (keeps_ == Details::ranges) {
        visit_columns(details_, [lines](std::string_view, auto& column) { column.reserve(lines); });
    } else {
        details_.line.reserve(lines);
    }
}

void LineRecorder::another_value(std::optional<FileRange> value, std::uint32_t type) {
    values_.line.push_back(static_cast<std::uint32_t>(lines_.end.size()));
    values_.pos.push_back(pos_of(value));
    values_.size.push_back(size_of(value));
    values_.type.push_back(value ? type : 0);
}

void LineRecorder::line_ended() {
    // The line's text stays in the buffer, which goes into text_ whole when
    // it fills: a copy per line costs more than the line.
    put('\n');
    const auto index = static_cast<std::uint32_t>(lines_.end.size());
    lines_.end.push_back(text_.size() + buffered().size());
    lines_.kind.push_back(static_cast<std::uint8_t>(line_.kind));
    std::uint32_t type = 0;
    for (const char c : line_.type) {
        type = type << 8 | static_cast<unsigned char>(c);
    }
    lines_.type.push_back(type);
    const bool shows = line_.kind != LineKind::none;
    lines_.pos.push_back(shows ? line_.bytes.pos : kNoPosition);
    lines_.size.push_back(shows ? line_.bytes.size : 0);
    if (line_.key || line_.name || line_.value) {
        lines_.detail.push_back(static_cast<std::uint32_t>(details_.line.size()));
        details_.line.push_back(index);
        if (keeps_ == Details::ranges) {
            details_.key_pos.push_back(pos_of(line_.key));
            details_.key_size.push_back(size_of(line_.key));
            details_.name_pos.push_back(pos_of(line_.name));
            details_.name_size.push_back(size_of(line_.name));
            details_.value_pos.push_back(pos_of(line_.value));
            details_.value_size.push_back(size_of(line_.value));
            details_.value_type.push_back(line_.value ? line_.value_type : 0);
        }
    } else {
        lines_.detail.push_back(kNoDetail);
    }
    line_ = Located{};
    if (take_ && lines_.end.size() >= batch_) {
        drain();
        take_(*this);
        clear();
    }
}

}  // namespace boxwalk
