#include "win32/long_path.h"

#include <windows.h>

#include "win32/unicode.h"

namespace vellumor::win {

namespace {
// Folders are already limited to 248 characters by CreateDirectoryW: leave some room below.
constexpr std::size_t kShortEnough = 240;
}  // namespace

std::wstring LongPath(std::string_view utf8) {
    std::wstring path = Widen(utf8);
    if (path.size() < kShortEnough || path.rfind(L"\\\\?\\", 0) == 0) return path;
    DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
    if (n == 0 || n >= full.size()) return path;
    full.resize(n);
    if (full.rfind(L"\\\\.\\", 0) == 0) return full;  // a device path stays as it is
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

}  // namespace vellumor::win
