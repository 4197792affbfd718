#include "filelist/list_style.h"

#include <commctrl.h>

#include "win32/guard.h"
#include "win32/handles.h"

namespace vellumor::filelist {

namespace {

// One styled header per process, written once at start-up and read on every paint.
HWND g_header = nullptr;
WNDPROC g_previousProc = nullptr;
COLORREF HeaderColor = kHeaderColor;

// Repaints the whole header: its default painting is copied aside, the client area filled with
// the tint inside a one-pixel black outline, and the copy laid back over it with every pixel of
// the current button-face colour left out.
void TintHeader(HWND header) {
    RECT client{};
    GetClientRect(header, &client);
    if (client.right <= 0 || client.bottom <= 0) return;
    win::WindowDc window(header);
    if (!window.get()) return;
    win::Bitmap copy(CreateCompatibleBitmap(window.get(), client.right, client.bottom));
    win::MemoryDc copyDc(CreateCompatibleDC(window.get()));
    if (!copy || !copyDc) return;
    win::SelectObjectScope selectCopy(copyDc.get(), copy.get());
    BitBlt(copyDc.get(), 0, 0, client.right, client.bottom, window.get(), 0, 0, SRCCOPY);

    win::Brush tint(CreateSolidBrush(HeaderColor));
    {
        win::SelectObjectScope brush(window.get(), tint.get());
        win::SelectObjectScope pen(window.get(), GetStockObject(BLACK_PEN));
        Rectangle(window.get(), 0, 0, client.right, client.bottom);
    }
    TransparentBlt(window.get(), 0, 0, client.right, client.bottom, copyDc.get(), 0, 0,
                   client.right, client.bottom, GetSysColor(COLOR_BTNFACE));
}

}  // namespace

void SetHeaderColor(HWND ListWindow, COLORREF Color) {
    HWND header = FindWindowExW(ListWindow, nullptr, L"SysHeader32", nullptr);
    if (!header) return;
    if (!g_previousProc) {
        g_header = header;
        g_previousProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(header, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HeaderWndProc)));
    }
    InvalidateRect(header, nullptr, FALSE);
    HeaderColor = Color;
}

LRESULT CALLBACK HeaderWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return win::Guarded(
        [&]() -> LRESULT {
            const LRESULT result = CallWindowProcW(g_previousProc, window, message, wParam, lParam);
            if (message == WM_PAINT) TintHeader(window);
            // A header that is gone frees the slot for the next list of the process.
            if (message == WM_NCDESTROY && window == g_header) {
                g_header = nullptr;
                g_previousProc = nullptr;
            }
            return result;
        },
        LRESULT{0});
}

void ListView1CustomDraw(HWND ListWindow, HDC Canvas, HBITMAP background, bool& DefaultDraw) {
    RECT clip{};
    GetClipBox(Canvas, &clip);
    BITMAP info{};
    if (background && GetObjectW(background, sizeof info, &info)) {
        win::MemoryDc source(CreateCompatibleDC(Canvas));
        if (source) {
            win::SelectObjectScope select(source.get(), background);
            const int oldMode = SetStretchBltMode(Canvas, HALFTONE);
            POINT oldOrigin{};
            SetBrushOrgEx(Canvas, 0, 0, &oldOrigin);
            StretchBlt(Canvas, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top,
                       source.get(), 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
            SetStretchBltMode(Canvas, oldMode);
            SetBrushOrgEx(Canvas, oldOrigin.x, oldOrigin.y, nullptr);
        }
    }
    SetBkMode(Canvas, TRANSPARENT);
    SendMessageW(ListWindow, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(CLR_NONE));
    SendMessageW(ListWindow, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(CLR_NONE));
    DefaultDraw = true;
}

void SetProgressBarColor(HWND ProgressBar) {
    PostMessageW(ProgressBar, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(kProgressBarColor));
}

}  // namespace vellumor::filelist
