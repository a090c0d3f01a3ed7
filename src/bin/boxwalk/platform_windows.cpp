#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// After windows.h, whose types it uses.
#include <shellapi.h>

#include <algorithm>
#include <limits>
#include <new>

#include "bin/boxwalk/platform.hpp"
#include "bin/boxwalk/streams.hpp"
#include "primitives/text.hpp"

namespace boxwalk {
namespace {

// UTF-16 as UTF-8, an unpaired surrogate becoming U+FFFD.
std::string utf8_from_wide(std::wstring_view wide) {
    std::string text;
    text.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t unit = static_cast<char16_t>(wide[i]);
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low_follows =
            i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF;
        if (high && low_follows) {
            unit =
                0x10000 + ((unit - 0xD800) << 10) + (static_cast<char16_t>(wide[i + 1]) - 0xDC00);
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            unit = 0xFFFD;
        }
        append_utf8(text, unit);
    }
    return text;
}

std::string system_message(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = length > 0 ? utf8_from_wide(std::wstring_view(buffer, length)) : "";
    ::LocalFree(buffer);
    return os_error_text(std::move(text), code);
}

std::unique_ptr<std::uint8_t[]> allocate(std::uint64_t size) {
    if (size > std::numeric_limits<std::size_t>::max()) {
        return nullptr;
    }
    // Not zero-filled: every byte is overwritten by the read before use.
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow)
                                               std::uint8_t[static_cast<std::size_t>(size)]);
}

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// True when `handle` is a console, whose text goes through WriteConsoleW.
bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

// The length of the longest prefix of `text` that does not end inside a
// UTF-8 sequence; what follows is kept until the sequence is complete.
std::size_t complete_utf8_length(std::string_view text) {
    std::size_t lead = text.size();
    for (int back = 0; back < 4 && lead > 0; ++back) {
        --lead;
        const auto byte = static_cast<unsigned char>(text[lead]);
        if ((byte & 0xC0) != 0x80) {
            const std::size_t length = byte >= 0xF0 && byte <= 0xF4   ? 4
                                       : byte >= 0xE0 && byte <= 0xEF ? 3
                                       : byte >= 0xC2 && byte <= 0xDF ? 2
                                                                      : 1;
            return text.size() - lead < length ? lead : text.size();
        }
    }
    return text.size();
}

// Writes all of `text` to a file or pipe unchanged; the error of the failing
// call, or 0.
DWORD write_bytes(HANDLE handle, std::string_view text) {
    while (!text.empty()) {
        const auto want =
            static_cast<DWORD>(std::min<std::size_t>(text.size(), std::size_t{1} << 30));
        DWORD written = 0;
        if (!::WriteFile(handle, text.data(), want, &written, nullptr)) {
            return ::GetLastError();
        }
        text.remove_prefix(written);
    }
    return 0;
}

// Shows UTF-8 `text` on a console as UTF-16, so that it reads right
// whatever the console's code page; ill-formed bytes show as U+FFFD. The
// error of the failing call, or 0.
DWORD write_console(HANDLE console, std::string_view text) {
    // Pieces keep each conversion and console call small.
    constexpr std::size_t kPiece = 16 * 1024;
    std::wstring wide;
    while (!text.empty()) {
        std::size_t take = text.size();
        if (take > kPiece) {
            take = complete_utf8_length(text.substr(0, kPiece));
            if (take == 0) {
                take = kPiece;
            }
        }
        const int units =
            ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(take), nullptr, 0);
        wide.resize(static_cast<std::size_t>(units));
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(take), wide.data(), units);
        std::wstring_view rest = wide;
        while (!rest.empty()) {
            DWORD written = 0;
            if (!::WriteConsoleW(console, rest.data(), static_cast<DWORD>(rest.size()), &written,
                                 nullptr)) {
                return ::GetLastError();
            }
            if (written == 0) {
                return ERROR_WRITE_FAULT;
            }
            rest.remove_prefix(written);
        }
        text.remove_prefix(take);
    }
    return 0;
}

std::optional<WriteFailure> write_failure(DWORD code) {
    if (code == 0) {
        return std::nullopt;
    }
    // A reader that went away: a Windows pipe says "no data" or "broken", a
    // Unix pipe under Wine "not connected".
    const bool closed =
        code == ERROR_NO_DATA || code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED;
    return WriteFailure{closed, system_message(code)};
}

// On a console, text goes through WriteConsoleW; redirected, the bytes go
// out unchanged.
class StandardOutput final : public BufferedOutput {
public:
    StandardOutput() : StandardOutput(::GetStdHandle(STD_OUTPUT_HANDLE)) {}

private:
    explicit StandardOutput(HANDLE handle)
        : BufferedOutput(is_console(handle)), handle_(handle), console_(is_console(handle)) {}

