// The skinned frame and the list styling on the real main window, built from its stored layout
// and driven with mouse messages: geometry at the design size and maximised, the outline, the
// title bar's picture and caption, the frame buttons' pictures, and what the title bar ignores.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "filelist/list_style.h"
#include "skin/frame.h"
#include "tests/win/app/form_test_support.h"
#include "tests/win/skin/test_window.h"

namespace vellumor::test {
namespace {

using skin::test::BitmapPixel;
using skin::test::WindowPixel;

RECT WindowRectOf(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

bool Same(RECT a, RECT b) {
    return EqualRect(&a, &b) != FALSE;
}

RECT RegionBox(HWND window) {
    win::Region region(CreateRectRgn(0, 0, 0, 0));
    RECT box{-1, -1, -1, -1};
    if (GetWindowRgn(window, region.get()) != ERROR) GetRgnBox(region.get(), &box);
    return box;
}

// Pixels of one colour inside the caption rectangle of the title picture, and their box.
struct Ink {
    int count = 0;
    RECT box{10000, 10000, -1, -1};
};
Ink InkOf(HBITMAP title, COLORREF color) {
    Ink ink;
    win::MemoryDc dc(CreateCompatibleDC(nullptr));
    win::SelectObjectScope select(dc.get(), title);
    for (int y = 0; y < 33; ++y) {
        for (int x = 34; x < 284; ++x) {
            if (GetPixel(dc.get(), x, y) != color) continue;
            ++ink.count;
            ink.box.left = std::min<LONG>(ink.box.left, x);
            ink.box.top = std::min<LONG>(ink.box.top, y);
            ink.box.right = std::max<LONG>(ink.box.right, x + 1);
            ink.box.bottom = std::max<LONG>(ink.box.bottom, y + 1);
        }
    }
    return ink;
}

class FrameTest : public FormTest {
  protected:
    HWND Window() { return form->Handle(); }
    void Send(UINT message, POINT at, WPARAM keys = 0) {
        SendMessageW(Window(), message, keys, MAKELPARAM(at.x, at.y));
    }
    static POINT Centre(const skin::WindowlessControl& c) {
        return POINT{c.Left() + c.Width() / 2, c.Top() + c.Height() / 2};
    }
    void ClickOn(const skin::WindowlessControl& c) {
        Send(WM_LBUTTONDOWN, Centre(c), MK_LBUTTON);
        Send(WM_LBUTTONUP, Centre(c));
        PumpMessages();
    }
    // A point of the title bar away from the icon, the caption and the buttons.
    POINT TitlePoint() { return POINT{form->Image1->Width() / 2 + 40, 16}; }

    // The button shows the sprite sheet's cells of this column.
    void ExpectButtonColumn(const skin::TImgBtn& button, int column) {
        HBITMAP sheet = form->ImageM->PictureHandle();
        for (POINT p : {POINT{3, 3}, POINT{12, 15}, POINT{20, 27}}) {
            EXPECT_EQ(BitmapPixel(button.Pic(), p.x, p.y), BitmapPixel(sheet, column + p.x, p.y));
            EXPECT_EQ(BitmapPixel(button.PicUp(), p.x, p.y),
                      BitmapPixel(sheet, column + p.x, p.y + 31));
            EXPECT_EQ(BitmapPixel(button.PicDown(), p.x, p.y),
                      BitmapPixel(sheet, column + p.x, p.y + 62));
        }
    }

    // Everything the frame derives from the window's size.
    void ExpectFrameFor(int width, int height) {
        SCOPED_TRACE(testing::Message() << "frame for " << width << "x" << height);
        const RECT box = RegionBox(Window());
        EXPECT_EQ(box.left, 0);
        EXPECT_EQ(box.top, 0);
        EXPECT_EQ(box.right, width);
        EXPECT_EQ(box.bottom, height);
        EXPECT_EQ(form->Image1->Width(), width);
        EXPECT_EQ(skin::BitmapSize(form->Image1->PictureHandle()).cx, width);
        EXPECT_EQ(form->ImgBtnMin->Left(), width - 87);
        EXPECT_EQ(form->ImgBtnMax->Left(), width - 62);
        EXPECT_EQ(form->ImgBtnClose->Left(), width - 37);
        for (auto* b : {form->ImgBtnMin, form->ImgBtnMax, form->ImgBtnClose}) {
            EXPECT_EQ(b->Top(), 3);
            EXPECT_EQ(b->Width(), 25);
            EXPECT_EQ(b->Height(), 31);
        }
        RECT panel{};
        GetClientRect(form->Panel1->window, &panel);
        EXPECT_EQ(panel.right, width - 8);
        EXPECT_EQ(form->Label1->Left(), (width - 8) / 2 + 160);
        EXPECT_EQ(form->Label1->Top(), 40);
        // The title's ends come unscaled from the source, the middle from its column 200.
        HBITMAP title = form->Image1->PictureHandle(), source = form->ImageTop->PictureHandle();
        EXPECT_EQ(BitmapPixel(title, 5, 32), BitmapPixel(source, 5, 32));
        EXPECT_EQ(BitmapPixel(title, 300, 1), BitmapPixel(source, 200, 1));
        EXPECT_EQ(BitmapPixel(title, width - 250, 20), BitmapPixel(source, 200, 20));
        EXPECT_EQ(BitmapPixel(title, width - 5, 30), BitmapPixel(source, 794, 30));
        EXPECT_EQ(BitmapPixel(title, width - 199, 2), BitmapPixel(source, 600, 2));
    }
};

TEST_F(FrameTest, DesignSizeFrame) {
    EXPECT_EQ(WindowRectOf(Window()).left, 308);
    EXPECT_EQ(WindowRectOf(Window()).top, 118);
    ExpectFrameFor(724, 534);
    EXPECT_EQ(form->Label1->Left(), 518);  // the design place, in Panel1

    // Rounded corners: the outermost corner pixel lies outside the window's outline.
    win::Region region(CreateRectRgn(0, 0, 0, 0));
    GetWindowRgn(Window(), region.get());
    EXPECT_FALSE(PtInRegion(region.get(), 0, 0));
    EXPECT_FALSE(PtInRegion(region.get(), 723, 533));
    EXPECT_TRUE(PtInRegion(region.get(), 4, 4));

    // The buttons lie above the title bar and show their normal cells.
    const auto& controls = form->Form->container->Host().Controls();
    const auto index = [&](const skin::WindowlessControl* c) {
        return std::find(controls.begin(), controls.end(), c) - controls.begin();
    };
    EXPECT_GT(index(form->ImgBtnMin), index(form->Image1));
    EXPECT_GT(index(form->ImgBtnClose), index(form->ImgBtnMax));
    EXPECT_GT(index(form->ImgBtnMax), index(form->ImgBtnMin));
    ExpectButtonColumn(*form->ImgBtnMin, skin::kMinimiseColumn);
    ExpectButtonColumn(*form->ImgBtnMax, skin::kMaximiseColumn);
    ExpectButtonColumn(*form->ImgBtnClose, skin::kCloseColumn);
    EXPECT_EQ(form->ImgBtnClose->PicDisable(), nullptr);

    // On screen: the composed title and a frame button as they are painted.
    const POINT t = TitlePoint();
    EXPECT_EQ(WindowPixel(Window(), t.x, t.y),
              BitmapPixel(form->Image1->PictureHandle(), t.x, t.y));
    EXPECT_EQ(WindowPixel(Window(), 724 - 37 + 12, 3 + 15),
              BitmapPixel(form->ImgBtnClose->Pic(), 12, 15));
}

TEST_F(FrameTest, CaptionYellowBoldUntilTheFirstResizeThenWhiteRegular) {
    const Ink start = InkOf(form->Image1->PictureHandle(), skin::kCaptionStartColor);
    EXPECT_GT(start.count, 40);
    EXPECT_EQ(InkOf(form->Image1->PictureHandle(), skin::kCaptionColor).count, 0);
    // The icon sits at (10, 5), 16 by 16, over the title's own pixels.
    HBITMAP title = form->Image1->PictureHandle(), source = form->ImageTop->PictureHandle();
    int iconPixels = 0;
    for (int y = 5; y < 21; ++y)
        for (int x = 10; x < 26; ++x)
            iconPixels += BitmapPixel(title, x, y) != BitmapPixel(source, x, y);
    EXPECT_GT(iconPixels, 60);

    // Showing the window again or restoring it from the taskbar is no change of size.
    ClickOn(*form->ImgBtnMin);
    EXPECT_TRUE(IsIconic(Window()));
    ShowWindow(Window(), SW_RESTORE);
    PumpMessages();
    EXPECT_FALSE(IsIconic(Window()));
    ExpectFrameFor(724, 534);
    EXPECT_EQ(InkOf(form->Image1->PictureHandle(), skin::kCaptionStartColor).count, start.count);

    ClickOn(*form->ImgBtnMax);
    ClickOn(*form->ImgBtnMax);
    ASSERT_FALSE(IsZoomed(Window()));
    const Ink later = InkOf(form->Image1->PictureHandle(), skin::kCaptionColor);
    EXPECT_GT(later.count, 30);
    EXPECT_EQ(InkOf(form->Image1->PictureHandle(), skin::kCaptionStartColor).count, 0);
    EXPECT_LT(later.box.right - later.box.left, start.box.right - start.box.left);
    EXPECT_LT(later.box.bottom - later.box.top, start.box.bottom - start.box.top);
    EXPECT_GE(later.box.left, 34);
}

TEST_F(FrameTest, MaximiseToggleSwapsPicturesAndLaysOutForTheScreen) {
    const POINT atMax = Centre(*form->ImgBtnMax);
    RECT listBefore{};
    GetClientRect(form->ListView1, &listBefore);
    ClickOn(*form->ImgBtnMax);
    ASSERT_TRUE(IsZoomed(Window()));
    const RECT zoomed = WindowRectOf(Window());
    const int width = zoomed.right - zoomed.left;
    EXPECT_EQ(zoomed.bottom - zoomed.top, GetSystemMetrics(SM_CYSCREEN) - 30);
    EXPECT_GE(width, 724);
    ExpectFrameFor(width, GetSystemMetrics(SM_CYSCREEN) - 30);
    ExpectButtonColumn(*form->ImgBtnMax, skin::kRestoreColumn);
    // The list's background spans the whole list in one piece, old part and new part alike.
    RECT list{};
    GetClientRect(form->ListView1, &list);
    EXPECT_EQ(WindowPixel(form->ListView1, 5, listBefore.bottom - 1),
              WindowPixel(form->ListView1, list.right - 5, listBefore.bottom - 1));
    // The click ran before the release picture: the button, still marked hovered or not, shows
    // one of the new restore pictures.
    EXPECT_NE(BitmapPixel(form->ImgBtnMax->PictureHandle(), 12, 15),
              BitmapPixel(form->ImageM->PictureHandle(), 25 + 12, 15 + 31));

    // A left press on the title while maximised does nothing.
    Send(WM_LBUTTONDOWN, TitlePoint(), MK_LBUTTON);
    Send(WM_LBUTTONUP, TitlePoint());
    PumpMessages();
    EXPECT_TRUE(IsZoomed(Window()));
    EXPECT_TRUE(Same(zoomed, WindowRectOf(Window())));

    ClickOn(*form->ImgBtnMax);
    EXPECT_FALSE(IsZoomed(Window()));
    EXPECT_TRUE(Same(WindowRectOf(Window()), RECT{308, 118, 308 + 724, 118 + 534}));
    ExpectFrameFor(724, 534);
    ExpectButtonColumn(*form->ImgBtnMax, skin::kMaximiseColumn);
    EXPECT_EQ(Centre(*form->ImgBtnMax).x, atMax.x);

    // A change of state made some other way keeps the button's pictures.
    ShowWindow(Window(), SW_MAXIMIZE);
    PumpMessages();
    EXPECT_EQ(WindowRectOf(Window()).bottom - WindowRectOf(Window()).top,
              GetSystemMetrics(SM_CYSCREEN) - 30);
    ExpectButtonColumn(*form->ImgBtnMax, skin::kMaximiseColumn);
    ShowWindow(Window(), SW_SHOWNORMAL);
    PumpMessages();
}

TEST_F(FrameTest, DoubleClickOnTheTitleTogglesAndOtherButtonsDoNothing) {
    const RECT normal = WindowRectOf(Window());
    for (UINT down : {WM_RBUTTONDOWN, WM_MBUTTONDOWN}) {
        Send(down, TitlePoint(), down == WM_RBUTTONDOWN ? MK_RBUTTON : MK_MBUTTON);
        Send(down + 1, TitlePoint());
        PumpMessages();
        EXPECT_FALSE(IsZoomed(Window()));
        EXPECT_TRUE(Same(normal, WindowRectOf(Window())));
        EXPECT_EQ(GetCapture(), nullptr);
    }

    Send(WM_LBUTTONDBLCLK, TitlePoint(), MK_LBUTTON);
    Send(WM_LBUTTONUP, TitlePoint());
    PumpMessages();
    EXPECT_TRUE(IsZoomed(Window()));
    ExpectButtonColumn(*form->ImgBtnMax, skin::kRestoreColumn);
    Send(WM_LBUTTONDBLCLK, TitlePoint(), MK_LBUTTON);
    Send(WM_LBUTTONUP, TitlePoint());
    PumpMessages();
    EXPECT_FALSE(IsZoomed(Window()));
    EXPECT_TRUE(Same(normal, WindowRectOf(Window())));
    ExpectButtonColumn(*form->ImgBtnMax, skin::kMaximiseColumn);
}

TEST_F(FrameTest, LeftPressOnTheTitleRunsTheSystemMoveOnlyWhenNormal) {
    // The system's move loop takes the release from the queue; without it the release stays.
    MSG left{};
    ClickOn(*form->ImgBtnMax);
    ASSERT_TRUE(IsZoomed(Window()));
    const RECT zoomed = WindowRectOf(Window());
    PostMessageW(Window(), WM_LBUTTONUP, 0, MAKELPARAM(TitlePoint().x, TitlePoint().y));
    Send(WM_LBUTTONDOWN, TitlePoint(), MK_LBUTTON);
    EXPECT_TRUE(PeekMessageW(&left, Window(), WM_LBUTTONUP, WM_LBUTTONUP, PM_NOREMOVE));
    PumpMessages();
    EXPECT_TRUE(Same(zoomed, WindowRectOf(Window())));

    ClickOn(*form->ImgBtnMax);
    ASSERT_FALSE(IsZoomed(Window()));
    PostMessageW(Window(), WM_LBUTTONUP, 0, MAKELPARAM(TitlePoint().x, TitlePoint().y));
    Send(WM_LBUTTONDOWN, TitlePoint(), MK_LBUTTON);
    EXPECT_FALSE(PeekMessageW(&left, Window(), WM_LBUTTONUP, WM_LBUTTONUP, PM_NOREMOVE));
    PumpMessages();
    const RECT after = WindowRectOf(Window());
    EXPECT_EQ(after.right - after.left, 724);
    EXPECT_EQ(after.bottom - after.top, 534);
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(FrameTest, ListStyledAtStartUp) {
    HWND header = reinterpret_cast<HWND>(SendMessageW(form->ListView1, LVM_GETHEADER, 0, 0));
    RECT h{};
    GetClientRect(header, &h);
    EXPECT_EQ(WindowPixel(header, h.right - 6, h.bottom / 2), filelist::kHeaderColor);
    RECT list{};
    GetClientRect(form->ListView1, &list);
    HBITMAP background = form->ImageBk->PictureHandle();
    RedrawWindow(form->ListView1, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    EXPECT_EQ(WindowPixel(form->ListView1, list.right / 2, list.bottom - 1),
              BitmapPixel(background, 0, skin::BitmapSize(background).cy - 1));

    form->ShowProgressBar(true);
    SendMessageW(form->ProgressBar1, PBM_SETRANGE32, 0, 4);
    SendMessageW(form->ProgressBar1, PBM_SETPOS, 4, 0);
    RECT bar{};
    GetClientRect(form->ProgressBar1, &bar);
    int green = 0;
    for (int x = 2; x < bar.right - 2; ++x)
        green += WindowPixel(form->ProgressBar1, x, bar.bottom / 2) == filelist::kProgressBarColor;
    EXPECT_GT(green, (bar.right - 4) / 2);
}

}  // namespace
}  // namespace vellumor::test
