// WorkerPool: the threads that convert, each with an engine of its own. The window's look-ahead
// and the command line's runner both convert through one.
//
//   WorkerPool pool([] { return std::make_unique<WorkerEngine>(options); }, WorkersFor(...));
//   pool.EnsureWorkers(2);
//   auto task = pool.Submit([](ConversionEngine* engine, const std::exception_ptr& why) {...});
//   pool.Abort(task);             // out of the queue, or its worker's engine aborted
//   pool.WaitUntilNoneRuns();
//
// Each worker is a thread that makes its engine (on that thread), waits until the engine can
// take a document (ConversionEngine::WaitUntilReady) and then runs the pool's tasks one at a
// time, first queued first. A worker whose engine cannot start takes no task and ends: the
// others take its share. Only when no worker of the pool is up or still starting does the last
// one run the tasks with the start failure (engine null), so a row is charged with a start
// failure only when no engine at all can convert it. A worker whose engine was aborted makes a
// fresh one before its next task.
//
// An engine that has to start a fresh office during a task (the replacement of a worker that
// died or was recycled, the spare) may fail to: a task lets that EngineError (StartFailed) out,
// and the pool hands it, first in the queue, to another worker, where it runs again from its
// beginning; the worker ends as one that could not start. When it was the last, the task and
// every later one run with the start failure as above. A task aborted meanwhile is not handed
// on: it runs once more at once, with no engine, to end as its front end ends aborted tasks.
// What a worker's engine does besides (its spare, recycling, the retry of a document that
// killed it, deadlines, the memory ceiling) is the engine's own.
//
// Tasks run without the pool's lock held; they may call the pool.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

#include "engine/document_engine.h"

namespace vellumor {

// How many workers a batch runs at once: as many as wanted (0: as many as there are cores),
// never more than the cores, and never more than the memory holds when each worker may grow to
// the ceiling a document is allowed (memoryLimitMiB; 0: no ceiling, counted as 1 GiB), with
// 1 GiB kept for the rest of the system; at least one. cores and memoryBytes 0: not known,
// no bound from them.
int WorkersFor(int wanted, unsigned cores, std::uint64_t memoryBytes, std::uint32_t memoryLimitMiB);
// The same for this machine.
int WorkersForThisMachine(int wanted, std::uint32_t memoryLimitMiB);

class WorkerPool {
  public:
    using EngineMaker = std::function<std::unique_ptr<ConversionEngine>()>;
    // engine is null when no worker could start; startError is then an EngineUnavailable
    // (core/engine_unavailable.h) whose text is the last start failure's.
    using Task =
        std::function<void(ConversionEngine* engine, const std::exception_ptr& startError)>;
    struct TaskState;
    using TaskHandle = std::shared_ptr<TaskState>;

    WorkerPool(EngineMaker make, int maxWorkers);
    // Drops what waits, aborts what runs and waits for the workers to end.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int MaxWorkers() const { return maxWorkers_; }
    // Starts workers until there are count (at most MaxWorkers()); returns at once.
    void EnsureWorkers(int count);
    // Workers started so far, including those that ended because they could not start.
    int WorkersStarted() const;

    // Queues the task, last or (first) before every other waiting one.
    TaskHandle Submit(Task task, bool first = false);
    // Moves a waiting task before every other; nothing when it has started.
    void Hurry(const TaskHandle& task);
    // Takes a waiting task out of the queue; false when it has started (or was taken out).
    bool Cancel(const TaskHandle& task);
    // Cancels the task, or, when it runs, aborts its worker's engine: the task's engine calls
    // fail from then on, and the worker makes a fresh engine after it.
    void Abort(const TaskHandle& task);
    // Cancels every waiting task and aborts every running one; returns how many it cancelled.
    int AbortAll();
    // Waits until no task runs; waiting tasks may then start. False when within is over first.
    bool WaitUntilNoneRuns(std::chrono::milliseconds within = std::chrono::milliseconds::max());

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int maxWorkers_;
};

}  // namespace vellumor
