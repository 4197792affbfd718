#include "batch/look_ahead_engine.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "batch/platform.h"
#include "batch/worker_choice.h"
#include "batch/worker_pool.h"
#include "engine/client/worker_engine.h"
#include "engine/client/worker_platform.h"
#include "engine/input_file.h"

namespace vellumor {

namespace wp = vellumor::worker_platform;

namespace {

// One conversion handed to a worker: load the source, then save it to its target.
struct Job {
    PlannedConversion plan;
    batch::FileFacts facts;  // the source's, when the job was made
    // Where the worker saves: a name in the private folder for a row done ahead, the PDF's own
    // name for a row converted when the run asks. Empty until the run's Save names it.
    std::string target;
    bool ahead = false;  // target is a temporary name, moved into place by Save
    enum class State { Queued, Running, Loaded, Done } state = State::Queued;
    std::exception_ptr loadError, saveError;
    bool wanted = true;  // false: its row went away; the worker drops what it makes
    WorkerPool::TaskHandle task;
};
using JobPtr = std::shared_ptr<Job>;

constexpr const char* kPrivatePrefix = "vellumor-ahead-";

bool IsStartFailure(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const EngineError& e) {
        return e.failure() == EngineFailure::StartFailed;
    } catch (...) {
        return false;
    }
}

bool SameRow(const Job& job, const PlannedConversion& plan, const batch::FileFacts& facts) {
    return job.plan.source == plan.source && job.plan.format == plan.format &&
           job.plan.pdfPath == plan.pdfPath && job.facts == facts;
}

}  // namespace

struct LookAheadEngine::Impl {
    LookAheadOptions options;

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<JobPtr> ahead;    // taken ahead and not yet asked for, in row order
    JobPtr current;               // the row between the run's Load and Save
    std::vector<JobPtr> started;  // jobs a worker works on
    bool stopping = false;
    batch::PrivateFolder privateFolder;  // made for the first row taken ahead
    bool swept = false;
    unsigned long nextName = 0;
    int rowsTakenAhead = 0;
    int thrownAway = 0;
    WorkerPool pool;  // last: its workers end before the rest goes

    Impl(EngineMaker make, LookAheadOptions o)
        : options(o),
          pool(std::move(make), options.workers > 0
                                    ? options.workers
                                    : WorkersForThisMachine(0, options.memoryLimitMiB)) {
        options.rowsPerWorker = std::max(1, options.rowsPerWorker);
    }

    ~Impl() {
        std::vector<std::string> files;
        {
            std::lock_guard<std::mutex> lock(mutex);
            Forget(files);
            stopping = true;
        }
        changed.notify_all();
        pool.AbortAll();
        pool.WaitUntilNoneRuns();
        Remove(files);
        privateFolder = {};  // and all a worker may have left in it
    }

    // ---- the workers' side ----

    void Submit(const JobPtr& job, bool first) {
        job->task = pool.Submit(
            [this, job](ConversionEngine* engine, const std::exception_ptr& startError) {
                Convert(engine, startError, job);
            },
            first);
    }

