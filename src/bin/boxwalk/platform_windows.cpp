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

#include "bin/boxwalk/system.hpp"
#include "primitives/text.hpp"

namespace boxwalk::sys {
namespace {

// UTF-16 as UTF-8, an unpaired surrogate becoming U+FFFD.
std::string utf8_from_wide(std::wstring_view wide) {
    std::string text;
    text.reserve(wide.size());
    decode_utf16(
        wide.size(), [wide](std::size_t i) { return static_cast<char32_t>(wide[i]); },
        [&text](char32_t code_point) { append_utf8(text, code_point); });
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

// A count that one call takes.
DWORD capped(std::size_t count) {
    return static_cast<DWORD>(std::min<std::size_t>(count, std::size_t{1} << 30));
}

// True when `handle` is a console, whose text goes through WriteConsoleW.
bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

// The length of the longest prefix of `text` that does not end inside a
// UTF-8 sequence.
std::size_t complete_utf8_length(std::string_view text) {
    return text.size() - unfinished_utf8_tail(text);
}

// Writes all of `text` to a file or pipe unchanged; the error of the failing
// call, or 0.
DWORD write_bytes(HANDLE handle, std::string_view text) {
    return static_cast<DWORD>(write_fully(
        text,
        [handle](const char* bytes, std::size_t count) {
            DWORD written = 0;
            return ::WriteFile(handle, bytes, capped(count), &written, nullptr)
                       ? WriteStep{written, 0}
                       : WriteStep{0, ::GetLastError()};
        },
        ERROR_WRITE_FAULT));
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
        wide.resize(static_cast<std::size_t>(std::max(units, 0)));
        // A failed conversion would drop the text while reporting success.
        if (units <= 0 || ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(take),
                                                wide.data(), units) != units) {
            const DWORD code = ::GetLastError();
            return code != 0 ? code : ERROR_NO_UNICODE_TRANSLATION;
        }
        std::wstring_view rest = wide;
        while (!rest.empty()) {
            DWORD written = 0;
            if (!::WriteConsoleW(console, rest.data(), capped(rest.size()), &written, nullptr)) {
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
    explicit StandardOutput(HANDLE handle)
        : BufferedOutput(is_console(handle)),
          handle_(handle),
          console_(is_console(handle)),
          disk_(!console_ && ::GetFileType(handle) == FILE_TYPE_DISK) {}

private:
    std::optional<WriteFailure> emit(std::string_view text) override {
        if (!console_) {
            return write_failure(write_bytes(handle_, text));
        }
        // A full buffer may end inside a character, whose start then waits
        // for the rest.
        return write_failure(write_console(handle_, joiner_.join(text)));
    }

    // An exclusive lock on every byte the file may hold, waited for.
    void lock(bool take) override {
        if (!disk_) {
            return;
        }
        OVERLAPPED from_start{};
        if (take) {
            ::LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &from_start);
        } else {
            ::UnlockFileEx(handle_, 0, MAXDWORD, MAXDWORD, &from_start);
        }
    }

    HANDLE handle_;
    bool console_;
    bool disk_;
    Utf8Joiner joiner_;
};

class StandardError final : public LineOutput {
public:
    StandardError(Output& out, HANDLE handle)
        : LineOutput(out, is_console(handle)), handle_(handle), console_(is_console(handle)) {}

private:
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

ReadResult read_result(BOOL ok, DWORD got) {
    if (!ok) {
        // A pipe whose writer has closed it, or a read at the end of a
        // file, has simply ended.
        const DWORD code = ::GetLastError();
        if (code != ERROR_BROKEN_PIPE && code != ERROR_HANDLE_EOF) {
            return ReadResult{0, system_message(code)};
        }
        got = 0;
    }
    return ReadResult{got, std::nullopt};
}

// A handle read with ReadFile, at 64-bit offsets or where it stands.
class WindowsFile final : public InputFile {
public:
    explicit WindowsFile(HANDLE handle) : handle_(handle) {}
    ~WindowsFile() override { ::CloseHandle(handle_); }
    WindowsFile(const WindowsFile&) = delete;
    WindowsFile& operator=(const WindowsFile&) = delete;

    ReadResult read_at(std::uint64_t offset, std::uint8_t* into, std::size_t count) override {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        const BOOL ok = ::ReadFile(handle_, into, capped(count), &got, &at);
        return read_result(ok, got);
    }

    ReadResult read(std::uint8_t* into, std::size_t count) override {
        DWORD got = 0;
        const BOOL ok = ::ReadFile(handle_, into, capped(count), &got, nullptr);
        return read_result(ok, got);
    }

    std::optional<std::uint64_t> length() override {
        LARGE_INTEGER reported{};
        if (!::GetFileSizeEx(handle_, &reported) || reported.QuadPart < 0) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(reported.QuadPart);
    }

private:
    HANDLE handle_;
};

}  // namespace

std::optional<OpenedFile> open_file(const Argument& path, std::string& error) {
    // Shared for reading, writing and deleting: a file another program holds
    // open, even for writing, is still read, and never kept from it.
    const HANDLE handle = ::CreateFileW(path.native.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = system_message(::GetLastError());
        return std::nullopt;
    }
    OpenedFile opened{std::make_unique<WindowsFile>(handle), std::nullopt};
    LARGE_INTEGER reported{};
    if (::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileSizeEx(handle, &reported) &&
        reported.QuadPart >= 0) {
        opened.length = static_cast<std::uint64_t>(reported.QuadPart);
    }
    return opened;
}

std::uint64_t physical_memory() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    // Unknown: no stream is refused for its length alone.
    return ::GlobalMemoryStatusEx(&status) ? status.ullTotalPhys
                                           : std::numeric_limits<std::uint64_t>::max();
}

// The C runtime's argv is narrow and split by its own rules; the wide
// command line is the one the system keeps.
std::vector<Argument> given_arguments(int, char**) {
    std::vector<Argument> args;
    const wchar_t* command_line = ::GetCommandLineW();
    // For an empty command line CommandLineToArgvW makes up the program's
    // path; own_path stands in for it here, as on every system.
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
    return args;
}

Argument own_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return Argument{};
        }
        if (length < path.size()) {
            path.resize(length);
            return Argument{path, utf8_from_wide(path)};
        }
        // Cut short: long paths reach 32767 units.
        if (path.size() >= 32768) {
            return Argument{};
        }
        path.resize(path.size() * 2);
    }
}

std::unique_ptr<BufferedOutput> standard_output() {
    return std::make_unique<StandardOutput>(::GetStdHandle(STD_OUTPUT_HANDLE));
}

std::unique_ptr<LineOutput> standard_error(Output& out) {
    return std::make_unique<StandardError>(out, ::GetStdHandle(STD_ERROR_HANDLE));
}

}  // namespace boxwalk::sys
