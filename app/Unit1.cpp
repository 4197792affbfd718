#include "app/Unit1.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <windowsx.h>

#include <map>
#include <stdexcept>

#include "app/application.h"
#include "filelist/folder_picker.h"
#include "filelist/list_style.h"
#include "skin/frame.h"
#include "win32/guard.h"
#include "win32/program_path.h"
#include "win32/unicode.h"

namespace vellumor::app {

namespace {

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(length));
    return win::Narrow(text);
}

// A file installed beside the program's executable.
std::wstring BesideProgram(const wchar_t* name) {
    return win::Widen(win::ProgramFolder()) + L"\\" + name;
}

DWORD OpenDialogFlags(const LayoutNode& dialog) {
    static const std::map<std::string, DWORD> kFlags = {
        {"hidereadonly", OFN_HIDEREADONLY},   {"allowmultiselect", OFN_ALLOWMULTISELECT},
        {"enablesizing", OFN_ENABLESIZING},   {"explorer", OFN_EXPLORER},
        {"filemustexist", OFN_FILEMUSTEXIST}, {"pathmustexist", OFN_PATHMUSTEXIST},
        {"nochangedir", OFN_NOCHANGEDIR},
    };
    DWORD flags = 0;
    if (const auto* tokens = dialog.Find("options")) {
        for (const auto& token : *tokens) {
            auto it = kFlags.find(token.text);
            if (it == kFlags.end())
                throw LayoutError(dialog.line, dialog.name + ": unknown option " + token.text);
            flags |= it->second;
        }
    }
    return flags;
}

}  // namespace

TForm1::TForm1(Services& services, HINSTANCE module) : services_(services) {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES | ICC_LISTVIEW_CLASSES |
                                                     ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    if (!module) module = GetModuleHandleW(nullptr);
    layout_ =
        std::make_unique<FormLayout>(ResourceText(module, L"UNIT1_LAYOUT"), module, Handlers());
    BindControls();
    fileList_ = std::make_unique<filelist::FileList>(ListView1);
    MessageSink sink = [this](HWND w, UINT m, WPARAM wp, LPARAM lp, LRESULT& r) {
        return HandleMessage(w, m, wp, lp, r);
    };
    for (Control* c : layout_->All())
        if (c->container) c->container->SetSink(sink);
    Form->onResize = [this] { FormResize(); };
    // Files and folders dropped from the shell onto the list reach ListView1DropFiles.
    SetWindowSubclass(ListView1, &TForm1::ListSubclass, 1, reinterpret_cast<DWORD_PTR>(this));
    DragAcceptFiles(ListView1, TRUE);
    CreateTooltips();
    FormCreate();
}

TForm1::~TForm1() {
    OnDestroy = nullptr;
    DocEngineControl1.reset();  // closes the engine while its panel still exists
    // The controls go without calling back into a window that is being taken apart.
    for (Control* c : layout_->All()) {
        if (c->container) c->container->SetSink(nullptr);
        c->onResize = nullptr;
    }
    if (tooltip_) DestroyWindow(tooltip_);
    if (IsWindow(ListView1)) RemoveWindowSubclass(ListView1, &TForm1::ListSubclass, 1);
    fileList_.reset();
    layout_.reset();
}

void TForm1::Show(int showCommand) {
    ShowWindow(Handle(), showCommand);
    UpdateWindow(Handle());
}

