// A real top-level window that hosts windowless controls, for driving them with messages.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "skin/windowless.h"
#include "win32/guard.h"
#include "win32/handles.h"

namespace vellumor::skin::test {

// Solid 24-bit picture of one colour.
inline win::Bitmap SolidBitmap(int width, int height, COLORREF color) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    win::Bitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    win::MemoryDc dc(CreateCompatibleDC(nullptr));
    win::SelectObjectScope select(dc.get(), bitmap.get());
    win::Brush brush(CreateSolidBrush(color));
    RECT all{0, 0, width, height};
    FillRect(dc.get(), &all, brush.get());
    return bitmap;
}

// Colour of one pixel of a bitmap (CLR_INVALID for none).
inline COLORREF BitmapPixel(HBITMAP bitmap, int x = 0, int y = 0) {
    if (!bitmap) return CLR_INVALID;
    win::MemoryDc dc(CreateCompatibleDC(nullptr));
    win::SelectObjectScope select(dc.get(), bitmap);
    return GetPixel(dc.get(), x, y);
}

// Pixel of the window as shown, after pending paints have run.
inline COLORREF WindowPixel(HWND window, int x, int y) {
    UpdateWindow(window);
    win::WindowDc dc(window);
    return GetPixel(dc.get(), x, y);
}

inline LPARAM At(int x, int y) {
    return MAKELPARAM(x, y);
}

constexpr COLORREF kBackground = RGB(10, 20, 30);

// Popup window at (left, top) whose procedure routes through a WindowlessHost and paints a solid
// background below the controls.
class HostWindow {
  public:
    HostWindow(int left, int top, int width, int height) {
        static const ATOM atom = [] {
            WNDCLASSW wc{};
            wc.style = CS_DBLCLKS;
            wc.lpfnWndProc = Proc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
            wc.lpszClassName = L"VellumorSkinTestHost";
            return RegisterClassW(&wc);
        }();
        (void)atom;
        window_ =
            CreateWindowExW(0, L"VellumorSkinTestHost", L"host", WS_POPUP | WS_VISIBLE, left, top,
                            width, height, nullptr, nullptr, GetModuleHandleW(nullptr), this);
        host_ = std::make_unique<WindowlessHost>(window_);
        UpdateWindow(window_);
    }
    ~HostWindow() {
        host_.reset();
        DestroyWindow(window_);
    }
    HWND window() const { return window_; }
    WindowlessHost& host() { return *host_; }
    POINT Screen(int x, int y) const {
        POINT p{x, y};
        ClientToScreen(window_, &p);
        return p;
    }
    LRESULT Send(UINT message, int x, int y, WPARAM keys = 0) {
        return SendMessageW(window_, message, keys, At(x, y));
    }
    int unhandled = 0;  // mouse messages no control took

  private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        return win::Guarded([&] { return Handle(window, message, wParam, lParam); }, LRESULT{0});
    }
    static LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<HostWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && self->host_) {
            LRESULT result = 0;
            if (self->host_->HandleMessage(message, wParam, lParam, result)) return result;
            if (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ++self->unhandled;
        }
        if (message == WM_ERASEBKGND) return 1;
        if (message == WM_PAINT) {
            win::PaintDc paint(window);
            win::Brush brush(CreateSolidBrush(kBackground));
            FillRect(paint.get(), &paint.info().rcPaint, brush.get());
            if (self && self->host_) self->host_->Paint(paint.get(), paint.info().rcPaint);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    HWND window_ = nullptr;
    std::unique_ptr<WindowlessHost> host_;
};

}  // namespace vellumor::skin::test
