// The conversion run in the real main window, with a recording engine in the engine's place:
// the calls the engine receives, the label, the bar, the boxes, the explorer launch, and what
// the user can do while a run pumps messages (Stop, Convert again, Remove, closing).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/form_run.h"
#include "engine/control/DocEngineLib_TLB.h"
#include "engine/input_file.h"
#include "engine/control/engine_choice.h"
#include "tests/win/app/form_test_support.h"
#include "tests/win/engine/test_control.h"

using namespace vellumor;
using namespace vellumor::test;

namespace {

struct EngineCall {
    std::string op, path;
    int reserved, format;
    bool flag;
    std::string label;  // the status label while the call ran
};

class RecordingEngine : public DocumentEngine {
  public:
    RecordingEngine(std::vector<EngineCall>& calls, bool& destroyed)
        : calls_(calls), destroyed_(destroyed) {}
    ~RecordingEngine() override { destroyed_ = true; }
    int Load(const std::string& path, int reserved, int format, bool flag) override {
        return Call("Load", path, reserved, format, flag);
    }
    int Save(const std::string& path, int reserved, int format, bool flag) override {
        return Call("Save", path, reserved, format, flag);
    }
    std::function<std::string()> label;
    // Runs inside a call (after it is recorded): may fail it or post input for the next pump.
    std::function<void(const EngineCall&)> during;

  private:
    int Call(const char* op, const std::string& path, int reserved, int format, bool flag) {
        calls_.push_back({op, path, reserved, format, flag, label ? label() : ""});
        if (during) during(calls_.back());
        return 0;
    }
    std::vector<EngineCall>& calls_;
    bool& destroyed_;
};

class RunServices : public FakeServices {
  public:
    struct Launch {
        std::wstring verb, file, parameters;
        int show;
        HWND owner;
    };
    std::vector<Launch> shellLaunches;
    void ShellLaunch(HWND owner, const wchar_t* verb, const std::wstring& file,
                     const std::wstring& parameters, int show) override {
        shellLaunches.push_back({verb ? verb : L"", file, parameters, show, owner});
    }
};

// What a thread timer's procedure does when it fires (timers cannot carry a lambda's state).
std::function<void()> g_onTimer;
void CALLBACK TimerFired(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (g_onTimer) g_onTimer();
}

class ConversionInWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        form = std::make_unique<app::TForm1>(services);
        auto engine = std::make_unique<RecordingEngine>(calls, engineDestroyed);
        engine->label = [this] { return form->Label1->Caption(); };
        engine_ = engine.get();
        form->DocEngineControl1 = std::move(engine);
        form->Show(SW_SHOWNOACTIVATE);
        PumpMessages();
        output = docs.Utf8() + "\\out";
        SetWindowTextW(form->LabeledEdit2, win::Widen(output).c_str());
    }
    void TearDown() override {
        form.reset();
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    void Add(const std::wstring& name) { form->AddFileEntry(win::Narrow(docs.File(name, 10))); }
    // A file the input check takes for a Word package: a zip whose one member is word/.
    void AddPackage(const std::wstring& name) {
        std::string member = "word/document.xml";
        std::string bytes("PK\x03\x04", 4);
        bytes += std::string(22, '\0');
        bytes += static_cast<char>(member.size());
        bytes += std::string(3, '\0');
        bytes += member;
        form->AddFileEntry(win::Narrow(docs.File(name, bytes)));
    }
    void Convert() { SendMessageW(form->SpeedButton11, BM_CLICK, 0, 0); }
    // Input the user gives while the engine works: handled at the run's next pump.
    void PostClick(HWND button) {
        PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    }
    std::string Doc(const std::string& name) { return docs.Utf8() + "\\" + name; }
    std::string Out(const std::string& name) { return output + "\\" + name; }
    int BarMaximum() {
        return static_cast<int>(SendMessageW(form->ProgressBar1, PBM_GETRANGE, FALSE, 0));
    }
    int BarPosition() {
        return static_cast<int>(SendMessageW(form->ProgressBar1, PBM_GETPOS, 0, 0));
    }
    bool BarVisible() { return IsWindowVisible(form->ProgressBar1) != FALSE; }
    std::vector<std::string> Ops() {
        std::vector<std::string> ops;
        for (const auto& c : calls)
            ops.push_back(c.op + " " + c.path + " " + std::to_string(c.format));
        return ops;
    }

    RunServices services;
    app::Application application{services};
    TempFolder docs;
    std::string output;
    std::unique_ptr<app::TForm1> form;
    std::vector<EngineCall> calls;
    bool engineDestroyed = false;
    RecordingEngine* engine_ = nullptr;
};

