// The frame's drawing pieces on synthetic art whose every pixel tells where it came from.
#include <gtest/gtest.h>

#include "skin/frame.h"
#include "test_window.h"

namespace vellumor::skin::test {
namespace {

// A 24-bit picture whose pixel (x, y) is color(x, y).
template <typename Color>
win::Bitmap Synthetic(int width, int height, Color color) {
    win::Bitmap bitmap = SolidBitmap(width, height, 0);
    win::MemoryDc dc(CreateCompatibleDC(nullptr));
    win::SelectObjectScope select(dc.get(), bitmap.get());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) SetPixelV(dc.get(), x, y, color(x, y));
    }
    return bitmap;
}

COLORREF TitleSource(int x, int y) {
    return RGB(x & 0xFF, (x >> 8) * 64 + y, 50);
}
COLORREF SheetSource(int x, int y) {
    return RGB(x, y, 7);
}

TEST(FrameTitle, EndsUnscaledAndTheMiddleColumnStretched) {
    Picture source;
    source.SetAutoSize(true);
    win::Bitmap art = Synthetic(799, 37, TitleSource);
    source.SetPicture(art.get());
    ASSERT_EQ(source.Width(), 799);

    for (int width : {724, 1280}) {
        Picture title;
        title.SetBounds(0, 0, width, 33);
        StretchTitleBar(title, source, kTitleEndWidth, kTitleStripHeight);
        ASSERT_EQ(BitmapSize(title.PictureHandle()).cx, width);
        ASSERT_EQ(BitmapSize(title.PictureHandle()).cy, 33);
        for (int y : {0, 17, 32}) {
            for (int x = 0; x < width; ++x) {
                const int from = x < 200 ? x : x < width - 200 ? 200 : x - width + 799;
                ASSERT_EQ(BitmapPixel(title.PictureHandle(), x, y), TitleSource(from, y))
                    << "width " << width << " at " << x << "," << y;
            }
        }
    }
}

TEST(FrameButtons, CellsCutFromTheSheetAndPlacedFromTheRightEdge) {
    Picture sheet;
    sheet.SetAutoSize(true);
    win::Bitmap art = Synthetic(101, 93, SheetSource);
    sheet.SetPicture(art.get());

    for (int column : {kMinimiseColumn, kMaximiseColumn, kCloseColumn, kRestoreColumn}) {
        TImgBtn button;
        CutButtonPics(button, sheet, kFrameButtonWidth, kFrameButtonHeight, column, 0);
        EXPECT_EQ(BitmapSize(button.Pic()).cx, 25);
        EXPECT_EQ(BitmapSize(button.Pic()).cy, 31);
        EXPECT_EQ(BitmapPixel(button.Pic(), 0, 0), SheetSource(column, 0));
        EXPECT_EQ(BitmapPixel(button.Pic(), 24, 30), SheetSource(column + 24, 30));
        EXPECT_EQ(BitmapPixel(button.PicUp(), 0, 0), SheetSource(column, 31));
        EXPECT_EQ(BitmapPixel(button.PicDown(), 24, 30), SheetSource(column + 24, 92));
        EXPECT_EQ(BitmapPixel(button.PictureHandle(), 3, 4), SheetSource(column + 3, 4));
        EXPECT_EQ(button.PicDisable(), nullptr);
    }

    HostWindow w(0, 0, 300, 100);
    Picture title;
    TImgBtn minimise, maximise, close;
    for (TImgBtn* b : {&close, &maximise, &minimise}) {
        b->SetBounds(0, 0, 25, 31);
        w.host().Add(*b);
    }
    w.host().Add(title);  // above the buttons until they are brought to the front
    for (int width : {724, 1920}) {
        PlaceFrameButtons(w.host(), minimise, maximise, close, width);
        EXPECT_EQ(minimise.Left(), width - 87);
        EXPECT_EQ(maximise.Left(), width - 62);
        EXPECT_EQ(close.Left(), width - 37);
        EXPECT_EQ(close.Top(), 3);
        EXPECT_EQ(close.Left() + close.Width(), width - 12);
        EXPECT_EQ(close.Height(), 31);
    }
    EXPECT_EQ(w.host().Controls(),
              (std::vector<WindowlessControl*>{&title, &minimise, &maximise, &close}));
}

