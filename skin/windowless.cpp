#include "skin/windowless.h"

#include <windowsx.h>

#include <algorithm>
#include <stdexcept>

namespace vellumor::skin {

namespace {

// Every live host, for the idle processing that looks up the control under the pointer.
std::vector<WindowlessHost*>& Hosts() {
    static std::vector<WindowlessHost*> hosts;
    return hosts;
}

// The control found under the pointer the last time the queue ran empty.
WindowlessControl* g_mouseControl = nullptr;

bool Contains(const RECT& rect, POINT point) {
    return point.x >= rect.left && point.x < rect.right && point.y >= rect.top &&
           point.y < rect.bottom;
}

}  // namespace

// ---- WindowlessControl ----

WindowlessControl::~WindowlessControl() {
    if (host_) host_->Remove(*this);
    if (g_mouseControl == this) g_mouseControl = nullptr;
}

void WindowlessControl::SetBounds(int left, int top, int width, int height) {
    RECT next{left, top, left + width, top + height};
    if (EqualRect(&next, &bounds_)) return;
    Invalidate();
    bounds_ = next;
    Invalidate();
}

void WindowlessControl::SetVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    if (host_ && host_->Window()) InvalidateRect(host_->Window(), &bounds_, TRUE);
}

void WindowlessControl::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Invalidate();
}

void WindowlessControl::Invalidate() {
    if (!host_ || !host_->Window() || !visible_) return;
    InvalidateRect(host_->Window(), &bounds_, Opaque() ? FALSE : TRUE);
}

void WindowlessControl::ButtonDown(UINT message, WPARAM keys, POINT where) {
    if (host_) host_->Capture(*this);
    if (message == WM_LBUTTONDOWN) clicked_ = true;
    if (OnMouseDown) OnMouseDown(message, keys, where);
}

void WindowlessControl::ButtonUp(UINT message, WPARAM keys, POINT where) {
    const bool click = message == WM_LBUTTONUP && clicked_;
    if (message == WM_LBUTTONUP) clicked_ = false;
    if (host_) host_->Uncapture(*this);
    if (click && where.x >= 0 && where.y >= 0 && where.x < Width() && where.y < Height() &&
        OnClick) {
        OnClick();
    }
}

void WindowlessControl::DoubleClick(UINT message, WPARAM keys, POINT where) {
    if (host_) host_->Capture(*this);
    if (message == WM_LBUTTONDBLCLK && OnDblClick) OnDblClick();
    if (OnMouseDown) OnMouseDown(message, keys, where);
}

// ---- bitmaps ----

win::Bitmap CopyBitmap(HBITMAP bitmap) {
    if (!bitmap) return {};
    HANDLE copy = CopyImage(bitmap, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    if (!copy) throw std::runtime_error("Out of system resources");
    return win::Bitmap(static_cast<HBITMAP>(copy));
}

SIZE BitmapSize(HBITMAP bitmap) {
    BITMAP info{};
    if (!bitmap || !GetObjectW(bitmap, sizeof info, &info)) return SIZE{0, 0};
    return SIZE{info.bmWidth, info.bmHeight};
}

// ---- Picture ----

Picture::Picture() {
    SetBounds(0, 0, 105, 105);
}

void Picture::SetPicture(HBITMAP bitmap) {
    picture_ = CopyBitmap(bitmap);
    if (autoSize_ && picture_) {
        const SIZE size = BitmapSize(picture_.get());
        SetBounds(Left(), Top(), size.cx, size.cy);
    }
    Invalidate();
}

void Picture::DrawOnPicture(const std::function<void(HDC)>& draw) {
    if (!picture_) return;
    {
        win::MemoryDc canvas(CreateCompatibleDC(nullptr));
        if (!canvas) throw std::runtime_error("Out of system resources");
        win::SelectObjectScope select(canvas.get(), picture_.get());
        draw(canvas.get());
    }
    Invalidate();
}

void Picture::SetStretch(bool stretch) {
    if (stretch == stretch_) return;
    stretch_ = stretch;
    Invalidate();
}

void Picture::SetAutoSize(bool autoSize) {
    autoSize_ = autoSize;
    if (autoSize_ && picture_) {
        const SIZE size = BitmapSize(picture_.get());
        SetBounds(Left(), Top(), size.cx, size.cy);
    }
}

bool Picture::Opaque() const {
    if (!picture_) return false;
    if (stretch_) return true;
    const SIZE size = BitmapSize(picture_.get());
    return size.cx >= Width() && size.cy >= Height();
}

void Picture::Paint(HDC dc) {
    if (!picture_) return;
    const SIZE size = BitmapSize(picture_.get());
    win::MemoryDc source(CreateCompatibleDC(dc));
    if (!source) return;
    win::SelectObjectScope select(source.get(), picture_.get());
    if (stretch_) {
        const int oldMode = SetStretchBltMode(dc, COLORONCOLOR);
        StretchBlt(dc, Left(), Top(), Width(), Height(), source.get(), 0, 0, size.cx, size.cy,
                   SRCCOPY);
        SetStretchBltMode(dc, oldMode);
    } else {
        BitBlt(dc, Left(), Top(), std::min<int>(Width(), size.cx), std::min<int>(Height(), size.cy),
               source.get(), 0, 0, SRCCOPY);
    }
}

// ---- WindowlessHost ----

WindowlessHost::WindowlessHost(HWND window) : window_(window) {
    Hosts().push_back(this);
}

WindowlessHost::~WindowlessHost() {
    for (WindowlessControl* control : controls_) {
        control->host_ = nullptr;
        if (g_mouseControl == control) g_mouseControl = nullptr;
    }
    auto& hosts = Hosts();
    hosts.erase(std::remove(hosts.begin(), hosts.end(), this), hosts.end());
}

void WindowlessHost::Add(WindowlessControl& control) {
    if (control.host_ == this) return;
    if (control.host_) control.host_->Remove(control);
    controls_.push_back(&control);
    control.host_ = this;
    control.Invalidate();
}

void WindowlessHost::Remove(WindowlessControl& control) {
    auto found = std::find(controls_.begin(), controls_.end(), &control);
    if (found == controls_.end()) return;
    control.Invalidate();
    controls_.erase(found);
    if (capture_ == &control) {
        capture_ = nullptr;
        if (GetCapture() == window_) ReleaseCapture();
    }
    control.host_ = nullptr;
}

void WindowlessHost::BringToFront(WindowlessControl& control) {
    auto found = std::find(controls_.begin(), controls_.end(), &control);
    if (found == controls_.end()) return;
    controls_.erase(found);
    controls_.push_back(&control);
    control.Invalidate();
}

void WindowlessHost::Paint(HDC dc, const RECT& clip) {
    for (WindowlessControl* control : controls_) {
        RECT part{};
        if (!control->visible_ || !IntersectRect(&part, &control->bounds_, &clip)) continue;
        const int saved = SaveDC(dc);
        IntersectClipRect(dc, part.left, part.top, part.right, part.bottom);
        control->Paint(dc);
        RestoreDC(dc, saved);
    }
}

WindowlessControl* WindowlessHost::ControlAt(POINT client, bool allowDisabled) const {
    for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
        WindowlessControl* control = *it;
        if (control->visible_ && (allowDisabled || control->enabled_) &&
            Contains(control->bounds_, client)) {
            return control;
        }
    }
    return nullptr;
}

