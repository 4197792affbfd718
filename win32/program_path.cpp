#include "win32/program_path.h"

#include <windows.h>

#include "core/text.h"
#include "win32/unicode.h"

namespace vellumor::win {

std::string ProgramPath() {
    // GetModuleFileNameW fills the buffer to the brim and truncates when the path is longer,
    // so the buffer grows until the path fits with room to spare.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size() || path.size() >= 32768) {
            path.resize(length);
            return Narrow(path);
        }
        path.resize(path.size() * 2);
    }
}

std::string ProgramFolder() {
    const std::string path = ProgramPath();
    const std::size_t nameStart = NameStart(path, "\\/");
    return nameStart == 0 ? "." : path.substr(0, nameStart - 1);
}

std::string TraceLogPath() {
    wchar_t folder[32768];
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, 32768);
    if (length == 0 || length >= 32768) return {};
    return Narrow(std::wstring(folder, length)) + "\\Vellumor\\trace.log";
}

}  // namespace vellumor::win
