// The file list's own colours: a tinted column header, the list rows standing on a stretched
// gradient picture, and a green progress bar. They rely on the classic, unthemed drawing of the
// common controls (the program carries no manifest).
#pragma once

#include <windows.h>

namespace vellumor::filelist {

constexpr COLORREF kHeaderColor = RGB(220, 230, 244);
constexpr COLORREF kProgressBarColor = RGB(0, 128, 0);

// Subclasses the column header of ListWindow (its first "SysHeader32" child) once for the
// process and tints its background with Color on every paint; captions and edges stay.
void SetHeaderColor(HWND ListWindow, COLORREF Color);

// The header's replacement window procedure.
LRESULT CALLBACK HeaderWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The list's custom draw at the start of each paint of the whole control (NM_CUSTOMDRAW,
// CDDS_PREPAINT; the caller then returns CDRF_DODEFAULT): stretches background over the part that
// this paint covers and makes the control draw no background of its own, neither behind the
// rows nor behind their text. DefaultDraw is left true.
void ListView1CustomDraw(HWND ListWindow, HDC Canvas, HBITMAP background, bool& DefaultDraw);

// Posts the bar colour to the progress bar; it takes effect when the message loop next runs.
void SetProgressBarColor(HWND ProgressBar);

}  // namespace vellumor::filelist