    std::optional<WriteFailure> emit(std::string_view text) override {
        if (!console_) {
            return write_failure(write_bytes(handle_, text));
        }
        // A full buffer may end inside a character, whose start then waits
        // for the rest.
        pending_.append(text);
        const std::size_t complete = complete_utf8_length(pending_);
        const DWORD code = write_console(handle_, std::string_view(pending_).substr(0, complete));
        pending_.erase(0, complete);
        return write_failure(code);
    }

    HANDLE handle_;
    bool console_;
    std::string pending_;
};

class StandardError final : public LineOutput {
public:
    explicit StandardError(Output& out) : StandardError(out, ::GetStdHandle(STD_ERROR_HANDLE)) {}

private:
    StandardError(Output& out, HANDLE handle)
        : LineOutput(out, is_console(handle)), handle_(handle), console_(is_console(handle)) {}

    void emit(std::string_view line) override {
        if (console_) {
            write_console(handle_, line);
        } else {
            write_bytes(handle_, line);
        }
    }

    HANDLE handle_;
    bool console_;
};

// This executable's own path, or the empty text.
std::wstring module_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        // Cut short: long paths reach 32767 units.
        if (path.size() >= 32768) {
            return {};
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

struct Console::Streams {
    StandardOutput out;
    StandardError err{out};
};

Console::Console() : streams_(std::make_unique<Streams>()) {}

Console::~Console() {
    streams_->out.flush();
}

Output& Console::out() {
    return streams_->out;
}

Output& Console::err() {
    return streams_->err;
}

// The C runtime's argv is narrow and split by its own rules; the wide
// command line is the one the system keeps.
std::vector<Argument> platform_arguments(int, char**) {
    std::vector<Argument> args;
    const wchar_t* command_line = ::GetCommandLineW();
    // CommandLineToArgvW would make up the program's path for an empty
    // command line itself; that case is handled below like the others.
    if (command_line != nullptr && command_line[0] != L'\0') {
        int count = 0;
        if (wchar_t** argv = ::CommandLineToArgvW(command_line, &count)) {
            for (int i = 0; i < count; ++i) {
                std::wstring native = argv[i];
                std::string text = utf8_from_wide(native);
                args.push_back(Argument{std::move(native), std::move(text)});
            }
            ::LocalFree(argv);
        }
    }
    // Started with no arguments at all: the program's own path stands in for
    // its name.
    if (args.empty() || args[0].native.empty()) {
        std::wstring self = module_path();
        Argument name{self, utf8_from_wide(self)};
        if (args.empty()) {
            args.push_back(std::move(name));
        } else {
            args[0] = std::move(name);
        }
    }
    return args;
}

LoadResult load_file(const Argument& path) {
    // Shared for reading, writing and deleting: a file that another program
    // has open, even for writing, is still read, and the read never gets in
    // that program's way.
    const FileHandle file(::CreateFileW(
        path.native.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        return LoadResult::failure(system_message(::GetLastError()));
    }

    // The reported length only sizes the buffer; the file may shrink or grow
    // while it is read, and pipes report none.
    std::uint64_t capacity = 64 * 1024;
    LARGE_INTEGER reported{};
    if (::GetFileType(file.get()) == FILE_TYPE_DISK && ::GetFileSizeEx(file.get(), &reported) &&
        reported.QuadPart > 0) {
        capacity = static_cast<std::uint64_t>(reported.QuadPart);
    }
    auto bytes = allocate(capacity);
    if (!bytes) {
        return LoadResult::failure("out of memory");
    }
    std::uint64_t size = 0;
    for (;;) {
        // A full buffer usually means the end of the file: probe before
        // growing, so that a file read at its reported length is held once.
        std::uint8_t probe[4096];
        const bool full = size == capacity;
        std::uint8_t* target = full ? probe : bytes.get() + size;
        const auto want = static_cast<DWORD>(
            full ? sizeof probe : std::min<std::uint64_t>(capacity - size, std::uint64_t{1} << 30));
        DWORD got = 0;
        if (!::ReadFile(file.get(), target, want, &got, nullptr)) {
            // A pipe whose writer has closed it has simply ended.
            if (const DWORD code = ::GetLastError(); code != ERROR_BROKEN_PIPE) {
                return LoadResult::failure(system_message(code));
            }
        }
        if (got == 0) {
            break;
        }
        if (full) {
            const std::uint64_t grown = std::max(sat_add(capacity, capacity), sat_add(size, got));
            auto larger = allocate(grown);
            if (!larger) {
                return LoadResult::failure("out of memory");
            }
            std::copy_n(bytes.get(), static_cast<std::size_t>(size), larger.get());
            std::copy_n(probe, got, larger.get() + size);
            bytes = std::move(larger);
            capacity = grown;
        }
        size += got;
    }
    LoadResult result;
    result.data = FileData(std::move(bytes), size);
    result.ok = true;
    return result;
}

}  // namespace boxwalk
