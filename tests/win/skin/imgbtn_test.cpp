// TImgBtn in a real host window: the picture it shows through enter, press, drag off and back,
// release and leave, disabled, and with its own mouse handling switched off.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "skin/MyImgBtn.h"
#include "test_window.h"

namespace vellumor::skin::test {
namespace {

constexpr COLORREF kPic = RGB(10, 100, 10);
constexpr COLORREF kUp = RGB(20, 200, 20);
constexpr COLORREF kDown = RGB(200, 20, 20);
constexpr COLORREF kDisable = RGB(128, 128, 128);

class ImgBtnTest : public ::testing::Test {
  protected:
    ImgBtnTest() : w(60, 60, 200, 120) {
        button.SetBounds(20, 10, 25, 31);
        w.host().Add(button);
        button.OnClick = [this] {
            events.push_back("click");
            shownAtClick = Shown();
        };
        button.OnMouseEnter = [this](TWMMouse& m) { Record("enter", m); };
        button.OnMouseLeave = [this](TWMMouse& m) { Record("leave", m); };
        button.OnMouseDown = [this](TWMMouse& m) { Record("down", m); };
        button.OnMouseUp = [this](TWMMouse& m) { Record("up", m); };
        // Start far from the button so the first idle pass is a real enter.
        RunIdleAt(POINT{1, 1});
    }
    void SetPictures() {
        win::Bitmap pic = SolidBitmap(25, 31, kPic), up = SolidBitmap(25, 31, kUp),
                    down = SolidBitmap(25, 31, kDown), disable = SolidBitmap(25, 31, kDisable);
        button.SetPic(pic.get());
        button.SetPicUp(up.get());
        button.SetPicDown(down.get());
        button.SetPicDisable(disable.get());
    }
    void Record(const char* name, const TWMMouse& m) {
        events.push_back(name);
        messages.push_back(m);
    }
    COLORREF Shown() const { return BitmapPixel(button.PictureHandle()); }
    COLORREF OnScreen() { return WindowPixel(w.window(), 30, 20); }
    void PointerOnButton() { RunIdleAt(w.Screen(30, 20)); }
    void PointerOff() { RunIdleAt(w.Screen(150, 80)); }
    void Press() { w.Send(WM_LBUTTONDOWN, 30, 20, MK_LBUTTON); }
    void Release(int x = 30, int y = 20) { w.Send(WM_LBUTTONUP, x, y); }

    HostWindow w;
    TImgBtn button;
    std::vector<std::string> events;
    std::vector<TWMMouse> messages;
    COLORREF shownAtClick = CLR_INVALID;
};

TEST_F(ImgBtnTest, PictureTable) {
    EXPECT_EQ(button.PictureHandle(), nullptr);  // after creation
    SetPictures();
    EXPECT_EQ(Shown(), kPic);
    EXPECT_EQ(OnScreen(), kPic);

    PointerOnButton();
    EXPECT_TRUE(button.Hover());
    EXPECT_EQ(Shown(), kUp);
    EXPECT_EQ(OnScreen(), kUp);

    Press();
    EXPECT_TRUE(button.Pressed());
    EXPECT_EQ(Shown(), kDown);
    EXPECT_EQ(OnScreen(), kDown);

    PointerOff();  // dragged off while held
    EXPECT_FALSE(button.Hover());
    EXPECT_TRUE(button.Pressed());
    EXPECT_EQ(Shown(), kPic);

    PointerOnButton();  // dragged back on
    EXPECT_EQ(Shown(), kDown);

    Release();
    EXPECT_FALSE(button.Pressed());
    EXPECT_EQ(shownAtClick, kDown);  // the click came before the release picture
    EXPECT_EQ(Shown(), kUp);
    EXPECT_EQ(OnScreen(), kUp);

    // Released after being dragged off: no click, Pic stays.
    Press();
    PointerOff();
    Release(150, 80);
    EXPECT_EQ(Shown(), kPic);
    EXPECT_EQ(std::count(events.begin(), events.end(), "click"), 1);

    PointerOnButton();
    PointerOff();  // leaves
    EXPECT_EQ(Shown(), kPic);

    button.SetEnabled(false);
    EXPECT_EQ(Shown(), kDisable);
    EXPECT_EQ(OnScreen(), kDisable);
    button.SetEnabled(true);
    EXPECT_EQ(Shown(), kUp);

    EXPECT_EQ(events, (std::vector<std::string>{"enter", "down", "leave", "enter", "click", "up",
                                                "down", "leave", "up", "enter", "leave"}));
}

TEST_F(ImgBtnTest, EventsCarryTheMessageBeingHandled) {
    SetPictures();
    PointerOnButton();
    w.Send(WM_LBUTTONDOWN, 27, 15, MK_LBUTTON | MK_SHIFT);
    Release(28, 16);
    PointerOff();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0].Msg, CM_MOUSEENTER);
    EXPECT_EQ(messages[0].Keys, 0u);
    EXPECT_EQ(messages[0].XPos, 0);
    EXPECT_EQ(messages[1].Msg, static_cast<UINT>(WM_LBUTTONDOWN));
    EXPECT_EQ(messages[1].Keys, static_cast<WPARAM>(MK_LBUTTON | MK_SHIFT));
    EXPECT_EQ(messages[1].XPos, 7);  // button coordinates
    EXPECT_EQ(messages[1].YPos, 5);
    EXPECT_EQ(messages[2].Msg, static_cast<UINT>(WM_LBUTTONUP));
    EXPECT_EQ(messages[2].XPos, 8);
    EXPECT_EQ(messages[3].Msg, CM_MOUSELEAVE);
}