HandlerTable TForm1::Handlers() {
    HandlerTable table;
    table.click = [this](const std::string& name) -> std::function<void()> {
        static const std::map<std::string, void (TForm1::*)()> kClicks = {
            {"Image1DblClick", &TForm1::Image1DblClick},
            {"ImgBtnMinClick", &TForm1::ImgBtnMinClick},
            {"ImgBtnMaxClick", &TForm1::ImgBtnMaxClick},
            {"ImgBtnCloseClick", &TForm1::ImgBtnCloseClick},
            {"RadioButton1Click", &TForm1::RadioButton1Click},
            {"RadioButton2Click", &TForm1::RadioButton2Click},
            {"SpeedButton2Click", &TForm1::SpeedButton2Click},
            {"SpeedButton13Click", &TForm1::SpeedButton13Click},
            {"Manual1Click", &TForm1::Manual1Click},
            {"Home1Click", &TForm1::Home1Click},
            {"SpeedButton3Click", &TForm1::SpeedButton3Click},
            {"SpeedButton4Click", &TForm1::SpeedButton4Click},
            {"SpeedButton20Click", &TForm1::SpeedButton20Click},
            {"SpeedButton5Click", &TForm1::SpeedButton5Click},
            {"Remove1Click", &TForm1::Remove1Click},
            {"RemoveAll1Click", &TForm1::RemoveAll1Click},
            {"SpeedButton11Click", &TForm1::SpeedButton11Click},
            {"Button1Click", &TForm1::Button1Click},
            {"SpeedButton1Click", &TForm1::SpeedButton1Click},
        };
        auto it = kClicks.find(name);
        if (it == kClicks.end()) return nullptr;
        auto method = it->second;
        return [this, method] { (this->*method)(); };
    };
    table.mouseDown = [this](const std::string& name) -> std::function<void(UINT, WPARAM, POINT)> {
        if (name != "Image1MouseDown") return nullptr;
        return [this](UINT m, WPARAM k, POINT p) { Image1MouseDown(m, k, p); };
    };
    table.columnClick = [this](const std::string& name) -> std::function<void(int)> {
        if (name != "ListView1ColumnClick") return nullptr;
        return [this](int column) { ListView1ColumnClick(column); };
    };
    return table;
}

void TForm1::BindControls() {
    FormLayout& l = *layout_;
    auto picture = [&](const char* name) {
        skin::Picture* p = l[name].AsPicture();
        if (!p) throw std::runtime_error(std::string(name) + " is not a picture");
        return p;
    };
    auto imageButton = [&](const char* name) {
        skin::TImgBtn* b = l[name].AsImageButton();
        if (!b) throw std::runtime_error(std::string(name) + " is not an image button");
        return b;
    };
    auto label = [&](const char* name) {
        Label* p = l[name].AsLabel();
        if (!p) throw std::runtime_error(std::string(name) + " is not a label");
        return p;
    };
    auto window = [&](const char* name) {
        HWND w = l[name].window;
        if (!w) throw std::runtime_error(std::string(name) + " has no window");
        return w;
    };
    Form = &l.Form();
    Image1 = picture("Image1");
    ImgBtnClose = imageButton("ImgBtnClose");
    ImgBtnMax = imageButton("ImgBtnMax");
    ImgBtnMin = imageButton("ImgBtnMin");
    Image9 = picture("Image9");
    Image10 = picture("Image10");
    Image2 = picture("Image2");
    Panel1 = &l["Panel1"];
    Image3 = picture("Image3");
    Image4 = picture("Image4");
    Label1 = label("Label1");
    Panel2 = &l["Panel2"];
    ListView1 = window("ListView1");
    ProgressBar1 = window("ProgressBar1");
    Panel3 = &l["Panel3"];
    Button1 = window("Button1");
    DocEngineControl1Slot = &l["DocEngineControl1"];
    Panel4 = &l["Panel4"];
    Image5 = picture("Image5");
    Label2 = label("Label2");
    Label3 = label("Label3");
    Label4 = label("Label4");
    RadioButton1 = window("RadioButton1");
    RadioButton2 = window("RadioButton2");
    LabeledEdit2 = window("LabeledEdit2");
    PanelImage = &l["PanelImage"];
    ImageM = picture("ImageM");
    ImageTop = picture("ImageTop");
    ImageBk = picture("ImageBk");
    PopupMenu1 = l["PopupMenu1"].menu.get();
    PopupMenu2 = l["PopupMenu2"].menu.get();
    SpeedButton1 = window("SpeedButton1");
    SpeedButton2 = window("SpeedButton2");
    SpeedButton3 = window("SpeedButton3");
    SpeedButton4 = window("SpeedButton4");
    SpeedButton5 = window("SpeedButton5");
    SpeedButton11 = window("SpeedButton11");
    SpeedButton13 = window("SpeedButton13");
    SpeedButton17 = window("SpeedButton17");
    SpeedButton18 = window("SpeedButton18");
    SpeedButton20 = window("SpeedButton20");
}

