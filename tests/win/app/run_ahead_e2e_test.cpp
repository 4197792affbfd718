// The window converting ahead through real workers under Wine, with the workers' test hooks: a
// worker killed while it converts a row ahead, and Stop pressed while rows are converted ahead.
// These runs take a while (a row made slow on purpose takes seconds), so there are only two.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/application.h"
#include "batch/look_ahead_engine.h"
#include "engine/client/worker_engine.h"
#include "tests/win/app/form_test_support.h"
#include "tests/win/wine_host.h"

using namespace vellumor;
using namespace vellumor::test;

namespace {

using Clock = std::chrono::steady_clock;

// The worker with fault hooks: the native test build, or the script worker's test launcher
// when VELLUMOR_TEST_ENGINE names the script worker.
std::string HooksWorker() {
    wchar_t other[1024] = {};
    if (GetEnvironmentVariableW(L"VELLUMOR_TEST_ENGINE", other, 1024)) {
        const std::wstring named = other;
        if (named.size() > 3 && named.compare(named.size() - 3, 3, L".py") == 0)
            return UnixPathOnZ(VELLUMOR_SCRIPT_TESTHOOKS);
        return win::Narrow(named);
    }
    return UnixPathOnZ(VELLUMOR_NATIVE_TESTHOOKS_WORKER);
}

// A fault hook for the workers the test starts; they read it when they start.
class FaultForWorkers {
  public:
    explicit FaultForWorkers(const std::wstring& fault) {
        SetEnvironmentVariableW(L"VELLUMOR_ENGINE_FAULT", fault.c_str());
    }
    ~FaultForWorkers() { SetEnvironmentVariableW(L"VELLUMOR_ENGINE_FAULT", nullptr); }
    FaultForWorkers(const FaultForWorkers&) = delete;
    FaultForWorkers& operator=(const FaultForWorkers&) = delete;
};

// Kills a Linux process and its children (the script worker's office) with the system's kill,
// and waits until it is gone.
bool KillUnixProcess(std::uint32_t pid) {
    const std::string proc = "Z:\\proc\\" + std::to_string(pid);
    std::wstring pids = std::to_wstring(pid);
    HANDLE children =
        CreateFileW(win::Widen(proc + "\\task\\" + std::to_string(pid) + "\\children").c_str(),
                    GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (children != INVALID_HANDLE_VALUE) {
        char text[256] = {};
        DWORD read = 0;
        ReadFile(children, text, sizeof text - 1, &read, nullptr);
        CloseHandle(children);
        pids += L" " + win::Widen(std::string(text, read));
    }
    return RunUnix(L"Z:\\bin\\kill -KILL " + pids, [&] {
        return GetFileAttributesW(win::Widen(proc).c_str()) == INVALID_FILE_ATTRIBUTES;
    });
}

// A worker of the look-ahead: the worker client, and on the first load of a path naming the
// victim its process is killed from outside while it loads (the slow hook keeps that load
// going for seconds, so the kill lands inside it).
class KillableWorker : public ConversionEngine {
  public:
    struct Shared {
        std::string victim;
        std::atomic<bool> killed{false};
        std::atomic<bool> killLanded{false};
        std::atomic<int> replacedDuringLoad{0};
    };
    KillableWorker(const WorkerEngineOptions& options, Shared& shared)
        : worker_(options), shared_(shared) {}

    void LoadDocument(const std::string& path, SourceFormat format) override {
        if (shared_.victim.empty() || path.find(shared_.victim) == std::string::npos ||
            shared_.killed.exchange(true))
            return worker_.LoadDocument(path, format);
        const std::uint32_t pid = worker_.WorkerProcessId();
        const int before = worker_.WorkersStarted();
        std::thread killer([this, pid] {
            Sleep(1000);
            shared_.killLanded = KillUnixProcess(pid);
        });
        try {
            worker_.LoadDocument(path, format);
        } catch (...) {
            killer.join();
            throw;
        }
        killer.join();
        if (worker_.WorkersStarted() > before) ++shared_.replacedDuringLoad;
    }
    SavedPdf SavePdf(const std::string& path) override { return worker_.SavePdf(path); }
    void WaitUntilReady() override { worker_.WaitUntilReady(); }
    void Abort() override { worker_.Abort(); }

  private:
    WorkerEngine worker_;
    Shared& shared_;
};

// The look-ahead engine as the window holds it, with a stopwatch on the run's calls: when each
// Save returned and how long the end of each run took.
class TimedEngine : public DocumentEngine, public LookAhead {
  public:
    explicit TimedEngine(std::unique_ptr<LookAheadEngine> inner) : inner_(std::move(inner)) {}
    std::function<void()> duringSave;
    std::vector<Clock::time_point> saved;
    std::vector<Clock::duration> endings;

    int Load(const std::string& path, int reserved, int format, bool flag) override {
        return inner_->Load(path, reserved, format, flag);
    }
    int Save(const std::string& path, int reserved, int format, bool flag) override {
        if (duringSave) duringSave();
        const int result = inner_->Save(path, reserved, format, flag);
        saved.push_back(Clock::now());
        return result;
    }
    void RowReached(int row, int rows, const ConversionPlan& plan) override {
        inner_->RowReached(row, rows, plan);
    }
    void RunEnded() override {
        const auto started = Clock::now();
        inner_->RunEnded();
        endings.push_back(Clock::now() - started);
    }
    LookAheadEngine& Inner() { return *inner_; }

  private:
    std::unique_ptr<LookAheadEngine> inner_;
};

long long Ms(Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

class AheadThroughRealWorkers : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!PathExists(kWorker)) GTEST_SKIP() << "no worker with test hooks at " << kWorker;
        if (!PathExists(kCorpus)) GTEST_SKIP() << "no corpus at " << kCorpus;
    }
    void TearDown() override {
        form.reset();
        PumpMessages();
    }
    // The window with a look-ahead engine of two workers (whatever the cores: the timings
    // below count on two rows converted at once).
    void MakeWindow() {
        WorkerEngineOptions workerOptions;
        workerOptions.workerPath = kWorker;
        LookAheadOptions options;
        options.workers = 2;
        options.memoryLimitMiB = workerOptions.memoryLimitMiB;
        auto ahead = std::make_unique<LookAheadEngine>(
            [this, workerOptions] {
                return std::make_unique<KillableWorker>(workerOptions, shared);
            },
            options);
        form = std::make_unique<app::TForm1>(services);
        auto timed = std::make_unique<TimedEngine>(std::move(ahead));
        engine = timed.get();
        form->DocEngineControl1 = std::move(timed);
        form->Show(SW_SHOWNOACTIVATE);
        PumpMessages();
        SetWindowTextW(form->LabeledEdit2, output().c_str());
    }
    void Add(const std::string& corpusName, const std::string& as) {
        const std::string target = docs.Utf8() + "\\" + as;
        ASSERT_TRUE(CopyFileW(win::Widen(kCorpus + "\\" + corpusName).c_str(),
                              win::Widen(target).c_str(), FALSE))
            << corpusName;
        form->AddFileEntry(target);
    }
    std::wstring output() const { return docs.Path() + L"\\out"; }
    int PdfsInOutput() {
        int count = 0;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((output() + L"\\*.pdf").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return 0;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++count;
        } while (FindNextFileW(search, &found));
        FindClose(search);
        return count;
    }
    Clock::time_point Convert() {
        const auto at = Clock::now();
        SendMessageW(form->SpeedButton11, BM_CLICK, 0, 0);
        return at;
    }
    void PostStop() {
        HWND stop = form->SpeedButton1;
        PostMessageW(GetParent(stop), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(stop), BN_CLICKED),
                     reinterpret_cast<LPARAM>(stop));
    }

    const std::string kWorker = HooksWorker();
    const std::string kCorpus = UnixPathOnZ(VELLUMOR_CORPUS);
    FakeServices services;
    app::Application application{services};
    TempFolder docs;
    KillableWorker::Shared shared;
    std::unique_ptr<app::TForm1> form;
    TimedEngine* engine = nullptr;
};

