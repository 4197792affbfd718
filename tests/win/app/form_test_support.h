// Shared by the main window's tests: services that answer instead of the user, a temporary
// folder on C:, and small readers of the window's state.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "app/application.h"
#include "app/services.h"
#include "win32/unicode.h"

namespace vellumor::test {

class FakeServices : public app::Services {
  public:
    std::function<bool(OPENFILENAMEW&)> onOpen = [](OPENFILENAMEW&) { return false; };
    std::function<PIDLIST_ABSOLUTE(BROWSEINFOW&)> onBrowse = [](BROWSEINFOW&) {
        return PIDLIST_ABSOLUTE{};
    };
    struct Launch {
        bool defaultVerb = false;
        std::wstring verb, file;
        int show = 0;
    };
    std::vector<Launch> launches;
    // Programs started with parameters (Explorer on the output folder when a run completes).
    // Recorded, never started: a real one outlives the test and keeps ctest's pipes open.
    struct ProgramLaunch {
        std::wstring verb, file, parameters;
        int show = 0;
    };
    std::vector<ProgramLaunch> programs;
    struct Box {
        std::wstring text, caption;
        UINT flags = 0;
    };
    std::vector<Box> boxes;
    struct PopupCall {
        HMENU menu;
        int x, y;
    };
    std::vector<PopupCall> popups;
    std::function<UINT(HMENU)> popupAnswer = [](HMENU) { return 0u; };
    int openCalls = 0, browseCalls = 0;

    bool OpenFiles(OPENFILENAMEW& dialog) override {
        ++openCalls;
        return onOpen(dialog);
    }
    PIDLIST_ABSOLUTE BrowseForFolder(BROWSEINFOW& info) override {
        ++browseCalls;
        return onBrowse(info);
    }
    void ShellOpen(HWND, const wchar_t* verb, const std::wstring& file, int show) override {
        launches.push_back({verb == nullptr, verb ? verb : L"", file, show});
    }
    void ShellLaunch(HWND, const wchar_t* verb, const std::wstring& file,
                     const std::wstring& parameters, int show) override {
        programs.push_back({verb ? verb : L"", file, parameters, show});
    }
    int MessageBox(HWND, const std::wstring& text, const std::wstring& caption,
                   UINT flags) override {
        boxes.push_back({text, caption, flags});
        return IDOK;
    }
    UINT TrackPopup(HMENU menu, UINT, int x, int y, HWND) override {
        popups.push_back({menu, x, y});
        return popupAnswer(menu);
    }

    // The browser answers with the item of a path.
    void BrowseAnswers(const std::wstring& path) {
        onBrowse = [path](BROWSEINFOW&) { return ILCreateFromPathW(path.c_str()); };
    }
};

// A fresh folder under the Wine prefix's temporary folder (on C:), removed afterwards.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    const std::wstring& Path() const { return path_; }
    std::string Utf8() const { return win::Narrow(path_); }
    // Creates a file of the given size (bytes of 'x') and returns its full path.
    std::wstring File(const std::wstring& name, DWORD size = 0, DWORD attributes = 0);
    // Creates a file holding these bytes and returns its full path.
    std::wstring File(const std::wstring& name, const std::string& bytes);
    std::wstring Folder(const std::wstring& name);

  private:
    std::wstring path_;
};

// Sets a file's creation and last-write times from local calendar times.
void SetLocalTimes(const std::wstring& path, const SYSTEMTIME& created, const SYSTEMTIME& written);
// The cell text the list shows for a local time, in the user's formats.
std::string ExpectedTimeText(const SYSTEMTIME& local, bool withTime);

// Texts of one column, top to bottom.
std::vector<std::string> Column(app::TForm1& form, int column);
// A control's rectangle relative to its parent's client area.
RECT RectInParent(HWND window);
std::string WindowText(HWND window);
void PumpMessages();

// Runs the main loop as the program does after a handler has returned, and returns its code. A
// fault that left the loop waiting would hang the test: the loop is ended anyway after three
// seconds, with code 99.
int RunMainLoop(app::Application& application);
// A left click as the user gives it: hardware input at a point of the screen. Such input is
// handed out after posted messages (and after a quit), as a real click waits in the queue.
void ClickOnScreen(POINT at);
// The centre of a window, and of a windowless control, on the screen.
POINT CentreOnScreen(HWND window);
POINT CentreOnScreen(const skin::WindowlessControl& control);

class FormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        form = std::make_unique<app::TForm1>(services);
        form->Show(SW_SHOWNOACTIVATE);
        PumpMessages();
    }
    void TearDown() override {
        form.reset();
        PumpMessages();
    }
    // A click of a windowed button as the user makes it (press and release inside).
    static void Click(HWND button) { SendMessageW(button, BM_CLICK, 0, 0); }
    int Rows() { return form->FileList().Count(); }

    FakeServices services;
    std::unique_ptr<app::TForm1> form;
};

}  // namespace vellumor::test
