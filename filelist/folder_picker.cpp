#include "filelist/folder_picker.h"

#include "win32/guard.h"
#include "win32/handles.h"
#include "win32/unicode.h"

namespace vellumor::filelist {

bool ShellDialogs::OpenFiles(OPENFILENAMEW& dialog) {
    return GetOpenFileNameW(&dialog) != FALSE;
}

PIDLIST_ABSOLUTE ShellDialogs::BrowseForFolder(BROWSEINFOW& info) {
    return SHBrowseForFolderW(&info);
}

ShellDialogs& SystemShellDialogs() {
    static ShellDialogs dialogs;
    return dialogs;
}

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM data) {
    return win::Guarded([&] {
        if (message == BFFM_INITIALIZED) SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
        return 0;
    });
}

std::string BrowseForFolder(ShellDialogs& dialogs, const std::string& initialFolder) {
    const std::wstring initial = win::Widen(initialFolder);  // never a null pointer, even empty
    wchar_t displayName[MAX_PATH + 1] = {};
    BROWSEINFOW info = {};
    info.hwndOwner = GetActiveWindow();
    info.pidlRoot = nullptr;
    info.pszDisplayName = displayName;
    info.lpszTitle = kBrowseTitle;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(initial.c_str());
    win::Pidl chosen(dialogs.BrowseForFolder(info));
    if (!chosen) return {};
    // The longer form first, for folders deeper than MAX_PATH.
    std::wstring path(32768, L'\0');
    if (!SHGetPathFromIDListEx(chosen.get(), path.data(), static_cast<DWORD>(path.size()),
                               GPFIDL_DEFAULT) &&
        !SHGetPathFromIDListW(chosen.get(), path.data()))
        return {};
    path.resize(wcslen(path.c_str()));
    return win::Narrow(path);
}

}  // namespace vellumor::filelist