TEST_F(ImgBtnTest, UnsupportedStillClicksButNeverChangesPictures) {
    SetPictures();
    button.SetSupported(false);
    PointerOnButton();
    Press();
    PointerOff();
    PointerOnButton();
    Release();
    PointerOff();
    EXPECT_EQ(events, (std::vector<std::string>{"click"}));
    EXPECT_EQ(Shown(), kPic);
    EXPECT_FALSE(button.Hover());
    EXPECT_FALSE(button.Pressed());
    // Switching back leaves the flags as they were until the next input that passes.
    button.SetSupported(true);
    EXPECT_EQ(Shown(), kPic);
    PointerOnButton();
    EXPECT_EQ(Shown(), kUp);
}

TEST_F(ImgBtnTest, DisabledIgnoresPointerAndButtons) {
    SetPictures();
    button.SetEnabled(false);
    EXPECT_EQ(Shown(), kDisable);
    PointerOnButton();
    EXPECT_FALSE(button.Hover());
    Press();
    Release();
    EXPECT_FALSE(button.Pressed());
    EXPECT_TRUE(events.empty());  // no enter, no click: buttons do not reach a disabled control
    EXPECT_EQ(Shown(), kDisable);
    // Setting the disabled picture while enabled changes nothing on screen.
    button.SetEnabled(true);
    win::Bitmap other = SolidBitmap(25, 31, RGB(1, 2, 3));
    button.SetPicDisable(other.get());
    EXPECT_EQ(Shown(), kUp);
    button.SetEnabled(false);
    EXPECT_EQ(Shown(), RGB(1, 2, 3));
}

// Switching Enabled off and on again changes only the picture: disabled shows PicDisable,
// enabled again shows PicUp whatever the state; Hover and Pressed stay as they were until the
// next input that passes the guard, which then shows the picture of the state it leaves.
TEST_F(ImgBtnTest, EnabledOffAndOnWhileHoveredKeepsHoverUntilTheNextInput) {
    SetPictures();
    PointerOnButton();
    ASSERT_TRUE(button.Hover());
    button.SetEnabled(false);
    EXPECT_TRUE(button.Hover());
    EXPECT_FALSE(button.Pressed());
    EXPECT_EQ(OnScreen(), kDisable);
    button.SetEnabled(true);
    EXPECT_TRUE(button.Hover());
    EXPECT_EQ(OnScreen(), kUp);
    PointerOff();
    EXPECT_FALSE(button.Hover());
    EXPECT_EQ(OnScreen(), kPic);

    // The pointer leaves while the button is disabled: the leave does not pass, so Hover stays
    // set, and only the next enter counts.
    PointerOnButton();
    button.SetEnabled(false);
    PointerOff();
    EXPECT_TRUE(button.Hover());
    button.SetEnabled(true);
    EXPECT_TRUE(button.Hover());
    EXPECT_EQ(OnScreen(), kUp);
    PointerOnButton();
    EXPECT_TRUE(button.Hover());
    EXPECT_EQ(OnScreen(), kUp);
    PointerOff();
    EXPECT_FALSE(button.Hover());
    EXPECT_EQ(OnScreen(), kPic);
    EXPECT_EQ(events, (std::vector<std::string>{"enter", "leave", "enter", "enter", "leave"}));
}

