// The main window's own kinds of control: the container window (the form and its panels, which
// host windowless pictures and labels), the windowless label, and the flat tool button.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "skin/windowless.h"
#include "win32/handles.h"

namespace vellumor::app {

// Receives every message of a container before the container's own handling: the main window
// handles its controls' notifications (WM_COMMAND, WM_NOTIFY, WM_DRAWITEM, WM_CTLCOLOR...) here.
// Returns true when it handled the message and set result.
using MessageSink = std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT&)>;

// A window that paints a background colour, an optional raised bevel and its windowless
// children, double-buffered. The form and every panel are containers.
class Container {
  public:
    // Registers the window class once; style decides popup (the form) or child (a panel).
    Container(HWND parent, const std::wstring& caption, DWORD style, DWORD exStyle,
              const RECT& bounds);
    ~Container();
    Container(const Container&) = delete;
    Container& operator=(const Container&) = delete;

    HWND Window() const { return window_; }
    skin::WindowlessHost& Host() { return *host_; }
    void SetColor(COLORREF color);
    COLORREF Color() const { return color_; }
    void SetBevel(int width) { bevel_ = width; }
    int Bevel() const { return bevel_; }
    void SetSink(MessageSink sink) { sink_ = std::move(sink); }
    // Called after every change of the client size (the form re-docks its children here).
    std::function<void()> OnResize;

    // Paints what lies below a windowed child at rect (client coordinates of this container)
    // into dc, whose origin is the child's top-left corner: background and windowless children.
    void PaintBelow(HDC dc, const RECT& rect);

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void PaintContent(HDC dc, const RECT& clip);

    HWND window_ = nullptr;
    std::unique_ptr<skin::WindowlessHost> host_;
    COLORREF color_;
    int bevel_ = 0;
    MessageSink sink_;
};

// A text painted by its parent, with its own font and colour; transparent unless given a
// background colour. Auto-sized to its text.
class Label : public skin::WindowlessControl {
  public:
    void SetCaption(const std::string& utf8);
    const std::string& Caption() const { return caption_; }
    void SetFont(win::Font font);
    HFONT Font() const { return font_.get(); }
    void SetTextColor(COLORREF color);
    COLORREF TextColor() const { return textColor_; }
    void SetTransparent(bool transparent) { transparent_ = transparent; }
    void SetBackground(COLORREF color) { background_ = color; }
    // The size the caption takes in the label's font.
    SIZE TextSize() const;

  protected:
    void Paint(HDC dc) override;

  private:
    void AutoSize();

    std::string caption_;
    win::Font font_;
    COLORREF textColor_ = RGB(0, 0, 0);
    COLORREF background_ = RGB(255, 255, 255);
    bool transparent_ = true;
};

// A flat tool button: an owner-drawn button window that draws what lies below it on its parent,
// a glyph above its caption, a raised edge while the pointer is over it and a sunken one while
// pressed. Drawing happens on WM_DRAWITEM, which its parent hands to Draw.
class ToolButton {
  public:
    ToolButton(Container& parent, int id, const RECT& bounds, const std::wstring& caption);
    ~ToolButton();
    ToolButton(const ToolButton&) = delete;
    ToolButton& operator=(const ToolButton&) = delete;

    HWND Window() const { return window_; }
    void SetGlyph(HBITMAP glyph);  // a copy is kept; the bottom-left pixel's colour is see-through
    void SetFont(win::Font font) { font_ = std::move(font); }
    void SetTextColor(COLORREF color) { textColor_ = color; }
    bool Hot() const { return hot_; }
    void Draw(const DRAWITEMSTRUCT& item);

  private:
    static LRESULT CALLBACK Subclass(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    void DrawGlyph(HDC dc, int x, int y, bool enabled);

    Container& parent_;
    HWND window_ = nullptr;
    win::Bitmap glyph_;
    win::Font font_;
    COLORREF textColor_ = RGB(0, 0, 0);
    bool hot_ = false;
};

// A font from a face, a height in pixels (negative: character height) and styles.
win::Font MakeFont(const std::string& face, int height, bool bold, bool italic, bool underline);

}  // namespace vellumor::app
