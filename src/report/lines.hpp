#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "contract/contract.hpp"
#include "primitives/output.hpp"

namespace boxwalk {

// The console's lines kept as records, for the page and boxwalk-json: the
// text of every line as the console prints it, one after another, and in
// columns what each line shows (see contract.hpp). It takes each line as it
// ends, so that what a line shows goes with its own text, and it takes
// every value of an item. A line's text may hold line feeds of its own (a
// mean or a name from the file): only `end` says where a line ends.
class LineRecorder final : public Output {
public:
    // What a recorder keeps of the details of items and Xtra entries: their
    // ranges (key, name, value) as boxwalk-json writes them, or only which
    // lines have details (DetailColumns::line and LineColumns::detail; the
    // other detail columns stay empty), for a viewer that shows a line's
    // bytes whole.
    enum class Details : std::uint8_t { ranges, lines_only };

    explicit LineRecorder(Details details = Details::ranges);

    // The text of every line, each with its line feed: the lines' text
    // gathers in a buffer that goes into it whole, so it holds the lines
    // ended before the last flush(), or before a batch was handed over (see
    // take_in_batches). The columns hold every line ended.
    const std::string& text() const { return text_; }
    // Line i's text, without its line feed: a line text() holds.
    std::string_view line_text(std::size_t i) const;
    std::size_t line_count() const { return lines_.end.size(); }

    // Makes room for `lines` lines of `text_bytes` bytes in all ahead of
    // them, each of them with its details (every line may be an item), so
    // that a long listing is not copied as it grows: each copy would touch
    // new memory, and a first touch costs more than the copy. Room not used
    // costs address space only.
    void reserve(std::size_t lines, std::size_t text_bytes);

    const LineColumns& lines() const { return lines_; }
    const DetailColumns& details() const { return details_; }
    const ValueColumns& values() const { return values_; }

    // Hands the recorder to `take` whenever `batch` lines are held, and then
    // forgets the lines it holds: for a reader that takes the lines as they
    // come, in memory bounded by the batch. Lines left when the scan ends
    // stay for the reader to take, after a flush().
    void take_in_batches(std::size_t batch, std::function<void(LineRecorder&)> take);
    // Forgets every line held.
    void clear();

    bool wants_every_value() const override { return true; }
    void another_value(std::optional<FileRange> value, std::uint32_t type) override;

private:
    void hand_on(std::string_view text) override { text_.append(text); }
    void located(const Located& line) override { line_ = line; }
    void line_ended() override;

    std::string text_;
    LineColumns lines_;
    DetailColumns details_;
    ValueColumns values_;
    Located line_;
    std::size_t batch_ = 0;
    std::function<void(LineRecorder&)> take_;
    Details keeps_;
};

}  // namespace boxwalk
