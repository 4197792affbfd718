// The conversion of a planned batch: the pending jobs go to a pool of slots, each with its own
// worker engine, and every outcome is reported through a BatchObserver. The console front end
// draws its progress bar and writes its reports from those calls; a window could drive the same
// run through the same interface.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "engine/client/worker_engine.h"

namespace vellumor::cli {

// What the runner tells its front end, and how the front end asks it to stop.
class BatchObserver {
  public:
    virtual ~BatchObserver() = default;

    // How often the user has asked the run to stop so far. The first request lets the
    // documents in progress finish and hands out no more; the second stops them too.
    virtual int StopRequests() = 0;
    // The runner has seen the first request and lets the documents in progress finish.
    virtual void Stopping() = 0;
    // A job has its outcome. Calls come one at a time, in the order the outcomes are recorded,
    // so a report written here has every record exactly once.
    virtual void JobEnded(const Job& job) = 0;
    // The first slot whose worker cannot shut documents off from the network, and the first
    // whose office is older than the workers are tested with, say why (once each per run).
    virtual void IsolationWarning(const std::string& why) = 0;
    virtual void OfficeVersionWarning(const std::string& why) = 0;
};

struct BatchResult {
    std::vector<Job> jobs;  // every job with its outcome, in the planned order
    double seconds = 0;     // from the first conversion handed out to the last outcome
    bool interrupted = false;
    // After a second stop request some worker did not end in time (under Wine the system gives
    // no handle to it); its slot still runs, so the process must end without waiting for it.
    bool abandoned = false;
};

class BatchRunner {
  public:
    // slots: documents converted at once, each slot with its own engine made with engine.
    BatchRunner(std::vector<Job> jobs, WorkerEngineOptions engine, int slots,
                BatchObserver& observer);
    BatchRunner(const BatchRunner&) = delete;
    BatchRunner& operator=(const BatchRunner&) = delete;

    // Runs the batch once: reports the jobs the plan already decided, converts the pending ones
    // and records those never started because the run stopped as skipped (interrupted). When
    // the result is abandoned, the slots left running still use this runner: the caller ends
    // the process (std::_Exit) instead of destroying it.
    BatchResult Run();

  private:
    void ReportDecided();
    std::vector<std::size_t> ConversionOrder();
    void RunSlot();
    void ConvertWith(WorkerEngine& engine);
    bool WaitForSlots();
    void Record(const Job& job, Job& slot);

    std::vector<Job> jobs_;
    WorkerEngineOptions engineOptions_;
    int slots_;
    BatchObserver& observer_;

    // The jobs' outcomes, and the observer's JobEnded calls, are guarded by this.
    std::mutex jobsMutex_;
    std::vector<std::size_t> order_;  // the pending jobs, in the order they are handed out
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> aborting_{false};
    std::atomic<bool> isolationWarned_{false};
    std::atomic<bool> officeWarned_{false};

    // The engines of the running slots, for a second stop request to stop them.
    std::mutex slotsMutex_;
    std::condition_variable slotEnded_;
    std::vector<WorkerEngine*> engines_;
    int slotsRunning_ = 0;
};

}  // namespace vellumor::cli
