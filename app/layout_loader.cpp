#include "app/layout_loader.h"

#include <commctrl.h>

#include <stdexcept>

#include "win32/unicode.h"

namespace vellumor::app {

namespace {

bool IsVisual(const std::string& kind) {
    return kind != "opendialog" && kind != "popupmenu" && kind != "menuitem" && kind != "column";
}

RECT ToRect(const LayoutRect& r) {
    return {r.left, r.top, r.left + r.width, r.top + r.height};
}

[[noreturn]] void Fail(const LayoutNode& node, const std::string& what) {
    throw LayoutError(node.line, node.name + ": " + what);
}

// Later siblings lie above earlier ones.
void PlaceOnTop(HWND window) {
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// The font a key of the node describes; none when the node has no such key.
win::Font NodeFont(const LayoutNode& node, const char* key) {
    if (auto font = node.Font(key))
        return MakeFont(font->face, font->height, font->bold, font->italic, font->underline);
    return win::Font();
}

// The handler a key of the node names, found by find; empty when the node names none. A name
// the window has no handler for is a fault of the layout.
template <typename Finder>
auto Bind(const LayoutNode& node, const char* key, const Finder& find) -> decltype(find("")) {
    const std::string name = node.Word(key);
    if (name.empty()) return {};
    decltype(find("")) bound;
    if (find) bound = find(name);
    if (!bound) Fail(node, "the window has no handler " + name);
    return bound;
}

}  // namespace

COLORREF ToColorRef(const LayoutColor& color) {
    return color.system ? GetSysColor(color.systemIndex) : RGB(color.r, color.g, color.b);
}

std::string ResourceText(HINSTANCE module, const wchar_t* name) {
    HRSRC found = FindResourceW(module, name, MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!found) throw std::runtime_error("The window layout is missing from the program");
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) throw std::runtime_error("The window layout could not be read");
    return std::string(static_cast<const char*>(data), SizeofResource(module, found));
}

skin::Picture* Control::AsPicture() const {
    return dynamic_cast<skin::Picture*>(windowless.get());
}
Label* Control::AsLabel() const {
    return dynamic_cast<Label*>(windowless.get());
}
skin::TImgBtn* Control::AsImageButton() const {
    return dynamic_cast<skin::TImgBtn*>(windowless.get());
}

FormLayout::FormLayout(const std::string& layoutText, HINSTANCE resources, HandlerTable handlers)
    : layout_(ParseLayout(layoutText)), resources_(resources), handlers_(std::move(handlers)) {
    if (layout_.kind != "form") Fail(layout_, "the top-level control must be a form");
    Build(layout_, nullptr);
    // Dock every container once, parents first, now that all children exist.
    for (Control* c : order_)
        if (c->container) Realign(*c);
}

FormLayout::~FormLayout() {
    // Children before their parents: windowless controls leave their hosts, windows go before
    // the windows that hold them.
    while (!controls_.empty()) controls_.pop_back();
}

Control& FormLayout::operator[](const std::string& name) {
    Control* c = Find(name);
    if (!c) throw std::runtime_error("The window layout has no control " + name);
    return *c;
}

Control* FormLayout::Find(const std::string& name) {
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

Control* FormLayout::ByWindow(HWND window) {
    if (!window) return nullptr;
    for (Control* c : order_)
        if (c->window == window) return c;
    return nullptr;
}

Control* FormLayout::ById(int id) {
    for (Control* c : order_)
        if (c->id == id) return c;
    return nullptr;
}

HFONT FormLayout::FontOf(const Control& control) const {
    for (const Control* c = &control; c; c = c->parent)
        if (c->font) return c->font.get();
    return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

HBITMAP FormLayout::LoadPicture(const LayoutNode& node, const char* key) {
    const std::string name = node.Word(key);
    if (name.empty()) return nullptr;
    auto* bitmap = static_cast<HBITMAP>(
        LoadImageW(resources_, win::Widen(name).c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!bitmap) Fail(node, "the picture " + name + " is missing from the program");
    loaded_.emplace_back(bitmap);
    return bitmap;
}

Control& FormLayout::Build(const LayoutNode& node, Control* parent) {
    if (byName_.count(node.name)) Fail(node, "a control of this name exists already");
    auto owned = std::make_unique<Control>();
    Control& c = *owned;
    controls_.push_back(std::move(owned));
    order_.push_back(&c);
    byName_[node.name] = &c;
    c.name = node.name;
    c.kind = node.kind;
    c.node = &node;
    c.parent = parent;
    if (parent) parent->children.push_back(&c);
    c.align = node.AlignValue();
    c.bounds = node.Bounds();
    c.visible = node.Flag("visible", true);
    c.font = NodeFont(node, "font");
    if (auto color = node.Color("fontcolor")) c.textColor = ToColorRef(*color);

    c.onClick = Bind(node, "onclick", handlers_.click);
    c.onColumnClick = Bind(node, "oncolumnclick", handlers_.columnClick);

    CreateNative(c, parent);
    if (c.container) {
        c.container->OnResize = [this, &c] {
            Realign(c);
            if (c.onResize) c.onResize();
        };
    }
    for (const LayoutNode& child : node.children) Build(child, &c);
    if (c.kind == "labelededit") PlaceEditLabel(c);
    return c;
}

// Each kind of control and the factory that makes its native part.
const std::map<std::string, FormLayout::Factory>& FormLayout::Factories() {
    static const std::map<std::string, Factory> factories = {
        {"form", &FormLayout::MakeForm},
        {"panel", &FormLayout::MakePanel},
        {"picture", &FormLayout::MakePicture},
        {"imagebutton", &FormLayout::MakePicture},
        {"label", &FormLayout::MakeLabel},
        {"toolbutton", &FormLayout::MakeToolButton},
        {"listview", &FormLayout::MakeListView},
        {"column", &FormLayout::MakeColumn},
        {"progressbar", &FormLayout::MakeProgressBar},
        {"button", &FormLayout::MakeButton},
        {"radiobutton", &FormLayout::MakeButton},
        {"labelededit", &FormLayout::MakeLabeledEdit},
        // The document engine's control is made by the window itself (it needs the engine's
        // persisted state); the layout only reserves its place.
        {"enginecontrol", &FormLayout::MakeNothing},
        // The file-open dialog's settings are read when the dialog opens.
        {"opendialog", &FormLayout::MakeNothing},
        {"popupmenu", &FormLayout::MakePopupMenu},
        {"menuitem", &FormLayout::MakeMenuItem},
    };
    return factories;
}

void FormLayout::CreateNative(Control& c, Control* parent) {
    const std::string& kind = c.kind;
    Container* host = parent ? parent->container.get() : nullptr;
    if (IsVisual(kind) && kind != "form" && !host && kind != "column")
        Fail(*c.node, "a " + kind + " must lie on the form or a panel");
    const auto factory = Factories().find(kind);
    if (factory == Factories().end()) Fail(*c.node, "unknown kind of control " + kind);
    const DWORD childStyle = WS_CHILD | WS_CLIPSIBLINGS | (c.visible ? WS_VISIBLE : 0);
    const Placement placement{parent, host, ToRect(c.bounds), childStyle};
    (this->*factory->second)(c, placement);
}

int FormLayout::NewId(Control& c) {
    return c.id = nextId_++;
}

HWND FormLayout::MakeChildWindow(Control& c, const Placement& at, const wchar_t* windowClass,
                                 const std::wstring& text, DWORD style, const char* what) {
    const RECT& r = at.rect;
    c.window = CreateWindowExW(0, windowClass, text.c_str(), style, r.left, r.top, r.right - r.left,
                               r.bottom - r.top, at.host->Window(),
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(NewId(c))),
                               GetModuleHandleW(nullptr), nullptr);
    if (!c.window) Fail(*c.node, std::string("the ") + what + " could not be created");
    PlaceOnTop(c.window);
    return c.window;
}

void FormLayout::MakeForm(Control& c, const Placement& at) {
    const LayoutNode& node = *c.node;
    if (at.parent) Fail(node, "a form must be the top-level control");
    c.bounds = {node.Int("left"), node.Int("top"), node.Int("clientwidth"),
                node.Int("clientheight")};
    DWORD style = WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    const std::string border = node.Word("border", "none");
    if (border == "none")
        style |= WS_POPUP;
    else
        Fail(node, "only border = none is supported");
    c.container =
        std::make_unique<Container>(nullptr, win::Widen(node.Text("caption")), style,
                                    WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, ToRect(c.bounds));
    c.window = c.container->Window();
    if (auto color = node.Color("color")) c.container->SetColor(ToColorRef(*color));
    if (const std::string icon = node.Word("icon"); !icon.empty()) {
        for (int size : {ICON_BIG, ICON_SMALL}) {
            const int px = GetSystemMetrics(size == ICON_BIG ? SM_CXICON : SM_CXSMICON);
            auto* h = static_cast<HICON>(
                LoadImageW(resources_, win::Widen(icon).c_str(), IMAGE_ICON, px, px, LR_SHARED));
            if (h) SendMessageW(c.window, WM_SETICON, size, reinterpret_cast<LPARAM>(h));
        }
    }
    root_ = &c;
}

void FormLayout::MakePanel(Control& c, const Placement& at) {
    const LayoutNode& node = *c.node;
    c.container = std::make_unique<Container>(
        at.host->Window(), L"", at.childStyle | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, at.rect);
    c.window = c.container->Window();
    PlaceOnTop(c.window);
    if (auto color = node.Color("color")) c.container->SetColor(ToColorRef(*color));
    const std::string bevel = node.Word("bevel", "raised");
    if (bevel == "raised")
        c.container->SetBevel(1);
    else if (bevel != "none")
        Fail(node, "bevel must be raised or none");
}

// A picture, or an image button (a picture that is pressed).
void FormLayout::MakePicture(Control& c, const Placement& at) {
    const LayoutNode& node = *c.node;
    std::unique_ptr<skin::Picture> picture;
    if (c.kind == "imagebutton") {
        auto button = std::make_unique<skin::TImgBtn>();
        button->SetEnabled(node.Flag("enabled", true));
        button->SetSupported(node.Flag("supported", true));
        picture = std::move(button);
    } else {
        picture = std::make_unique<skin::Picture>();
    }
    picture->SetBounds(c.bounds.left, c.bounds.top, c.bounds.width, c.bounds.height);
    picture->SetVisible(c.visible);
    picture->SetStretch(node.Flag("stretch"));
    if (HBITMAP bitmap = LoadPicture(node, "picture")) picture->SetPicture(bitmap);
    picture->SetAutoSize(node.Flag("autosize"));
    if (node.Flag("autosize")) {
        const RECT b = picture->Bounds();
        c.bounds = {b.left, b.top, b.right - b.left, b.bottom - b.top};
    }
    if (c.onClick) picture->OnClick = c.onClick;
    if (auto onDblClick = Bind(node, "ondblclick", handlers_.click))
        picture->OnDblClick = std::move(onDblClick);
    if (auto onMouseDown = Bind(node, "onmousedown", handlers_.mouseDown))
        picture->OnMouseDown = std::move(onMouseDown);
    at.host->Host().Add(*picture);
    c.windowless = std::move(picture);
}

void FormLayout::MakeLabel(Control& c, const Placement& at) {
    const LayoutNode& node = *c.node;
    auto label = std::make_unique<Label>();
    label->SetBounds(c.bounds.left, c.bounds.top, 0, 0);
    if (win::Font font = NodeFont(node, "font")) {
        label->SetFont(std::move(font));
    } else {
        LOGFONTW inherited = {};  // the parent's font, as a font of the label's own
        GetObjectW(FontOf(c), sizeof inherited, &inherited);
        label->SetFont(win::Font(CreateFontIndirectW(&inherited)));
    }
    label->SetTextColor(c.textColor.value_or(RGB(0, 0, 0)));
    label->SetTransparent(node.Flag("transparent", false));
    if (!node.Flag("transparent", false)) label->SetBackground(at.host->Color());
    label->SetCaption(node.Text("caption"));
    label->SetVisible(c.visible);
    at.host->Host().Add(*label);
    const RECT b = label->Bounds();
    c.bounds = {b.left, b.top, b.right - b.left, b.bottom - b.top};
    c.windowless = std::move(label);
}

void FormLayout::MakeToolButton(Control& c, const Placement& at) {
    const LayoutNode& node = *c.node;
    c.toolButton =
        std::make_unique<ToolButton>(*at.host, NewId(c), at.rect, win::Widen(node.Text("caption")));
    c.window = c.toolButton->Window();
    PlaceOnTop(c.window);
    if (HBITMAP glyph = LoadPicture(node, "glyph")) c.toolButton->SetGlyph(glyph);
    if (win::Font font = NodeFont(node, "font")) c.toolButton->SetFont(std::move(font));
    c.toolButton->SetTextColor(c.textColor.value_or(RGB(0, 0, 0)));
    EnableWindow(c.window, node.Flag("enabled", true));
    if (!c.visible) ShowWindow(c.window, SW_HIDE);
}

void FormLayout::MakeListView(Control& c, const Placement& at) {
    const LayoutNode& node = *c.node;
    // The rows live in the program (the file list); the control asks for their texts.
    DWORD style = at.childStyle | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA;
    if (!node.Flag("multiselect")) style |= LVS_SINGLESEL;
    if (node.Flag("editlabels")) style |= LVS_EDITLABELS;
    if (node.Flag("showselalways")) style |= LVS_SHOWSELALWAYS;
    MakeChildWindow(c, at, WC_LISTVIEWW, L"", style, "list");
    SendMessageW(c.window, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(c)), FALSE);
    if (auto color = node.Color("color")) {
        SendMessageW(c.window, LVM_SETBKCOLOR, 0, ToColorRef(*color));
        SendMessageW(c.window, LVM_SETTEXTBKCOLOR, 0, ToColorRef(*color));
    }
    if (c.textColor) SendMessageW(c.window, LVM_SETTEXTCOLOR, 0, *c.textColor);
    int column = 0;
    for (const LayoutNode& child : node.children) {
        if (child.kind != "column") continue;
        std::wstring caption = win::Widen(child.Text("caption"));
        LVCOLUMNW col = {};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM | LVCF_FMT;
        col.fmt = LVCFMT_LEFT;
        col.cx = child.Int("width", 50);
        col.pszText = caption.data();
        col.iSubItem = column;
        SendMessageW(c.window, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&col));
        ++column;
    }
}

// The list inserts its columns itself; a column only has to lie in one.
void FormLayout::MakeColumn(Control& c, const Placement& at) {
    if (!at.parent || at.parent->kind != "listview") Fail(*c.node, "a column must lie in a list");
}

void FormLayout::MakeProgressBar(Control& c, const Placement& at) {
    MakeChildWindow(c, at, PROGRESS_CLASSW, L"", at.childStyle, "progress bar");
}

// A push button or a radio button.
void FormLayout::MakeButton(Control& c, const Placement& at) {
    const LayoutNode& node = *c.node;
    const bool radio = c.kind == "radiobutton";
    const DWORD style = at.childStyle | WS_TABSTOP | (radio ? BS_RADIOBUTTON : BS_PUSHBUTTON);
    MakeChildWindow(c, at, L"BUTTON", win::Widen(node.Text("caption")), style, "button");
    SendMessageW(c.window, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(c)), FALSE);
    if (radio)
        SendMessageW(c.window, BM_SETCHECK, node.Flag("checked") ? BST_CHECKED : BST_UNCHECKED, 0);
}

