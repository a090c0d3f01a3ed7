#include "bin/boxwalk/streams.hpp"

#include "primitives/render.hpp"
#include "primitives/text.hpp"

namespace boxwalk {

std::string os_error_text(std::string message, std::uint64_t code) {
    while (!message.empty() && (message.back() == ' ' || message.back() == '\n' ||
                                message.back() == '\r' || message.back() == '\t')) {
        message.pop_back();
    }
    if (message.empty()) {
        message = "unknown error";
    }
    return message + " (os error " + decimal(code) + ")";
}

// On a terminal every line is written as it ends, so the buffer goes on by
// lines there.
BufferedOutput::BufferedOutput(bool terminal, std::size_t capacity)
    : Output(capacity, terminal), terminal_(terminal) {}

std::optional<WriteFailure> BufferedOutput::flush() {
    drain();
    return failure_;
}

void BufferedOutput::write_whole(std::string_view text) {
    if (terminal_) {
        for (std::size_t end; (end = text.find('\n')) != std::string_view::npos;) {
            line(text.substr(0, end));
            text.remove_prefix(end + 1);
        }
        write(text);
        return;
    }
    drain();
    send(text);
}

void BufferedOutput::hand_on(std::string_view text) {
    if (terminal_) {
        escaped_.clear();
        escaper_.append(escaped_, text);
        text = escaped_;
    }
    send(text);
}

// Only on a terminal: the line, escaped, and its end in one write.
void BufferedOutput::line_ended() {
    escaped_.clear();
    escaper_.append(escaped_, buffered());
    escaper_.finish(escaped_);
    escaped_.push_back('\n');
    discard();
    send(escaped_);
}

void BufferedOutput::send(std::string_view text) {
    if (!text.empty() && !failure_) {
        failure_ = emit(text);
    }
}

// A line rarely needs more than the buffer; a longer one goes on in pieces
// into line_.
LineOutput::LineOutput(Output& out, bool terminal)
    : Output(1024, true), out_(out), terminal_(terminal) {}

void LineOutput::hand_on(std::string_view text) {
    if (terminal_) {
        escaper_.append(line_, text);
    } else {
        line_.append(text);
    }
}

void LineOutput::line_ended() {
    drain();
    escaper_.finish(line_);
    line_.push_back('\n');
    out_.flush();
    emit(line_);
    line_.clear();
}

}  // namespace boxwalk
