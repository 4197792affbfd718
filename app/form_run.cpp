#include "app/form_run.h"

#include <commctrl.h>

#include <optional>

#include "app/Unit1.h"
#include "app/application.h"
#include "engine/control/DocEngineLib_TLB.h"
#include "engine/control/engine_choice.h"
#include "engine/input_file.h"
#include "core/engine_unavailable.h"
#include "core/trace.h"
#include "win32/long_path.h"
#include "win32/system_text.h"
#include "win32/unicode.h"

namespace vellumor::app {

namespace {
TForm1* g_mainForm = nullptr;
}  // namespace

TForm1* MainForm() {
    return g_mainForm;
}

void UpdateProgress(int total, int done) {
    Application::ProcessMessages();
    // Looked up after the pump: a handler there may have taken the window away.
    TForm1* form = MainForm();
    if (!form || !IsWindow(form->ProgressBar1)) return;
    SendMessageW(form->ProgressBar1, PBM_SETRANGE32, 0, total);
    SendMessageW(form->ProgressBar1, PBM_SETPOS, static_cast<WPARAM>(done), 0);
}

FormRunHost::FormRunHost(TForm1& form) : form_(form) {
    g_mainForm = &form;
}

FormRunHost::~FormRunHost() {
    if (g_mainForm == &form_) g_mainForm = nullptr;
}

int FormRunHost::RowCount() {
    return form_.FileList().Count();
}

std::string FormRunHost::RowPath(int row) {
    return form_.FileList().Text(row, 1);  // sub-item 0: the full path
}

std::string FormRunHost::OutputFolder() {
    return form_.OutputFolder();
}

OutputMode FormRunHost::Mode() {
    return form_.Mode();
}

void FormRunHost::EnsureFolder(const std::string& folder) {
    const std::wstring path = win::LongPath(folder);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    // The run goes on: its first save then fails with the engine's message. The reason the
    // folder could not be made is only in the trace.
    if (!CreateDirectoryW(path.c_str(), nullptr))
        Trace("the output folder " + folder +
              " could not be made: " + win::SystemErrorText(GetLastError()));
}

void FormRunHost::RepaintWindow() {
    RedrawWindow(form_.Handle(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void FormRunHost::RepaintList() {
    RedrawWindow(form_.ListView1, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

// The label is painted at once, so the file being saved shows while the engine works.
void FormRunHost::SetStatus(const std::string& text) {
    form_.Label1->SetCaption(text);
    if (auto* host = form_.Label1->Host()) UpdateWindow(host->Window());
}

void FormRunHost::ShowProgressBar(bool visible) {
    form_.ShowProgressBar(visible);
}

void FormRunHost::UpdateProgress(int total, int done) {
    app::UpdateProgress(total, done);
}

void FormRunHost::PumpMessages() {
    Application::ProcessMessages();
}

DocumentEngine& FormRunHost::Engine() {
    if (!form_.DocEngineControl1) throw EngineUnavailable(kNoEngineMessage);
    return *form_.DocEngineControl1;
}

namespace {

// When no worker can start the user is told what a missing engine needs; why the workers did
// not start is for the trace.
template <typename Call>
void TellingAMissingEngine(Call call) {
    try {
        call();
    } catch (const EngineUnavailable& e) {
        if (e.what() != std::string(kNoEngineMessage))
            Trace(std::string("no worker could start: ") + e.what());
        throw EngineUnavailable(kNoEngineMessage);
    }
}

}  // namespace

void FormRunHost::Load(const std::string& path, int format) {
    TellingAMissingEngine([&] { Engine().Load(path, 0, format, false); });
}

void FormRunHost::Save(const std::string& path, int format) {
    TellingAMissingEngine([&] { Engine().Save(path, 0, format, false); });
}

void FormRunHost::RowReached(int row, int rows, const ConversionPlan& plan) {
    if (auto* ahead = dynamic_cast<LookAhead*>(form_.DocEngineControl1.get()))
        ahead->RowReached(row, rows, plan);
}

void FormRunHost::RunEnded() {
    if (auto* ahead = dynamic_cast<LookAhead*>(form_.DocEngineControl1.get())) ahead->RunEnded();
}

void FormRunHost::ShowLoadFailure() {
    form_.services_.MessageBox(form_.Handle(), win::Widen(kLoadFailureText),
                               win::Widen(kLoadFailureTitle), MB_OK);
}

void FormRunHost::OpenExplorer(const std::string& folder) {
    form_.services_.ShellLaunch(form_.Handle(), L"open", L"Explorer.exe", win::Widen(folder),
                                SW_SHOWNORMAL);
}

std::unique_ptr<DocumentEngine> MakeStartupEngine(
    TForm1& form, const std::function<std::unique_ptr<DocumentEngine>()>& makeWorker) {
    EngineSources sources;
    sources.controlRegistered = [] { return ControlClassRegistered(kDocEngineClassId); };
    sources.control = [&form]() -> std::unique_ptr<DocumentEngine> {
        const Control& slot = *form.DocEngineControl1Slot;
        const RECT bounds{slot.bounds.left, slot.bounds.top, slot.bounds.left + slot.bounds.width,
                          slot.bounds.top + slot.bounds.height};
        auto control = std::make_unique<TDocEngineControl>(form.Panel3->window, bounds,
                                                           std::vector<std::uint8_t>{});
        control->CreateControl();  // before the window is first shown
        // The control is given only what the input check lets through, as every engine is.
        return std::make_unique<InputCheckedEngine>(std::move(control));
    };
    sources.worker = makeWorker;
    return ChooseEngine(sources);
}

}  // namespace vellumor::app
