// The loader on small layouts of its own: docking after a resize, bevels, and the errors a
// broken layout gives.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/layout_loader.h"
#include "core/layout.h"

using namespace vellumor;
using namespace vellumor::app;

namespace {

const char* kLayout = R"(
Form1: form {
    left = 10
    top = 20
    clientwidth = 300
    clientheight = 200
    caption = "Test"
    Top1: picture {
        align = top
        height = 30
    }
    Panel1: panel {
        align = client
        bevel = raised
        Bar: progressbar {
            align = bottom
            height = 17
        }
        Fill: panel {
            align = client
            bevel = none
        }
        Fixed: button {
            left = 5
            top = 6
            width = 70
            height = 20
            caption = "Go"
            onclick = Go
        }
    }
}
)";

RECT InParent(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

HandlerTable Handlers(int* clicks) {
    HandlerTable table;
    table.click = [clicks](const std::string& name) -> std::function<void()> {
        if (name != "Go") return nullptr;
        return [clicks] { ++*clicks; };
    };
    return table;
}

}  // namespace

TEST(FormLayout, DocksAgainWhenTheWindowChangesSize) {
    int clicks = 0;
    FormLayout layout(kLayout, GetModuleHandleW(nullptr), Handlers(&clicks));
    HWND panel = layout["Panel1"].window;
    HWND fill = layout["Fill"].window;
    HWND bar = layout["Bar"].window;
    RECT r = InParent(panel);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 30);
    EXPECT_EQ(r.right, 300);
    EXPECT_EQ(r.bottom, 200);
    // Inside the one-pixel bevel.
    r = InParent(fill);
    EXPECT_EQ(r.left, 1);
    EXPECT_EQ(r.top, 1);
    EXPECT_EQ(r.right, 299);
    EXPECT_EQ(r.bottom, 170 - 1 - 17);

    SetWindowPos(layout.Form().window, nullptr, 0, 0, 500, 400, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(layout["Top1"].AsPicture()->Width(), 500);
    r = InParent(panel);
    EXPECT_EQ(r.right, 500);
    EXPECT_EQ(r.bottom, 400);
    r = InParent(bar);
    EXPECT_EQ(r.top, 370 - 1 - 17);
    EXPECT_EQ(r.right, 499);
    r = InParent(layout["Fixed"].window);  // unaligned: stays where it is
    EXPECT_EQ(r.left, 5);
    EXPECT_EQ(r.top, 6);

    // Hiding the bottom bar gives its room to the client panel.
    layout.SetVisible(layout["Bar"], false);
    EXPECT_EQ(InParent(fill).bottom, 370 - 1);

    // The layout's event names are bound to the window's handlers.
    layout["Fixed"].onClick();
    EXPECT_EQ(clicks, 1);
}

TEST(FormLayout, ABrokenLayoutIsRefusedWithTheLineThatIsWrong) {
    auto lineOf = [](const std::string& text) {
        int clicks = 0;
        try {
            FormLayout layout(text, GetModuleHandleW(nullptr), Handlers(&clicks));
        } catch (const LayoutError& e) {
            return e.Line();
        }
        return -1;
    };
    EXPECT_EQ(lineOf("F: form {\n  B: button {\n    onclick = Missing\n  }\n}\n"), 2);
    EXPECT_EQ(lineOf("F: form {\n  W: widget {\n  }\n}\n"), 2);
    EXPECT_EQ(lineOf("F: form {\n  P: picture {\n    picture = NO_SUCH_BITMAP\n  }\n}\n"), 2);
    EXPECT_EQ(lineOf("F: form {\n  A: panel {\n  }\n  A: panel {\n  }\n}\n"), 4);
    EXPECT_EQ(lineOf("P: panel {\n}\n"), 1);
    EXPECT_EQ(lineOf("F: form {\n  M: menuitem {\n    caption = \"x\"\n  }\n}\n"), 2);
}
