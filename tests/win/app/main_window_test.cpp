// The main window built from the real stored layout: start-up state, geometry, output settings,
// the folder picker, the help menu and the top-level error box.
#include <windows.h>
#include <commctrl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "app/application.h"
#include "core/error_text.h"
#include "filelist/folder_picker.h"
#include "tests/win/app/form_test_support.h"
#include "win32/guard.h"

using namespace vellumor;
using namespace vellumor::test;

namespace {

bool SameRect(const RECT& r, int left, int top, int width, int height) {
    return r.left == left && r.top == top && r.right - r.left == width &&
           r.bottom - r.top == height;
}
std::string Describe(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " +
           std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top);
}
#define EXPECT_RECT(actual, l, t, w, h) \
    EXPECT_TRUE(SameRect(actual, l, t, w, h)) << #actual << " is " << Describe(actual)

bool Checked(HWND radio) {
    return SendMessageW(radio, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// True when a lies above b among their siblings.
bool Above(HWND a, HWND b) {
    for (HWND w = GetWindow(a, GW_HWNDNEXT); w; w = GetWindow(w, GW_HWNDNEXT))
        if (w == b) return true;
    return false;
}

}  // namespace

using MainWindow = FormTest;

TEST_F(MainWindow, StartsInSettingPathWithTheDefaultFolderAndNothingRunning) {
    EXPECT_TRUE(Checked(form->RadioButton1));
    EXPECT_FALSE(Checked(form->RadioButton2));
    EXPECT_TRUE(IsWindowEnabled(form->LabeledEdit2));
    EXPECT_EQ(WindowText(form->LabeledEdit2), "D:\\Output");
    EXPECT_TRUE(IsWindowVisible(form->SpeedButton2));
    EXPECT_FALSE(IsWindowVisible(form->ProgressBar1));
    EXPECT_EQ(form->Label1->Caption(), "");
    EXPECT_EQ(form->Mode(), OutputMode::SettingPath);
    EXPECT_FALSE(form->Run().StopRequested());
    EXPECT_FALSE(form->Run().InProgress());
    EXPECT_EQ(form->SortColumn(), 0);
    EXPECT_EQ(Rows(), 0);

    // A popup window with no system frame, captioned for the title bar and the taskbar.
    const LONG style = GetWindowLongW(form->Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & (WS_CAPTION | WS_THICKFRAME | WS_BORDER));
    EXPECT_EQ(WindowText(form->Handle()), "Vellumor 2.6");
    EXPECT_FALSE(form->PanelImage->visible);
    EXPECT_FALSE(IsWindowVisible(form->PanelImage->window));
}

TEST_F(MainWindow, ControlsSitWhereTheLayoutDocksThem) {
    RECT window;
    GetWindowRect(form->Handle(), &window);
    EXPECT_RECT(window, 308, 118, 724, 534);
    RECT client;
    GetClientRect(form->Handle(), &client);
    EXPECT_RECT(client, 0, 0, 724, 534);

    // Window children.
    EXPECT_RECT(form->Image1->Bounds(), 0, 0, 724, 33);
    EXPECT_RECT(form->Image9->Bounds(), 0, 33, 4, 497);
    EXPECT_RECT(form->Image10->Bounds(), 720, 33, 4, 497);
    EXPECT_RECT(form->Image2->Bounds(), 0, 530, 724, 4);
    EXPECT_RECT(RectInParent(form->Panel1->window), 4, 33, 716, 497);
    EXPECT_RECT(RectInParent(form->PanelImage->window), 416, 136, 265, 185);
    EXPECT_EQ(form->ImgBtnClose->Width(), 25);
    EXPECT_EQ(form->ImgBtnClose->Height(), 31);

    // The toolbar, the list area and the settings area.
    EXPECT_RECT(form->Image3->Bounds(), 0, 0, 716, 73);
    EXPECT_RECT(form->Image4->Bounds(), 0, 73, 716, 2);
    EXPECT_RECT(RectInParent(form->SpeedButton3), 0, 8, 49, 57);
    EXPECT_RECT(RectInParent(form->SpeedButton4), 48, 8, 49, 57);
    EXPECT_RECT(RectInParent(form->SpeedButton20), 96, 8, 49, 57);
    EXPECT_RECT(RectInParent(form->SpeedButton5), 144, 8, 65, 57);
    EXPECT_RECT(RectInParent(form->SpeedButton18), 212, 16, 1, 35);
    EXPECT_RECT(RectInParent(form->SpeedButton11), 216, 8, 57, 57);
    EXPECT_RECT(RectInParent(form->SpeedButton1), 272, 8, 49, 57);
    EXPECT_RECT(RectInParent(form->SpeedButton17), 324, 16, 1, 35);
    EXPECT_RECT(RectInParent(form->SpeedButton13), 328, 8, 57, 57);
    EXPECT_FALSE(IsWindowEnabled(form->SpeedButton17));
    EXPECT_FALSE(IsWindowEnabled(form->SpeedButton18));
    EXPECT_RECT(RectInParent(form->Panel2->window), 0, 75, 716, 319);
    EXPECT_RECT(RectInParent(form->Panel3->window), 0, 394, 716, 103);

    // The list fills its area while the bar is hidden and gives the bar 17 pixels when shown.
    EXPECT_RECT(RectInParent(form->ListView1), 0, 0, 716, 319);
    form->ShowProgressBar(true);
    EXPECT_RECT(RectInParent(form->ListView1), 0, 0, 716, 302);
    EXPECT_RECT(RectInParent(form->ProgressBar1), 0, 302, 716, 17);
    form->ShowProgressBar(false);
    EXPECT_RECT(RectInParent(form->ListView1), 0, 0, 716, 319);

    // The settings panel covers the push button below it, inside the bevel.
    EXPECT_RECT(RectInParent(form->Button1), 504, 72, 75, 25);
    EXPECT_RECT(RectInParent(form->Panel4->window), 1, 1, 714, 101);
    EXPECT_TRUE(Above(form->Panel4->window, form->Button1));
    EXPECT_RECT(form->Image5->Bounds(), 0, 0, 714, 101);
    EXPECT_RECT(RectInParent(form->SpeedButton2), 464, 46, 41, 43);
    EXPECT_EQ(form->Label2->Left(), 536);
    EXPECT_EQ(form->Label2->Top(), 24);
    EXPECT_EQ(form->Label3->Left(), 576);
    EXPECT_EQ(form->Label3->Top(), 48);
    EXPECT_EQ(form->Label4->Left(), 576);
    EXPECT_EQ(form->Label4->Top(), 64);
    EXPECT_RECT(RectInParent(form->RadioButton2), 288, 24, 113, 17);
    EXPECT_RECT(RectInParent(form->RadioButton1), 40, 24, 113, 17);
    EXPECT_TRUE(Above(form->RadioButton1, form->RadioButton2));
    EXPECT_RECT(RectInParent(form->LabeledEdit2), 128, 60, 337, 21);
    // Its label ends three pixels left of the box.
    const auto& editLabel = *form->Layout()["LabeledEdit2"].editLabel;
    EXPECT_EQ(editLabel.Caption(), "Output Path:  ");
    EXPECT_EQ(editLabel.Left() + editLabel.Width(), 128 - 3);

    // The pictures that serve only as sources take their pictures' sizes.
    EXPECT_EQ(form->ImageM->Width(), 101);
    EXPECT_EQ(form->ImageM->Height(), 93);
    EXPECT_EQ(form->ImageTop->Width(), 799);
    EXPECT_EQ(form->ImageTop->Height(), 37);
    EXPECT_EQ(form->ImageBk->Width(), 12);
    EXPECT_EQ(form->ImageBk->Height(), 32);
}

TEST_F(MainWindow, ToolButtonsShowCaptionsAndHints) {
    struct Expected {
        HWND button;
        const char* caption;
        const wchar_t* hint;
    };
    const Expected expected[] = {
        {form->SpeedButton3, "Add", L"Add File"},
        {form->SpeedButton4, "Adds", L"Add Folder"},
        {form->SpeedButton20, "Remove", L"Remove Selected"},
        {form->SpeedButton5, "Removes", L"Remove All"},
        {form->SpeedButton11, "Convert", L"Convert"},
        {form->SpeedButton1, "Stop", L"Stop conversion"},
        {form->SpeedButton13, "Help", L"Help"},
    };
    for (const auto& e : expected) {
        EXPECT_EQ(WindowText(e.button), e.caption);
        wchar_t text[128] = {};
        TTTOOLINFOW tool = {};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND;
        tool.hwnd = GetParent(e.button);
        tool.uId = reinterpret_cast<UINT_PTR>(e.button);
        tool.lpszText = text;
        SendMessageW(form->Tooltip(), TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&tool));
        EXPECT_STREQ(text, e.hint) << e.caption;
    }
    EXPECT_EQ(WindowText(form->SpeedButton2), "");
    EXPECT_EQ(WindowText(form->Button1), "Convert");
    EXPECT_EQ(WindowText(form->RadioButton1), "Setting Path");
    EXPECT_EQ(WindowText(form->RadioButton2), "Original Path");
    EXPECT_EQ(form->Label2->Caption(), "Click 'Convert' button to: ");
    EXPECT_EQ(form->Label3->Caption(), "Convert Docx to PDF");
    EXPECT_EQ(form->Label4->Caption(), "Convert Doc to PDF");
}