// The seventh of sixteen rows is being converted ahead when its worker (the office in it) is
// killed: the row is converted again on a fresh worker and the run completes as if nothing had
// happened.
TEST_F(AheadThroughRealWorkers, AnOfficeKilledDuringASixteenRowRunCostsNoRow) {
    shared.victim = "killed-here";
    FaultForWorkers slow(L"slow:4000:killed-here");
    MakeWindow();
    const char* const documents[] = {"poi_footnote.doc", "mammoth_strict-format.docx",
                                     "poi_table-merges.doc", "poi_Bug54849.docx"};
    for (int row = 0; row < 16; ++row) {
        const std::string name = documents[row % 4];
        const std::string extension = name.substr(name.rfind('.'));
        char stem[32];
        std::snprintf(stem, sizeof stem, "%02d-%s", row, row == 6 ? "killed-here" : "row");
        Add(name, stem + extension);
    }
    Convert();
    EXPECT_EQ(form->Label1->Caption(), "Successed!");
    EXPECT_TRUE(services.boxes.empty());
    EXPECT_EQ(PdfsInOutput(), 16);
    EXPECT_TRUE(PathExists(win::Narrow(output()) + "\\06-killed-here.pdf"));
    EXPECT_TRUE(shared.killed) << "the victim row was never loaded";
    EXPECT_TRUE(shared.killLanded) << "its worker outlived the kill";
    EXPECT_EQ(shared.replacedDuringLoad, 1) << "the row was retried on a fresh worker";
    EXPECT_EQ(engine->Inner().RowsTakenAhead(), 16) << "every row, the killed one too, ahead";
}

