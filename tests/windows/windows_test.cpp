// End-to-end checks that only the Windows build needs: how the command line
// is split, wide file names, files another process holds open, pipes, and
// the system's error texts. Each run starts boxwalk.exe with an exact
// command line, its output going to temporary files. Then boxwalk-json.exe:
// its objects hold the golden lines, and runs side by side writing one file
// never cut into each other's lines.
//
// windows_test BOXWALK_EXE SOURCE_DIR BOXWALK_JSON_EXE
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// After windows.h, whose types it uses.
#include <rapidjson/document.h>
#include <shellapi.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::wstring g_boxwalk;
std::wstring g_boxwalk_json;
std::wstring g_source;
std::wstring g_scratch;
int g_passed = 0;
int g_failed = 0;

std::string narrow(std::wstring_view wide) {
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                             nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                          length, nullptr, nullptr);
    return text;
}

// `text` with bytes outside printable ASCII as \xHH, for failure messages.
std::string shown(const std::string& text) {
    std::string result;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            result.push_back(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            result += hex;
        }
    }
    return result;
}

void check(bool ok, const std::string& what, const std::string& got, const std::string& wanted) {
    if (ok) {
        ++g_passed;
        return;
    }
    ++g_failed;
    std::printf("FAIL %s\n  got:    %s\n  wanted: %s\n", what.c_str(), shown(got).c_str(),
                shown(wanted).c_str());
}

void check_equal(const std::string& got, const std::string& wanted, const std::string& what) {
    check(got == wanted, what, got, wanted);
}

std::string read_all(HANDLE file) {
    ::SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        text.append(chunk, got);
    }
    return text;
}

std::string read_file(const std::wstring& path) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    std::string text = read_all(file);
    ::CloseHandle(file);
    return text;
}

HANDLE create_file(const std::wstring& path, const std::string& bytes) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return file;
}

// A temporary file that a child process can write to.
HANDLE inheritable_temp_file() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    wchar_t name[MAX_PATH];
    ::GetTempFileNameW(g_scratch.c_str(), L"out", 0, name);
    return ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         &inherit, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

struct Run {
    std::string out;
    std::string err;
    DWORD status = 0;
};

class Child {
public:
    // Starts boxwalk.exe (or `program`) with exactly `command_line`, in the
    // scratch folder; standard output goes to `out` when it is given.
    // With `suspended`, it waits for resume().
    explicit Child(std::wstring command_line, HANDLE out = nullptr,
                   const std::wstring& program = g_boxwalk, bool suspended = false)
        : out_(inheritable_temp_file()), err_(inheritable_temp_file()) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out != nullptr ? out : out_;
        startup.hStdError = err_;
        if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                              suspended ? CREATE_SUSPENDED : 0, nullptr, g_scratch.c_str(),
                              &startup, &process_)) {
            std::printf("cannot start %s (error %lu)\n", narrow(program).c_str(), ::GetLastError());
        }
    }

    void resume() { ::ResumeThread(process_.hThread); }

    Run finish() {
        Run run;
        ::WaitForSingleObject(process_.hProcess, INFINITE);
        ::GetExitCodeProcess(process_.hProcess, &run.status);
        ::CloseHandle(process_.hProcess);
        ::CloseHandle(process_.hThread);
        run.out = read_all(out_);
        run.err = read_all(err_);
        ::CloseHandle(out_);
        ::CloseHandle(err_);
        return run;
    }

private:
    HANDLE out_;
    HANDLE err_;
    PROCESS_INFORMATION process_{};
};

Run run(const std::wstring& command_line, HANDLE out = nullptr,
        const std::wstring& program = g_boxwalk) {
    return Child(command_line, out, program).finish();
}

// Byte-exact cases: everything printed is the tool's own text or the
// arguments'.

void arguments_are_split_by_the_windows_rules() {
    const struct {
        const wchar_t* tail;  // after "boxwalk "
        const char* path;     // the second argument, as printed
    } rows[] = {
        {L"\"a b\" c", "a b"},
        {L"dir\\name.mp4", "dir\\name.mp4"},
        {L"a\\\\b", "a\\\\b"},                      // backslashes before no quote: literal
        {L"\"a\\\"b\"", "a\"b"},                    // \" is a quote
        {L"a\\\\\"b c\"", "a\\b c"},                // \\" is a backslash, then a quote opens
        {L"a\\\\\\\"b", "a\\\"b"},                  // \\\" is a backslash and a quote
        {L"\"C:\\my dir\\\" x", "C:\\my dir\" x"},  // a trailing \ escapes the closing quote
        {L"  \t spaced \"x\"", "spaced"},
        {L"\"\"", ""},
        {L"a\xD800z", "a\xEF\xBF\xBDz"},  // unpaired surrogates become U+FFFD
        {L"\xDC00\xD83C\xDFB5", "\xEF\xBF\xBD\xF0\x9F\x8E\xB5"},
    };
    int row = 0;
    for (const auto& [tail, path] : rows) {
        const Run result = run(std::wstring(L"boxwalk ") + tail);
        check_equal(result.out, std::string("[boxwalk] File: ") + path + "\n",
                    "argument row " + std::to_string(row++));
    }

    // Element 0 is taken whole up to its closing quote; without arguments it
    // is the program's own path.
    check_equal(run(L"\"C:\\odd dir\\box walk.exe\"").err,
                "Usage: C:\\odd dir\\box walk.exe <input.mp4>\n", "quoted program name");
    const std::string own_path = "Usage: " + narrow(g_boxwalk) + " <input.mp4>\n";
    check_equal(run(L"").err, own_path, "empty command line");
    check_equal(run(L"\"\"").err, own_path, "empty program name");
}

