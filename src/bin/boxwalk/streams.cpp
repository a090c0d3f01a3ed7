#include "bin/boxwalk/streams.hpp"

#include <cstring>

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

BufferedOutput::BufferedOutput(bool terminal) : terminal_(terminal), buffer_(new char[kCapacity]) {}

void BufferedOutput::write(std::string_view text) {
    // The common case first, in place: redirected text that fits.
    if (!terminal_ && text.size() <= kCapacity - used_) {
        append(text);
        return;
    }
    if (terminal_) {
        escaped_.clear();
        escaper_.append(escaped_, text);
        text = escaped_;
    }
    put(text);
}

// Copies `text` into the buffer, writing it out each time it is full.
void BufferedOutput::put(std::string_view text) {
    while (text.size() > kCapacity - used_) {
        const std::size_t room = kCapacity - used_;
        append(text.substr(0, room));
        text.remove_prefix(room);
        drain();
    }
    append(text);
}

void BufferedOutput::end_line() {
    if (terminal_) {
        escaped_.clear();
        escaper_.finish(escaped_);
        put(escaped_);
    }
    if (used_ == kCapacity) {
        drain();
    }
    append("\n");
    if (terminal_) {
        drain();
    }
}

std::optional<WriteFailure> BufferedOutput::flush() {
    drain();
    return failure_;
}

// The caller has made room for `text`. An empty view may hold no pointer at
// all, which memcpy must not be given.
void BufferedOutput::append(std::string_view text) {
    if (!text.empty()) {
        std::memcpy(buffer_.get() + used_, text.data(), text.size());
        used_ += text.size();
    }
}

void BufferedOutput::drain() {
    if (used_ != 0 && !failure_) {
        failure_ = emit(std::string_view(buffer_.get(), used_));
    }
    used_ = 0;
}

void LineOutput::write(std::string_view text) {
    if (terminal_) {
        escaper_.append(line_, text);
    } else {
        line_.append(text);
    }
}

void LineOutput::end_line() {
    escaper_.finish(line_);
    line_.push_back('\n');
    out_.flush();
    emit(line_);
    line_.clear();
}

}  // namespace boxwalk
