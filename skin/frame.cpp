#include "skin/frame.h"

#include <stdexcept>

#include "win32/handles.h"

namespace vellumor::skin {

namespace {

// A 24-bit device-independent bitmap, the kind every skin picture is.
win::Bitmap NewBitmap(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width > 0 ? width : 1;
    info.bmiHeader.biHeight = height > 0 ? height : 1;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    win::Bitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap) throw std::runtime_error("Out of system resources");
    return bitmap;
}

win::MemoryDc NewMemoryDc() {
    win::MemoryDc dc(CreateCompatibleDC(nullptr));
    if (!dc) throw std::runtime_error("Out of system resources");
    return dc;
}

}  // namespace

void StretchTitleBar(Picture& Target, const Picture& Source, int EndWidth, int StripHeight) {
    const int width = Target.Width();
    win::Bitmap composed = NewBitmap(width, Target.Height());
    {
        win::MemoryDc to = NewMemoryDc();
        win::MemoryDc from = NewMemoryDc();
        win::SelectObjectScope selectTo(to.get(), composed.get());
        win::SelectObjectScope selectFrom(from.get(), Source.PictureHandle());
        const int sourceWidth = Source.Width();
        BitBlt(to.get(), 0, 0, EndWidth, StripHeight, from.get(), 0, 0, SRCCOPY);
        SetStretchBltMode(to.get(), COLORONCOLOR);
        StretchBlt(to.get(), EndWidth, 0, width - 2 * EndWidth, StripHeight, from.get(), EndWidth,
                   0, 1, StripHeight, SRCCOPY);
        BitBlt(to.get(), width - EndWidth, 0, EndWidth, StripHeight, from.get(),
               sourceWidth - EndWidth, 0, SRCCOPY);
    }
    Target.SetPicture(composed.get());
}

void CutButtonPics(TImgBtn& Button, const Picture& Sheet, int CellWidth, int CellHeight, int X,
                   int Y) {
    win::Bitmap cells[3] = {NewBitmap(CellWidth, CellHeight), NewBitmap(CellWidth, CellHeight),
                            NewBitmap(CellWidth, CellHeight)};
    {
        win::MemoryDc to = NewMemoryDc();
        win::MemoryDc from = NewMemoryDc();
        win::SelectObjectScope selectFrom(from.get(), Sheet.PictureHandle());
        for (int row = 0; row < 3; ++row) {
            win::SelectObjectScope selectTo(to.get(), cells[row].get());
            BitBlt(to.get(), 0, 0, CellWidth, CellHeight, from.get(), X, Y + row * CellHeight,
                   SRCCOPY);
        }
    }
    Button.SetPic(cells[0].get());
    Button.SetPicUp(cells[1].get());
    Button.SetPicDown(cells[2].get());
}

void SetRoundRegion(HWND window, int width, int height) {
    win::Region region(CreateRoundRectRgn(0, 0, width + 1, height + 1, 6, 6));
    if (!region) throw std::runtime_error("Out of system resources");
    // The system owns the region once it has taken it.
    if (SetWindowRgn(window, region.get(), TRUE)) region.release();
}

void PlaceFrameButtons(WindowlessHost& host, TImgBtn& minimise, TImgBtn& maximise, TImgBtn& close,
                       int windowWidth) {
    const struct {
        TImgBtn& button;
        int offset;
    } buttons[] = {{minimise, kMinimiseOffset}, {maximise, kMaximiseOffset}, {close, kCloseOffset}};
    for (const auto& b : buttons) {
        host.BringToFront(b.button);
        b.button.SetBounds(windowWidth - b.offset, kFrameButtonTop, b.button.Width(),
                           b.button.Height());
    }
}

void DrawTitleIcon(Picture& title, HICON icon) {
    if (!icon) return;
    title.DrawOnPicture(
        [&](HDC dc) { DrawIconEx(dc, 10, 5, icon, 16, 16, 0, nullptr, DI_NORMAL); });
}

void DrawTitleCaption(Picture& title, const std::wstring& caption, COLORREF color,
                      const CaptionFont& font) {
    title.DrawOnPicture([&](HDC dc) {
        const int pixelsPerInch = [] {
            win::WindowDc screen(nullptr);
            return GetDeviceCaps(screen.get(), LOGPIXELSY);
        }();
        win::Font face(CreateFontW(-MulDiv(font.points, pixelsPerInch, 72), 0, 0, 0,
                                   font.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                                   DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   DEFAULT_QUALITY, DEFAULT_PITCH, L"MS Sans Serif"));
        win::SelectObjectScope select(dc, face.get());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, color);
        RECT rect = kCaptionRect;
        rect.bottom = title.Height();
        DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &rect,
                  DT_SINGLELINE | DT_VCENTER);
    });
}

POINT StatusLabelPosition(const RECT& toolbarPicture, int panelWidth) {
    return POINT{toolbarPicture.left + panelWidth / 2 + 160, toolbarPicture.top + 40};
}

int MaximisedHeight() {
    return GetSystemMetrics(SM_CYSCREEN) - 30;
}

}  // namespace vellumor::skin