WindowlessControl* WindowlessHost::CaptureControl() const {
    return capture_ && GetCapture() == window_ ? capture_ : nullptr;
}

void WindowlessHost::Capture(WindowlessControl& control) {
    if (GetCapture() != window_) SetCapture(window_);
    capture_ = &control;
}

void WindowlessHost::Uncapture(WindowlessControl& control) {
    if (capture_ != &control) return;
    capture_ = nullptr;
    if (GetCapture() == window_) ReleaseCapture();
}

bool WindowlessHost::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
        case WM_RBUTTONDBLCLK:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
        case WM_MBUTTONDBLCLK:
            break;
        case WM_MOUSELEAVE:
            // Only wakes the message loop so that its idle processing sees the pointer gone.
            tracking_ = false;
            return false;
        case WM_CAPTURECHANGED:
            if (capture_ && reinterpret_cast<HWND>(lParam) != window_) {
                capture_->clicked_ = false;
                capture_ = nullptr;
            }
            return false;
        default:
            return false;
    }

    if (message == WM_MOUSEMOVE && !tracking_) {
        // Asks for WM_MOUSELEAVE, so that leaving the window wakes the loop for the idle
        // processing even when no other message would come.
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window_, 0};
        tracking_ = TrackMouseEvent(&track) != FALSE;
    }

    const POINT client{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    WindowlessControl* target = CaptureControl();
    if (!target) target = ControlAt(client, false);
    if (!target) return false;
    const POINT where{client.x - target->bounds_.left, client.y - target->bounds_.top};
    result = 0;
    switch (message) {
        case WM_MOUSEMOVE:
            target->MouseMove(wParam, where);
            break;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            target->ButtonDown(message, wParam, where);
            break;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP:
            target->ButtonUp(message, wParam, where);
            break;
        default:
            target->DoubleClick(message, wParam, where);
            break;
    }
    return true;
}

// ---- idle processing ----

void RunIdleAt(POINT screenPoint) {
    WindowlessControl* control = nullptr;
    const HWND under = WindowFromPoint(screenPoint);
    for (WindowlessHost* host : Hosts()) {
        if (host->window_ != under) continue;
        POINT client = screenPoint;
        ScreenToClient(under, &client);
        control = host->ControlAt(client, true);
        break;
    }

    // While any window holds the mouse, only the control that holds it is told.
    const HWND captureWindow = GetCapture();
    WindowlessControl* captureControl = nullptr;
    for (WindowlessHost* host : Hosts()) {
        if (captureWindow && host->window_ == captureWindow) captureControl = host->capture_;
    }
    auto told = [&](WindowlessControl* c) { return c && (!captureWindow || c == captureControl); };

    if (g_mouseControl == control) return;
    WindowlessControl* previous = g_mouseControl;
    g_mouseControl = control;
    if (told(previous)) previous->MouseLeave();
    // The leave handler may have destroyed the new control; the destructor clears the slot.
    if (g_mouseControl == control && told(control)) control->MouseEnter();
}

void RunIdle() {
    POINT cursor{};
    if (!GetCursorPos(&cursor)) return;
    RunIdleAt(cursor);
}

}  // namespace vellumor::skin