TEST_F(MainWindow, ToolButtonDrawsItsGlyphOverTheToolbar) {
    UpdateWindow(form->Handle());
    RedrawWindow(form->Handle(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    HDC dc = GetDC(form->SpeedButton3);
    // The corner shows the toolbar's green, the middle of the glyph the white page.
    const COLORREF corner = GetPixel(dc, 2, 2);
    const COLORREF page = GetPixel(dc, 24, 20);
    ReleaseDC(form->SpeedButton3, dc);
    EXPECT_GT(GetGValue(corner), GetRValue(corner) + 40);
    EXPECT_GT(GetGValue(corner), GetBValue(corner) + 40);
    EXPECT_GT(GetRValue(page), 200);
    EXPECT_GT(GetBValue(page), 200);
}

TEST_F(MainWindow, SwitchingModesKeepsTheFolderText) {
    SetWindowTextW(form->LabeledEdit2, L"E:\\Kept \x0414\x043E\x043A");
    Click(form->RadioButton2);
    EXPECT_TRUE(Checked(form->RadioButton2));
    EXPECT_FALSE(Checked(form->RadioButton1));
    EXPECT_FALSE(IsWindowEnabled(form->LabeledEdit2));
    EXPECT_FALSE(IsWindowVisible(form->SpeedButton2));
    EXPECT_EQ(form->Mode(), OutputMode::OriginalPath);
    EXPECT_EQ(form->OutputFolder(), "E:\\Kept \xD0\x94\xD0\xBE\xD0\xBA");

    Click(form->RadioButton1);
    EXPECT_TRUE(Checked(form->RadioButton1));
    EXPECT_FALSE(Checked(form->RadioButton2));
    EXPECT_TRUE(IsWindowEnabled(form->LabeledEdit2));
    EXPECT_TRUE(IsWindowVisible(form->SpeedButton2));
    EXPECT_EQ(form->Mode(), OutputMode::SettingPath);
    EXPECT_EQ(form->OutputFolder(), "E:\\Kept \xD0\x94\xD0\xBE\xD0\xBA");
}

TEST_F(MainWindow, BrowseButtonAsksForAFileSystemFolderAndKeepsTheTextWhenCancelled) {
    BROWSEINFOW seen = {};
    std::wstring initial = L"unset";
    services.onBrowse = [&](BROWSEINFOW& info) {
        seen = info;
        initial = reinterpret_cast<const wchar_t*>(info.lParam);
        return PIDLIST_ABSOLUTE{};
    };
    Click(form->SpeedButton2);
    EXPECT_EQ(services.browseCalls, 1);
    EXPECT_STREQ(seen.lpszTitle, L"Please Choose a Folder");
    EXPECT_EQ(seen.ulFlags, static_cast<UINT>(BIF_RETURNONLYFSDIRS));
    EXPECT_EQ(seen.pidlRoot, nullptr);
    EXPECT_EQ(seen.lpfn, &filelist::BrowseCallback);
    EXPECT_EQ(initial, L"");
    EXPECT_EQ(WindowText(form->LabeledEdit2), "D:\\Output");

    // A drive root keeps its backslash; another folder comes without one.
    services.BrowseAnswers(L"C:\\");
    Click(form->SpeedButton2);
    EXPECT_EQ(WindowText(form->LabeledEdit2), "C:\\");
    TempFolder folder;
    services.BrowseAnswers(folder.Path());
    Click(form->SpeedButton2);
    EXPECT_EQ(WindowText(form->LabeledEdit2), folder.Utf8());
}

namespace {
// A window that records what the browser's callback sends it.
UINT lastMessage = 0;
WPARAM lastW = 0;
std::wstring lastPath;
LRESULT CALLBACK Recorder(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == BFFM_SETSELECTIONW) {
        lastMessage = m;
        lastW = wp;
        lastPath = reinterpret_cast<const wchar_t*>(lp);
        return 0;
    }
    return DefWindowProcW(w, m, wp, lp);
}
}  // namespace

TEST(FolderPicker, CallbackSelectsTheInitialFolderOnceTheBrowserIsReady) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Recorder;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VellumorBrowseRecorder";
    RegisterClassW(&wc);
    HWND window = CreateWindowW(wc.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                wc.hInstance, nullptr);
    const wchar_t* initial = L"C:\\windows";
    EXPECT_EQ(filelist::BrowseCallback(window, BFFM_SELCHANGED, 0, (LPARAM)initial), 0);
    EXPECT_EQ(lastMessage, 0u);
    EXPECT_EQ(filelist::BrowseCallback(window, BFFM_INITIALIZED, 0, (LPARAM)initial), 0);
    EXPECT_EQ(lastMessage, static_cast<UINT>(BFFM_SETSELECTIONW));
    EXPECT_EQ(lastW, static_cast<WPARAM>(TRUE));
    EXPECT_EQ(lastPath, L"C:\\windows");
    DestroyWindow(window);
}

