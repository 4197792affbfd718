// The shell's modal dialogs as the file list uses them: the file-open dialog and the folder
// browser. The program calls the system; tests put their own answers in.
#pragma once

#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

namespace vellumor::filelist {

class ShellDialogs {
  public:
    virtual ~ShellDialogs() = default;
    // GetOpenFileNameW: true when the user chose one or more files (the names are in the
    // dialog's buffer), false when cancelled or failed.
    virtual bool OpenFiles(OPENFILENAMEW& dialog);
    // SHBrowseForFolderW: the chosen item, or null when cancelled. The caller frees it.
    virtual PIDLIST_ABSOLUTE BrowseForFolder(BROWSEINFOW& info);
};

// The system's dialogs.
ShellDialogs& SystemShellDialogs();

}  // namespace vellumor::filelist
