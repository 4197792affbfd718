// The window's run over the look-ahead engine against the same run over one worker, in the real
// main window: the status texts and bar positions the user sees at every engine call, the
// boxes, the explorer launch and the PDFs in the output folder must be the same, also for Stop,
// a failed load in the third row and rows taken out of the list during the run. The workers
// are small fakes on their own threads that read a file and write it back as a "PDF".
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/form_run.h"
#include "batch/look_ahead_engine.h"
#include "core/error_text.h"
#include "engine/control/engine_choice.h"
#include "engine/input_file.h"
#include "tests/support/one_worker.h"
#include "tests/win/app/form_test_support.h"

using namespace vellumor;
using namespace vellumor::test;

namespace {

std::string ReadFileBytes(const std::string& path) {
    HANDLE file = CreateFileW(win::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    HANDLE file =
        CreateFileW(win::Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return true;
}

// A worker: text starting with "BAD" does not load; the PDF is "PDF:" and the source's text.
class FakeWorker : public ConversionEngine {
  public:
    explicit FakeWorker(std::atomic<int>& made) { ++made; }
    void LoadDocument(const std::string& path, SourceFormat) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::string text = ReadFileBytes(path);
        if (text.rfind("BAD", 0) == 0)
            throw EngineError(EngineFailure::LoadFailed,
                              "Cannot convert " + DisplayNameOf(path) + ": unreadable");
        document_ = "PDF:" + text;
    }
    SavedPdf SavePdf(const std::string& path) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!WriteFileBytes(path, document_))
            throw EngineError(EngineFailure::SaveFailed, "Cannot save " + DisplayNameOf(path));
        return {1};
    }

  private:
    std::string document_;
};

using OneWorker = vellumor::test::OneWorker<FakeWorker>;

// A worker whose office never comes up.
class UnstartableWorker : public FakeWorker {
  public:
    using FakeWorker::FakeWorker;
    void WaitUntilReady() override {
        throw EngineError(EngineFailure::StartFailed, "the office did not start");
    }
};

// Notes what the window shows at every engine call, then hands the call on; a look-ahead
// engine inside still hears of the rows.
class Watched : public DocumentEngine, public LookAhead {
  public:
    Watched(std::unique_ptr<DocumentEngine> inner, std::function<std::string()> screen)
        : inner_(std::move(inner)), screen_(std::move(screen)) {}
    std::vector<std::string> seen;
    std::function<void(const std::string& op, int calls)> during;
    int Load(const std::string& path, int reserved, int format, bool flag) override {
        Note("load", path);
        return inner_->Load(path, reserved, format, flag);
    }
    int Save(const std::string& path, int reserved, int format, bool flag) override {
        Note("save", path);
        return inner_->Save(path, reserved, format, flag);
    }
    void RowReached(int row, int rows, const ConversionPlan& plan) override {
        if (auto* ahead = dynamic_cast<LookAhead*>(inner_.get()))
            ahead->RowReached(row, rows, plan);
    }
    void RunEnded() override {
        if (auto* ahead = dynamic_cast<LookAhead*>(inner_.get())) ahead->RunEnded();
    }
    DocumentEngine& Inner() { return *inner_; }

  private:
    void Note(const std::string& op, const std::string& path) {
        seen.push_back(op + " " + DisplayNameOf(path) + " | " + screen_());
        if (during) during(op, static_cast<int>(seen.size()));
    }
    std::unique_ptr<DocumentEngine> inner_;
    std::function<std::string()> screen_;
};

class RunServices : public FakeServices {
  public:
    std::vector<std::wstring> explorer;
    void ShellLaunch(HWND, const wchar_t*, const std::wstring&, const std::wstring& parameters,
                     int) override {
        explorer.push_back(parameters);
    }
};

// One run in a fresh window; what it showed and left.
struct Outcome {
    std::vector<std::string> seen;  // per engine call, then the end
    std::vector<std::wstring> boxes;
    int explorerLaunches = 0;
    std::map<std::string, std::string> pdfs;
    bool operator==(const Outcome& o) const {
        return seen == o.seen && boxes == o.boxes && explorerLaunches == o.explorerLaunches &&
               pdfs == o.pdfs;
    }
};

