#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdlib>

#include "cli/platform.h"
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

std::string BuiltWorker() {
    return {};
}

FileFacts FactsOf(const std::string& path) {
    FileFacts facts;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(win::Widen(path).c_str(), GetFileExInfoStandard, &data)) return facts;
    facts.known = true;
    facts.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    // FILETIME counts 100 ns steps since 1601.
    std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
        data.ftLastWriteTime.dwLowDateTime);
    facts.mtimeNs = (ticks - 116444736000000000LL) * 100;
    return facts;
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
