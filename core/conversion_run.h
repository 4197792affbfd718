// The conversion run: walks the file list top to bottom, has the engine load each source and
// save it as PDF, and reports through its host. The window and the tests are its hosts.
#pragma once

#include <string>

#include "core/paths.h"
#include "core/row_plan.h"

namespace vellumor {

// What the run needs from the window it runs in. Everything is called on the one UI thread.
class RunHost {
  public:
    virtual ~RunHost() = default;

    // The list, read by position at the moment of the call.
    virtual int RowCount() = 0;
    virtual std::string RowPath(int row) = 0;

    // Output settings: the folder text is read once per run, the mode before every file.
    virtual std::string OutputFolder() = 0;
    virtual OutputMode Mode() = 0;

    // Creates the folder (its last level only) unless a directory of that name exists.
    // Failure is not shown (the engine's save then reports what it finds); it goes to the
    // trace (core/trace.h).
    virtual void EnsureFolder(const std::string& folder) = 0;

    // Display.
    virtual void RepaintWindow() = 0;
    virtual void RepaintList() = 0;
    virtual void SetStatus(const std::string& text) = 0;
    virtual void ShowProgressBar(bool visible) = 0;
    // The progress after a file: pumps pending messages first (as PumpMessages), then sets the
    // bar's maximum to total and its position to done; the minimum stays 0.
    virtual void UpdateProgress(int total, int done) = 0;

    // Handles every message waiting in the queue, then returns. Stop, moves and repaints reach
    // the program here; a request to quit is kept for the main loop.
    virtual void PumpMessages() = 0;

    // The engine. Both throw on failure with a message; EngineUnavailable
    // (core/engine_unavailable.h) when no engine can take any document, which leaves the run.
    virtual void Load(const std::string& path, int format) = 0;
    virtual void Save(const std::string& path, int format) = 0;

    // Before each row's load: the run is at row `row` of the `rows` it walks; plan names any
    // row as the list shows it now, with the PDF the run would save it to (PlanOfRow with the
    // output folder the run read at its start). Nothing shows; an engine that converts ahead
    // looks here at the rows after it.
    virtual void RowReached(int /*row*/, int /*rows*/, const ConversionPlan& /*plan*/) {}
    // The run is over, however it ended (completed, stopped, failed, or left by a failure).
    virtual void RunEnded() {}

    // The "Failed to open the word file." box, titled "Error".
    virtual void ShowLoadFailure() = 0;
    // The file explorer on the output folder, after a run that went through the whole list.
    virtual void OpenExplorer(const std::string& folder) = 0;
};

enum class RunEnd { Completed, Stopped, FailedLoad, Ignored };

// The run's own state: the Stop flag and whether a run is in progress. One per main window.
class ConversionRun {
  public:
    // Runs one conversion over the host's list. A failed save leaves as the engine's exception,
    // after the progress update for that file; an EngineUnavailable from a load leaves too,
    // with the bar hidden and the status cleared, and no row is charged with it. A call while a run
    // is in progress is ignored.
    RunEnd Run(RunHost& host);

    // The Stop button: the run in progress ends before its next file. A Stop pressed while no
    // run is in progress is dropped when the next run starts.
    void RequestStop() { stopRequested_ = true; }
    bool StopRequested() const { return stopRequested_; }

    // While true, commands that would remove or reorder rows are refused by the window, so
    // a position always names the row it named when the run started.
    bool InProgress() const { return inProgress_; }

  private:
    bool stopRequested_ = false;
    bool inProgress_ = false;
};

inline constexpr const char* kStatusConverting = "Converting...";
inline constexpr const char* kStatusStopped = "Stopped";
inline constexpr const char* kStatusSucceeded = "Successed!";
inline constexpr const char* kLoadFailureText = "Failed to open the word file.";
inline constexpr const char* kLoadFailureTitle = "Error";

}  // namespace vellumor
