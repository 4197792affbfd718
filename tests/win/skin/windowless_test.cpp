// Windowless controls in a real host window: stacking order, pictures, mouse routing with
// capture, and the enter/leave notifications of the idle processing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "skin/windowless.h"
#include "test_window.h"

namespace vellumor::skin::test {
namespace {

constexpr COLORREF kRed = RGB(200, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 200);

// A picture that records its routed input.
class Probe : public Picture {
  public:
    std::vector<std::string> log;

  protected:
    void MouseEnter() override { log.push_back("enter"); }
    void MouseLeave() override { log.push_back("leave"); }
};

TEST(WindowlessPainting, StackingOrderVisibilityAndEmptyPictures) {
    HostWindow w(50, 50, 200, 120);
    Picture below, above;
    below.SetBounds(10, 10, 60, 60);
    above.SetBounds(40, 40, 60, 60);
    win::Bitmap red = SolidBitmap(60, 60, kRed), blue = SolidBitmap(60, 60, kBlue);
    below.SetPicture(red.get());
    above.SetPicture(blue.get());
    w.host().Add(below);
    w.host().Add(above);

    EXPECT_EQ(WindowPixel(w.window(), 20, 20), kRed);
    EXPECT_EQ(WindowPixel(w.window(), 50, 50), kBlue);  // the later one lies on top
    EXPECT_EQ(WindowPixel(w.window(), 90, 90), kBlue);
    EXPECT_EQ(WindowPixel(w.window(), 150, 20), kBackground);

    w.host().BringToFront(below);
    EXPECT_EQ(WindowPixel(w.window(), 50, 50), kRed);

    below.SetVisible(false);
    EXPECT_EQ(WindowPixel(w.window(), 50, 50), kBlue);
    EXPECT_EQ(WindowPixel(w.window(), 20, 20), kBackground);

    above.SetPicture(nullptr);  // empty: what lies below shows through
    EXPECT_EQ(above.PictureHandle(), nullptr);
    EXPECT_EQ(WindowPixel(w.window(), 50, 50), kBackground);
}

TEST(WindowlessPainting, UnscaledAtTopLeftOrStretchedOverBounds) {
    HostWindow w(50, 50, 200, 120);
    Picture picture;
    picture.SetBounds(20, 20, 40, 40);
    win::Bitmap small = SolidBitmap(10, 10, kRed);
    picture.SetPicture(small.get());
    w.host().Add(picture);
    EXPECT_EQ(WindowPixel(w.window(), 20, 20), kRed);
    EXPECT_EQ(WindowPixel(w.window(), 29, 29), kRed);
    EXPECT_EQ(WindowPixel(w.window(), 30, 30), kBackground);  // beyond the picture

    picture.SetStretch(true);
    EXPECT_EQ(WindowPixel(w.window(), 59, 59), kRed);
    EXPECT_EQ(WindowPixel(w.window(), 60, 60), kBackground);  // clipped to the bounds

    // The caller keeps its own bitmap: the control shows a copy.
    small.reset();
    InvalidateRect(w.window(), nullptr, TRUE);
    EXPECT_EQ(WindowPixel(w.window(), 40, 40), kRed);

    picture.SetAutoSize(true);
    EXPECT_EQ(picture.Width(), 10);
    EXPECT_EQ(picture.Height(), 10);
}

TEST(WindowlessMouse, ClickNeedsPressAndReleaseInsideWithCapture) {
    HostWindow w(50, 50, 200, 120);
    Picture a, b;
    a.SetBounds(10, 10, 30, 30);
    b.SetBounds(100, 10, 30, 30);
    w.host().Add(a);
    w.host().Add(b);
    int aClicks = 0, bClicks = 0;
    a.OnClick = [&] { ++aClicks; };
    b.OnClick = [&] { ++bClicks; };
    std::vector<POINT> downs;
    a.OnMouseDown = [&](UINT message, WPARAM, POINT where) {
        if (message == WM_LBUTTONDOWN) downs.push_back(where);
    };

    w.Send(WM_LBUTTONDOWN, 15, 17, MK_LBUTTON);
    ASSERT_EQ(downs.size(), 1u);
    EXPECT_EQ(downs[0].x, 5);  // relative to the control
    EXPECT_EQ(downs[0].y, 7);
    EXPECT_EQ(GetCapture(), w.window());
    EXPECT_EQ(w.host().CaptureControl(), &a);
    w.Send(WM_LBUTTONUP, 20, 20);
    EXPECT_EQ(aClicks, 1);
    EXPECT_EQ(GetCapture(), nullptr);

    // Released over another control: the captured one gets the release, and no one clicks.
    w.Send(WM_LBUTTONDOWN, 15, 15, MK_LBUTTON);
    w.Send(WM_LBUTTONUP, 110, 15);
    EXPECT_EQ(aClicks, 1);
    EXPECT_EQ(bClicks, 0);

    // A release without a press on the control is no click.
    w.Send(WM_LBUTTONUP, 110, 15);
    EXPECT_EQ(bClicks, 0);

    // Right button: captured and reported, never a click.
    std::vector<UINT> messages;
    a.OnMouseDown = [&](UINT message, WPARAM, POINT) { messages.push_back(message); };
    w.Send(WM_RBUTTONDOWN, 15, 15, MK_RBUTTON);
    EXPECT_EQ(GetCapture(), w.window());
    w.Send(WM_RBUTTONUP, 15, 15);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(aClicks, 1);

    // A double-click goes to the double-click event and the mouse-down event, never OnClick.
    int dbl = 0;
    a.OnDblClick = [&] { ++dbl; };
    w.Send(WM_LBUTTONDBLCLK, 15, 15, MK_LBUTTON);
    w.Send(WM_LBUTTONUP, 15, 15);
    EXPECT_EQ(dbl, 1);
    EXPECT_EQ(aClicks, 1);
    EXPECT_EQ(messages, (std::vector<UINT>{WM_RBUTTONDOWN, WM_LBUTTONDBLCLK}));

    // Outside every control the window handles the message itself.
    const int before = w.unhandled;
    w.Send(WM_LBUTTONDOWN, 70, 70, MK_LBUTTON);
    EXPECT_EQ(w.unhandled, before + 1);
    w.Send(WM_LBUTTONUP, 70, 70);
}

TEST(WindowlessMouse, DisabledControlPassesButtonsToTheOneBelow) {
    HostWindow w(50, 50, 200, 120);
    Picture below, above;
    below.SetBounds(10, 10, 50, 50);
    above.SetBounds(10, 10, 50, 50);
    w.host().Add(below);
    w.host().Add(above);
    int belowClicks = 0, aboveClicks = 0;
    below.OnClick = [&] { ++belowClicks; };
    above.OnClick = [&] { ++aboveClicks; };
    above.SetEnabled(false);
    w.Send(WM_LBUTTONDOWN, 20, 20, MK_LBUTTON);
    w.Send(WM_LBUTTONUP, 20, 20);
    EXPECT_EQ(belowClicks, 1);
    EXPECT_EQ(aboveClicks, 0);
    // Disabled while holding the capture: it still gets its release.
    above.SetEnabled(true);
    w.Send(WM_LBUTTONDOWN, 20, 20, MK_LBUTTON);
    above.SetEnabled(false);
    w.Send(WM_LBUTTONUP, 20, 20);
    EXPECT_EQ(aboveClicks, 1);
    EXPECT_EQ(belowClicks, 1);
}

TEST(WindowlessIdle, EnterAndLeaveFollowTheCursorAndRespectCapture) {
    HostWindow w(50, 50, 200, 120);
    Probe a, b;
    a.SetBounds(10, 10, 30, 30);
    b.SetBounds(100, 10, 30, 30);
    w.host().Add(a);
    w.host().Add(b);

    // The real cursor.
    const POINT onA = w.Screen(20, 20);
    ASSERT_TRUE(SetCursorPos(onA.x, onA.y));
    RunIdle();
    EXPECT_EQ(a.log, (std::vector<std::string>{"enter"}));
    RunIdle();  // unchanged: nothing new
    EXPECT_EQ(a.log.size(), 1u);

    RunIdleAt(w.Screen(110, 20));
    EXPECT_EQ(a.log, (std::vector<std::string>{"enter", "leave"}));
    EXPECT_EQ(b.log, (std::vector<std::string>{"enter"}));

    // Disabled controls are found too.
    a.SetEnabled(false);
    RunIdleAt(w.Screen(20, 20));
    EXPECT_EQ(b.log.back(), "leave");
    EXPECT_EQ(a.log.back(), "enter");
    a.SetEnabled(true);

    // While a holds the capture only a is told: off it, over b, and back.
    w.Send(WM_LBUTTONDOWN, 20, 20, MK_LBUTTON);
    const size_t bBefore = b.log.size();
    RunIdleAt(w.Screen(110, 20));
    EXPECT_EQ(a.log.back(), "leave");
    RunIdleAt(w.Screen(70, 70));
    RunIdleAt(w.Screen(20, 20));
    EXPECT_EQ(a.log.back(), "enter");
    RunIdleAt(w.Screen(110, 20));
    EXPECT_EQ(a.log.back(), "leave");
    EXPECT_EQ(b.log.size(), bBefore);  // b never heard of it
    w.Send(WM_LBUTTONUP, 110, 20);
    // Capture gone, the pointer still over b: the next change tells b.
    RunIdleAt(w.Screen(70, 70));
    EXPECT_EQ(b.log.size(), bBefore + 1);
    EXPECT_EQ(b.log.back(), "leave");

    // Off the window altogether.
    RunIdleAt(w.Screen(20, 20));
    RunIdleAt(POINT{5, 5});
    EXPECT_EQ(a.log.back(), "leave");
}

TEST(WindowlessIdle, DestroyedControlIsForgotten) {
    HostWindow w(50, 50, 200, 120);
    auto gone = std::make_unique<Probe>();
    gone->SetBounds(10, 10, 30, 30);
    w.host().Add(*gone);
    RunIdleAt(w.Screen(20, 20));
    EXPECT_EQ(gone->log.size(), 1u);
    gone.reset();
    EXPECT_TRUE(w.host().Controls().empty());
    RunIdleAt(w.Screen(70, 70));  // must not touch the destroyed control
    RunIdleAt(POINT{5, 5});
}

}  // namespace
}  // namespace vellumor::skin::test