void TForm1::CreateTooltips() {
    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                               WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    if (!tooltip_) return;
    for (Control* c : layout_->All()) {
        if (!c->toolButton) continue;
        const std::wstring hint = win::Widen(c->node->Text("hint"));
        if (hint.empty()) continue;
        TTTOOLINFOW tool = {};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = GetParent(c->window);
        tool.uId = reinterpret_cast<UINT_PTR>(c->window);
        tool.lpszText = const_cast<wchar_t*>(hint.c_str());
        SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

// ---- messages of the form and its panels ----

bool TForm1::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                           LRESULT& result) {
    switch (message) {
        case WM_COMMAND: {
            Control* c = layout_->ByWindow(reinterpret_cast<HWND>(lParam));
            if (c && HIWORD(wParam) == BN_CLICKED && c->onClick) {
                c->onClick();
                result = 0;
                return true;
            }
            return false;
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->hwndFrom != ListView1) return false;
            if (header->code == NM_CUSTOMDRAW) {
                const auto* draw = reinterpret_cast<const NMCUSTOMDRAW*>(lParam);
                if (draw->dwDrawStage != CDDS_PREPAINT) return false;
                bool defaultDraw = true;
                filelist::ListView1CustomDraw(ListView1, draw->hdc, ImageBk->PictureHandle(),
                                              defaultDraw);
                result = defaultDraw ? CDRF_DODEFAULT : CDRF_SKIPDEFAULT;
                return true;
            }
            if (header->code == LVN_COLUMNCLICK) {
                const auto* list = reinterpret_cast<const NMLISTVIEW*>(lParam);
                ListView1ColumnClick(list->iSubItem);
                result = 0;
                return true;
            }
            if (header->code == LVN_GETDISPINFOW) {
                if (fileList_)
                    fileList_->FillDisplayInfo(*reinterpret_cast<NMLVDISPINFOW*>(lParam));
                result = 0;
                return true;
            }
            if (header->code == LVN_ENDLABELEDITW) {
                // The edit changes only the shown name; the path stays as it is.
                const auto* edit = reinterpret_cast<const NMLVDISPINFOW*>(lParam);
                if (edit->item.pszText && fileList_)
                    fileList_->Rename(edit->item.iItem, edit->item.pszText);
                result = edit->item.pszText != nullptr;
                return true;
            }
            return false;
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            Control* c = layout_->ByWindow(item->hwndItem);
            if (!c || !c->toolButton) return false;
            c->toolButton->Draw(*item);
            result = TRUE;
            return true;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            Control* c = layout_->ByWindow(reinterpret_cast<HWND>(lParam));
            if (!c || !c->backColor || !c->backBrush) return false;
            SetBkColor(reinterpret_cast<HDC>(wParam), *c->backColor);
            result = reinterpret_cast<LRESULT>(c->backBrush.get());
            return true;
        }
        case WM_CONTEXTMENU:
            if (reinterpret_cast<HWND>(wParam) == ListView1) {
                POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
                if (at.x == -1 && at.y == -1) {  // from the keyboard: the list's corner
                    at = {0, 0};
                    ClientToScreen(ListView1, &at);
                }
                Popup(PopupMenu1, at);
                result = 0;
                return true;
            }
            return false;
        case WM_ACTIVATE:
            // The control that had the focus gets it back when the window is active again.
            if (window != Handle()) return false;
            if (LOWORD(wParam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus && IsChild(Handle(), focus)) lastFocus_ = focus;
            }
            return false;
        case WM_SETFOCUS:
            if (window != Handle()) return false;
            SetFocus(lastFocus_ && IsWindow(lastFocus_) && IsWindowVisible(lastFocus_) &&
                             IsWindowEnabled(lastFocus_)
                         ? lastFocus_
                         : ListView1);
            result = 0;
            return true;
        case WM_CLOSE:
            if (window != Handle()) return false;
            // During a run closing only asks the program to end: the run goes on, still served
            // by its pumps (Stop, moves, repaints), and the main loop ends after it.
            if (run_.InProgress())
                Application::RequestQuit(0);
            else
                DestroyWindow(window);
            result = 0;
            return true;
        case WM_DESTROY:
            if (window != Handle()) return false;
            DocEngineControl1.reset();  // closes the engine while its panel still exists
            if (OnDestroy) OnDestroy();
            return false;
        default:
            return false;
    }
}

