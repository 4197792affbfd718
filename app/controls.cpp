#include "app/controls.h"

#include <windowsx.h>

#include "win32/guard.h"
#include "win32/unicode.h"

namespace vellumor::app {

namespace {

constexpr const wchar_t* kContainerClass = L"VellumorContainer";

void RegisterContainerClass() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = DefWindowProcW;  // replaced per window at creation
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kContainerClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw std::runtime_error("The window class could not be registered");
    registered = true;
}

// Paints into a bitmap of the rectangle's size, then copies it to dc: no flicker.
template <typename Draw>
void Buffered(HDC dc, const RECT& rect, Draw&& draw) {
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return;
    win::MemoryDc memory(CreateCompatibleDC(dc));
    win::Bitmap bitmap(CreateCompatibleBitmap(dc, width, height));
    if (!memory || !bitmap) {
        draw(dc);
        return;
    }
    {
        win::SelectObjectScope select(memory.get(), bitmap.get());
        SetViewportOrgEx(memory.get(), -rect.left, -rect.top, nullptr);
        draw(memory.get());
        SetViewportOrgEx(memory.get(), 0, 0, nullptr);
        BitBlt(dc, rect.left, rect.top, width, height, memory.get(), 0, 0, SRCCOPY);
    }
}

}  // namespace

// ---- Container ----

Container::Container(HWND parent, const std::wstring& caption, DWORD style, DWORD exStyle,
                     const RECT& bounds)
    : color_(GetSysColor(COLOR_BTNFACE)) {
    RegisterContainerClass();
    window_ = CreateWindowExW(exStyle, kContainerClass, caption.c_str(), style, bounds.left,
                              bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top,
                              parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window_) throw std::runtime_error("A window could not be created");
    host_ = std::make_unique<skin::WindowlessHost>(window_);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Container::Procedure));
}

Container::~Container() {
    if (window_ && IsWindow(window_)) {
        SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW));
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        host_.reset();
        DestroyWindow(window_);
    }
}

void Container::SetColor(COLORREF color) {
    color_ = color;
    InvalidateRect(window_, nullptr, FALSE);
}

LRESULT CALLBACK Container::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Container*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    return win::Guarded([&]() -> LRESULT { return self->Handle(message, wParam, lParam); },
                        LRESULT{0});
}

LRESULT Container::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (host_ && host_->HandleMessage(message, wParam, lParam, result)) return result;
    if (sink_ && sink_(window_, message, wParam, lParam, result)) return result;
    switch (message) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            win::PaintDc paint(window_);
            const RECT clip = paint.info().rcPaint;
            Buffered(paint.get(), clip, [&](HDC dc) { PaintContent(dc, clip); });
            return 0;
        }
        case WM_PRINTCLIENT: {
            RECT client;
            GetClientRect(window_, &client);
            PaintContent(reinterpret_cast<HDC>(wParam), client);
            return 0;
        }
        case WM_SIZE:
            if (OnResize) OnResize();
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void Container::PaintContent(HDC dc, const RECT& clip) {
    win::Brush background(CreateSolidBrush(color_));
    FillRect(dc, &clip, background.get());
    if (host_) host_->Paint(dc, clip);
    if (bevel_ > 0) {
        RECT client;
        GetClientRect(window_, &client);
        DrawEdge(dc, &client, BDR_RAISEDINNER, BF_RECT);
    }
}

void Container::PaintBelow(HDC dc, const RECT& rect) {
    POINT old;
    SetViewportOrgEx(dc, -rect.left, -rect.top, &old);
    const int saved = SaveDC(dc);
    PaintContent(dc, rect);
    RestoreDC(dc, saved);
    SetViewportOrgEx(dc, old.x, old.y, nullptr);
}

// ---- Label ----

void Label::SetCaption(const std::string& utf8) {
    if (utf8 == caption_) return;
    caption_ = utf8;
    AutoSize();
    Invalidate();
}

void Label::SetFont(win::Font font) {
    font_ = std::move(font);
    AutoSize();
}

void Label::SetTextColor(COLORREF color) {
    textColor_ = color;
    Invalidate();
}