void PrintTo(const Outcome& o, std::ostream* out) {
    for (const auto& s : o.seen) *out << "\n  " << s;
    *out << "\n  boxes " << o.boxes.size() << ", explorer " << o.explorerLaunches << ", pdfs";
    for (const auto& [name, text] : o.pdfs) *out << " " << name << "=" << text;
}

class LookAheadInWindow : public ::testing::Test {
  protected:
    // Rows: name -> text of the file.
    std::vector<std::pair<std::wstring, std::string>> files;
    // The look-ahead's workers, when not the usual fakes.
    LookAheadEngine::EngineMaker worker;
    // Acts at the engine call with this number (from 1), on the window.
    std::function<void(app::TForm1&, const std::string& op, int call)> during;

    Outcome RunWith(bool lookAhead, const std::wstring& outName) {
        RunServices services;
        app::Application application{services};
        app::TForm1 form(services);
        for (const auto& [name, text] : files)
            form.AddFileEntry(win::Narrow(docs.File(name, text)));
        const std::wstring out = docs.Path() + L"\\" + outName;
        SetWindowTextW(form.LabeledEdit2, out.c_str());
        std::unique_ptr<DocumentEngine> inner;
        if (lookAhead && worker)
            inner = std::make_unique<LookAheadEngine>(worker, LookAheadOptions{3});
        else if (lookAhead)
            inner = std::make_unique<LookAheadEngine>(
                [this] { return std::make_unique<FakeWorker>(made); }, LookAheadOptions{3});
        else
            inner = std::make_unique<OneWorker>(made);
        auto screen = [&form] {
            const bool bar = IsWindowVisible(form.ProgressBar1);
            return form.Label1->Caption() + " | bar " + (bar ? "" : "hidden ") +
                   std::to_string(SendMessageW(form.ProgressBar1, PBM_GETPOS, 0, 0)) + "/" +
                   std::to_string(SendMessageW(form.ProgressBar1, PBM_GETRANGE, FALSE, 0));
        };
        auto watched = std::make_unique<Watched>(std::move(inner), screen);
        Watched* engine = watched.get();
        engine->during = [&](const std::string& op, int call) {
            if (during) during(form, op, call);
        };
        form.DocEngineControl1 = std::move(watched);
        form.Show(SW_SHOWNOACTIVATE);
        PumpMessages();
        SendMessageW(form.SpeedButton11, BM_CLICK, 0, 0);
        PumpMessages();

        Outcome outcome;
        outcome.seen = engine->seen;
        outcome.seen.push_back("end | " + screen() + " | rows " +
                               std::to_string(form.FileList().Count()));
        for (auto& s : outcome.seen)  // the two runs write into folders of their own
            for (auto at = s.find(win::Narrow(outName)); at != std::string::npos;
                 at = s.find(win::Narrow(outName)))
                s.replace(at, outName.size(), "OUT");
        for (const auto& box : services.boxes)
            outcome.boxes.push_back(box.text + L"|" + box.caption);
        outcome.explorerLaunches = static_cast<int>(services.explorer.size());
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((out + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
                outcome.pdfs[win::Narrow(found.cFileName)] =
                    ReadFileBytes(win::Narrow(out + L"\\" + found.cFileName));
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        if (lookAhead) {
            auto& ahead = static_cast<LookAheadEngine&>(engine->Inner());
            taken = ahead.RowsTakenAhead();
            privateFolder = ahead.PrivateFolder();
        }
        return outcome;
    }

    void ExpectSame() {
        const Outcome one = RunWith(false, L"outSingle");
        const Outcome ahead = RunWith(true, L"outAhead");
        EXPECT_EQ(ahead, one);
        if (!privateFolder.empty())
            EXPECT_EQ(GetFileAttributesW(win::Widen(privateFolder).c_str()),
                      INVALID_FILE_ATTRIBUTES)
                << "the PDFs done ahead are gone with the engine";
        last = ahead;
    }

    void SetFiles(int count) {
        files.clear();
        for (int i = 0; i < count; ++i)
            files.emplace_back(L"doc" + std::to_wstring(i) + L".docx", "text " + std::to_string(i));
    }

    TempFolder docs;
    std::atomic<int> made{0};
    int taken = 0;
    std::string privateFolder;
    Outcome last;
};

// Input that waits in the queue for the run's next pump, as the user's clicks do.
void PostClick(HWND button) {
    PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
}

}  // namespace

TEST_F(LookAheadInWindow, ACompletedRunShowsTheSameTextsAndBarAndLeavesTheSamePdfs) {
    SetFiles(7);
    ExpectSame();
    EXPECT_EQ(last.pdfs.size(), 7u);
    EXPECT_EQ(last.explorerLaunches, 1);
    EXPECT_EQ(taken, 7) << "every row was converted ahead";
    // The status shows each row's output path as its save begins; the bar follows the saves.
    EXPECT_EQ(last.seen[1], "save doc0.pdf | " + docs.Utf8() + "\\OUT\\doc0.docx | bar 0/100");
    EXPECT_EQ(last.seen[3], "save doc1.pdf | " + docs.Utf8() + "\\OUT\\doc1.docx | bar 1/7");
    EXPECT_EQ(last.seen.back(), "end | Successed! | bar hidden 7/7 | rows 7");
}

TEST_F(LookAheadInWindow, StopDuringARowEndsTheRunBeforeTheNextAsWithOneWorker) {
    SetFiles(7);
    during = [](app::TForm1& form, const std::string& op, int call) {
        if (call == 4) PostClick(form.SpeedButton1);  // while row 1 is saved
    };
    ExpectSame();
    EXPECT_EQ(last.pdfs.size(), 2u);
    EXPECT_EQ(last.seen.back(), "end | Stopped | bar hidden 2/7 | rows 7");
}

TEST_F(LookAheadInWindow, AFailedLoadInTheThirdRowShowsTheBoxAndKeepsTheFirstTwoPdfs) {
    SetFiles(7);
    files[2].second = "BAD file";
    ExpectSame();
    EXPECT_EQ(last.pdfs.size(), 2u);
    ASSERT_EQ(last.boxes.size(), 1u);
    EXPECT_EQ(last.boxes[0], L"Failed to open the word file.|Error");
    EXPECT_EQ(last.seen.back(), "end |  | bar hidden 2/7 | rows 7");
}

TEST_F(LookAheadInWindow, RowsTakenOutOfTheListDuringTheRunAreNotConverted) {
    SetFiles(8);
    // The window's Remove waits while a run is in progress; rows taken out of the list by
    // other means (here straight through the list control) are skipped all the same, and what
    // was done ahead for them is thrown away.
    during = [](app::TForm1& form, const std::string& op, int call) {
        if (call == 2) {
            PostMessageW(form.ListView1, LVM_DELETEITEM, 1, 0);
            PostMessageW(form.ListView1, LVM_DELETEITEM, 1, 0);
        }
        if (call == 3) PostClick(form.SpeedButton20);  // refused while the run goes on
    };
    ExpectSame();
    EXPECT_EQ(last.pdfs.count("doc1.pdf"), 0u);
    EXPECT_EQ(last.pdfs.count("doc2.pdf"), 0u);
    EXPECT_EQ(last.pdfs.count("doc3.pdf"), 1u);
}

TEST_F(LookAheadInWindow, WhenNoWorkerCanStartTheWindowSaysTheEngineIsMissingAndChargesNoRow) {
    SetFiles(3);
    worker = [this] { return std::make_unique<UnstartableWorker>(made); };
    const Outcome outcome = RunWith(true, L"out");
    ASSERT_EQ(outcome.boxes.size(), 1u);
    const std::wstring expected = win::Widen(ErrorBoxText(kNoEngineMessage)) + L"|";
    EXPECT_EQ(outcome.boxes[0].substr(0, expected.size()), expected)
        << win::Narrow(outcome.boxes[0]);
    EXPECT_TRUE(outcome.pdfs.empty());
    EXPECT_EQ(outcome.seen.back().rfind("end |  | bar hidden", 0), 0u) << outcome.seen.back();
}