// Bounding box of the pixels of one colour.
RECT BoxOf(HBITMAP bitmap, COLORREF color) {
    const SIZE size = BitmapSize(bitmap);
    RECT box{size.cx, size.cy, -1, -1};
    win::MemoryDc dc(CreateCompatibleDC(nullptr));
    win::SelectObjectScope select(dc.get(), bitmap);
    for (int y = 0; y < size.cy; ++y) {
        for (int x = 0; x < size.cx; ++x) {
            if (GetPixel(dc.get(), x, y) != color) continue;
            box.left = std::min<LONG>(box.left, x);
            box.top = std::min<LONG>(box.top, y);
            box.right = std::max<LONG>(box.right, x + 1);
            box.bottom = std::max<LONG>(box.bottom, y + 1);
        }
    }
    return box;
}

TEST(FrameTitle, CaptionFontsAndClipping) {
    Picture title;
    title.SetBounds(0, 0, 724, 33);
    win::Bitmap dark = SolidBitmap(724, 33, RGB(0, 40, 90));
    title.SetPicture(dark.get());
    DrawTitleCaption(title, L"Vellumor 2.6", kCaptionStartColor, kCaptionStartFont);
    const RECT start = BoxOf(title.PictureHandle(), kCaptionStartColor);
    ASSERT_GT(start.right, start.left) << "no caption drawn";
    EXPECT_GE(start.left, 34);

    title.SetPicture(dark.get());
    DrawTitleCaption(title, L"Vellumor 2.6", kCaptionColor, kCaptionFont);
    const RECT later = BoxOf(title.PictureHandle(), kCaptionColor);
    ASSERT_GT(later.right, later.left);
    EXPECT_GE(later.left, 34);
    // Bold 10 points is wider and taller than regular 8 points; both vertically centred.
    EXPECT_GT(start.right - start.left, later.right - later.left);
    EXPECT_GT(start.bottom - start.top, later.bottom - later.top);
    EXPECT_NEAR((start.top + start.bottom) / 2.0, 33 / 2.0 + 1, 3);
    EXPECT_NEAR((later.top + later.bottom) / 2.0, 33 / 2.0 + 1, 3);

    // A caption wider than the rectangle is cut off at x 284.
    title.SetPicture(dark.get());
    DrawTitleCaption(title, std::wstring(80, L'W'), kCaptionColor, kCaptionFont);
    const RECT cut = BoxOf(title.PictureHandle(), kCaptionColor);
    EXPECT_LE(cut.right, 284);
    EXPECT_GE(cut.right, 270);
}

TEST(FrameWindow, RoundedRegionAndLabelPlace) {
    HostWindow w(0, 0, 724, 534);
    SetRoundRegion(w.window(), 724, 534);
    win::Region region(CreateRectRgn(0, 0, 0, 0));
    ASSERT_NE(GetWindowRgn(w.window(), region.get()), ERROR);
    RECT box{};
    GetRgnBox(region.get(), &box);
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.top, 0);
    EXPECT_EQ(box.right, 724);
    EXPECT_EQ(box.bottom, 534);
    EXPECT_FALSE(PtInRegion(region.get(), 0, 0));  // rounded corners
    EXPECT_TRUE(PtInRegion(region.get(), 3, 3));
    EXPECT_TRUE(PtInRegion(region.get(), 362, 533));
    EXPECT_FALSE(PtInRegion(region.get(), 723, 533));

    EXPECT_EQ(StatusLabelPosition(RECT{0, 0, 716, 73}, 716).x, 518);
    EXPECT_EQ(StatusLabelPosition(RECT{0, 0, 716, 73}, 716).y, 40);
    EXPECT_EQ(StatusLabelPosition(RECT{0, 0, 1912, 73}, 1912).x, 1116);
    EXPECT_EQ(StatusLabelPosition(RECT{0, 0, 717, 73}, 717).x, 518);  // rounded down
}

}  // namespace
}  // namespace vellumor::skin::test
