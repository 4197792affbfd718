// Benchmark of the file list at scale, in the real main window under Wine: Add Folder over a
// folder of documents (with the longest stretch the list went without a paint while it filled),
// a sort by each column, and the program's memory through a run over every row with an engine
// that returns at once.
// Usage: gui_list_bench.exe FOLDER...  (folders as this Windows process sees them)
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "app/Unit1.h"
#include "app/application.h"
#include "win32/unicode.h"

using namespace vellumor;
using Clock = std::chrono::steady_clock;

namespace {

class BenchServices : public app::Services {
  public:
    std::wstring folder;
    PIDLIST_ABSOLUTE BrowseForFolder(BROWSEINFOW&) override {
        return ILCreateFromPathW(folder.c_str());
    }
    int MessageBox(HWND, const std::wstring&, const std::wstring&, UINT) override { return IDOK; }
    void ShellLaunch(HWND, const wchar_t*, const std::wstring&, const std::wstring&, int) override {
    }
};

double Milliseconds(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The processor time this thread has used, in milliseconds: on a machine shared with other
// work the wall-clock time says less.
double ThreadCpuMs() {
    FILETIME created, ended, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) /
               10000.0;
    };
    return ms(kernel) + ms(user);
}

// When the list was last painted, and the longest stretch without a paint.
Clock::time_point g_lastPaint;
double g_longestGap = 0;
LRESULT CALLBACK WatchPaint(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                            DWORD_PTR) {
    if (message == WM_PAINT) {
        g_longestGap = std::max(g_longestGap, Milliseconds(g_lastPaint));
        g_lastPaint = Clock::now();
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

std::size_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof counters);
    // Wine leaves PrivateUsage at 0; the working set is what it keeps.
    return counters.PrivateUsage ? counters.PrivateUsage : counters.WorkingSetSize;
}

// Returns at once and notes the program's memory every thousand saves.
class InstantEngine : public DocumentEngine {
  public:
    int saves = 0;
    std::size_t first = 0, last = 0, most = 0;
    int Load(const std::string&, int, int, bool) override { return 0; }
    int Save(const std::string&, int, int, bool) override {
        if (++saves % 1000 == 0) {
            last = PrivateBytes();
            if (!first) first = last;
            most = std::max(most, last);
        }
        return 0;
    }
};

void Pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: gui_list_bench FOLDER...\n");
        return 2;
    }
    BenchServices services;
    app::Application application(services);
    std::printf("%7s %9s %8s %14s   %s\n", "rows", "fill ms", "(cpu ms)", "longest gap ms",
                "sort ms (cpu ms) by Name, Path, Size, Build Time, ModifyTime");
    for (int i = 1; i < argc; ++i) {
        app::TForm1 form(services);
        auto engine = std::make_unique<InstantEngine>();
        InstantEngine* instant = engine.get();
        form.DocEngineControl1 = std::move(engine);
        form.Show(SW_SHOWNOACTIVATE);
        Pump();
        SetWindowSubclass(form.ListView1, &WatchPaint, 7, 0);
        services.folder = argv[i];

        g_longestGap = 0;
        const double fillCpu0 = ThreadCpuMs();
        const auto start = Clock::now();
        g_lastPaint = start;
        SendMessageW(form.SpeedButton4, BM_CLICK, 0, 0);
        UpdateWindow(form.ListView1);
        const double fill = Milliseconds(start);
        const double fillCpu = ThreadCpuMs() - fillCpu0;
        const int rows = form.FileList().Count();
        const double gap = g_longestGap;

        std::string sorts;
        for (int column = 0; column < 5; ++column) {
            const double cpu0 = ThreadCpuMs();
            const auto sortStart = Clock::now();
            form.ListView1ColumnClick(column);
            UpdateWindow(form.ListView1);
            char text[64];
            std::snprintf(text, sizeof text, "%s%.0f (%.0f)", column ? ", " : "",
                          Milliseconds(sortStart), ThreadCpuMs() - cpu0);
            sorts += text;
        }
        std::printf("%7d %9.0f %8.0f %14.0f   %s\n", rows, fill, fillCpu, gap, sorts.c_str());

        SetWindowTextW(form.LabeledEdit2, (std::wstring(argv[i]) + L"-out").c_str());
        const auto runStart = Clock::now();
        SendMessageW(form.SpeedButton11, BM_CLICK, 0, 0);
        const double run = Milliseconds(runStart);
        std::printf(
            "        run over %d rows, instant engine: %.0f ms; memory at "
            "row 1000 %.1f MB, at the end %.1f MB, most %.1f MB\n",
            instant->saves, run, instant->first / 1048576.0, instant->last / 1048576.0,
            instant->most / 1048576.0);
        RemoveWindowSubclass(form.ListView1, &WatchPaint, 7);
        std::fflush(stdout);
    }
    return 0;
}