SIZE Label::TextSize() const {
    win::WindowDc screen(nullptr);
    win::SelectObjectScope select(screen.get(),
                                  font_ ? (HGDIOBJ)font_.get() : GetStockObject(DEFAULT_GUI_FONT));
    const std::wstring text = win::Widen(caption_);
    SIZE size = {0, 0};
    TEXTMETRICW metrics = {};
    GetTextMetricsW(screen.get(), &metrics);
    if (!text.empty()) GetTextExtentPoint32W(screen.get(), text.c_str(), (int)text.size(), &size);
    size.cy = metrics.tmHeight;
    return size;
}

void Label::AutoSize() {
    const SIZE size = TextSize();
    SetBounds(Left(), Top(), size.cx, size.cy);
}

void Label::Paint(HDC dc) {
    const RECT bounds = Bounds();
    if (!transparent_) {
        win::Brush brush(CreateSolidBrush(background_));
        FillRect(dc, &bounds, brush.get());
    }
    if (caption_.empty()) return;
    std::wstring text = win::Widen(caption_);
    win::SelectObjectScope select(dc,
                                  font_ ? (HGDIOBJ)font_.get() : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    const UINT format = DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX;
    RECT r = bounds;
    if (!Enabled()) {
        // Greyed like a disabled control's text: a light copy one pixel down and right.
        RECT light = {r.left + 1, r.top + 1, r.right + 1, r.bottom + 1};
        ::SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
        DrawTextW(dc, text.c_str(), (int)text.size(), &light, format);
        ::SetTextColor(dc, GetSysColor(COLOR_BTNSHADOW));
    } else {
        ::SetTextColor(dc, textColor_);
    }
    DrawTextW(dc, text.c_str(), (int)text.size(), &r, format);
}

// ---- ToolButton ----

ToolButton::ToolButton(Container& parent, int id, const RECT& bounds, const std::wstring& caption)
    : parent_(parent) {
    window_ = CreateWindowExW(0, L"BUTTON", caption.c_str(),
                              WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_OWNERDRAW, bounds.left,
                              bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top,
                              parent.Window(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                              GetModuleHandleW(nullptr), nullptr);
    if (!window_) throw std::runtime_error("A button could not be created");
    SetWindowSubclass(window_, &ToolButton::Subclass, 1, reinterpret_cast<DWORD_PTR>(this));
}

ToolButton::~ToolButton() {
    if (window_ && IsWindow(window_)) {
        RemoveWindowSubclass(window_, &ToolButton::Subclass, 1);
        DestroyWindow(window_);
    }
}

void ToolButton::SetGlyph(HBITMAP glyph) {
    glyph_ = skin::CopyBitmap(glyph);
    InvalidateRect(window_, nullptr, FALSE);
}

// Works like a tool button of a toolbar: a click never takes the keyboard focus from the control
// that has it (the list keeps its selection shown), and a quick second click is a click too.
LRESULT CALLBACK ToolButton::Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR, DWORD_PTR data) {
    auto* self = reinterpret_cast<ToolButton*>(data);
    return win::Guarded(
        [&]() -> LRESULT {
            switch (message) {
                case WM_MOUSEMOVE:
                    if (GetCapture() == window) {
                        // Held: pressed while over the button, raised when dragged off.
                        RECT client;
                        GetClientRect(window, &client);
                        const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
                        const bool inside = PtInRect(&client, at) != FALSE;
                        const bool pushed = SendMessageW(window, BM_GETSTATE, 0, 0) & BST_PUSHED;
                        if (inside != pushed) SendMessageW(window, BM_SETSTATE, inside, 0);
                    }
                    if (!self->hot_) {
                        self->hot_ = true;
                        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
                        TrackMouseEvent(&track);
                        InvalidateRect(window, nullptr, FALSE);
                    }
                    return 0;
                case WM_MOUSELEAVE:
                    self->hot_ = false;
                    InvalidateRect(window, nullptr, FALSE);
                    return 0;
                case WM_LBUTTONDOWN:
                case WM_LBUTTONDBLCLK:
                    SetCapture(window);
                    SendMessageW(window, BM_SETSTATE, TRUE, 0);
                    return 0;
                case WM_LBUTTONUP: {
                    const bool pressed = SendMessageW(window, BM_GETSTATE, 0, 0) & BST_PUSHED;
                    if (GetCapture() == window) ReleaseCapture();
                    SendMessageW(window, BM_SETSTATE, FALSE, 0);
                    RECT client;
                    GetClientRect(window, &client);
                    POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
                    if (pressed && PtInRect(&client, at) && IsWindowEnabled(window)) {
                        SendMessageW(GetParent(window), WM_COMMAND,
                                     MAKEWPARAM(GetDlgCtrlID(window), BN_CLICKED),
                                     reinterpret_cast<LPARAM>(window));
                    }
                    return 0;
                }
                case WM_CAPTURECHANGED:
                    SendMessageW(window, BM_SETSTATE, FALSE, 0);
                    return 0;
                case WM_SETFOCUS:
                case WM_KEYDOWN:
                case WM_KEYUP:
                    return 0;
                case WM_ERASEBKGND:
                    return 1;
                default:
                    return DefSubclassProc(window, message, wParam, lParam);
            }
        },
        LRESULT{0});
}

void ToolButton::Draw(const DRAWITEMSTRUCT& item) {
    RECT client = item.rcItem;
    RECT inParent = client;
    MapWindowPoints(window_, parent_.Window(), reinterpret_cast<POINT*>(&inParent), 2);
    const bool enabled = IsWindowEnabled(window_);
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    wchar_t caption[128] = {};
    GetWindowTextW(window_, caption, 128);

    Buffered(item.hDC, client, [&](HDC dc) {
        parent_.PaintBelow(dc, inParent);
        const int width = client.right - client.left, height = client.bottom - client.top;
        if (!glyph_ && caption[0] == 0) {
            // A separator: one dark line down the middle with a light one beside it.
            win::Brush dark(CreateSolidBrush(RGB(34, 96, 44)));
            RECT line{width / 2, 0, width / 2 + 1, height};
            FillRect(dc, &line, dark.get());
            return;
        }
        const int offset = pressed ? 1 : 0;
        SIZE glyph = glyph_ ? skin::BitmapSize(glyph_.get()) : SIZE{0, 0};
        SIZE text = {0, 0};
        win::SelectObjectScope font(
            dc, font_ ? (HGDIOBJ)font_.get() : GetStockObject(DEFAULT_GUI_FONT));
        if (caption[0]) {
            RECT measure{0, 0, width, height};
            DrawTextW(dc, caption, -1, &measure, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
            text = {measure.right - measure.left, measure.bottom - measure.top};
        }
        const int spacing = (glyph.cy && text.cy) ? 4 : 0;
        const int total = glyph.cy + spacing + text.cy;
        const int top = (height - total + 1) / 2;
        if (glyph_) DrawGlyph(dc, (width - glyph.cx + 1) / 2 + offset, top + offset, enabled);
        if (caption[0]) {
            RECT textRect{offset, top + glyph.cy + spacing + offset, width + offset,
                          top + total + offset};
            SetBkMode(dc, TRANSPARENT);
            ::SetTextColor(dc, enabled ? textColor_ : GetSysColor(COLOR_GRAYTEXT));
            DrawTextW(dc, caption, -1, &textRect, DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
        }
        RECT edge = client;
        if (pressed)
            DrawEdge(dc, &edge, BDR_SUNKENOUTER, BF_RECT);
        else if (hot_ && enabled)
            DrawEdge(dc, &edge, BDR_RAISEDINNER, BF_RECT);
    });
}

void ToolButton::DrawGlyph(HDC dc, int x, int y, bool enabled) {
    const SIZE size = skin::BitmapSize(glyph_.get());
    win::MemoryDc source(CreateCompatibleDC(dc));
    win::SelectObjectScope select(source.get(), glyph_.get());
    const COLORREF key = GetPixel(source.get(), 0, size.cy - 1);
    TransparentBlt(dc, x, y, size.cx, size.cy, source.get(), 0, 0, size.cx, size.cy, key);
}

win::Font MakeFont(const std::string& face, int height, bool bold, bool italic, bool underline) {
    return win::Font(CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, italic, underline,
                                 FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                 DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                 win::Widen(face).c_str()));
}

}  // namespace vellumor::app
