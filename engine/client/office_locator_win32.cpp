#include "engine/client/office_locator.h"

#include <windows.h>

#include <algorithm>

#include "win32/handles.h"
#include "win32/unicode.h"

namespace vellumor {

namespace {

struct CloseRegistryKey {
    void operator()(HKEY key) const { RegCloseKey(key); }
};

std::wstring RegistryDefault(HKEY root, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, kOfficeRegistryKey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return {};
    win::Owned<HKEY, CloseRegistryKey> owner(key);
    wchar_t value[MAX_PATH * 2] = {};
    DWORD bytes = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    std::wstring text(value);
    if (type == REG_EXPAND_SZ) {
        wchar_t expanded[MAX_PATH * 2];
        DWORD n = ExpandEnvironmentStringsW(text.c_str(), expanded, MAX_PATH * 2);
        if (n > 0 && n <= MAX_PATH * 2) text = expanded;
    }
    while (!text.empty() && (text.back() == L'\\' || text.back() == L'/')) text.pop_back();
    return text;
}

std::wstring Environment(const wchar_t* name) {
    wchar_t value[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH * 2);
    return n > 0 && n < MAX_PATH * 2 ? std::wstring(value, n) : std::wstring();
}

bool IsFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

std::vector<std::string> OfficeProgramFolderCandidates() {
    std::vector<std::wstring> folders;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
            folders.push_back(RegistryDefault(root, view));
    // ProgramW6432 is the 64-bit Program Files even for a 32-bit program, whose ProgramFiles is
    // the (x86) one.
    for (const wchar_t* variable : {L"ProgramW6432", L"ProgramFiles", L"ProgramFiles(x86)"}) {
        std::wstring base = Environment(variable);
        if (!base.empty()) folders.push_back(base + L"\\LibreOffice\\program");
    }
    std::vector<std::string> result;
    for (const auto& folder : folders) {
        if (folder.empty()) continue;
        std::string utf8 = win::Narrow(folder);
        if (std::find(result.begin(), result.end(), utf8) == result.end()) result.push_back(utf8);
    }
    return result;
}

std::string FindOfficePython() {
    for (const auto& folder : OfficeProgramFolderCandidates()) {
        std::string python = folder + "\\python.exe";
        if (IsFile(win::Widen(python))) return python;
    }
    return {};
}

}  // namespace vellumor
