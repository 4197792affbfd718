// The list styling on real common controls (classic drawing, Wine's theme off): the tinted
// header, the gradient behind the rows, the green progress bar.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <vector>

#include "filelist/list_style.h"
#include "win32/guard.h"
#include "win32/handles.h"

namespace vellumor::filelist {
namespace {

constexpr COLORREF kTop = RGB(206, 238, 249);
constexpr COLORREF kBottom = RGB(166, 224, 248);

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// The 12 by 32 background: one colour per row, from kTop down to kBottom.
win::Bitmap Gradient() {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 12;
    info.bmiHeader.biHeight = -32;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    win::Bitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    auto* pixels = static_cast<DWORD*>(bits);
    auto mix = [](int a, int b, int y) { return a + (b - a) * y / 31; };
    for (int y = 0; y < 32; ++y) {
        const DWORD r = mix(206, 166, y), g = mix(238, 224, y), b = mix(249, 248, y);
        for (int x = 0; x < 12; ++x) pixels[y * 12 + x] = (r << 16) | (g << 8) | b;
    }
    return bitmap;
}

// The window's client area as the screen shows it, one COLORREF per pixel, row by row.
struct Capture {
    int width = 0, height = 0;
    std::vector<COLORREF> pixels;
    COLORREF at(int x, int y) const { return pixels[y * width + x]; }
};

Capture Grab(HWND window) {
    UpdateWindow(window);
    RECT client{};
    GetClientRect(window, &client);
    Capture out;
    out.width = client.right;
    out.height = client.bottom;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = out.width;
    info.bmiHeader.biHeight = -out.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    win::Bitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    win::MemoryDc memory(CreateCompatibleDC(nullptr));
    {
        win::SelectObjectScope select(memory.get(), bitmap.get());
        win::WindowDc dc(window);
        BitBlt(memory.get(), 0, 0, out.width, out.height, dc.get(), 0, 0, SRCCOPY);
    }
    GdiFlush();
    auto* p = static_cast<const DWORD*>(bits);
    for (int i = 0; i < out.width * out.height; ++i) {
        out.pixels.push_back(RGB((p[i] >> 16) & 0xFF, (p[i] >> 8) & 0xFF, p[i] & 0xFF));
    }
    return out;
}

// A top-level window holding a report list with three columns and a few rows, and a progress
// bar below it; it hands the list's custom draw to the styling when given a background.
class ListWindow {
  public:
    ListWindow(int left, int top, HBITMAP background) : background_(background) {
        static const bool registered = [] {
            INITCOMMONCONTROLSEX init{sizeof init, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
            InitCommonControlsEx(&init);
            WNDCLASSW wc{};
            wc.lpfnWndProc = Proc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
            wc.lpszClassName = L"VellumorListStyleTest";
            return RegisterClassW(&wc) != 0;
        }();
        (void)registered;
        window_ = CreateWindowExW(0, L"VellumorListStyleTest", L"list", WS_POPUP | WS_VISIBLE, left,
                                  top, 420, 240, nullptr, nullptr, GetModuleHandleW(nullptr), this);
        list_ = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 420,
                                200, window_, nullptr, GetModuleHandleW(nullptr), nullptr);
        const wchar_t* names[] = {L"Name", L"Path", L"Size"};
        for (int i = 0; i < 3; ++i) {
            LVCOLUMNW column{};
            column.mask = LVCF_TEXT | LVCF_WIDTH;
            column.cx = 100;
            column.pszText = const_cast<wchar_t*>(names[i]);
            SendMessageW(list_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
        }
        const wchar_t* rows[] = {L"report.docx", L"letter.doc", L"notes.docx"};
        for (int i = 0; i < 3; ++i) {
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = i;
            item.pszText = const_cast<wchar_t*>(rows[i]);
            SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        }
        bar_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 0, 210, 300, 17,
                               window_, nullptr, GetModuleHandleW(nullptr), nullptr);
        UpdateWindow(window_);
        Pump();
    }
    ~ListWindow() { DestroyWindow(window_); }
    HWND list() const { return list_; }
    HWND header() const { return reinterpret_cast<HWND>(SendMessageW(list_, LVM_GETHEADER, 0, 0)); }
    HWND bar() const { return bar_; }
    void Repaint(HWND child) {
        RedrawWindow(child, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        UpdateWindow(child);
        RedrawWindow(child, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    }

  private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        return win::Guarded([&] { return Handle(window, message, wParam, lParam); }, LRESULT{0});
    }
    static LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(
                                  reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        }
        auto* self = reinterpret_cast<ListWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_NOTIFY && self && self->background_) {
            auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
            if (draw->nmcd.hdr.code == NM_CUSTOMDRAW && draw->nmcd.hdr.hwndFrom == self->list_ &&
                draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
                bool defaultDraw = true;
                ListView1CustomDraw(self->list_, draw->nmcd.hdc, self->background_, defaultDraw);
                return CDRF_DODEFAULT;
            }
        }
        if (message == WM_SYSCOLORCHANGE) {
            // Children hear of new system colours from their parent.
            for (HWND child = GetWindow(window, GW_CHILD); child;
                 child = GetWindow(child, GW_HWNDNEXT)) {
                SendMessageW(child, message, wParam, lParam);
            }
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    HBITMAP background_;
    HWND window_ = nullptr;
    HWND list_ = nullptr;
    HWND bar_ = nullptr;
};

// Compares a styled header with a plain one of the same columns: wherever the plain one shows
// the button face the styled one shows the tint (or the black outline on the outermost pixels);
// everywhere else (captions, item edges) the two are the same.
void ExpectTintedLike(const Capture& plain, const Capture& styled, COLORREF face) {
    ASSERT_EQ(plain.width, styled.width);
    ASSERT_EQ(plain.height, styled.height);
    ASSERT_GT(plain.height, 8);
    int tinted = 0, kept = 0, wrong = 0;
    for (int y = 0; y < plain.height; ++y) {
        for (int x = 0; x < plain.width; ++x) {
            const COLORREF p = plain.at(x, y), s = styled.at(x, y);
            const bool border = x == 0 || y == 0 || x == plain.width - 1 || y == plain.height - 1;
            if (p != face) {
                kept += s == p;
                wrong += s != p;
            } else if (s == kHeaderColor) {
                ++tinted;
            } else if (!(border && s == RGB(0, 0, 0))) {
                ++wrong;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(tinted, plain.width * plain.height / 2);
    EXPECT_GT(kept, 50);  // captions and edges are there, unchanged
}

// Caption pixels: inside the first item's text, some pixels are neither tint nor face.
int CaptionPixels(const Capture& header, COLORREF face) {
    int count = 0;
    for (int y = 3; y < header.height - 3; ++y) {
        for (int x = 4; x < 40; ++x) {
            const COLORREF c = header.at(x, y);
            count += c != face && c != kHeaderColor;
        }
    }
    return count;
}

TEST(ListStyle, HeaderTintedBehindUnchangedCaptionsAndEdges) {
    ListWindow plain(0, 0, nullptr), styled(0, 400, nullptr);
    SetHeaderColor(styled.list(), kHeaderColor);
    Pump();
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const Capture plainHeader = Grab(plain.header()), styledHeader = Grab(styled.header());
    ExpectTintedLike(plainHeader, styledHeader, face);
    EXPECT_EQ(styledHeader.at(plainHeader.width - 20, plainHeader.height / 2), kHeaderColor);
    EXPECT_GT(CaptionPixels(styledHeader, face), 10);

    // A partial repaint still redoes the whole header.
    RECT part{0, 0, 10, 5};
    InvalidateRect(styled.header(), &part, TRUE);
    ExpectTintedLike(plainHeader, Grab(styled.header()), face);

    // A new button-face colour: the transparent colour follows it.
    const int index = COLOR_BTNFACE;
    const COLORREF newFace = RGB(230, 210, 190);
    ASSERT_TRUE(SetSysColors(1, &index, &newFace));
    struct Restore {
        COLORREF old;
        ~Restore() {
            const int i = COLOR_BTNFACE;
            SetSysColors(1, &i, &old);
        }
    } restore{face};
    Pump();
    plain.Repaint(plain.header());
    styled.Repaint(styled.header());
    const Capture plainAgain = Grab(plain.header());
    EXPECT_EQ(plainAgain.at(plainAgain.width - 20, plainAgain.height / 2), newFace);
    ExpectTintedLike(plainAgain, Grab(styled.header()), newFace);
}

TEST(ListStyle, RowsStandOnTheStretchedGradient) {
    win::Bitmap gradient = Gradient();
    ListWindow w(0, 0, gradient.get());
    w.Repaint(w.list());
    const Capture list = Grab(w.list());
    RECT headerRect{};
    GetWindowRect(w.header(), &headerRect);
    const int top = headerRect.bottom - headerRect.top;
    // Right of the columns: the gradient alone, darkening downward from the top colour to the
    // bottom colour over the whole client height.
    const int x = list.width - 30;
    for (int y = top + 1; y < list.height; ++y) {
        ASSERT_LE(GetRValue(list.at(x, y)), GetRValue(list.at(x, y - 1))) << "y " << y;
        ASSERT_LE(GetGValue(list.at(x, y)), GetGValue(list.at(x, y - 1))) << "y " << y;
    }
    EXPECT_GE(GetRValue(list.at(x, top)), 196);
    EXPECT_LE(GetRValue(list.at(x, list.height - 1)), 170);
    EXPECT_EQ(list.at(x, list.height - 1), kBottom);

    // Behind and between the row text: gradient, never the list's white.
    RECT row{LVIR_LABEL, 0, 0, 0};
    SendMessageW(w.list(), LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
    int text = 0, white = 0;
    for (int y = row.top; y < row.bottom; ++y) {
        for (int px = row.left; px < row.right; ++px) {
            const COLORREF c = list.at(px, y);
            white += c == RGB(255, 255, 255);
            text += GetRValue(c) < 100;
        }
    }
    EXPECT_EQ(white, 0);
    EXPECT_GT(text, 10);

    // Repainting one row squeezes the whole picture into that strip.
    RECT strip{LVIR_BOUNDS, 0, 0, 0};
    SendMessageW(w.list(), LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&strip));
    InvalidateRect(w.list(), &strip, TRUE);
    const Capture after = Grab(w.list());
    const int inside = strip.right - 20;  // the empty third column
    // (Shrunk with halftoning, the end rows are averages of a few source rows.)
    EXPECT_GE(GetRValue(after.at(inside, strip.top)), 202);
    EXPECT_LE(GetRValue(after.at(inside, strip.bottom - 1)), 170);
    EXPECT_EQ(after.at(inside, strip.bottom), list.at(inside, strip.bottom));  // below: unchanged
}

TEST(ListStyle, ProgressBarFillsGreenOnceTheLoopRuns) {
    ListWindow w(0, 0, nullptr);
    SetProgressBarColor(w.bar());
    SendMessageW(w.bar(), PBM_SETRANGE32, 0, 10);
    SendMessageW(w.bar(), PBM_SETPOS, 5, 0);
    auto green = [&](int from, int to) {
        const Capture bar = Grab(w.bar());
        int count = 0;
        for (int x = from; x < to; ++x) count += bar.at(x, bar.height / 2) == kProgressBarColor;
        return count;
    };
    EXPECT_EQ(green(0, 300), 0);  // posted: not yet
    Pump();
    w.Repaint(w.bar());
    EXPECT_GT(green(3, 140), 90);
    EXPECT_EQ(green(170, 290), 0);  // the empty half, inside the border
}

}  // namespace
}  // namespace vellumor::filelist
