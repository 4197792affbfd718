#include "core/layout.h"

#include <gtest/gtest.h>

using namespace vellumor;

TEST(ParseLayout, ReadsTheTreeInCreationOrderWithTypedProperties) {
    const char* text = R"(# a window
Form1: form {
    left = 308
    caption = "Vellumor \"2.6\" \\ x"
    color = btnface
    font = "MS Sans Serif" -13 bold italic
    visible = false
    Panel1: panel {
        align = client
        color = #C2E9FD
        Image3: picture {
            picture = TOOLBAR
        }
    }
    Label1: label {
        caption = "Ünïcode 名前"
    }
}
)";
    LayoutNode form = ParseLayout(text);
    EXPECT_EQ(form.name, "Form1");
    EXPECT_EQ(form.kind, "form");
    EXPECT_EQ(form.Int("left"), 308);
    EXPECT_EQ(form.Int("top", 7), 7);
    EXPECT_EQ(form.Text("caption"), "Vellumor \"2.6\" \\ x");
    EXPECT_EQ(form.Color("color"), (LayoutColor{true, 15}));
    auto font = form.Font("font");
    ASSERT_TRUE(font);
    EXPECT_EQ(font->face, "MS Sans Serif");
    EXPECT_EQ(font->height, -13);
    EXPECT_TRUE(font->bold && font->italic && !font->underline);
    EXPECT_FALSE(form.Flag("visible", true));
    ASSERT_EQ(form.children.size(), 2u);
    EXPECT_EQ(form.children[0].name, "Panel1");
    EXPECT_EQ(form.children[0].AlignValue(), Align::Client);
    EXPECT_EQ(form.children[0].Color("color"), (LayoutColor{false, 0, 0xC2, 0xE9, 0xFD}));
    EXPECT_EQ(form.children[1].Text("caption"), "Ünïcode 名前");
    const LayoutNode* image = form.FindControl("Image3");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->Word("picture"), "TOOLBAR");
    EXPECT_EQ(image->line, 11);
    EXPECT_EQ(form.FindControl("Nothing"), nullptr);
}

TEST(ParseLayout, RejectsMalformedTextWithTheLineNumber) {
    auto lineOf = [](const char* text) {
        try {
            ParseLayout(text);
        } catch (const LayoutError& e) {
            return e.Line();
        }
        return -1;
    };
    EXPECT_EQ(lineOf("A: form {\n  left = \n}\n"), 2);               // no value
    EXPECT_EQ(lineOf("A: form {\n  caption = \"open\n}\n"), 2);      // unterminated string
    EXPECT_EQ(lineOf("A: form {\n  left = 1\n  left = 2\n}\n"), 3);  // given twice
    EXPECT_EQ(lineOf("A: form {\n  B: panel {\n}\n"), 1);            // A is not closed
    EXPECT_EQ(lineOf("A: form {\n}\n}\n"), 3);                       // stray close
    EXPECT_EQ(lineOf("A: form {\n}\nB: form {\n}\n"), 3);            // two roots
    EXPECT_EQ(lineOf("left = 3\n"), 1);                              // outside a control
    EXPECT_EQ(lineOf("A form {\n}\n"), 1);                           // no colon
    EXPECT_EQ(lineOf(""), 1);                                        // nothing

    LayoutNode n = ParseLayout("A: form {\n  left = x\n  align = sideways\n  color = #12345\n}\n");
    EXPECT_THROW(n.Int("left"), LayoutError);
    EXPECT_THROW(n.AlignValue(), LayoutError);
    EXPECT_THROW(n.Color("color"), LayoutError);
    EXPECT_THROW(n.Text("left"), LayoutError);
}

TEST(Dock, PlacesTopBottomLeftRightThenClientInCreationOrder) {
    // The main window: title bar, three frame buttons, borders and the working panel.
    std::vector<DockItem> items = {
        {Align::Top, {0, 0, 0, 33}},
        {Align::None, {672, 0, 25, 31}},
        {Align::Left, {0, 0, 4, 0}},
        {Align::Right, {0, 0, 4, 0}},
        {Align::Bottom, {0, 0, 0, 4}},
        {Align::Client, {}},
        {Align::None, {416, 136, 265, 185}, false},
    };
    auto r = Dock(items, {0, 0, 724, 534});
    EXPECT_EQ(r[0], (LayoutRect{0, 0, 724, 33}));
    EXPECT_EQ(r[1], (LayoutRect{672, 0, 25, 31}));
    EXPECT_EQ(r[2], (LayoutRect{0, 33, 4, 497}));
    EXPECT_EQ(r[3], (LayoutRect{720, 33, 4, 497}));
    EXPECT_EQ(r[4], (LayoutRect{0, 530, 724, 4}));
    EXPECT_EQ(r[5], (LayoutRect{4, 33, 716, 497}));
    EXPECT_EQ(r[6], (LayoutRect{416, 136, 265, 185}));
}

TEST(Dock, StacksSameSideItemsAndSkipsHiddenOnes) {
    // The working panel: toolbar picture, rule, settings area at the bottom, list area.
    std::vector<DockItem> items = {
        {Align::Top, {0, 0, 700, 73}},
        {Align::Top, {0, 0, 4, 2}},
        {Align::Client, {}},
        {Align::Bottom, {0, 0, 0, 103}},
    };
    auto r = Dock(items, {0, 0, 716, 497});
    EXPECT_EQ(r[0], (LayoutRect{0, 0, 716, 73}));
    EXPECT_EQ(r[1], (LayoutRect{0, 73, 716, 2}));
    EXPECT_EQ(r[2], (LayoutRect{0, 75, 716, 319}));
    EXPECT_EQ(r[3], (LayoutRect{0, 394, 716, 103}));

    // A hidden bottom bar leaves the whole area to the client item; shown, it takes its height.
    std::vector<DockItem> list = {{Align::Client, {}}, {Align::Bottom, {0, 0, 0, 17}, false}};
    auto hidden = Dock(list, {0, 0, 716, 319});
    EXPECT_EQ(hidden[0], (LayoutRect{0, 0, 716, 319}));
    list[1].visible = true;
    auto shown = Dock(list, {0, 0, 716, 319});
    EXPECT_EQ(shown[0], (LayoutRect{0, 0, 716, 302}));
    EXPECT_EQ(shown[1], (LayoutRect{0, 302, 716, 17}));

    // An inset client area (a panel with a bevel) and a client area too small for its items.
    auto inset = Dock({{Align::Client, {}}}, {1, 1, 714, 101});
    EXPECT_EQ(inset[0], (LayoutRect{1, 1, 714, 101}));
    auto tight = Dock({{Align::Left, {0, 0, 30, 0}}, {Align::Client, {}}}, {0, 0, 20, 10});
    EXPECT_EQ(tight[0], (LayoutRect{0, 0, 30, 10}));
    EXPECT_EQ(tight[1].width, 0);
}
