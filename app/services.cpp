#include "app/services.h"

#include <shellapi.h>

namespace vellumor::app {

void Services::ShellOpen(HWND owner, const wchar_t* verb, const std::wstring& file, int show) {
    ShellExecuteW(owner, verb, file.c_str(), nullptr, nullptr, show);
}

void Services::ShellLaunch(HWND owner, const wchar_t* verb, const std::wstring& file,
                           const std::wstring& parameters, int show) {
    ShellExecuteW(owner, verb, file.c_str(), parameters.c_str(), nullptr, show);
}

int Services::MessageBox(HWND owner, const std::wstring& text, const std::wstring& caption,
                         UINT flags) {
    // The system function, not this member (windows.h renames MessageBox to MessageBoxW).
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
}

UINT Services::TrackPopup(HMENU menu, UINT flags, int x, int y, HWND owner) {
    return static_cast<UINT>(TrackPopupMenu(menu, flags | TPM_RETURNCMD, x, y, 0, owner, nullptr));
}

Services& SystemServices() {
    static Services services;
    return services;
}

}  // namespace vellumor::app
