// Builds a window's controls from its stored layout and keeps them docked: the form, panels,
// pictures, image buttons, labels, tool buttons, the list, the progress bar, push and radio
// buttons, the labelled edit, popup menus and the file-open dialog's settings.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/controls.h"
#include "core/layout.h"
#include "skin/MyImgBtn.h"
#include "skin/windowless.h"
#include "win32/handles.h"

namespace vellumor::app {

// One control of the tree, whatever its kind.
struct Control {
    std::string name;
    std::string kind;
    const LayoutNode* node = nullptr;
    Control* parent = nullptr;
    std::vector<Control*> children;  // creation order

    Align align = Align::None;
    LayoutRect bounds;  // current, relative to the parent's client area
    bool visible = true;
    int id = 0;  // command id of windowed controls and menu items

    // What the control is, by kind (only the matching member is set).
    std::unique_ptr<Container> container;                 // form, panel
    std::unique_ptr<skin::WindowlessControl> windowless;  // picture, imagebutton, label
    std::unique_ptr<ToolButton> toolButton;               // toolbutton
    HWND window = nullptr;                                // every windowed kind
    win::Menu menu;                                       // popupmenu
    std::unique_ptr<Label> editLabel;                     // labelededit: its label
    win::Font font;                                       // a font of its own, if any
    std::optional<COLORREF> textColor;
    std::optional<COLORREF> backColor;  // background of a radio button or an edit
    win::Brush backBrush;

    // Events, bound by name from the layout.
    std::function<void()> onClick;
    std::function<void(int)> onColumnClick;
    std::function<void()> onResize;  // a container's, after its children are docked

    skin::Picture* AsPicture() const;
    Label* AsLabel() const;
    skin::TImgBtn* AsImageButton() const;
};

// Finds the window's handlers by the names the layout gives.
struct HandlerTable {
    std::function<std::function<void()>(const std::string&)> click;
    std::function<std::function<void(UINT, WPARAM, POINT)>(const std::string&)> mouseDown;
    std::function<std::function<void(int)>(const std::string&)> columnClick;
};

class FormLayout {
  public:
    // Parses the layout and creates every control, hidden form first. Throws LayoutError for a
    // malformed layout, std::runtime_error when a window or picture cannot be made.
    FormLayout(const std::string& layoutText, HINSTANCE resources, HandlerTable handlers);
    ~FormLayout();
    FormLayout(const FormLayout&) = delete;
    FormLayout& operator=(const FormLayout&) = delete;

    Control& Form() { return *root_; }
    Control& operator[](const std::string& name);  // throws when there is no such control
    Control* Find(const std::string& name);
    Control* ByWindow(HWND window);
    Control* ById(int id);
    const std::vector<Control*>& All() const { return order_; }

    // Docks the children of a container into its client area (inside its bevel).
    void Realign(Control& container);
    // Shows or hides a control; an aligned one makes its parent dock again.
    void SetVisible(Control& control, bool visible);
    // The font a control draws with: its own, else its parent's, up to the form's.
    HFONT FontOf(const Control& control) const;

  private:
    // Where a control is made: its parent, the container it lies on (none for the form, menus
    // and columns), its rectangle there and the style every child window starts from.
    struct Placement {
        Control* parent;
        Container* host;
        RECT rect;
        DWORD childStyle;
    };
    // Makes the native part of one kind of control.
    using Factory = void (FormLayout::*)(Control& control, const Placement& at);
    static const std::map<std::string, Factory>& Factories();

    Control& Build(const LayoutNode& node, Control* parent);
    void CreateNative(Control& control, Control* parent);
    void MakeForm(Control& control, const Placement& at);
    void MakePanel(Control& control, const Placement& at);
    void MakePicture(Control& control, const Placement& at);
    void MakeLabel(Control& control, const Placement& at);
    void MakeToolButton(Control& control, const Placement& at);
    void MakeListView(Control& control, const Placement& at);
    void MakeColumn(Control& control, const Placement& at);
    void MakeProgressBar(Control& control, const Placement& at);
    void MakeButton(Control& control, const Placement& at);
    void MakeLabeledEdit(Control& control, const Placement& at);
    void MakeNothing(Control& control, const Placement& at);
    void MakePopupMenu(Control& control, const Placement& at);
    void MakeMenuItem(Control& control, const Placement& at);
    // A child window of a class on the control's host, with the next command id, above its
    // earlier siblings; what names it in the error when it cannot be made.
    HWND MakeChildWindow(Control& control, const Placement& at, const wchar_t* windowClass,
                         const std::wstring& text, DWORD style, const char* what);
    int NewId(Control& control);
    HBITMAP LoadPicture(const LayoutNode& node, const char* key);
    void PlaceEditLabel(Control& edit);

    LayoutNode layout_;
    HINSTANCE resources_;
    HandlerTable handlers_;
    std::vector<std::unique_ptr<Control>> controls_;
    std::vector<Control*> order_;
    std::map<std::string, Control*> byName_;
    Control* root_ = nullptr;
    int nextId_ = 100;
    std::vector<win::Bitmap> loaded_;  // pictures as loaded; controls keep copies
};

// The text of an RCDATA resource.
std::string ResourceText(HINSTANCE module, const wchar_t* name);

COLORREF ToColorRef(const LayoutColor& color);

}  // namespace vellumor::app