void FormLayout::MakeLabeledEdit(Control& c, const Placement& at) {
    const LayoutNode& node = *c.node;
    DWORD style = at.childStyle | WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT;
    if (node.Flag("border", true)) style |= WS_BORDER;
    MakeChildWindow(c, at, L"EDIT", win::Widen(node.Text("text")), style, "edit box");
    SendMessageW(c.window, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(c)), FALSE);
    auto label = std::make_unique<Label>();
    if (win::Font font = NodeFont(node, "labelfont")) label->SetFont(std::move(font));
    if (auto color = node.Color("labelcolor")) label->SetTextColor(ToColorRef(*color));
    label->SetTransparent(true);
    label->SetCaption(node.Text("labelcaption"));
    at.host->Host().Add(*label);
    c.editLabel = std::move(label);
}

void FormLayout::MakeNothing(Control&, const Placement&) {}

void FormLayout::MakePopupMenu(Control& c, const Placement&) {
    c.menu = win::Menu(CreatePopupMenu());
    if (!c.menu) Fail(*c.node, "the menu could not be created");
}

void FormLayout::MakeMenuItem(Control& c, const Placement& at) {
    if (!at.parent || !at.parent->menu) Fail(*c.node, "a menu item must lie in a popup menu");
    AppendMenuW(at.parent->menu.get(), MF_STRING, NewId(c),
                win::Widen(c.node->Text("caption")).c_str());
}

