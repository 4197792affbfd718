// Benchmark of the window's conversion run: the real main window, the look-ahead engine over
// the real worker, started cold with a click of Convert over a folder of documents. bench/gui_run
// puts vellumor-cli --jobs 1 and --jobs N on the same files beside it.
// Usage: gui_run_bench.exe WORKER FOLDER OUTPUT [WORKERS]  (paths as this Windows process sees
// them; WORKERS 0 or absent: one per core)
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "app/application.h"
#include "core/paths.h"
#include "batch/look_ahead_engine.h"
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

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void Pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: gui_run_bench WORKER FOLDER OUTPUT [WORKERS]\n");
        return 2;
    }
    const std::string worker = win::Narrow(argv[1]);
    const std::string folder = win::Narrow(argv[2]);
    const std::string output = win::Narrow(argv[3]);
    LookAheadOptions options;
    options.workers = argc > 4 ? _wtoi(argv[4]) : 0;

    QuietServices services;
    app::Application application(services);

    // The window's run, cold as the command line starts: the engine is made, the folder added
    // and Convert clicked at once.
    double runSeconds = 0;
    std::string label;
    int rows = 0, position = 0, workers = 0, taken = 0;
    {
        app::TForm1 form(services);
        form.Show(SW_SHOWNOACTIVATE);
        form.FileList().AddFolder(folder);
        rows = form.FileList().Count();
        SetWindowTextW(form.LabeledEdit2, win::Widen(output).c_str());
        Pump();
        const auto start = Clock::now();
        WorkerEngineOptions workerOptions;
        workerOptions.workerPath = worker;
        auto engine = std::make_unique<LookAheadEngine>(
            [workerOptions] { return std::make_unique<WorkerEngine>(workerOptions); }, options);
        LookAheadEngine* ahead = engine.get();
        form.DocEngineControl1 = std::move(engine);
        SendMessageW(form.SpeedButton11, BM_CLICK, 0, 0);
        runSeconds = Seconds(start);
        label = form.Label1->Caption();
        position = static_cast<int>(SendMessageW(form.ProgressBar1, PBM_GETPOS, 0, 0));
        workers = ahead->WorkersStarted();
        taken = ahead->RowsTakenAhead();
    }

    // The window alone: the same run with an engine that returns at once.
    double overheadSeconds = 0;
    {
        app::TForm1 form(services);
        form.DocEngineControl1 = std::make_unique<InstantEngine>();
        form.Show(SW_SHOWNOACTIVATE);
        form.FileList().AddFolder(folder);
        SetWindowTextW(form.LabeledEdit2, win::Widen(output).c_str());
        Pump();
        const auto start = Clock::now();
        SendMessageW(form.SpeedButton11, BM_CLICK, 0, 0);
        overheadSeconds = Seconds(start);
    }

    std::printf("%-34s %6d %9.2f %8.2f\n", "window run (look-ahead)", position, runSeconds,
                position / runSeconds);
    std::printf(
        "window: %d rows, %d workers, %d rows done ahead, status \"%s\", load failures %d\n", rows,
        workers, taken, label.c_str(), services.boxes);
    std::printf("%-34s %6d %9.2f\n", "window run, instant engine", rows, overheadSeconds);
    return position == rows && label == "Successed!" ? 0 : 1;
}