TEST_F(MainWindow, HelpMenuOpensUnderTheHelpButtonAndLaunchesManualAndHome) {
    Click(form->SpeedButton13);
    ASSERT_EQ(services.popups.size(), 1u);
    EXPECT_EQ(services.popups[0].menu, form->PopupMenu2);
    // The button's place in its panel (328, 8, height 57) taken as a window-client place.
    EXPECT_EQ(services.popups[0].x, 308 + 328 + 45);
    EXPECT_EQ(services.popups[0].y, 118 + 8 + 57);

    ASSERT_EQ(GetMenuItemCount(form->PopupMenu2), 2);
    wchar_t text[64] = {};
    GetMenuStringW(form->PopupMenu2, 0, text, 64, MF_BYPOSITION);
    EXPECT_STREQ(text, L"Manual");
    GetMenuStringW(form->PopupMenu2, 1, text, 64, MF_BYPOSITION);
    EXPECT_STREQ(text, L"Home");

    // Choosing "Manual": the help file beside the program, verb "open", normal window.
    services.popupAnswer = [](HMENU menu) { return GetMenuItemID(menu, 0); };
    Click(form->SpeedButton13);
    ASSERT_EQ(services.launches.size(), 1u);
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring folder(program);
    folder.resize(folder.find_last_of(L'\\') + 1);
    EXPECT_FALSE(services.launches[0].defaultVerb);
    EXPECT_EQ(services.launches[0].verb, L"open");
    EXPECT_EQ(services.launches[0].file, folder + L"tessolin.chm");
    EXPECT_EQ(services.launches[0].show, SW_SHOWNORMAL);

    // Choosing "Home": the home page beside the program with the default verb; the build puts
    // the shipped page there, picture included.
    services.popupAnswer = [](HMENU menu) { return GetMenuItemID(menu, 1); };
    Click(form->SpeedButton13);
    ASSERT_EQ(services.launches.size(), 2u);
    EXPECT_TRUE(services.launches[1].defaultVerb);
    EXPECT_EQ(services.launches[1].file, folder + L"index.html");
    EXPECT_EQ(services.launches[1].show, SW_SHOWNORMAL);
    const DWORD page = GetFileAttributesW(services.launches[1].file.c_str());
    EXPECT_TRUE(page != INVALID_FILE_ATTRIBUTES && !(page & FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_NE(GetFileAttributesW((folder + L"screenshot.png").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Application, ErrorBoxShowsTheMessageWithItsFullStopUnderTheProgramName) {
    FakeServices services;
    {
        app::Application application(services);
        win::Guarded([]() -> int { throw std::runtime_error("Disk full"); });
        win::Guarded([]() -> int { throw std::runtime_error("Done!"); });
        win::Guarded([]() -> int { throw 42; });
    }
    ASSERT_EQ(services.boxes.size(), 3u);
    EXPECT_EQ(services.boxes[0].text, L"Disk full.");
    EXPECT_EQ(services.boxes[1].text, L"Done!");
    EXPECT_EQ(services.boxes[2].text, L"");
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    EXPECT_EQ(services.boxes[0].caption, win::Widen(ApplicationTitle(win::Narrow(program))));
    EXPECT_EQ(services.boxes[0].caption, L"win_app_tests");
    EXPECT_EQ(services.boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONERROR));
}

TEST_F(MainWindow, AnExceptionInAHandlerReachesTheErrorBoxAndTheWindowLivesOn) {
    app::Application application(services);
    // A browse answer that throws inside the click handler of the browse button.
    services.onBrowse = [](BROWSEINFOW&) -> PIDLIST_ABSOLUTE {
        throw std::runtime_error("The shell is gone");
    };
    Click(form->SpeedButton2);
    ASSERT_EQ(services.boxes.size(), 1u);
    EXPECT_EQ(services.boxes[0].text, L"The shell is gone.");
    EXPECT_TRUE(IsWindow(form->Handle()));
    EXPECT_EQ(WindowText(form->LabeledEdit2), "D:\\Output");
}

TEST_F(MainWindow, ToolButtonClicksOnlyWhenReleasedOverIt) {
    HWND add = form->SpeedButton3;
    auto send = [&](UINT message, int x, int y) {
        SendMessageW(add, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON,
                     MAKELPARAM(static_cast<short>(x), static_cast<short>(y)));
    };
    send(WM_LBUTTONDOWN, 10, 10);
    EXPECT_TRUE(SendMessageW(add, BM_GETSTATE, 0, 0) & BST_PUSHED);
    send(WM_MOUSEMOVE, -20, 10);
    EXPECT_FALSE(SendMessageW(add, BM_GETSTATE, 0, 0) & BST_PUSHED);
    send(WM_LBUTTONUP, -20, 10);
    EXPECT_EQ(services.openCalls, 0);

    // Dragged off and back on before the release: a click.
    send(WM_LBUTTONDOWN, 10, 10);
    send(WM_MOUSEMOVE, -20, 10);
    send(WM_MOUSEMOVE, 12, 12);
    EXPECT_TRUE(SendMessageW(add, BM_GETSTATE, 0, 0) & BST_PUSHED);
    send(WM_LBUTTONUP, 12, 12);
    EXPECT_EQ(services.openCalls, 1);
    // The button never takes the keyboard focus.
    EXPECT_NE(GetFocus(), add);
}

TEST_F(MainWindow, TabMovesTheFocusBetweenTheWindowsControls) {
    SetForegroundWindow(form->Handle());
    SetFocus(form->LabeledEdit2);
    ASSERT_EQ(GetFocus(), form->LabeledEdit2);
    PostMessageW(form->LabeledEdit2, WM_KEYDOWN, VK_TAB, 0);
    app::Application::ProcessMessages();
    HWND next = GetFocus();
    EXPECT_NE(next, form->LabeledEdit2);
    EXPECT_TRUE(next == form->RadioButton1 || next == form->RadioButton2 ||
                next == form->ListView1 || next == form->Button1);
    EXPECT_EQ(form->Mode(), OutputMode::SettingPath);
}

TEST_F(MainWindow, ListIsAReportOfFiveTextColumnsInGreen) {
    const LONG style = GetWindowLongW(form->ListView1, GWL_STYLE);
    EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_FALSE(style & LVS_SINGLESEL);      // several rows can be selected
    EXPECT_TRUE(style & LVS_EDITLABELS);      // names can be edited in place
    EXPECT_FALSE(style & LVS_SHOWSELALWAYS);  // selection shown only with the focus
    EXPECT_FALSE(style & (LVS_NOCOLUMNHEADER | LVS_NOSORTHEADER | LVS_SORTASCENDING));
    EXPECT_FALSE(style & WS_BORDER);
    EXPECT_FALSE(GetWindowLongW(form->ListView1, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    const auto extended = SendMessageW(form->ListView1, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    EXPECT_FALSE(extended & (LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES));
    EXPECT_EQ(SendMessageW(form->ListView1, LVM_GETTEXTCOLOR, 0, 0), RGB(0, 128, 0));

    const struct {
        const wchar_t* caption;
        int width;
    } columns[] = {
        {L"Name", 100}, {L"Path", 200}, {L"Size", 100}, {L"Build Time", 120}, {L"ModifyTime", 220}};
    HWND header = reinterpret_cast<HWND>(SendMessageW(form->ListView1, LVM_GETHEADER, 0, 0));
    EXPECT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 5);
    for (int i = 0; i < 5; ++i) {
        wchar_t text[64] = {};
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = text;
        column.cchTextMax = 64;
        ASSERT_TRUE(SendMessageW(form->ListView1, LVM_GETCOLUMNW, i, (LPARAM)&column));
        EXPECT_STREQ(text, columns[i].caption);
        EXPECT_EQ(column.cx, columns[i].width);
    }

    // The output box has no border of its own.
    EXPECT_FALSE(GetWindowLongW(form->LabeledEdit2, GWL_STYLE) & WS_BORDER);
    EXPECT_FALSE(GetWindowLongW(form->LabeledEdit2, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
}

TEST_F(MainWindow, TheListHasTheFocusWhenTheWindowIsActivated) {
    SetForegroundWindow(form->Handle());
    SetActiveWindow(form->Handle());
    SetFocus(form->Handle());
    EXPECT_EQ(GetFocus(), form->ListView1);
}