TEST_F(ConversionInWindow, ConvertsEveryRowIntoTheOutputFolderAndOpensTheExplorer) {
    Add(L"a.docx");
    Add(L"Report.final.DOC");
    Convert();

    EXPECT_EQ(Ops(), (std::vector<std::string>{"Load " + Doc("a.docx") + " 13",
                                               "Save " + Out("a.pdf") + " 12",
                                               "Load " + Doc("Report.final.DOC") + " 9",
                                               "Save " + Out("Report.final.pdf") + " 12"}));
    for (const auto& c : calls) {
        EXPECT_EQ(c.reserved, 0);
        EXPECT_FALSE(c.flag);
    }
    // While a file is saved the label shows its output path before the extension change.
    EXPECT_EQ(calls[0].label, "Converting...");
    EXPECT_EQ(calls[1].label, Out("a.docx"));
    EXPECT_EQ(calls[3].label, Out("Report.final.DOC"));

    const DWORD attributes = GetFileAttributesW(win::Widen(output).c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(form->Label1->Caption(), "Successed!");
    EXPECT_FALSE(BarVisible());
    EXPECT_EQ(BarMaximum(), 2);
    EXPECT_EQ(BarPosition(), 2);
    ASSERT_EQ(services.shellLaunches.size(), 1u);
    EXPECT_EQ(services.shellLaunches[0].verb, L"open");
    EXPECT_EQ(services.shellLaunches[0].file, L"Explorer.exe");
    EXPECT_EQ(services.shellLaunches[0].parameters, win::Widen(output));
    EXPECT_EQ(services.shellLaunches[0].show, SW_SHOWNORMAL);
    EXPECT_EQ(services.shellLaunches[0].owner, form->Handle());
    EXPECT_TRUE(services.boxes.empty());
}

TEST_F(ConversionInWindow, BothConvertButtonsRunTheSameAndBothModesNameTheirPdfs) {
    Add(L"a.docx");
    SetWindowTextW(form->LabeledEdit2, win::Widen(output + "\\").c_str());
    SendMessageW(form->Button1, BM_CLICK, 0, 0);
    EXPECT_EQ(Ops(), (std::vector<std::string>{"Load " + Doc("a.docx") + " 13",
                                               "Save " + Out("a.pdf") + " 12"}));
    ASSERT_EQ(services.shellLaunches.size(), 1u);
    EXPECT_EQ(services.shellLaunches[0].parameters, win::Widen(output + "\\"));

    calls.clear();
    SendMessageW(form->RadioButton2, BM_CLICK, 0, 0);
    Convert();
    EXPECT_EQ(Ops(), (std::vector<std::string>{"Load " + Doc("a.docx") + " 13",
                                               "Save " + Doc("a.pdf") + " 12"}));
    EXPECT_EQ(calls[1].label, Doc("a.docx"));
    ASSERT_EQ(services.shellLaunches.size(), 2u);
    EXPECT_EQ(services.shellLaunches[1].parameters, win::Widen(output + "\\"));
}

TEST_F(ConversionInWindow, AnEmptyListSucceedsAtOnce) {
    Convert();
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(form->Label1->Caption(), "Successed!");
    EXPECT_FALSE(BarVisible());
    EXPECT_EQ(services.shellLaunches.size(), 1u);
    EXPECT_NE(GetFileAttributesW(win::Widen(output).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ConversionInWindow, AFailedLoadInTheThirdRowEndsTheRunWithItsBox) {
    for (auto name : {L"1.doc", L"2.doc", L"3.doc", L"4.doc"}) Add(name);
    engine_->during = [this](const EngineCall& c) {
        if (c.op == "Load" && c.path == Doc("3.doc")) throw EngineError("unreadable");
    };
    Convert();
    EXPECT_EQ(Ops(), (std::vector<std::string>{
                         "Load " + Doc("1.doc") + " 9", "Save " + Out("1.pdf") + " 12",
                         "Load " + Doc("2.doc") + " 9", "Save " + Out("2.pdf") + " 12",
                         "Load " + Doc("3.doc") + " 9"}));
    ASSERT_EQ(services.boxes.size(), 1u);
    EXPECT_EQ(services.boxes[0].text, L"Failed to open the word file.");
    EXPECT_EQ(services.boxes[0].caption, L"Error");
    EXPECT_EQ(services.boxes[0].flags, static_cast<UINT>(MB_OK));
    EXPECT_EQ(form->Label1->Caption(), "");
    EXPECT_FALSE(BarVisible());
    EXPECT_TRUE(services.shellLaunches.empty());
}

TEST_F(ConversionInWindow, ARowThatIsNoWordDocumentIsAFailedLoadNotASave) {
    Add(L"a.doc");
    Add(L"notes.txt");
    Add(L"b.doc");
    Convert();
    EXPECT_EQ(Ops(), (std::vector<std::string>{"Load " + Doc("a.doc") + " 9",
                                               "Save " + Out("a.pdf") + " 12"}));
    ASSERT_EQ(services.boxes.size(), 1u);
    EXPECT_EQ(services.boxes[0].text, L"Failed to open the word file.");
}

TEST_F(ConversionInWindow, AFailedSaveReachesTheErrorBoxAndLeavesTheBarAndLabel) {
    Add(L"a.doc");
    Add(L"b.doc");
    Add(L"c.doc");
    engine_->during = [this](const EngineCall& c) {
        if (c.op == "Save" && c.path == Out("b.pdf")) throw EngineError("The disk is full");
    };
    Convert();
    EXPECT_EQ(calls.size(), 4u);  // c.doc is not loaded
    ASSERT_EQ(services.boxes.size(), 1u);
    EXPECT_EQ(services.boxes[0].text, L"The disk is full.");
    EXPECT_EQ(services.boxes[0].caption, win::Widen(app::Application::Title()));
    EXPECT_EQ(services.boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(form->Label1->Caption(), Out("b.doc"));
    EXPECT_TRUE(BarVisible());
    EXPECT_EQ(BarMaximum(), 3);
    EXPECT_EQ(BarPosition(), 2);
    EXPECT_TRUE(services.shellLaunches.empty());
    EXPECT_FALSE(form->Run().InProgress());
}

TEST_F(ConversionInWindow, StopDuringAFileEndsTheRunBeforeTheNext) {
    for (auto name : {L"1.doc", L"2.doc", L"3.doc"}) Add(name);
    std::string labelAfterStop;
    engine_->during = [this](const EngineCall& c) {
        if (c.op == "Save" && c.path == Out("1.pdf")) PostClick(form->SpeedButton1);
        if (c.op == "Load" && c.path == Doc("2.doc")) ADD_FAILURE() << "the next row was loaded";
    };
    Convert();
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_EQ(form->Label1->Caption(), "Stopped");
    EXPECT_FALSE(BarVisible());
    EXPECT_EQ(BarPosition(), 1);  // the file in progress was completed and counted
    EXPECT_TRUE(services.shellLaunches.empty());
    EXPECT_FALSE(form->Run().StopRequested());
}

TEST_F(ConversionInWindow, StopWithNoRunEmptiesTheLabelAndHidesTheBarOnly) {
    Add(L"a.doc");
    form->Label1->SetCaption("Successed!");
    form->ShowProgressBar(true);
    SendMessageW(form->SpeedButton1, BM_CLICK, 0, 0);
    EXPECT_EQ(form->Label1->Caption(), "");
    EXPECT_FALSE(BarVisible());
    EXPECT_TRUE(calls.empty());
    // The next run does not end on that old Stop.
    Convert();
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_EQ(form->Label1->Caption(), "Successed!");
}

TEST_F(ConversionInWindow, CommandsDuringARunCannotStartASecondRunOrMoveTheRows) {
    Add(L"a.doc");
    Add(L"b.doc");
    engine_->during = [this](const EngineCall& c) {
        if (c.path != Out("a.pdf")) return;
        PostClick(form->SpeedButton11);
        PostMessageW(GetParent(form->Button1), WM_COMMAND,
                     MAKEWPARAM(GetDlgCtrlID(form->Button1), BN_CLICKED),
                     reinterpret_cast<LPARAM>(form->Button1));
        PostClick(form->SpeedButton5);  // Remove All
    };
    Convert();
    EXPECT_EQ(Ops(), (std::vector<std::string>{
                         "Load " + Doc("a.doc") + " 9", "Save " + Out("a.pdf") + " 12",
                         "Load " + Doc("b.doc") + " 9", "Save " + Out("b.pdf") + " 12"}));
    EXPECT_EQ(form->FileList().Count(), 2);
    EXPECT_EQ(services.shellLaunches.size(), 1u);
}

TEST_F(ConversionInWindow, ClosingTheWindowDuringARunLetsTheRunFinishThenEndsTheProgram) {
    Add(L"a.doc");
    Add(L"b.doc");
    engine_->during = [this](const EngineCall& c) {
        if (c.path == Out("a.pdf")) PostMessageW(form->Handle(), WM_CLOSE, 0, 0);
    };
    Convert();
    EXPECT_EQ(calls.size(), 4u);
    EXPECT_EQ(form->Label1->Caption(), "Successed!");
    EXPECT_EQ(services.shellLaunches.size(), 1u);
    EXPECT_TRUE(IsWindow(form->Handle()));
    EXPECT_FALSE(engineDestroyed);
    // The request to end waits for the main loop, which then ends at once.
    EXPECT_TRUE(app::Application::QuitRequested());
    EXPECT_EQ(RunMainLoop(application), 0);
    EXPECT_FALSE(app::Application::QuitRequested());
}

// After a close request the run's pumps still serve what waits in the queue: a repaint asked
// for after the close is painted at the next pump, not when the run is over.
TEST_F(ConversionInWindow, AfterACloseTheRunStillRepaintsAtItsPumps) {
    for (auto name : {L"1.doc", L"2.doc", L"3.doc"}) Add(name);
    bool invalidated = false, paintedDuringRun = false;
    engine_->during = [&](const EngineCall& c) {
        if (c.op == "Save" && c.path == Out("1.pdf")) PostMessageW(form->Handle(), WM_CLOSE, 0, 0);
        if (c.op == "Load" && c.path == Doc("2.doc")) {
            EXPECT_TRUE(app::Application::QuitRequested());
            invalidated = InvalidateRect(form->ListView1, nullptr, TRUE) != FALSE;
        }
        if (c.op == "Load" && c.path == Doc("3.doc"))
            paintedDuringRun = !GetUpdateRect(form->ListView1, nullptr, FALSE);
    };
    Convert();
    EXPECT_TRUE(invalidated);
    EXPECT_TRUE(paintedDuringRun);
    EXPECT_EQ(calls.size(), 6u);
    EXPECT_EQ(form->Label1->Caption(), "Successed!");
    EXPECT_EQ(RunMainLoop(application), 0);
}

// The user's sequence: the frame's close button once the first PDF exists, then Stop, both
// clicked with the mouse. The run stops before the third file and the program then ends.
TEST_F(ConversionInWindow, CloseThenStopWithTheMouseStopsTheRunAtTheNextFile) {
    for (auto name : {L"1.doc", L"2.doc", L"3.doc", L"4.doc", L"5.doc", L"6.doc"}) Add(name);
    SetWindowPos(form->Handle(), HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    PumpMessages();
    const POINT closeAt = CentreOnScreen(*form->ImgBtnClose);
    bool closeClicked = false;
    form->ImgBtnClose->OnClick = [&] {
        closeClicked = true;
        form->ImgBtnCloseClick();
    };
    engine_->during = [&](const EngineCall& c) {
        if (c.op == "Save" && c.path == Out("1.pdf")) ClickOnScreen(closeAt);
        if (c.op == "Load" && c.path == Doc("2.doc")) {
            EXPECT_TRUE(closeClicked);
            EXPECT_TRUE(app::Application::QuitRequested());
            ClickOnScreen(CentreOnScreen(form->SpeedButton1));
        }
        if (c.op == "Load" && c.path == Doc("3.doc")) ADD_FAILURE() << "the run went on after Stop";
    };
    Convert();
    SetCursorPos(1, 1);
    EXPECT_EQ(Ops(), (std::vector<std::string>{
                         "Load " + Doc("1.doc") + " 9", "Save " + Out("1.pdf") + " 12",
                         "Load " + Doc("2.doc") + " 9", "Save " + Out("2.pdf") + " 12"}));
    EXPECT_EQ(form->Label1->Caption(), "Stopped");
    EXPECT_FALSE(BarVisible());
    EXPECT_TRUE(services.shellLaunches.empty());
    EXPECT_TRUE(IsWindow(form->Handle()));  // the window goes with the program, after the run
    EXPECT_EQ(RunMainLoop(application), 0);
}

// A quit posted by anything else while the run pumps is kept for the main loop as well, and the
// messages behind it are still handled.
TEST_F(ConversionInWindow, AQuitMetWhilePumpingIsKeptAndTheQueueStillServed) {
    for (auto name : {L"1.doc", L"2.doc", L"3.doc"}) Add(name);
    engine_->during = [&](const EngineCall& c) {
        if (c.op == "Save" && c.path == Out("1.pdf")) {
            PostQuitMessage(7);
            PostClick(form->SpeedButton1);
        }
    };
    Convert();
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_EQ(form->Label1->Caption(), "Stopped");
    EXPECT_EQ(RunMainLoop(application), 7);
}

TEST_F(ConversionInWindow, UpdateProgressPumpsFirstThenSetsTheMainWindowsBar) {
    EXPECT_EQ(app::MainForm(), form.get());
    SendMessageW(form->ProgressBar1, PBM_SETRANGE32, 0, 10);
    SendMessageW(form->ProgressBar1, PBM_SETPOS, 5, 0);
    int seenMaximum = -1, seenPosition = -1;
    g_onTimer = [&] {
        seenMaximum = BarMaximum();
        seenPosition = BarPosition();
    };
    SetTimer(nullptr, 0, 1, TimerFired);
    Sleep(50);
    // Beyond 16 bits: the range is set whole.
    app::UpdateProgress(100000, 70000);
    g_onTimer = nullptr;
    EXPECT_EQ(seenMaximum, 10);  // the pending message ran before the bar was set
    EXPECT_EQ(seenPosition, 5);
    EXPECT_EQ(BarMaximum(), 100000);
    EXPECT_EQ(BarPosition(), 70000);
    EXPECT_EQ(SendMessageW(form->ProgressBar1, PBM_GETRANGE, TRUE, 0), 0);  // the minimum

    // Without a main window it only pumps.
    form.reset();
    EXPECT_EQ(app::MainForm(), nullptr);
    bool pumped = false;
    g_onTimer = [&] { pumped = true; };
    SetTimer(nullptr, 0, 1, TimerFired);
    Sleep(50);
    app::UpdateProgress(3, 1);
    g_onTimer = nullptr;
    EXPECT_TRUE(pumped);
}

TEST_F(ConversionInWindow, ASecondRunShowsTheLastRunsFullBarUntilItsFirstSave) {
    Add(L"a.doc");
    Add(L"b.doc");
    Convert();
    ASSERT_EQ(BarMaximum(), 2);
    ASSERT_EQ(BarPosition(), 2);
    Add(L"c.doc");
    calls.clear();
    struct Bar {
        bool visible;
        int maximum, position;
    };
    std::vector<Bar> seen;
    engine_->during = [&](const EngineCall&) {
        seen.push_back({BarVisible(), BarMaximum(), BarPosition()});
    };
    Convert();
    ASSERT_EQ(seen.size(), 6u);
    for (int call : {0, 1}) {  // the first file's load and save
        EXPECT_TRUE(seen[call].visible);
        EXPECT_EQ(seen[call].maximum, 2) << call;
        EXPECT_EQ(seen[call].position, 2) << call;
    }
    EXPECT_EQ(seen[2].maximum, 3);  // after the first save: the new count
    EXPECT_EQ(seen[2].position, 1);
    EXPECT_EQ(BarMaximum(), 3);
    EXPECT_EQ(BarPosition(), 3);
}

TEST_F(ConversionInWindow, RowsAddedWhileAFileIsSavedCountFromTheNextUpdate) {
    Add(L"a.doc");
    Add(L"b.doc");
    std::vector<int> maximumAtLoad;
    engine_->during = [&](const EngineCall& c) {
        if (c.op == "Load") maximumAtLoad.push_back(BarMaximum());
        // Added through a message handled in the pump inside a.doc's progress update.
        if (c.path == Out("a.pdf")) {
            SetTimer(nullptr, 0, 0, TimerFired);
            Sleep(20);
        }
    };
    g_onTimer = [&] { Add(L"late.doc"); };
    Convert();
    g_onTimer = nullptr;
    ASSERT_EQ(maximumAtLoad.size(), 2u);
    EXPECT_EQ(maximumAtLoad[1], 2);  // a.doc's update read the count before its pump
    EXPECT_EQ(BarMaximum(), 3);
    EXPECT_EQ(calls.size(), 4u);
}

TEST_F(ConversionInWindow, DestroyingTheWindowClosesTheEngine) {
    DestroyWindow(form->Handle());
    EXPECT_TRUE(engineDestroyed);
    EXPECT_EQ(form->DocEngineControl1, nullptr);
}

// The engine chosen at start-up, with our own test control registered in the control's place.
TEST_F(ConversionInWindow, TheRegisteredControlIsHostedInItsPanelBelowTheSettings) {
    testctl::Reset();
    {
        testctl::Registration registration(kDocEngineClassId);
        ASSERT_TRUE(registration.ok());
        form->DocEngineControl1 = app::MakeStartupEngine(*form, [] {
            ADD_FAILURE() << "the worker was asked for";
            return std::unique_ptr<DocumentEngine>();
        });
        // The control sits behind the input check every engine is given its files through.
        auto* checked = dynamic_cast<InputCheckedEngine*>(form->DocEngineControl1.get());
        ASSERT_NE(checked, nullptr);
        auto* control = dynamic_cast<TDocEngineControl*>(&checked->inner());
        ASSERT_NE(control, nullptr);
        EXPECT_TRUE(control->Initialized());
        HWND window = control->ControlWindow();
        EXPECT_EQ(GetParent(window), form->Panel3->window);
        EXPECT_EQ(RectInParent(window).left, 1);
        EXPECT_EQ(RectInParent(window).top, 1);
        EXPECT_EQ(RectInParent(window).right, 715);
        EXPECT_EQ(RectInParent(window).bottom, 51);
        // The settings panel, a later sibling, lies above the control and hides it.
        bool settingsAbove = false;
        for (HWND w = GetWindow(form->Panel4->window, GW_HWNDNEXT); w;
             w = GetWindow(w, GW_HWNDNEXT))
            settingsAbove = settingsAbove || w == window;
        EXPECT_TRUE(settingsAbove);

        AddPackage(L"a.docx");
        Convert();
        EXPECT_EQ(testctl::log().calls.size(), 2u);
        // What the input check refuses (here an empty file) never reaches the control.
        EXPECT_THROW(
            form->DocEngineControl1->Load(win::Narrow(docs.File(L"empty.docx", 0)), 0, 13, false),
            EngineError);
        // Nor does binary content the check cannot name, which the workers leave to the office's
        // detection: the control does not say whether its office read it as text.
        try {
            form->DocEngineControl1->Load(
                win::Narrow(docs.File(L"junk.doc", std::string("binary \x01\x02 data\0", 15))), 0,
                9, false);
            ADD_FAILURE() << "binary junk reached the control";
        } catch (const EngineError& e) {
            EXPECT_STREQ(
                e.what(),
                "Cannot convert junk.doc: it is not a Word document (unrecognised content)");
        }
        EXPECT_EQ(testctl::log().calls.size(), 2u);
        EXPECT_EQ(form->Label1->Caption(), "Successed!");
        form.reset();
    }
    EXPECT_EQ(testctl::log().liveObjects, 0);
    EXPECT_EQ(testctl::log().steps.back(), "Destroyed");
}

TEST_F(ConversionInWindow, WithNoEngineTheStartUpSaysWhatIsMissing) {
    try {
        app::MakeStartupEngine(*form, [] { return std::unique_ptr<DocumentEngine>(); });
        ADD_FAILURE() << "an engine was made";
    } catch (const EngineError& e) {
        EXPECT_STREQ(e.what(), kNoEngineMessage);
    }
}

}  // namespace
