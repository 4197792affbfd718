#include "batch/worker_pool.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "batch/platform.h"
#include "core/engine_unavailable.h"
#include "core/trace.h"

namespace vellumor {

int WorkersFor(int wanted, unsigned cores, std::uint64_t memoryBytes,
               std::uint32_t memoryLimitMiB) {
    constexpr std::uint64_t kMiB = 1024 * 1024;
    constexpr std::uint64_t kKeptForTheSystem = 1024 * kMiB;
    long long count = wanted > 0 ? wanted : (cores > 0 ? cores : 1);
    if (cores > 0) count = std::min<long long>(count, cores);
    if (memoryBytes > 0) {
        const std::uint64_t each = (memoryLimitMiB > 0 ? memoryLimitMiB : 1024) * kMiB;
        const std::uint64_t usable =
            memoryBytes > kKeptForTheSystem ? memoryBytes - kKeptForTheSystem : 0;
        count = std::min<long long>(count, static_cast<long long>(usable / each));
    }
    return static_cast<int>(std::max<long long>(1, count));
}

int WorkersForThisMachine(int wanted, std::uint32_t memoryLimitMiB) {
    return WorkersFor(wanted, std::thread::hardware_concurrency(), batch::PhysicalMemoryBytes(),
                      memoryLimitMiB);
}

struct WorkerPool::TaskState {
    Task run;
    enum class State { Queued, Running, Over } state = State::Queued;
    ConversionEngine* engine = nullptr;  // the running task's engine
    bool* aborted = nullptr;             // its worker's mark: make a fresh engine after it
};

struct WorkerPool::Impl {
    EngineMaker make;
    int maxWorkers;

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<TaskHandle> queue;
    std::vector<std::thread> threads;
    std::vector<TaskHandle> running;          // the tasks running now
    int alive = 0;                            // workers up or still starting
    std::vector<ConversionEngine*> starting;  // engines waiting for their office
    bool stopping = false;

    Impl(EngineMaker m, int max) : make(std::move(m)), maxWorkers(max) {}

    // Makes an engine and waits until it can take a document; the failure when it cannot. An
    // engine still starting when the pool goes is aborted.
    std::unique_ptr<ConversionEngine> Start(std::exception_ptr& error) {
        std::unique_ptr<ConversionEngine> engine;
        try {
            engine = make();
            if (!engine)
                throw EngineError(EngineFailure::StartFailed,
                                  "The document engine could not be started");
            {
                std::lock_guard<std::mutex> lock(mutex);
                starting.push_back(engine.get());
                if (stopping) engine->Abort();
            }
            std::exception_ptr failure;
            try {
                engine->WaitUntilReady();
            } catch (...) {
                failure = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                starting.erase(std::find(starting.begin(), starting.end(), engine.get()));
            }
            if (failure) std::rethrow_exception(failure);
            return engine;
        } catch (...) {
            error = std::current_exception();
            return nullptr;
        }
    }

    // Runs the task; the start failure it let through when its engine, up until then, could
    // not start a fresh office for it (a replacement or the spare): the task is then not over.
    static std::exception_ptr Run(const TaskHandle& task, ConversionEngine* engine,
                                  const std::exception_ptr& startError) {
        try {
            task->run(engine, startError);
        } catch (const EngineError& e) {
            if (engine && e.failure() == EngineFailure::StartFailed)
                return std::current_exception();
            Trace(std::string("a conversion task failed: ") + e.what());
        } catch (const std::exception& e) {
            Trace(std::string("a conversion task failed: ") + e.what());
        } catch (...) {
            Trace("a conversion task failed");
        }
        return nullptr;
    }

