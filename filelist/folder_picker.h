// The folder picker: the shell's folder browser, file-system folders only.
#pragma once

#include <windows.h>

#include <string>

#include "filelist/shell_dialogs.h"

namespace vellumor::filelist {

inline constexpr const wchar_t* kBrowseTitle = L"Please Choose a Folder";

// Shows the browser owned by the calling thread's active window, with initialFolder selected
// when it is not empty. Returns the chosen folder's path (a drive root keeps its trailing
// backslash, other folders have none), or the empty text when the user cancelled or the chosen
// item has no file-system path.
std::string BrowseForFolder(ShellDialogs& dialogs, const std::string& initialFolder);

// The browser's callback: once the browser is ready, selects the folder whose path (UTF-16)
// data points at. Always 0.
int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM param, LPARAM data);

}  // namespace vellumor::filelist