void TForm1::Popup(HMENU menu, POINT screen) {
    const UINT id = services_.TrackPopup(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON,
                                         screen.x, screen.y, Handle());
    if (id == 0) return;
    Control* item = layout_->ById(static_cast<int>(id));
    if (item && item->onClick) item->onClick();
}

void TForm1::SetBackground(HWND control, COLORREF color) {
    Control* c = layout_->ByWindow(control);
    if (!c) return;
    c->backColor = color;
    c->backBrush = win::Brush(CreateSolidBrush(color));
    InvalidateRect(control, nullptr, TRUE);
}

// ---- start-up ----

void TForm1::FormCreate() {
    // 1. The skinned frame: region, double buffering, the hidden skin panel, title bar, frame
    //    buttons with their pictures, icon and caption, and the status label's place.
    BuildFrame();
    // 2-3. The list's styling: header tint and the progress bar's colour.
    StyleList();
    // 3. The bar shows only during a run.
    ShowProgressBar(false);
    // 4. Both radio buttons on the settings area's blue.
    SetBackground(RadioButton1, RGB(194, 233, 253));
    SetBackground(RadioButton2, RGB(194, 233, 253));
    // 5. "Setting Path", whatever the layout says: checking RadioButton1 runs its click.
    RadioButton1Click();
    // 6. The stop flag starts clear: run_ is new, and a Stop pressed before any run is dropped
    //    when the first run starts.
}

void TForm1::BuildFrame() {
    const SIZE size = WindowSize();
    // 1. The rounded outline.
    skin::SetRoundRegion(Handle(), size.cx, size.cy);
    // 2. Double buffering: the form and its panels always paint through a back buffer.
    // 3. The skin pictures' panel is a store, never shown.
    layout_->SetVisible(*PanelImage, false);
    // 4. The title bar from its source picture.
    skin::StretchTitleBar(*Image1, *ImageTop, skin::kTitleEndWidth, skin::kTitleStripHeight);
    // 5. The frame buttons above the title bar, at their places, with their pictures.
    skin::PlaceFrameButtons(Form->container->Host(), *ImgBtnMin, *ImgBtnMax, *ImgBtnClose, size.cx);
    CutButtonPics(*ImgBtnMin, skin::kMinimiseColumn);
    CutButtonPics(*ImgBtnMax, skin::kMaximiseColumn);
    CutButtonPics(*ImgBtnClose, skin::kCloseColumn);
    // 6-8. Icon and caption; until the first resize the caption is yellow, bold, 10 points.
    DrawTitle(skin::kCaptionStartColor, skin::kCaptionStartFont);
    // 9. The status label.
    PlaceStatusLabel();
    frameSize_ = size;
}

void TForm1::StyleList() {
    filelist::SetHeaderColor(ListView1, filelist::kHeaderColor);
    filelist::SetProgressBarColor(ProgressBar1);
}

