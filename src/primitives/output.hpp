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

// Where lines go. Text is UTF-8 and may hold any character, NUL and line
// feed included, when it comes from the file or the command line; so every
// write carries its length, and the break that ends a line is a call of its
// own. A console sink decides buffering and escaping, and keeps the first
// write failure for the driver to report.
class Output {
public:
    virtual ~Output() = default;
    // Appends `text` to the current line.
    virtual void write(std::string_view text) = 0;
    // Ends the current line.
    virtual void end_line() = 0;
    void line(std::string_view text) {
        write(text);
        end_line();
    }
    // Pushes out anything buffered; the first failed write, if there was one.
    virtual std::optional<WriteFailure> flush() { return std::nullopt; }
};

// Collects everything written, for tests.
class StringOutput final : public Output {
public:
    void write(std::string_view text) override { text_.append(text); }
    void end_line() override { text_.push_back('\n'); }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

}  // namespace boxwalk
