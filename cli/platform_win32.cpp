#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "cli/platform.h"
#include "win32/handles.h"
#include "win32/long_path.h"
#include "win32/system_text.h"
#include "win32/unicode.h"

namespace fs = std::filesystem;

namespace vellumor::cli {

namespace {

bool VirtualTerminal() {
    static const bool enabled = [] {
        HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
        DWORD mode = 0;
        if (!GetConsoleMode(err, &mode)) return false;
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif
        return SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    }();
    return enabled;
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(win::Narrow(wide[i]));
    LocalFree(wide);
    return arguments;
}

void PrepareConsole() {
    SetConsoleOutputCP(CP_UTF8);
}

bool StderrIsTerminal() {
    // A console, not a pipe, a file or NUL (which _isatty also calls a terminal).
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int TerminalWidth() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 80;
    int width = info.srWindow.Right - info.srWindow.Left + 1;
    return width > 40 ? width : 80;
}

std::string ClearLineText() {
    if (VirtualTerminal()) return "\r\033[K";
    // Older consoles: overwrite the line with blanks, short of the last column so it does not
    // wrap.
    std::string line(TerminalWidth() + 1, ' ');
    line.front() = '\r';
    line.back() = '\r';
    return line;
}

std::string Environment(const char* name) {
    const wchar_t* value = _wgetenv(win::Widen(name).c_str());
    return value ? win::Narrow(value) : std::string();
}

void BinaryStandardInput() {
    _setmode(_fileno(stdin), _O_BINARY);
}

namespace {

// The portable condition where there is one, so that callers can compare; else the system's.
std::error_code ErrorOf(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            return std::make_error_code(std::errc::no_such_file_or_directory);
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return std::make_error_code(std::errc::permission_denied);
        case ERROR_DIRECTORY:
            return std::make_error_code(std::errc::not_a_directory);
        case ERROR_FILENAME_EXCED_RANGE:
            return std::make_error_code(std::errc::filename_too_long);
        case ERROR_CANT_RESOLVE_FILENAME:
            return std::make_error_code(std::errc::too_many_symbolic_link_levels);
        default:
            return std::error_code(static_cast<int>(code), std::system_category());
    }
}

struct CloseSearch {
    void operator()(HANDLE h) const { FindClose(h); }
};

// A handle that reads nothing: enough to ask which file a name leads to.
win::Owned<HANDLE, win::CloseKernelHandle> OpenToQuery(const std::wstring& path, DWORD access,
                                                       DWORD& error) {
    HANDLE h =
        CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    return win::Owned<HANDLE, win::CloseKernelHandle>(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

}  // namespace

std::vector<ListedEntry> ListFolder(const std::string& folder, std::error_code& error) {
    error.clear();
    std::vector<ListedEntry> entries;
    std::string pattern = folder.empty() ? std::string(".") : folder;
    if (pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAW found{};
    HANDLE first = FindFirstFileW(win::LongPath(pattern).c_str(), &found);
    if (first == INVALID_HANDLE_VALUE) {
        // Only a drive's root can hold no entry at all; every other folder lists "." and "..".
        if (GetLastError() != ERROR_FILE_NOT_FOUND) error = ErrorOf(GetLastError());
        return entries;
    }
    win::Owned<HANDLE, CloseSearch> search(first);
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        DWORD attributes = found.dwFileAttributes;
        ListedKind kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? ListedKind::Link
                          : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? ListedKind::Folder
                                                                      : ListedKind::File;
        entries.push_back({win::Narrow(name), kind});
    } while (FindNextFileW(search.get(), &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) error = ErrorOf(GetLastError());
    return entries;
}

EntryFacts Examine(const std::string& path) {
    EntryFacts facts;
    std::wstring wide = win::LongPath(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        facts.error = ErrorOf(GetLastError());
        return facts;
    }
    facts.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    DWORD code = 0;
    auto file = OpenToQuery(wide, FILE_READ_ATTRIBUTES, code);
    if (!file) file = OpenToQuery(wide, 0, code);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.get(), &info)) {
        if (file) code = GetLastError();
        facts.error = ErrorOf(code);
        if (facts.link && (facts.error == std::errc::no_such_file_or_directory ||
                           facts.error == std::errc::too_many_symbolic_link_levels))
            facts.kind = EntryKind::Dangling;
        return facts;
    }
    facts.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder
                 : (info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE)  ? EntryKind::Other
                                                                    : EntryKind::File;
    facts.identity.device = info.dwVolumeSerialNumber;
    facts.identity.index =
        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return facts;
}

std::string LinkTarget(const std::string&) {
    return {};
}

std::error_code TryOpen(const std::string& path) {
    HANDLE h = CreateFileW(win::LongPath(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return ErrorOf(GetLastError());
    CloseHandle(h);
    return {};
}

std::string ReasonText(const std::error_code& error) {
    if (error == std::errc::permission_denied) return "permission denied";
    if (error == std::errc::no_such_file_or_directory) return "no such file or folder";
    if (error == std::errc::not_a_directory) return "a part of the path is not a folder";
    if (error == std::errc::too_many_symbolic_link_levels) return "its links lead in a circle";
    if (error == std::errc::filename_too_long) return "the path is too long";
    std::string text = error.category() == std::system_category()
                           ? win::SystemErrorText(static_cast<DWORD>(error.value()))
                           : error.message();
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
        text[0] = static_cast<char>(text[0] + 32);
    return text;
}

std::string NameKey(const std::string& name) {
    std::wstring wide = win::Widen(name);
    if (!wide.empty()) CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return win::Narrow(wide);
}

namespace {
std::atomic<int> g_interrupts{0};

// Runs on a thread the system starts for the event.
BOOL WINAPI CountInterrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    g_interrupts.fetch_add(1);
    return TRUE;
}
}  // namespace

void CatchInterrupts() {
    SetConsoleCtrlHandler(CountInterrupt, TRUE);
}

int Interrupts() {
    return g_interrupts.load();
}

fs::path PathOf(const std::string& utf8) {
    return fs::path(win::Widen(utf8));
}

std::string TextOf(const fs::path& path) {
    return win::Narrow(path.wstring());
}

std::string NativeText(std::string path) {
    for (auto& c : path)
        if (c == '/') c = '\\';
    return path;
}

}  // namespace vellumor::cli