void FormLayout::PlaceEditLabel(Control& edit) {
    if (!edit.editLabel) return;
    const int spacing = edit.node->Int("labelspacing", 3);
    const SIZE size = edit.editLabel->TextSize();
    const std::string position = edit.node->Word("labelposition", "above");
    if (position == "left") {
        edit.editLabel->SetBounds(edit.bounds.left - size.cx - spacing,
                                  edit.bounds.top + (edit.bounds.height - size.cy) / 2, size.cx,
                                  size.cy);
    } else {
        edit.editLabel->SetBounds(edit.bounds.left, edit.bounds.top - size.cy - spacing, size.cx,
                                  size.cy);
    }
}

void FormLayout::Realign(Control& parent) {
    if (!parent.container) return;
    RECT client;
    GetClientRect(parent.window, &client);
    const int bevel = parent.container->Bevel();
    const LayoutRect area{bevel, bevel, client.right - 2 * bevel, client.bottom - 2 * bevel};
    std::vector<Control*> docked;
    std::vector<DockItem> items;
    for (Control* child : parent.children) {
        if (!IsVisual(child->kind) || child->kind == "enginecontrol") continue;
        docked.push_back(child);
        items.push_back({child->align, child->bounds, child->visible});
    }
    const auto placed = Dock(items, area);
    for (size_t i = 0; i < docked.size(); ++i) {
        Control& child = *docked[i];
        if (child.align == Align::None || placed[i] == child.bounds) continue;
        child.bounds = placed[i];
        const LayoutRect& r = child.bounds;
        if (child.windowless) {
            child.windowless->SetBounds(r.left, r.top, r.width, r.height);
        } else if (child.window) {
            SetWindowPos(child.window, nullptr, r.left, r.top, r.width, r.height,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
}

void FormLayout::SetVisible(Control& control, bool visible) {
    control.visible = visible;
    if (control.windowless) control.windowless->SetVisible(visible);
    if (control.window) ShowWindow(control.window, visible ? SW_SHOWNA : SW_HIDE);
    if (control.editLabel) control.editLabel->SetVisible(visible);
    if (control.align != Align::None && control.parent) Realign(*control.parent);
}

}  // namespace vellumor::app
