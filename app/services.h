// What the main window asks of the system beyond its own controls: the shell's dialogs, shell
// launches, message boxes and popup menus. The program uses the system; tests replace them.
#pragma once

#include <windows.h>

#include <string>

#include "filelist/shell_dialogs.h"

namespace vellumor::app {

class Services : public filelist::ShellDialogs {
  public:
    // ShellExecuteW; verb null = the default verb. The result is not examined.
    virtual void ShellOpen(HWND owner, const wchar_t* verb, const std::wstring& file, int show);
    // ShellExecuteW with parameters and no working folder. The result is not examined.
    virtual void ShellLaunch(HWND owner, const wchar_t* verb, const std::wstring& file,
                             const std::wstring& parameters, int show);
    virtual int MessageBox(HWND owner, const std::wstring& text, const std::wstring& caption,
                           UINT flags);
    // TrackPopupMenu with TPM_RETURNCMD: the chosen item's id, 0 when none.
    virtual UINT TrackPopup(HMENU menu, UINT flags, int x, int y, HWND owner);
};

Services& SystemServices();

}  // namespace vellumor::app
