// Program entry: the application object, the main window, the message loop.
#include <windows.h>

#include "app/Unit1.h"
#include "app/application.h"
#include "app/form_run.h"
#include "core/trace.h"
#include "batch/look_ahead_engine.h"
#include "batch/worker_choice.h"
#include "engine/client/worker_engine.h"
#include "win32/guard.h"
#include "win32/program_path.h"

namespace {

// The LibreOffice worker: vellumor-engine.exe beside the program (under Wine the Linux
// worker), else the script worker beside it, run by the installed office's python.exe; null
// when neither can run. Its first worker starts now, while the window is made, and the first
// conversion waits for it, so the first paint never does; a run adds one worker per core and
// converts the rows ahead of the one it saves.
std::unique_ptr<vellumor::DocumentEngine> MakeWorker() {
    return vellumor::MakeLookAheadEngineIn(vellumor::ProgramFolder());
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    using namespace vellumor;
    SetTraceFile(win::TraceLogPath());
    app::Application application;
    std::unique_ptr<app::TForm1> form;
    const bool ready = win::Guarded([&] {
        form = std::make_unique<app::TForm1>();
        // Without an engine the program cannot convert: the error box says what is missing
        // and the program ends.
        form->DocEngineControl1 = app::MakeStartupEngine(*form, MakeWorker);
        form->OnDestroy = [] { PostQuitMessage(0); };
        form->Show(showCommand == SW_HIDE ? SW_SHOWNORMAL : showCommand);
        return true;
    });
    if (!ready) return 1;  // the error box has told why
    const int code = application.Run();
    form.reset();
    return code;
}