    void WorkerLoop() {
        std::unique_ptr<ConversionEngine> engine;
        std::exception_ptr startError;
        bool aborted = false;
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopping) {
            if (!engine && !startError) {
                lock.unlock();
                engine = Start(startError);
                lock.lock();
                if (!engine) {
                    // Another worker is up or may still come up: it takes the tasks.
                    if (alive > 1) {
                        Trace("a worker could not start; the others convert its rows: " +
                              Why(startError));
                        break;
                    }
                    Trace("no worker could start: " + Why(startError));
                    // Every task is told so in one way, whichever front end runs it.
                    startError = std::make_exception_ptr(EngineUnavailable(Why(startError)));
                }
                continue;
            }
            changed.wait(lock, [&] { return stopping || !queue.empty(); });
            if (stopping) break;
            // A worker without an engine gives way to one that has come up or is starting since.
            if (!engine && alive > 1) break;
            TaskHandle task = queue.front();
            queue.pop_front();
            task->state = TaskState::State::Running;
            task->engine = engine.get();
            task->aborted = &aborted;
            running.push_back(task);
            lock.unlock();
            std::exception_ptr lost = Run(task, engine.get(), startError);
            lock.lock();
            if (lost && aborted) {
                // Stopped while its office was starting: the task ends here, told it has none.
                task->engine = nullptr;
                lock.unlock();
                Run(task, nullptr, std::make_exception_ptr(EngineUnavailable(Why(lost))));
                lock.lock();
                lost = nullptr;
            }
            task->engine = nullptr;
            task->aborted = nullptr;
            running.erase(std::find(running.begin(), running.end(), task));
            if (lost) {
                // Not the task's fault: it goes first to another worker, and this one ends as one
                // that could not start does.
                task->state = TaskState::State::Queued;
                queue.push_front(task);
                changed.notify_all();
                lock.unlock();
                engine.reset();
                lock.lock();
                if (alive > 1) {
                    Trace(
                        "a worker's office could not be started again; the others convert "
                        "its rows: " +
                        Why(lost));
                    break;
                }
                Trace("no worker can start any more: " + Why(lost));
                startError = std::make_exception_ptr(EngineUnavailable(Why(lost)));
                continue;
            }
            task->run = nullptr;  // what it holds goes now, not with the last handle
            task->state = TaskState::State::Over;
            if (aborted) {  // the next task gets a fresh engine
                aborted = false;
                lock.unlock();
                engine.reset();
                startError = nullptr;
                lock.lock();
            }
            changed.notify_all();
        }
        --alive;
        lock.unlock();
        changed.notify_all();
        engine.reset();  // the engine ends with its thread
    }

    static std::string Why(const std::exception_ptr& error) {
        try {
            if (error) std::rethrow_exception(error);
        } catch (const std::exception& e) {
            return e.what();
        } catch (...) {
        }
        return "unknown failure";
    }

    bool CancelLocked(const TaskHandle& task) {
        if (task->state != TaskState::State::Queued) return false;
        queue.erase(std::remove(queue.begin(), queue.end(), task), queue.end());
        task->state = TaskState::State::Over;
        task->run = nullptr;
        return true;
    }

    void AbortLocked(const TaskHandle& task) {
        if (CancelLocked(task) || task->state != TaskState::State::Running) return;
        if (!task->engine) return;  // runs with a start failure: nothing to stop
        *task->aborted = true;
        task->engine->Abort();
    }
};

WorkerPool::WorkerPool(EngineMaker make, int maxWorkers)
    : impl_(std::make_unique<Impl>(std::move(make), std::max(1, maxWorkers))),
      maxWorkers_(std::max(1, maxWorkers)) {}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->stopping = true;
        for (ConversionEngine* engine : impl_->starting) engine->Abort();
    }
    AbortAll();
    impl_->changed.notify_all();
    for (std::thread& thread : impl_->threads) thread.join();
}

void WorkerPool::EnsureWorkers(int count) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    count = std::min(count, maxWorkers_);
    while (static_cast<int>(impl_->threads.size()) < count) {
        ++impl_->alive;
        impl_->threads.emplace_back([this] { impl_->WorkerLoop(); });
    }
}

int WorkerPool::WorkersStarted() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return static_cast<int>(impl_->threads.size());
}

WorkerPool::TaskHandle WorkerPool::Submit(Task task, bool first) {
    auto state = std::make_shared<TaskState>();
    state->run = std::move(task);
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (first)
            impl_->queue.push_front(state);
        else
            impl_->queue.push_back(state);
    }
    impl_->changed.notify_all();
    return state;
}

void WorkerPool::Hurry(const TaskHandle& task) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (task->state != TaskState::State::Queued) return;
    auto& queue = impl_->queue;
    queue.erase(std::remove(queue.begin(), queue.end(), task), queue.end());
    queue.push_front(task);
}

bool WorkerPool::Cancel(const TaskHandle& task) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->CancelLocked(task);
}

void WorkerPool::Abort(const TaskHandle& task) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->AbortLocked(task);
}

int WorkerPool::AbortAll() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::vector<TaskHandle> waiting(impl_->queue.begin(), impl_->queue.end());
    for (const TaskHandle& task : waiting) impl_->CancelLocked(task);
    for (const TaskHandle& task : impl_->running) impl_->AbortLocked(task);
    return static_cast<int>(waiting.size());
}

bool WorkerPool::WaitUntilNoneRuns(std::chrono::milliseconds within) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    const auto none = [&] { return impl_->running.empty(); };
    if (within == std::chrono::milliseconds::max()) {
        impl_->changed.wait(lock, none);
        return true;
    }
    return impl_->changed.wait_for(lock, within, none);
}

}  // namespace vellumor
