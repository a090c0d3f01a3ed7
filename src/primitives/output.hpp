#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace boxwalk {

// Why output could not be written.
struct WriteFailure {
    bool closed_pipe = false;  // the reader went away; ends the run quietly
    std::string message;       // "{system message} (os error {code})"
};

// Where lines go. Text is UTF-8 and may hold NUL characters, so every write
// carries its length. A console sink decides buffering and keeps the first
// write failure for the driver to report.
class Output {
public:
    virtual ~Output() = default;
    virtual void write(std::string_view text) = 0;
    // Pushes out anything buffered; the first failed write, if there was one.
    virtual std::optional<WriteFailure> flush() { return std::nullopt; }
};

// Collects everything written, for tests.
class StringOutput final : public Output {
public:
    void write(std::string_view text) override { text_.append(text); }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

}  // namespace boxwalk
