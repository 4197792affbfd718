#include "cli/batch_runner.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace vellumor::cli {

namespace {

using Clock = std::chrono::steady_clock;

// A worker the system gives us no handle to (under Wine) ends when we do: this long after the
// second stop request the run gives up waiting for it.
constexpr auto kAbandonAfter = std::chrono::seconds(10);

// The engine of a pool none of whose workers could start: every call fails with the reason.
class Unstarted : public ConversionEngine {
  public:
    explicit Unstarted(std::exception_ptr why) : why_(std::move(why)) {}
    void LoadDocument(const std::string&, SourceFormat) override { std::rethrow_exception(why_); }
    SavedPdf SavePdf(const std::string&) override { std::rethrow_exception(why_); }

  private:
    std::exception_ptr why_;
};

}  // namespace

BatchRunner::BatchRunner(std::vector<Job> jobs, WorkerEngineOptions engine, int slots,
                         BatchObserver& observer)
    : jobs_(std::move(jobs)),
      engineOptions_(std::move(engine)),
      slots_(std::max(1, slots)),
      observer_(observer) {}

void BatchRunner::Record(const Job& job, Job& slot) {
    std::lock_guard<std::mutex> lock(jobsMutex_);
    slot = job;
    observer_.JobEnded(job);
}

// The jobs the plan decided (skipped, failed, carried over) are reported before any is converted.
void BatchRunner::ReportDecided() {
    for (auto& job : jobs_) {
        if (job.outcome == Outcome::Pending) continue;
        if (!job.carriedOver) job.sourceFacts = FactsOf(job.source);
        Record(Job(job), job);
    }
}

// With several slots, the largest documents first: a long one left for the end would keep one
// slot busy while the others have nothing to do. One slot keeps the input order, and records
// always do.
std::vector<std::size_t> BatchRunner::ConversionOrder() {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < jobs_.size(); ++i)
        if (jobs_[i].outcome == Outcome::Pending) order.push_back(i);
    if (slots_ > 1) {
        for (std::size_t i : order) jobs_[i].sourceFacts = FactsOf(jobs_[i].source);
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return jobs_[a].sourceFacts.size > jobs_[b].sourceFacts.size;
        });
    }
    return order;
}

BatchRunner::~BatchRunner() = default;

void BatchRunner::TaskOver() {
    std::lock_guard<std::mutex> lock(tasksMutex_);
    --tasksLeft_;
    taskOver_.notify_all();
}

void BatchRunner::Convert(ConversionEngine* engine, const std::exception_ptr& startError,
                          std::size_t index) {
    if (observer_.StopRequests() > 0) return TaskOver();  // left pending: interrupted
    Job job;
    {
        std::lock_guard<std::mutex> lock(jobsMutex_);
        job = jobs_[index];
    }
    if (engine) {
        // A start failure of its office goes out to the pool, which hands the job on.
        ConvertOne(*engine, job);
    } else {  // no worker could start: every document says why
        Unstarted unstarted(startError);
        ConvertOne(unstarted, job);
    }
    if (auto* worker = dynamic_cast<WorkerEngine*>(engine)) {
        if (std::string why = worker->IsolationWarning();
            !why.empty() && !isolationWarned_.exchange(true))
            observer_.IsolationWarning(why);
        if (std::string why = worker->OfficeVersionWarning();
            !why.empty() && !officeWarned_.exchange(true))
            observer_.OfficeVersionWarning(why);
    }
    // A document stopped by the second request was not given its chance: interrupted.
    if (aborting_ && job.outcome == Outcome::Failed) {
        job.outcome = Outcome::Skipped;
        job.reason = kInterrupted;
    }
    Record(job, jobs_[index]);
    TaskOver();
}

// Stop requests are handled here, on the calling thread: the first takes back the documents not
// started and lets those in progress finish, the second stops their workers. False when a
// worker had to be abandoned.
bool BatchRunner::WaitForTasks(std::vector<WorkerPool::TaskHandle>& tasks) {
    bool announced = false;
    auto abortedAt = Clock::time_point::max();
    std::unique_lock<std::mutex> lock(tasksMutex_);
    while (tasksLeft_ > 0) {
        taskOver_.wait_for(lock, std::chrono::milliseconds(50));
        const int requests = observer_.StopRequests();
        if (requests >= 1 && !announced) {
            announced = true;
            lock.unlock();
            observer_.Stopping();
            std::size_t takenBack = 0;
            for (const auto& task : tasks) takenBack += pool_->Cancel(task) ? 1 : 0;
            lock.lock();
            tasksLeft_ -= takenBack;
        }
        if (requests >= 2 && !aborting_) {
            aborting_ = true;
            abortedAt = Clock::now();
            lock.unlock();
            // Tasks handed to another worker since the first request wait again.
            const int takenBack = pool_->AbortAll();
            lock.lock();
            tasksLeft_ -= static_cast<std::size_t>(takenBack);
        }
        if (Clock::now() - abortedAt > kAbandonAfter) return false;
    }
    return true;
}

BatchResult BatchRunner::Run() {
    ReportDecided();
    const std::vector<std::size_t> order = ConversionOrder();

    BatchResult result;
    const auto started = Clock::now();
    const int slots = std::min<int>(slots_, static_cast<int>(order.size()));
    if (slots > 0) {
        pool_ = std::make_unique<WorkerPool>(
            [this] { return std::make_unique<WorkerEngine>(engineOptions_); }, slots);
        pool_->EnsureWorkers(slots);
        tasksLeft_ = order.size();
        std::vector<WorkerPool::TaskHandle> tasks;
        tasks.reserve(order.size());
        for (std::size_t index : order)
            tasks.push_back(pool_->Submit(
                [this, index](ConversionEngine* engine, const std::exception_ptr& startError) {
                    Convert(engine, startError, index);
                }));
        result.abandoned = !WaitForTasks(tasks);
        if (!result.abandoned) pool_.reset();  // the workers end with the run
    }

    result.interrupted = observer_.StopRequests() > 0;
    {
        std::lock_guard<std::mutex> lock(jobsMutex_);
        result.jobs = jobs_;
    }
    // Inputs never started: the record says so, the PDF was never begun.
    for (auto& job : result.jobs)
        if (job.outcome == Outcome::Pending) {
            Job interrupted = job;
            interrupted.outcome = Outcome::Skipped;
            interrupted.reason = kInterrupted;
            Record(interrupted, job);
        }
    result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    return result;
}

}  // namespace vellumor::cli
