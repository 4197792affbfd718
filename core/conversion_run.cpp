#include "core/conversion_run.h"

#include <exception>
#include <stdexcept>
#include <string>

#include "core/engine_unavailable.h"
#include "core/trace.h"

namespace vellumor {

namespace {

// Marks a run in progress for exactly as long as the run's frame lives, exceptions included.
class InProgressMark {
  public:
    explicit InProgressMark(bool& flag) : flag_(flag) { flag_ = true; }
    ~InProgressMark() { flag_ = false; }
    InProgressMark(const InProgressMark&) = delete;
    InProgressMark& operator=(const InProgressMark&) = delete;

  private:
    bool& flag_;
};

// Sets the progress after a file, whether its save succeeded or threw.
class ProgressUpdate {
  public:
    ProgressUpdate(RunHost& host, int done) : host_(host), done_(done) {}
    ~ProgressUpdate() noexcept(false) {
        // Pumping can run handlers that throw; never throw over an exception in flight.
        if (std::uncaught_exceptions() > exceptionsAtStart_) {
            try {
                Update();
            } catch (...) {
            }
        } else {
            Update();
        }
    }
    ProgressUpdate(const ProgressUpdate&) = delete;
    ProgressUpdate& operator=(const ProgressUpdate&) = delete;

  private:
    // The count is read before the pump inside the update: rows added there count from the
    // next file's update on.
    void Update() {
        const int total = host_.RowCount();
        host_.UpdateProgress(total, done_);
    }
    RunHost& host_;
    int done_;
    int exceptionsAtStart_ = std::uncaught_exceptions();
};

// Tells the host that the run is over when the run's frame goes, exceptions included. Its
// failure leaves the run like any other; while another failure is already leaving, that one is
// the user's and this one goes to the trace.
class EndNotice {
  public:
    explicit EndNotice(RunHost& host) : host_(host) {}
    ~EndNotice() noexcept(false) {
        if (std::uncaught_exceptions() == exceptionsAtStart_) {
            host_.RunEnded();
            return;
        }
        try {
            host_.RunEnded();
        } catch (const std::exception& e) {
            Trace(std::string("the end of a run failed: ") + e.what());
        } catch (...) {
            Trace("the end of a run failed");
        }
    }
    EndNotice(const EndNotice&) = delete;
    EndNotice& operator=(const EndNotice&) = delete;

  private:
    RunHost& host_;
    int exceptionsAtStart_ = std::uncaught_exceptions();
};

}  // namespace

RunEnd ConversionRun::Run(RunHost& host) {
    if (inProgress_) return RunEnd::Ignored;
    InProgressMark mark(inProgress_);
    stopRequested_ = false;

    host.RepaintWindow();
    host.ShowProgressBar(true);
    host.SetStatus(kStatusConverting);

    const std::string folder = host.OutputFolder();
    host.EnsureFolder(folder);

    const int rows = host.RowCount();
    EndNotice end(host);
    for (int row = 0; row < rows; ++row) {
        host.PumpMessages();
        if (stopRequested_) {
            stopRequested_ = false;
            host.ShowProgressBar(false);
            host.SetStatus(kStatusStopped);
            return RunEnd::Stopped;
        }

        host.RowReached(row, rows, [&](int r) -> std::optional<PlannedConversion> {
            if (r < 0 || r >= host.RowCount()) return std::nullopt;
            PlannedConversion plan = PlanOfRow(host.RowPath(r), folder, host.Mode());
            if (plan.format == 0) return std::nullopt;
            return plan;
        });
        const std::string source = host.RowPath(row);
        bool loaded = false;
        try {
            if (const int format = LoadFormatFor(ExtensionOf(source)); format != 0) {
                host.Load(source, format);
                loaded = true;
            }
        } catch (const EngineUnavailable& e) {
            // Not this row's failure: the run is over and the reason goes to the error box.
            Trace("no engine to open " + source + ": " + e.what());
            host.ShowProgressBar(false);
            host.SetStatus("");
            throw;
        } catch (const std::exception& e) {
            Trace("failed to open " + source + ": " + e.what());  // the box has no reason
        } catch (...) {
            Trace("failed to open " + source);
        }
        if (!loaded) {
            if (!LoadFormatFor(ExtensionOf(source)))
                Trace("failed to open " + source + ": it is no .doc or .docx file");
            // A row that is no Word document counts as a failed load: saving it would write
            // the previously loaded document under this row's name.
            host.ShowLoadFailure();
            host.ShowProgressBar(false);
            host.SetStatus("");
            return RunEnd::FailedLoad;
        }

        const OutputMode mode = host.Mode();
        ProgressUpdate update(host, row + 1);
        host.SetStatus(OutputPathFor(source, folder, mode));
        host.Save(PlanOfRow(source, folder, mode).pdfPath, kFormatPdf);
    }

    host.ShowProgressBar(false);
    host.SetStatus(kStatusSucceeded);
    host.RepaintList();
    host.OpenExplorer(folder);
    return RunEnd::Completed;
}

}  // namespace vellumor
