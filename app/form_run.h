// The main window as the host of the conversion run: the list's rows, the output settings, the
// status label, the progress bar, the engine, the message boxes and the explorer launch.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "core/conversion_run.h"
#include "engine/document_engine.h"

namespace vellumor::app {

class TForm1;

// The progress after a file of the run in the main window: pumps pending messages, then sets
// the main window's progress bar to maximum total and position done (the minimum stays 0).
// With no main window it only pumps.
void UpdateProgress(int total, int done);

// The one main window, reached by UpdateProgress: the window whose run host was made last, until
// it goes; null when there is none. The program has one window; tests make one at a time.
TForm1* MainForm();

class FormRunHost : public RunHost {
  public:
    // The form becomes the main window for as long as its host lives.
    explicit FormRunHost(TForm1& form);
    ~FormRunHost() override;
    FormRunHost(const FormRunHost&) = delete;
    FormRunHost& operator=(const FormRunHost&) = delete;

    int RowCount() override;
    std::string RowPath(int row) override;
    std::string OutputFolder() override;
    OutputMode Mode() override;
    void EnsureFolder(const std::string& folder) override;
    void RepaintWindow() override;
    void RepaintList() override;
    void SetStatus(const std::string& text) override;
    void ShowProgressBar(bool visible) override;
    void UpdateProgress(int total, int done) override;
    void PumpMessages() override;
    void Load(const std::string& path, int format) override;
    void Save(const std::string& path, int format) override;
    void RowReached(int row, int rows, const ConversionPlan& plan) override;
    void RunEnded() override;
    void ShowLoadFailure() override;
    void OpenExplorer(const std::string& folder) override;

  private:
    DocumentEngine& Engine();
    TForm1& form_;
};

// The engine the program starts with, for the window: the engine control hosted in its place
// in Panel3 when its class is registered, otherwise the worker from makeWorker (null when there
// is none). Throws EngineError naming what is missing when there is neither.
std::unique_ptr<DocumentEngine> MakeStartupEngine(
    TForm1& form, const std::function<std::unique_ptr<DocumentEngine>()>& makeWorker);

}  // namespace vellumor::app
