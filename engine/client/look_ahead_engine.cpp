#include "engine/client/look_ahead_engine.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <filesystem>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "engine/client/worker_engine.h"
#include "engine/client/worker_platform.h"
#include "engine/input_file.h"

namespace vellumor {

namespace wp = vellumor::worker_platform;

namespace {

// One conversion handed to a worker: load the source, then save it to its target.
struct Job {
    PlannedConversion plan;
    wp::FileFacts facts;  // the source's, when the job was made
    // Where the worker saves: a name in the private folder for a row done ahead, the PDF's own
    // name for a row converted when the run asks. Empty until the run's Save names it.
    std::string target;
    bool ahead = false;  // target is a temporary name, moved into place by Save
    enum class State { Queued, Running, Loaded, Done } state = State::Queued;
    std::exception_ptr loadError, saveError;
    bool wanted = true;  // false: its row went away; the worker drops what it makes
};
using JobPtr = std::shared_ptr<Job>;

// One worker thread as the run sees it: its engine and the job it works on.
struct Worker {
    ConversionEngine* engine = nullptr;  // null while its engine is being made
    JobPtr job;                          // null when idle
    bool aborted = false;                // its engine was aborted: a fresh one replaces it
};

bool SameRow(const Job& job, const PlannedConversion& plan, const wp::FileFacts& facts) {
    return job.plan.source == plan.source && job.plan.format == plan.format &&
           job.plan.pdfPath == plan.pdfPath && job.facts == facts;
}

}  // namespace

struct LookAheadEngine::Impl {
    EngineMaker make;
    LookAheadOptions options;
    int maxWorkers = 1;

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<JobPtr> queue;   // waiting for a worker, the next to take first
    std::vector<JobPtr> ahead;  // taken ahead and not yet asked for, in row order
    JobPtr current;             // the row between the run's Load and Save
    std::vector<std::thread> threads;
    std::list<Worker> workers;  // one per thread
    bool stopping = false;
    std::string privateFolder;
    unsigned long nextName = 0;
    int rowsTakenAhead = 0;
    int thrownAway = 0;

    Impl(EngineMaker m, LookAheadOptions o) : make(std::move(m)), options(o) {
        maxWorkers = options.workers > 0
                         ? options.workers
                         : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
        options.rowsPerWorker = std::max(1, options.rowsPerWorker);
    }

    ~Impl() {
        std::vector<std::string> files;
        {
            std::lock_guard<std::mutex> lock(mutex);
            Forget(files);
            stopping = true;
            for (Worker& worker : workers)
                if (worker.engine) worker.engine->Abort();
        }
        changed.notify_all();
        for (std::thread& t : threads) t.join();
        Remove(files);
        if (!privateFolder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(std::filesystem::u8path(privateFolder), ignored);
        }
    }

    // ---- the workers' side ----

    void EnsureWorkers(int wanted) {
        wanted = std::min(wanted, maxWorkers);
        while (static_cast<int>(threads.size()) < wanted) {
            Worker& worker = workers.emplace_back();
            threads.emplace_back([this, &worker] { WorkerLoop(worker); });
        }
    }

    void WorkerLoop(Worker& self) {
        std::unique_ptr<ConversionEngine> engine;
        std::exception_ptr startError;
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopping) {
            if (!engine && !startError) {
                lock.unlock();
                try {
                    engine = make();
                    if (!engine)
                        throw EngineError(EngineFailure::StartFailed,
                                          "The document engine could not be started");
                } catch (...) {
                    startError = std::current_exception();
                }
                lock.lock();
                self.engine = engine.get();
                self.aborted = false;
                if (stopping && engine) engine->Abort();
                continue;
            }
            changed.wait(lock, [&] { return stopping || !queue.empty(); });
            if (stopping) break;
            JobPtr job = queue.front();
            queue.pop_front();
            job->state = Job::State::Running;
            self.job = job;
            lock.unlock();
            Convert(engine.get(), startError, *job);
            lock.lock();
            self.job.reset();
            if (self.aborted) {  // aborted for the end of a run: the next run gets a fresh one
                self.engine = nullptr;
                lock.unlock();
                engine.reset();
                startError = nullptr;
                lock.lock();
            }
            changed.notify_all();
        }
        self.engine = nullptr;
        lock.unlock();
        engine.reset();  // the worker ends with its thread
    }

