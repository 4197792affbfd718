// The conversion of a planned batch: the pending jobs go to the batch core's worker pool
// (batch/worker_pool.h), each worker with its own worker engine, and every outcome is reported
// through a BatchObserver. The console front end draws its progress bar and writes its reports
// from those calls.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include <exception>
#include <memory>

#include "batch/worker_pool.h"
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
    // slots: documents converted at once, each worker with its own engine made with engine.
    BatchRunner(std::vector<Job> jobs, WorkerEngineOptions engine, int slots,
                BatchObserver& observer);
    ~BatchRunner();
    BatchRunner(const BatchRunner&) = delete;
    BatchRunner& operator=(const BatchRunner&) = delete;

    // Runs the batch once: reports the jobs the plan already decided, converts the pending ones
    // and records those never started because the run stopped as skipped (interrupted). When
    // the result is abandoned, the workers left running still use this runner: the caller ends
    // the process (std::_Exit) instead of destroying it.
    BatchResult Run();

  private:
    void ReportDecided();
    std::vector<std::size_t> ConversionOrder();
    void Convert(ConversionEngine* engine, const std::exception_ptr& startError, std::size_t index);
    bool WaitForTasks(std::vector<WorkerPool::TaskHandle>& tasks);
    void Record(const Job& job, Job& slot);
    void TaskOver();

    std::vector<Job> jobs_;
    WorkerEngineOptions engineOptions_;
    int slots_;
    BatchObserver& observer_;

    // The jobs' outcomes, and the observer's JobEnded calls, are guarded by this.
    std::mutex jobsMutex_;
    std::atomic<bool> aborting_{false};
    std::atomic<bool> isolationWarned_{false};
    std::atomic<bool> officeWarned_{false};

    std::mutex tasksMutex_;
    std::condition_variable taskOver_;
    std::size_t tasksLeft_ = 0;  // submitted and neither over nor taken back
    std::unique_ptr<WorkerPool> pool_;
};

}  // namespace vellumor::cli
