// Benchmark of the window's conversion run against a plain sequential loop over the same worker
// client: how much the window (status label, progress bar, message pumping) adds to converting.
// Usage: gui_run_bench.exe WORKER CORPUS_FOLDER [ROUNDS]  (paths as this Windows process sees them)
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "app/application.h"
#include "core/paths.h"
#include "engine/client/worker_engine.h"
#include "win32/unicode.h"

using namespace vellumor;
using Clock = std::chrono::steady_clock;

namespace {

// No boxes and no explorer while measuring; a failed load is counted.
class QuietServices : public app::Services {
  public:
    int boxes = 0;
    int MessageBox(HWND, const std::wstring&, const std::wstring&, UINT) override {
        ++boxes;
        return IDOK;
    }
    void ShellLaunch(HWND, const wchar_t*, const std::wstring&, const std::wstring&, int) override {
    }
};

// Converts nothing: what the window costs by itself.
class InstantEngine : public DocumentEngine {
  public:
    int Load(const std::string&, int, int, bool) override { return 0; }
    int Save(const std::string&, int, int, bool) override { return 0; }
};

std::unique_ptr<WorkerEngine> NewWorker(const std::string& worker) {
    WorkerEngineOptions options;
    options.workerPath = worker;
    return std::make_unique<WorkerEngine>(options);
}

// The office is up and has converted once before the clock starts, in both measurements.
void WarmUp(DocumentEngine& engine, const std::vector<std::string>& files, const std::string& out) {
    for (const auto& file : files) {
        try {
            engine.Load(file, 0, LoadFormatFor(ExtensionOf(file)), false);
            engine.Save(out + "\\warm-up.pdf", 0, kFormatPdf, false);
            return;
        } catch (const std::exception&) {
        }
    }
}

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One plain pass: Load and Save for each file in order; returns the files that converted.
std::vector<std::string> PlainPass(const std::string& worker, const std::vector<std::string>& files,
                                   const std::string& out, double& seconds) {
    auto engine = NewWorker(worker);
    WarmUp(*engine, files, out);
    std::vector<std::string> good;
    const auto start = Clock::now();
    for (const auto& file : files) {
        try {
            engine->Load(file, 0, LoadFormatFor(ExtensionOf(file)), false);
            engine->Save(PdfPathFor(OutputPathFor(file, out, OutputMode::SettingPath)), 0,
                         kFormatPdf, false);
            good.push_back(file);
        } catch (const std::exception&) {
        }
    }
    seconds = Seconds(start);
    return good;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: gui_run_bench WORKER CORPUS_FOLDER\n");
        return 2;
    }
    const std::string worker = win::Narrow(argv[1]);
    const std::wstring corpus = argv[2];

    // The corpus's Word documents, copied to a folder on C:.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring work =
        std::wstring(temp) + L"vellumor-bench-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(work.c_str(), nullptr);
    std::vector<std::string> files;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((corpus + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "gui_run_bench: no corpus at %s\n", win::Narrow(corpus).c_str());
        return 1;
    }
    do {
        const std::string name = win::Narrow(found.cFileName);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name.rfind(".~lock", 0) == 0 ||
            LoadFormatFor(ExtensionOf(name)) == 0)
            continue;
        const std::wstring target = work + L"\\" + found.cFileName;
        if (CopyFileW((corpus + L"\\" + found.cFileName).c_str(), target.c_str(), FALSE))
            files.push_back(win::Narrow(target));
    } while (FindNextFileW(search, &found));
    FindClose(search);

    // Which documents convert at all: the window's run ends at the first one that does not.
    double seconds = 0;
    const std::string scratch = win::Narrow(work) + "\\filter";
    CreateDirectoryW(win::Widen(scratch).c_str(), nullptr);
    const std::vector<std::string> good = PlainPass(worker, files, scratch, seconds);
    std::printf("documents: %zu, converting: %zu (filter pass %.1f s)\n", files.size(), good.size(),
                seconds);
    for (const auto& file : good)
        std::printf("converting file: %s\n", file.substr(file.find_last_of('\\') + 1).c_str());

    // The plain sequential loop and the window's run over the convertible ones, alternated for
    // a few rounds; the best time of each counts (other work on the machine only slows down).
    const int rounds = argc > 3 ? std::max(1, _wtoi(argv[3])) : 2;
    QuietServices services;
    app::Application application(services);
    double plainSeconds = 1e300, windowSeconds = 1e300;
    std::string label;
    int position = 0;
    for (int round = 0; round < rounds; ++round) {
        const std::string plainOut = win::Narrow(work) + "\\plain";
        CreateDirectoryW(win::Widen(plainOut).c_str(), nullptr);
        double plain = 0;
        PlainPass(worker, good, plainOut, plain);
        plainSeconds = std::min(plainSeconds, plain);

        // The window's run over the same list, started with a click of Convert.
        app::TForm1 form(services);
        form.DocEngineControl1 = NewWorker(worker);
        form.Show(SW_SHOWNOACTIVATE);
        for (const auto& file : good) form.AddFileEntry(file);
        CreateDirectoryW((work + L"\\window").c_str(), nullptr);
        WarmUp(*form.DocEngineControl1, good, win::Narrow(work) + "\\window");
        SetWindowTextW(form.LabeledEdit2, win::Widen(win::Narrow(work) + "\\window").c_str());
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
        const auto start = Clock::now();
        SendMessageW(form.SpeedButton11, BM_CLICK, 0, 0);
        const double window = Seconds(start);
        windowSeconds = std::min(windowSeconds, window);
        label = form.Label1->Caption();
        position = static_cast<int>(SendMessageW(form.ProgressBar1, PBM_GETPOS, 0, 0));
        std::printf("round %d: plain %.2f s, window %.2f s\n", round + 1, plain, window);
        std::fflush(stdout);
    }

    // The window alone: the same run with an engine that returns at once.
    double overheadSeconds = 0;
    {
        app::TForm1 form(services);
        form.DocEngineControl1 = std::make_unique<InstantEngine>();
        form.Show(SW_SHOWNOACTIVATE);
        for (const auto& file : good) form.AddFileEntry(file);
        SetWindowTextW(form.LabeledEdit2, win::Widen(win::Narrow(work) + "\\window").c_str());
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
        const auto start = Clock::now();
        SendMessageW(form.SpeedButton11, BM_CLICK, 0, 0);
        overheadSeconds = Seconds(start);
    }

    std::printf("%-28s %6s %9s %8s\n", "conversion", "files", "seconds", "docs/s");
    std::printf("%-28s %6zu %9.2f %8.2f\n", "plain loop (one worker)", good.size(), plainSeconds,
                good.size() / plainSeconds);
    std::printf("%-28s %6d %9.2f %8.2f\n", "window run (TForm1)", position, windowSeconds,
                position / windowSeconds);
    std::printf("%-28s %6zu %9.2f\n", "window run, instant engine", good.size(), overheadSeconds);
    std::printf("window / plain: %.3f (status \"%s\", load failures %d)\n",
                windowSeconds / plainSeconds, label.c_str(), services.boxes);

    SHFILEOPSTRUCTW op = {};
    std::wstring from = work + L'\0';
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationW(&op);
    return 0;
}
