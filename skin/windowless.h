// Controls without a window of their own: painted by their host window in stacking order, fed
// with the host's mouse input (capture, click on release inside), and told when the pointer
// enters or leaves them from the message loop's idle processing.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "win32/handles.h"

namespace vellumor::skin {

class WindowlessHost;

// A control without a window of its own, painted by its host window in stacking order.
class WindowlessControl {
  public:
    WindowlessControl() = default;
    virtual ~WindowlessControl();
    WindowlessControl(const WindowlessControl&) = delete;
    WindowlessControl& operator=(const WindowlessControl&) = delete;

    RECT Bounds() const { return bounds_; }  // in the host window's client coordinates
    int Left() const { return bounds_.left; }
    int Top() const { return bounds_.top; }
    int Width() const { return bounds_.right - bounds_.left; }
    int Height() const { return bounds_.bottom - bounds_.top; }
    void SetBounds(int left, int top, int width, int height);
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    bool Enabled() const { return enabled_; }
    // The base control's enabled state: a disabled control gets no button messages unless it
    // holds the capture; it still gets enter and leave.
    virtual void SetEnabled(bool enabled);
    void Invalidate();  // repaints its bounds through the host
    WindowlessHost* Host() const { return host_; }

    // Events (unassigned = nothing happens). Positions are relative to the control.
    std::function<void()> OnClick;  // left press then release inside, not a double-click
    std::function<void()> OnDblClick;
    // Any button pressed, double-clicks included (message WM_xBUTTONDBLCLK).
    std::function<void(UINT buttonMessage, WPARAM keys, POINT where)> OnMouseDown;

  protected:
    // dc: host client coordinates, clipped to the control's bounds and to the paint.
    virtual void Paint(HDC dc) = 0;
    // True when painting covers the whole bounds (the host then need not erase below it).
    virtual bool Opaque() const { return false; }

    // Routed mouse input. The base handling: a press captures the mouse for this control (a left
    // press also marks it clicked) and raises OnMouseDown; a release gives the capture back and,
    // for the left button, raises OnClick when marked clicked and the release lies inside; a
    // double-click captures, raises OnDblClick then OnMouseDown, and never leads to OnClick.
    virtual void MouseEnter() {}
    virtual void MouseLeave() {}
    virtual void MouseMove(WPARAM keys, POINT where) {}
    virtual void ButtonDown(UINT message, WPARAM keys, POINT where);
    virtual void ButtonUp(UINT message, WPARAM keys, POINT where);
    virtual void DoubleClick(UINT message, WPARAM keys, POINT where);

  private:
    friend class WindowlessHost;
    friend void RunIdleAt(POINT);
    WindowlessHost* host_ = nullptr;
    RECT bounds_{0, 0, 0, 0};
    bool visible_ = true;
    bool enabled_ = true;
    bool clicked_ = false;
};

// A copy of a bitmap (a device-independent section of the same size and depth); empty for null.
win::Bitmap CopyBitmap(HBITMAP bitmap);
SIZE BitmapSize(HBITMAP bitmap);

// A picture control: shows its bitmap at its top-left corner unscaled, or stretched over its
// bounds. Empty picture = nothing drawn (what lies below shows through). AutoSize takes the
// picture's size.
class Picture : public WindowlessControl {
  public:
    Picture();                        // 105 by 105, empty picture
    void SetPicture(HBITMAP bitmap);  // stores a copy; the caller keeps its own
    HBITMAP PictureHandle() const { return picture_.get(); }  // the displayed bitmap, may be null
    // Draws on the displayed picture itself (nothing happens while it is empty), then repaints.
    void DrawOnPicture(const std::function<void(HDC)>& draw);
    bool Stretch() const { return stretch_; }
    void SetStretch(bool stretch);
    void SetAutoSize(bool autoSize);

  protected:
    void Paint(HDC dc) override;
    bool Opaque() const override;

  private:
    win::Bitmap picture_;
    bool stretch_ = false;
    bool autoSize_ = false;
};

// One per window that has windowless children (the main window, a panel).
class WindowlessHost {
  public:
    explicit WindowlessHost(HWND window);
    ~WindowlessHost();
    WindowlessHost(const WindowlessHost&) = delete;
    WindowlessHost& operator=(const WindowlessHost&) = delete;

    HWND Window() const { return window_; }
    void Add(WindowlessControl& control);  // added last = on top; the host does not own it
    void Remove(WindowlessControl& control);
    void BringToFront(WindowlessControl& control);
    const std::vector<WindowlessControl*>& Controls() const { return controls_; }
    // Paints every visible control that meets clip, bottom to top. Called from the window's
    // WM_PAINT after its background is drawn (into the back buffer where it is double-buffered).
    void Paint(HDC dc, const RECT& clip);
    // Called first from the host window's procedure; true = handled (mouse routing with capture).
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // The topmost visible control at a client point; disabled ones only when asked for.
    WindowlessControl* ControlAt(POINT client, bool allowDisabled) const;
    // The control that holds the mouse capture of this window, if any.
    WindowlessControl* CaptureControl() const;

  private:
    friend class WindowlessControl;
    friend void RunIdleAt(POINT);
    void Capture(WindowlessControl& control);
    void Uncapture(WindowlessControl& control);

    HWND window_;
    std::vector<WindowlessControl*> controls_;
    WindowlessControl* capture_ = nullptr;
    bool tracking_ = false;  // WM_MOUSELEAVE asked for
};

// Pointer enter/leave: the application's message loop calls this each time the queue runs empty;
// it finds the windowless control under the pointer (disabled ones included; only the capturing
// one is told while a button is held) and sends leave/enter when it changed.
void RunIdle();
// The same for a given screen point instead of the cursor position.
void RunIdleAt(POINT screenPoint);

}  // namespace vellumor::skin