// Rows that each take twenty seconds to convert; Stop during the first row's save, then Convert
// at once. The rows the first run had under way are aborted, not finished, so the second run's
// first PDF comes one row's time after Stop, plus the end of the first run and the start of the
// fresh workers that replace the aborted ones: 0.4 to 3.3 s over the row's time under Wine,
// with the machine loaded (two CPU-bound processes beside it); 10 s allowed. Finishing the
// thrown-away rows first would take a second row's time (40 s).
TEST_F(AheadThroughRealWorkers, ConvertRightAfterStopWaitsForNoRowOfTheStoppedRun) {
    constexpr auto kRowTime = std::chrono::seconds(20);
    constexpr auto kStartSlack = std::chrono::seconds(10);
    FaultForWorkers slow(L"slow:20000:slow-row");
    MakeWindow();
    for (int row = 0; row < 6; ++row)
        Add("poi_footnote.doc", "slow-row-" + std::to_string(row) + ".doc");
    std::vector<Clock::time_point> stopped;
    engine->duringSave = [&] {
        stopped.push_back(Clock::now());
        PostStop();
    };

    Convert();
    ASSERT_EQ(form->Label1->Caption(), "Stopped");
    ASSERT_EQ(PdfsInOutput(), 1);
    ASSERT_EQ(engine->endings.size(), 1u);
    std::printf("the end of the stopped run, rows in flight: %lld ms\n", Ms(engine->endings[0]));

    Convert();
    EXPECT_EQ(form->Label1->Caption(), "Stopped");
    ASSERT_EQ(engine->saved.size(), 2u);
    const auto firstPdf = engine->saved[1] - stopped[0];
    std::printf("the second run's first PDF %lld ms after Stop\n", Ms(firstPdf));
    EXPECT_LT(firstPdf, kRowTime + kStartSlack) << Ms(firstPdf) << " ms";
    EXPECT_GE(firstPdf, kRowTime) << "the slow hook did not hold the row";
}

}  // namespace