    void Convert(ConversionEngine* engine, const std::exception_ptr& startError,
                 const JobPtr& owned) {
        Job& job = *owned;
        const auto done = [&](std::unique_lock<std::mutex>&) {
            job.state = Job::State::Done;
            started.erase(std::remove(started.begin(), started.end(), owned), started.end());
            changed.notify_all();
        };
        // Its worker's office could not be started again: unless the row is gone, the pool
        // runs this again on another worker.
        const auto handOver = [&](const std::exception_ptr& error) {
            std::unique_lock<std::mutex> lock(mutex);
            if (!job.wanted || stopping) return false;
            lock.unlock();
            std::rethrow_exception(error);
        };
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (!job.wanted || stopping) return done(lock);  // dropped before it began
            if (job.state == Job::State::Queued) {           // else it was handed over by a worker
                job.state = Job::State::Running;
                started.push_back(owned);
            }
        }
        std::exception_ptr error = startError;
        if (!error) {
            try {
                engine->LoadDocument(job.plan.source, static_cast<SourceFormat>(job.plan.format));
            } catch (...) {
                error = std::current_exception();
                if (IsStartFailure(error)) handOver(error);
            }
        }
        std::string target;
        {
            std::unique_lock<std::mutex> lock(mutex);
            job.loadError = error;
            job.state = Job::State::Loaded;
            changed.notify_all();
            // A row converted when the run asks learns its PDF's name from the run's Save.
            if (!error)
                changed.wait(lock, [&] { return stopping || !job.wanted || !job.target.empty(); });
            if (error || !job.wanted || job.target.empty()) return done(lock);
            target = job.target;
        }
        std::exception_ptr saveError;
        try {
            engine->SavePdf(target);
        } catch (...) {
            saveError = std::current_exception();
            if (IsStartFailure(saveError)) handOver(saveError);
        }
        std::unique_lock<std::mutex> lock(mutex);
        job.saveError = saveError;
        if (!job.wanted && job.ahead) {  // its row went away meanwhile: its PDF goes now
            lock.unlock();
            batch::RemoveFile(target);
            lock.lock();
        }
        done(lock);
    }

    // ---- the run's side (one thread) ----

    // A temporary name for a PDF done ahead; empty when there is no private folder.
    std::string TemporaryName() {
        if (privateFolder.Path().empty()) {
            // What runs killed before their end left is swept once, before the first folder.
            if (!swept) batch::SweepPrivateFolders(kPrivatePrefix);
            swept = true;
            privateFolder = batch::PrivateFolder::Make(kPrivatePrefix);
        }
        if (privateFolder.Path().empty()) return {};
        return privateFolder.Path() + wp::PathSeparator() + std::to_string(++nextName) + ".pdf";
    }

    // Lets go of a job whose row is gone: the worker drops it, or its PDF is removed now.
    void Drop(const JobPtr& job, std::vector<std::string>& files) {
        job->wanted = false;
        ++thrownAway;
        if (job->state == Job::State::Queued) {
            if (job->task) pool.Cancel(job->task);
        } else if (job->state == Job::State::Done && job->ahead && !job->loadError &&
                   !job->saveError) {
            files.push_back(job->target);
        }
    }

    void Forget(std::vector<std::string>& files) {
        for (const JobPtr& job : ahead) Drop(job, files);
        ahead.clear();
        if (current) {
            if (current->ahead || current->state != Job::State::Done) Drop(current, files);
            current.reset();
        }
        changed.notify_all();
    }

    static void Remove(const std::vector<std::string>& files) {
        for (const std::string& file : files) batch::RemoveFile(file);
    }

    void RowReached(int row, int rows, const ConversionPlan& plan) {
        const int left = rows - row;
        if (left <= 0) return;
        const int workers = std::min(left, pool.MaxWorkers());
        // Read on this thread: the plan looks at the list, the facts at the disk.
        std::vector<std::pair<PlannedConversion, batch::FileFacts>> wanted;
        const int last = std::min(rows, row + workers * options.rowsPerWorker);
        for (int r = row; r < last; ++r) {
            std::optional<PlannedConversion> planned = plan(r);
            if (!planned || planned->format == 0) continue;
            wanted.emplace_back(*planned, batch::FactsOf(planned->source));
        }
        pool.EnsureWorkers(workers);
        std::vector<std::string> files;
        {
            std::lock_guard<std::mutex> lock(mutex);
            std::vector<JobPtr> kept;
            std::vector<JobPtr> old = std::move(ahead);
            for (auto& [planned, facts] : wanted) {
                auto match = std::find_if(old.begin(), old.end(), [&](const JobPtr& job) {
                    return job && SameRow(*job, planned, facts);
                });
                if (match != old.end()) {
                    kept.push_back(std::move(*match));
                    *match = nullptr;
                    continue;
                }
                auto job = std::make_shared<Job>();
                job->plan = planned;
                job->facts = facts;
                job->target = TemporaryName();
                if (job->target.empty()) break;  // nothing can wait anywhere: no look-ahead
                job->ahead = true;
                Submit(job, false);
                kept.push_back(std::move(job));
            }
            for (const JobPtr& job : old)
                if (job) Drop(job, files);
            ahead = std::move(kept);
        }
        changed.notify_all();
        Remove(files);
    }

    // Nothing of the run is left when this returns: queued rows are dropped, a worker still
    // converting or saving one of them is aborted (and replaced by a fresh one), and every PDF
    // it made is removed.
    void RunEnded() {
        std::vector<std::string> files;
        {
            std::lock_guard<std::mutex> lock(mutex);
            Forget(files);
            for (const JobPtr& job : started) {
                const bool waitingForSave = job->state == Job::State::Loaded && job->target.empty();
                if (!waitingForSave) pool.Abort(job->task);
            }
        }
        pool.WaitUntilNoneRuns();
        {
            // A row handed to another worker and then taken out of the queue never ends.
            std::lock_guard<std::mutex> lock(mutex);
            started.erase(std::remove_if(started.begin(), started.end(),
                                         [](const JobPtr& job) { return !job->wanted; }),
                          started.end());
        }
        Remove(files);
    }

    void WaitFor(std::unique_lock<std::mutex>& lock, const JobPtr& job, Job::State state) {
        changed.wait(lock, [&] { return job->state >= state; });
    }

    void Load(const std::string& path, int format) {
        const batch::FileFacts facts = batch::FactsOf(path);
        std::vector<std::string> files;
        std::unique_lock<std::mutex> lock(mutex);
        if (current) {  // a Load without its Save: that row is over
            if (current->ahead || current->state != Job::State::Done) Drop(current, files);
            current.reset();
            changed.notify_all();
        }
        auto match = std::find_if(ahead.begin(), ahead.end(), [&](const JobPtr& job) {
            return job->plan.source == path && job->plan.format == format && job->facts == facts;
        });
        JobPtr job;
        if (match != ahead.end()) {
            job = *match;
            ahead.erase(match);
            pool.Hurry(job->task);  // nothing when it has started
        } else {
            // Not taken ahead: converted now, and saved where the run's Save says.
            job = std::make_shared<Job>();
            job->plan.source = path;
            job->plan.format = format;
            job->facts = facts;
            pool.EnsureWorkers(1);
            Submit(job, true);
        }
        current = job;
        changed.notify_all();
        lock.unlock();
        Remove(files);
        lock.lock();
        WaitFor(lock, job, Job::State::Loaded);
        if (job->loadError) {
            current.reset();
            std::rethrow_exception(job->loadError);
        }
    }

    void Save(const std::string& path) {
        std::unique_lock<std::mutex> lock(mutex);
        JobPtr job = std::exchange(current, nullptr);
        if (!job)
            throw EngineError(EngineFailure::NoDocument,
                              "Cannot save " + DisplayNameOf(path) + ": no document is loaded");
        if (!job->ahead) {
            job->target = path;
            changed.notify_all();
            WaitFor(lock, job, Job::State::Done);
            // Handed to another worker after its load, the row was loaded again there.
            if (job->loadError) std::rethrow_exception(job->loadError);
            if (job->saveError) std::rethrow_exception(job->saveError);
            return;
        }
        WaitFor(lock, job, Job::State::Done);
        const bool usable = job->plan.pdfPath == path && !job->loadError && !job->saveError;
        lock.unlock();
        if (usable && batch::MoveIntoPlace(job->target, path)) {
            std::lock_guard<std::mutex> relock(mutex);
            ++rowsTakenAhead;
            return;
        }
        batch::RemoveFile(job->target);
        // What was done ahead does not fit (another PDF name, a save that failed in the private
        // folder, a move refused): the row is converted again straight to its PDF, as one
        // worker would, so the outcome and any failure are the engine's own.
        auto again = std::make_shared<Job>();
        again->plan = job->plan;
        again->plan.pdfPath = path;
        again->target = path;
        lock.lock();
        Submit(again, true);
        WaitFor(lock, again, Job::State::Done);
        if (again->loadError) std::rethrow_exception(again->loadError);
        if (again->saveError) std::rethrow_exception(again->saveError);
    }
};