SIZE TForm1::WindowSize() const {
    RECT rect{};
    GetWindowRect(Handle(), &rect);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

void TForm1::CutButtonPics(skin::TImgBtn& button, int column) {
    skin::CutButtonPics(button, *ImageM, skin::kFrameButtonWidth, skin::kFrameButtonHeight, column,
                        0);
}

void TForm1::DrawTitle(COLORREF color, const skin::CaptionFont& font) {
    const auto icon = reinterpret_cast<HICON>(SendMessageW(Handle(), WM_GETICON, ICON_SMALL, 0));
    skin::DrawTitleIcon(*Image1, icon);
    const int length = GetWindowTextLengthW(Handle());
    std::wstring caption(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(Handle(), caption.data(), length + 1);
    caption.resize(static_cast<size_t>(length));
    skin::DrawTitleCaption(*Image1, caption, color, font);
}

void TForm1::PlaceStatusLabel() {
    RECT panel{};
    GetClientRect(Panel1->window, &panel);
    const POINT at = skin::StatusLabelPosition(Image3->Bounds(), panel.right);
    Label1->SetBounds(at.x, at.y, Label1->Width(), Label1->Height());
}

void TForm1::FormResize() {
    // Runs after the controls have been docked for the new size. A minimised window keeps its
    // frame, and a WM_SIZE that changes nothing (the first showing, a restore from the taskbar)
    // is no change of size.
    if (frameSize_.cx == 0 || IsIconic(Handle())) return;
    const SIZE size = WindowSize();
    if (size.cx == frameSize_.cx && size.cy == frameSize_.cy) return;
    frameSize_ = size;
    skin::SetRoundRegion(Handle(), size.cx, size.cy);
    skin::StretchTitleBar(*Image1, *ImageTop, skin::kTitleEndWidth, skin::kTitleStripHeight);
    skin::PlaceFrameButtons(Form->container->Host(), *ImgBtnMin, *ImgBtnMax, *ImgBtnClose, size.cx);
    // The fresh title picture draws the caption in its default font: white, regular, 8 points.
    DrawTitle(skin::kCaptionColor, skin::kCaptionFont);
    PlaceStatusLabel();
    // The list's background picture is stretched over each painted part: after a change of size
    // the whole list is painted again, so the picture spans it in one piece.
    InvalidateRect(ListView1, nullptr, TRUE);
    // Maximised, the window leaves 30 pixels of the screen's height free; setting the height
    // runs this sequence once more, which then finds it unchanged.
    if (IsZoomed(Handle()) && size.cy != skin::MaximisedHeight()) {
        SetWindowPos(Handle(), nullptr, 0, 0, size.cx, skin::MaximisedHeight(),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void TForm1::Image1MouseDown(UINT buttonMessage, WPARAM keys, POINT where) {
    // Only a plain left press drags; the second press of a double-click is the maximise toggle.
    if (IsZoomed(Handle()) || buttonMessage != WM_LBUTTONDOWN) return;
    ReleaseCapture();
    SendMessageW(Handle(), WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
}

void TForm1::Image1DblClick() {
    ImgBtnMaxClick();
}

void TForm1::ImgBtnMinClick() {
    try {
        ShowWindow(Handle(), SW_MINIMIZE);
    } catch (...) {
        // Minimising is best effort: nothing to tell the user.
    }
}

void TForm1::ImgBtnMaxClick() {
    // The state change resizes the window, and FormResize lays the frame out for it.
    if (!IsZoomed(Handle())) {
        CutButtonPics(*ImgBtnMax, skin::kRestoreColumn);
        ShowWindow(Handle(), SW_MAXIMIZE);
    } else {
        CutButtonPics(*ImgBtnMax, skin::kMaximiseColumn);
        ShowWindow(Handle(), SW_SHOWNORMAL);
    }
}

void TForm1::ImgBtnCloseClick() {
    PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

// ---- output settings ----

void TForm1::RadioButton1Click() {
    SendMessageW(RadioButton1, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(RadioButton2, BM_SETCHECK, BST_UNCHECKED, 0);
    EnableWindow(LabeledEdit2, TRUE);
    if (auto* label = layout_->Find("LabeledEdit2")->editLabel.get()) label->SetEnabled(true);
    layout_->SetVisible(*layout_->ByWindow(SpeedButton2), true);
}

void TForm1::RadioButton2Click() {
    SendMessageW(RadioButton2, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(RadioButton1, BM_SETCHECK, BST_UNCHECKED, 0);
    EnableWindow(LabeledEdit2, FALSE);
    if (auto* label = layout_->Find("LabeledEdit2")->editLabel.get()) label->SetEnabled(false);
    layout_->SetVisible(*layout_->ByWindow(SpeedButton2), false);
}

void TForm1::SpeedButton2Click() {
    const std::string folder = BrowseForFolder("");
    if (!folder.empty()) SetWindowTextW(LabeledEdit2, win::Widen(folder).c_str());
}

std::string TForm1::BrowseForFolder(const std::string& initialFolder) {
    return filelist::BrowseForFolder(services_, initialFolder);
}

std::string TForm1::OutputFolder() const {
    return WindowText(LabeledEdit2);
}

OutputMode TForm1::Mode() const {
    return SendMessageW(RadioButton2, BM_GETCHECK, 0, 0) == BST_CHECKED ? OutputMode::OriginalPath
                                                                        : OutputMode::SettingPath;
}

// ---- help ----

void TForm1::SpeedButton13Click() {
    // The button's place in Panel1 taken as a place in the window's client area.
    RECT button;
    GetWindowRect(SpeedButton13, &button);
    MapWindowPoints(nullptr, Panel1->window, reinterpret_cast<POINT*>(&button), 2);
    POINT at{button.left + 45, button.top + (button.bottom - button.top)};
    ClientToScreen(Handle(), &at);
    Popup(PopupMenu2, at);
}

void TForm1::Manual1Click() {
    services_.ShellOpen(Handle(), L"open", BesideProgram(kHelpFileName), SW_SHOWNORMAL);
}

void TForm1::Home1Click() {
    // The default verb: the user's browser for a page.
    services_.ShellOpen(Handle(), nullptr, BesideProgram(kHomePageFileName), SW_SHOWNORMAL);
}

// ---- file list ----

void TForm1::AddFileEntry(const std::string& path) {
    fileList_->AddFileEntry(path);
}

void TForm1::SpeedButton3Click() {
    Label1->SetCaption("");
    const LayoutNode& dialog = *layout_->Find("dlgOpen1")->node;
    filelist::OpenDialogSettings settings;
    settings.filter = dialog.Text("filter");
    settings.flags = OpenDialogFlags(dialog);
    settings.bufferSize = dialog.Int("buffersize", MAX_PATH);
    for (const std::string& path : filelist::ChooseFiles(services_, Handle(), settings))
        AddFileEntry(path);
}

void TForm1::SpeedButton4Click() {
    Label1->SetCaption("");
    const std::string folder = BrowseForFolder("");
    if (folder.empty()) return;
    fileList_->AddFolder(folder);
}

// While a run is in progress the rows keep their places: removing and sorting wait.
void TForm1::SpeedButton20Click() {
    if (run_.InProgress()) return;
    fileList_->RemoveSelected();
}

void TForm1::SpeedButton5Click() {
    if (run_.InProgress()) return;
    fileList_->RemoveAll();
}

// The menu items perform a click of their buttons.
void TForm1::Remove1Click() {
    SpeedButton20Click();
}

void TForm1::RemoveAll1Click() {
    SpeedButton5Click();
}

void TForm1::ListView1ColumnClick(int column) {
    if (run_.InProgress()) return;
    sortColumn_ = column;
    fileList_->Sort(column);
}

void TForm1::ListView1DropFiles(HDROP drop) {
    std::vector<std::string> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring path(static_cast<size_t>(length) + 1, L'\0');
        DragQueryFileW(drop, i, path.data(), length + 1);
        path.resize(length);
        paths.push_back(win::Narrow(path));
    }
    // As Add and Add Folder do, the drop clears the status label first.
    Label1->SetCaption("");
    fileList_->AddDropped(paths);
}

LRESULT CALLBACK TForm1::ListSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR, DWORD_PTR self) {
    if (message == WM_DROPFILES) {
        const auto drop = reinterpret_cast<HDROP>(wParam);
        win::Guarded([&] {
            reinterpret_cast<TForm1*>(self)->ListView1DropFiles(drop);
            return 0;
        });
        DragFinish(drop);
        return 0;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

int TForm1::ListView1Compare(int row1, int row2) {
    return fileList_->Compare(row1, row2, sortColumn_);
}

// ---- conversion (the run itself is wired by the conversion run) ----

void TForm1::SpeedButton11Click() {
    // Convert: the run over the list. A failed save leaves here for the error box.
    run_.Run(runHost_);
}

void TForm1::Button1Click() {
    SpeedButton11Click();
}

void TForm1::SpeedButton1Click() {
    // Stop: the run in progress ends before its next file.
    run_.RequestStop();
    Label1->SetCaption("");
    ShowProgressBar(false);
}

void TForm1::ShowProgressBar(bool visible) {
    layout_->SetVisible(*layout_->ByWindow(ProgressBar1), visible);
}

}  // namespace vellumor::app