    void Convert(ConversionEngine* engine, const std::exception_ptr& startError, Job& job) {
        std::exception_ptr error = startError;
        if (!error) {
            try {
                engine->LoadDocument(job.plan.source, static_cast<SourceFormat>(job.plan.format));
            } catch (...) {
                error = std::current_exception();
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
            if (error || !job.wanted || job.target.empty()) {
                job.state = Job::State::Done;
                changed.notify_all();
                return;
            }
            target = job.target;
        }
        std::exception_ptr saveError;
        try {
            engine->SavePdf(target);
        } catch (...) {
            saveError = std::current_exception();
        }
        std::unique_lock<std::mutex> lock(mutex);
        job.saveError = saveError;
        if (!job.wanted && job.ahead) {  // its row went away meanwhile: its PDF goes now
            lock.unlock();
            wp::RemoveFile(target);
            lock.lock();
        }
        job.state = Job::State::Done;
        changed.notify_all();
    }

    // ---- the run's side (one thread) ----

    // A temporary name for a PDF done ahead; empty when there is no private folder.
    std::string TemporaryName() {
        if (privateFolder.empty()) privateFolder = wp::MakePrivateFolder("vellumor-ahead-");
        if (privateFolder.empty()) return {};
        return privateFolder + wp::PathSeparator() + std::to_string(++nextName) + ".pdf";
    }

    // Lets go of a job whose row is gone: the worker drops it, or its PDF is removed now.
    void Drop(const JobPtr& job, std::vector<std::string>& files) {
        job->wanted = false;
        ++thrownAway;
        if (job->state == Job::State::Queued) {
            queue.erase(std::remove(queue.begin(), queue.end(), job), queue.end());
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
        for (const std::string& file : files) wp::RemoveFile(file);
    }

    void RowReached(int row, int rows, const ConversionPlan& plan) {
        const int left = rows - row;
        if (left <= 0) return;
        const int workers = std::min(left, maxWorkers);
        // Read on this thread: the plan looks at the list, the facts at the disk.
        std::vector<std::pair<PlannedConversion, wp::FileFacts>> wanted;
        const int last = std::min(rows, row + workers * options.rowsPerWorker);
        for (int r = row; r < last; ++r) {
            std::optional<PlannedConversion> planned = plan(r);
            if (!planned || planned->format == 0) continue;
            wanted.emplace_back(*planned, wp::FactsOf(planned->source));
        }
        std::vector<std::string> files;
        {
            std::lock_guard<std::mutex> lock(mutex);
            EnsureWorkers(workers);
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
                queue.push_back(job);
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
            std::unique_lock<std::mutex> lock(mutex);
            Forget(files);
            for (Worker& worker : workers) {
                if (!worker.job || !worker.engine) continue;
                const Job& job = *worker.job;
                const bool waitingForSave = job.state == Job::State::Loaded && job.target.empty();
                if (job.state == Job::State::Done || waitingForSave) continue;
                worker.aborted = true;
                worker.engine->Abort();
            }
            changed.wait(lock, [&] {
                return std::all_of(workers.begin(), workers.end(),
                                   [](const Worker& worker) { return !worker.job; });
            });
        }
        Remove(files);
    }

    void WaitFor(std::unique_lock<std::mutex>& lock, const JobPtr& job, Job::State state) {
        changed.wait(lock, [&] { return job->state >= state; });
    }

    // Runs the job first of all waiting ones.
    void Hurry(const JobPtr& job) {
        if (job->state != Job::State::Queued) return;
        queue.erase(std::remove(queue.begin(), queue.end(), job), queue.end());
        queue.push_front(job);
    }

    void Load(const std::string& path, int format) {
        const wp::FileFacts facts = wp::FactsOf(path);
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
        } else {
            // Not taken ahead: converted now, and saved where the run's Save says.
            job = std::make_shared<Job>();
            job->plan.source = path;
            job->plan.format = format;
            job->facts = facts;
            EnsureWorkers(1);
        }
        if (job->state == Job::State::Queued) {
            if (std::find(queue.begin(), queue.end(), job) == queue.end()) queue.push_front(job);
            Hurry(job);
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
            if (job->saveError) std::rethrow_exception(job->saveError);
            return;
        }
        WaitFor(lock, job, Job::State::Done);
        const bool usable = job->plan.pdfPath == path && !job->saveError;
        lock.unlock();
        if (usable && wp::MoveIntoPlace(job->target, path)) {
            std::lock_guard<std::mutex> relock(mutex);
            ++rowsTakenAhead;
            return;
        }
        wp::RemoveFile(job->target);
        // What was done ahead does not fit (another PDF name, a save that failed in the private
        // folder, a move refused): the row is converted again straight to its PDF, as one
        // worker would, so the outcome and any failure are the engine's own.
        auto again = std::make_shared<Job>();
        again->plan = job->plan;
        again->plan.pdfPath = path;
        again->target = path;
        lock.lock();
        queue.push_front(again);
        changed.notify_all();
        WaitFor(lock, again, Job::State::Done);
        if (again->loadError) std::rethrow_exception(again->loadError);
        if (again->saveError) std::rethrow_exception(again->saveError);
    }
};

LookAheadEngine::LookAheadEngine(EngineMaker make, LookAheadOptions options)
    : impl_(std::make_unique<Impl>(std::move(make), options)) {
    if (options.startFirst) {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->EnsureWorkers(1);
    }
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
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return static_cast<int>(impl_->threads.size());
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
    return impl_->privateFolder;
}

std::unique_ptr<DocumentEngine> MakeLookAheadEngineIn(const std::string& folder,
                                                      LookAheadOptions options) {
    WorkerEngineOptions workerOptions;
    workerOptions.workerPath = ChooseWorkerIn(folder);
    if (workerOptions.workerPath.empty()) return nullptr;
    return std::make_unique<LookAheadEngine>(
        [workerOptions] { return std::make_unique<WorkerEngine>(workerOptions); }, options);
}

}  // namespace vellumor