void files_are_read_by_their_wide_names() {
    const std::string song = read_file(g_source + L"\\samples\\song.m4a");
    std::string listing = read_file(g_source + L"\\tests\\golden\\song.out");
    listing.erase(0, listing.find('\n') + 1);

    const std::wstring name = L"Zo\u00EB \u00C5ngstr\u00F6m \u6771\U0001F3B5.m4a";
    ::CloseHandle(create_file(g_scratch + L"\\" + name, song));
    const Run named = run(L"boxwalk \"" + name + L"\"");
    check_equal(named.out, "[boxwalk] File: " + narrow(name) + "\n" + listing, "non-ASCII name");
    check_equal(named.err, "", "non-ASCII name, standard error");

    // Another program writing the file, and allowing only readers, does not
    // keep it from being read.
    const HANDLE writer =
        ::CreateFileW((g_scratch + L"\\held.m4a").c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(writer, song.data(), static_cast<DWORD>(song.size()), &written, nullptr);
    check_equal(run(L"boxwalk held.m4a").out, "[boxwalk] File: held.m4a\n" + listing,
                "file held open for writing");
    ::CloseHandle(writer);

    ::CloseHandle(create_file(g_scratch + L"\\empty.mp4", ""));
    check_equal(run(L"boxwalk empty.mp4").out,
                "[boxwalk] File: empty.mp4\n[boxwalk] Size: 0 bytes\n\n", "empty file");
    ::CloseHandle(create_file(g_scratch + L"\\seven", std::string(7, '\0')));
    check_equal(run(L"boxwalk seven").out, "[boxwalk] File: seven\n[boxwalk] Size: 7 bytes\n\n",
                "seven bytes");

    // A pipe reports no length and ends when its writer closes it.
    const std::wstring pipe_name =
        L"\\\\.\\pipe\\boxwalk-test-" + std::to_wstring(::GetCurrentProcessId());
    const HANDLE pipe = ::CreateNamedPipeW(pipe_name.c_str(), PIPE_ACCESS_OUTBOUND,
                                           PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    Child reader(L"boxwalk " + pipe_name);
    ::ConnectNamedPipe(pipe, nullptr);
    for (const char byte : song) {  // one byte a write: many reads
        ::WriteFile(pipe, &byte, 1, &written, nullptr);
    }
    ::CloseHandle(pipe);
    check_equal(reader.finish().out, "[boxwalk] File: " + narrow(pipe_name) + "\n" + listing,
                "named pipe");
}

void a_reader_that_went_away_ends_the_run_quietly() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    ::CreatePipe(&read_end, &write_end, &inherit, 0);
    ::CloseHandle(read_end);
    const Run result = run(L"boxwalk empty.mp4", write_end);
    ::CloseHandle(write_end);
    check_equal(result.err, "", "closed pipe, standard error");
    check(result.status == 1, "closed pipe, status", std::to_string(result.status), "1");
}

// Cases with the system's own words, which differ between Windows versions
// and Wine: only their shape is checked.

void check_system_error(const Run& result, const std::string& prefix, const std::string& code,
                        const std::string& what) {
    const std::string suffix = " (os error " + code + ")\n";
    const std::string& err = result.err;
    const bool shaped = err.size() > prefix.size() + suffix.size() &&
                        err.compare(0, prefix.size(), prefix) == 0 &&
                        err.compare(err.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                        err.find('\n') == err.size() - 1 && err[prefix.size()] != ' ' &&
                        err[err.size() - suffix.size() - 1] != ' ';
    check(shaped, what, err, prefix + "{message}" + suffix);
    check(result.status == 1, what + ", status", std::to_string(result.status), "1");
}

void system_errors_carry_the_windows_code() {
    const Run missing = run(L"boxwalk nope.mp4 ignored");
    check_equal(missing.out, "[boxwalk] File: nope.mp4\n", "missing file, standard output");
    check_system_error(missing, "[boxwalk] ERROR: read: ", "2", "missing file");
    check_system_error(run(L"boxwalk ."), "[boxwalk] ERROR: read: ", "5", "folder");

    // Standard output opened for reading only: every write is refused.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE read_only =
        ::CreateFileW((g_scratch + L"\\empty.mp4").c_str(), GENERIC_READ,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    check_system_error(run(L"boxwalk empty.mp4", read_only), "[boxwalk] ERROR: write: ", "5",
                       "unwritable output");
    ::CloseHandle(read_only);
}

// boxwalk-json.exe.

// The console's lines in one object of boxwalk-json, each with its line
// feed, or "not JSON".
std::string lines_of(const std::string& object) {
    rapidjson::Document parsed;
    parsed.Parse(object.data(), object.size());
    if (parsed.HasParseError() || !parsed.IsObject() || !parsed.HasMember("lines")) {
        return "not JSON";
    }
    std::string text;
    for (const auto& line : parsed["lines"].GetArray()) {
        text.append(line["text"].GetString(), line["text"].GetStringLength()) += '\n';
    }
    return text;
}

void json_objects_hold_the_golden_lines() {
    std::istringstream cases(read_file(g_source + L"\\tests\\golden\\cases.txt"));
    for (std::string line; std::getline(cases, line);) {
        std::istringstream words(line);
        std::string name;
        std::string input;
        if (line.empty() || line[0] == '#' || !(words >> name >> input)) {
            continue;
        }
        std::string golden = read_file(g_source + L"\\tests\\golden\\" +
                                       std::wstring(name.begin(), name.end()) + L".out");
        for (int i = 0; i < 3; ++i) {
            golden.erase(0, golden.find('\n') + 1);
        }
        const Run result = run(L"boxwalk-json \"" + g_source + L"\\" +
                                   std::wstring(input.begin(), input.end()) + L"\"",
                               nullptr, g_boxwalk_json);
        check_equal(lines_of(result.out), golden, "boxwalk-json on " + input);
        check(result.status == 0, "boxwalk-json on " + input + ", status",
              std::to_string(result.status), "0");
    }
}

// An atom: its size, its type and `payload`.
std::string atom(const std::string& type, const std::string& payload) {
    const auto size = static_cast<std::uint32_t>(payload.size() + 8);
    const char head[4] = {static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                          static_cast<char>(size >> 8), static_cast<char>(size)};
    return std::string(head, 4) + type + payload;
}

void json_runs_side_by_side_never_interleave() {
    // An item list of 100,000 items: an object of megabytes, whose runs,
    // started at once, overlap.
    std::string items;
    for (int i = 0; i < 100000; ++i) {
        items += atom("\xA9nam", atom("data", std::string("\0\0\0\1\0\0\0\0", 8) + "Title no. " +
                                                  std::to_string(i)));
    }
    const std::string file =
        atom("moov", atom("udta", atom("meta", std::string(4, '\0') + atom("ilst", items))));
    ::CloseHandle(create_file(g_scratch + L"\\heavy.mp4", file));
    const std::string alone = run(L"boxwalk-json heavy.mp4", nullptr, g_boxwalk_json).out;

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE shared =
        ::CreateFileW((g_scratch + L"\\inventory.jsonl").c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::vector<Child> runs;
    runs.reserve(4);
    for (int i = 0; i < 4; ++i) {
        runs.emplace_back(L"boxwalk-json heavy.mp4", shared, g_boxwalk_json, true);
    }
    for (Child& child : runs) {
        child.resume();
    }
    for (Child& child : runs) {
        child.finish();
    }
    const std::string inventory = read_all(shared);
    ::CloseHandle(shared);
    check(alone.size() > (std::size_t{1} << 20), "a heavy object", std::to_string(alone.size()),
          "over 1 MiB");
    check(inventory == alone + alone + alone + alone, "four runs into one file",
          std::to_string(inventory.size()) + " bytes", "four whole objects");
    ::DeleteFileW((g_scratch + L"\\heavy.mp4").c_str());
    ::DeleteFileW((g_scratch + L"\\inventory.jsonl").c_str());
}

// The absolute form of `path`, or the empty text when there is none.
std::wstring full_path(const wchar_t* path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        // The length without the terminator, or the size needed with it
        // when the buffer is too small; 0 on failure.
        const DWORD length =
            ::GetFullPathNameW(path, static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length);
    }
}

}  // namespace

int main() {
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (argv == nullptr || count != 4) {
        std::printf("usage: windows_test BOXWALK_EXE SOURCE_DIR BOXWALK_JSON_EXE\n");
        return 2;
    }
    g_boxwalk = full_path(argv[1]);
    g_source = full_path(argv[2]);
    g_boxwalk_json = full_path(argv[3]);
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, temp);
    g_scratch = std::wstring(temp) + L"boxwalk-test-" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(g_scratch.c_str(), nullptr);

    arguments_are_split_by_the_windows_rules();
    files_are_read_by_their_wide_names();
    a_reader_that_went_away_ends_the_run_quietly();
    system_errors_carry_the_windows_code();
    json_objects_hold_the_golden_lines();
    json_runs_side_by_side_never_interleave();

    for (const wchar_t* name : {L"Zo\u00EB \u00C5ngstr\u00F6m \u6771\U0001F3B5.m4a", L"held.m4a",
                                L"empty.mp4", L"seven"}) {
        ::DeleteFileW((g_scratch + L"\\" + name).c_str());
    }
    ::RemoveDirectoryW(g_scratch.c_str());
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
