#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "primitives/output.hpp"
#include "primitives/text.hpp"

// The two console streams as every system keeps them; a system supplies
// only how bytes reach a stream. No system headers here.
namespace boxwalk {

// "{message} (os error {code})", the message without trailing white space
// and line breaks, or "unknown error" when none is left.
std::string os_error_text(std::string message, std::uint64_t code);

// One call of a system's write: how many bytes it took, or its error code.
struct WriteStep {
    std::size_t written = 0;
    std::uint64_t error = 0;
};

// Writes all of `text` through `write_some(bytes, count)`, retrying short
// writes; the error code of the failing call, or 0. A call that writes
// nothing fails with `stalled`, so that the loop cannot spin forever.
template <typename WriteSome>
std::uint64_t write_fully(std::string_view text, WriteSome&& write_some, std::uint64_t stalled) {
    while (!text.empty()) {
        const WriteStep step = write_some(text.data(), text.size());
        if (step.error != 0) {
            return step.error;
        }
        if (step.written == 0) {
            return stalled;
        }
        text.remove_prefix(std::min(step.written, text.size()));
    }
    return 0;
}

// Standard output: a buffer written out when full, at every line end on a
// terminal, and at the end; nothing after a failed write. On a terminal,
// control characters are escaped, also when cut between two writes.
class BufferedOutput : public Output {
public:
    static constexpr std::size_t kCapacity = 64 * 1024;

    // `capacity` is the size of every write but the last when not on a
    // terminal.
    explicit BufferedOutput(bool terminal, std::size_t capacity = kCapacity);

    std::optional<WriteFailure> flush() override;

    // Writes `text` after what is buffered, in one write of the stream when
    // it is not a terminal (where it goes line by line, as every line
    // does), without copying it into the buffer.
    void write_whole(std::string_view text);

    // A record that must reach a file whole, whatever else writes to it:
    // from begin_record() to end_record(), which flushes, other programs
    // that write the same regular file in records of their own wait, as
    // the system locks the file for the writer (POSIX record locks, or
    // LockFileEx). Into a pipe or a terminal, or where the system refuses
    // the lock, a record is only its writes. end_record() returns the first
    // failed write, as flush() does.
    void begin_record() { lock(true); }
    std::optional<WriteFailure> end_record() {
        auto failure = flush();
        lock(false);
        return failure;
    }

protected:
    // Writes all of `text` to the stream; why it could not, if it could not.
    virtual std::optional<WriteFailure> emit(std::string_view text) = 0;
    // Takes or gives up the system's lock on the file behind the stream,
    // when it is a regular file; waits for it to be free.
    virtual void lock(bool take) { static_cast<void>(take); }

private:
    void hand_on(std::string_view text) override;
    void line_ended() override;
    void send(std::string_view text);

    bool terminal_;
    TerminalEscaper escaper_;
    std::string escaped_;  // a terminal's text after escaping
    std::optional<WriteFailure> failure_;
};

// Standard error: each line written whole as it ends, after standard output
// has been flushed so that a shared terminal shows lines in the order they
// were made. Escaped like standard output on a terminal. Errors on standard
// error itself are ignored: there is nowhere left to report them.
class LineOutput : public Output {
public:
    LineOutput(Output& out, bool terminal);

protected:
    // Writes all of `line` to the stream.
    virtual void emit(std::string_view line) = 0;

private:
    void hand_on(std::string_view text) override;
    void line_ended() override;

    Output& out_;
    bool terminal_;
    TerminalEscaper escaper_;
    std::string line_;
};

}  // namespace boxwalk