TEST_F(ImgBtnTest, EnabledOffAndOnWhilePressedKeepsPressedUntilTheNextInput) {
    SetPictures();
    PointerOnButton();
    Press();
    ASSERT_TRUE(button.Pressed());
    button.SetEnabled(false);
    EXPECT_TRUE(button.Pressed());
    EXPECT_TRUE(button.Hover());
    EXPECT_EQ(OnScreen(), kDisable);
    button.SetEnabled(true);
    EXPECT_TRUE(button.Pressed());
    EXPECT_EQ(OnScreen(), kUp);
    // Dragged off and back while held: the pictures of the pressed state.
    PointerOff();
    EXPECT_EQ(OnScreen(), kPic);
    PointerOnButton();
    EXPECT_EQ(OnScreen(), kDown);
    Release();
    EXPECT_FALSE(button.Pressed());
    EXPECT_EQ(OnScreen(), kUp);

    // Released while disabled: the release does not pass, so Pressed stays set after enabling,
    // until the next press and release.
    Press();
    button.SetEnabled(false);
    Release();
    EXPECT_TRUE(button.Pressed());
    EXPECT_EQ(OnScreen(), kDisable);
    button.SetEnabled(true);
    EXPECT_TRUE(button.Pressed());
    EXPECT_EQ(OnScreen(), kUp);
    Press();
    EXPECT_EQ(OnScreen(), kDown);
    Release();
    EXPECT_FALSE(button.Pressed());
    EXPECT_EQ(OnScreen(), kUp);
    EXPECT_EQ(std::count(events.begin(), events.end(), "up"), 2);
}

TEST_F(ImgBtnTest, PressBeforeEnterAndPicWhileHovered) {
    SetPictures();
    Press();  // the enter notification has not come yet
    EXPECT_TRUE(button.Pressed());
    EXPECT_EQ(Shown(), kPic);
    PointerOnButton();
    EXPECT_EQ(Shown(), kDown);
    Release();
    EXPECT_EQ(Shown(), kUp);
    // A new Pic replaces the hover picture on screen until the next input.
    win::Bitmap fresh = SolidBitmap(25, 31, RGB(5, 6, 7));
    button.SetPic(fresh.get());
    EXPECT_EQ(Shown(), RGB(5, 6, 7));
    Press();
    EXPECT_EQ(Shown(), kDown);
    Release();
}

TEST_F(ImgBtnTest, DoubleClickIsLeftToTheBase) {
    SetPictures();
    PointerOnButton();
    Press();
    Release();
    events.clear();
    w.Send(WM_LBUTTONDBLCLK, 30, 20, MK_LBUTTON);
    EXPECT_FALSE(button.Pressed());
    EXPECT_EQ(Shown(), kUp);  // no pressed picture
    Release();                // the release still runs its steps
    EXPECT_EQ(events, (std::vector<std::string>{"up"}));
}

TEST_F(ImgBtnTest, ClickHandlerThatChangesPicturesSeesThemShown) {
    SetPictures();
    win::Bitmap restoreUp = SolidBitmap(25, 31, RGB(0, 90, 180));
    button.OnClick = [&] { button.SetPicUp(restoreUp.get()); };
    PointerOnButton();
    Press();
    Release();
    EXPECT_EQ(Shown(), RGB(0, 90, 180));
}

}  // namespace
}  // namespace vellumor::skin::test