LookAheadEngine::LookAheadEngine(EngineMaker make, LookAheadOptions options)
    : impl_(std::make_unique<Impl>(std::move(make), options)) {
    if (options.startFirst) impl_->pool.EnsureWorkers(1);
}

LookAheadEngine::~LookAheadEngine() = default;

int LookAheadEngine::Load(const std::string& path, int, int format, bool) {
    CheckLoadFormat(path, format);
    impl_->Load(path, format);
    return 0;
}

int LookAheadEngine::Save(const std::string& path, int, int format, bool) {
    CheckSaveFormat(path, format);
    impl_->Save(path);
    return 0;
}

void LookAheadEngine::RowReached(int row, int rows, const ConversionPlan& plan) {
    impl_->RowReached(row, rows, plan);
}

void LookAheadEngine::RunEnded() {
    impl_->RunEnded();
}

int LookAheadEngine::WorkersStarted() const {
    return impl_->pool.WorkersStarted();
}

int LookAheadEngine::RowsTakenAhead() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->rowsTakenAhead;
}

int LookAheadEngine::ResultsThrownAway() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->thrownAway;
}

std::string LookAheadEngine::PrivateFolder() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->privateFolder.Path();
}

std::unique_ptr<DocumentEngine> MakeLookAheadEngineIn(const std::string& folder,
                                                      LookAheadOptions options) {
    WorkerEngineOptions workerOptions;
    workerOptions.workerPath = ChooseWorkerIn(folder);
    if (workerOptions.workerPath.empty()) return nullptr;
    options.memoryLimitMiB = workerOptions.memoryLimitMiB;
    return std::make_unique<LookAheadEngine>(
        [workerOptions] { return std::make_unique<WorkerEngine>(workerOptions); }, options);
}

}  // namespace vellumor
