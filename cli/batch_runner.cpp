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

void BatchRunner::ConvertWith(WorkerEngine& engine) {
    for (std::size_t k; observer_.StopRequests() == 0 && (k = next_++) < order_.size();) {
        Job job;
        {
            std::lock_guard<std::mutex> lock(jobsMutex_);
            job = jobs_[order_[k]];
        }
        ConvertOne(engine, job);
        if (std::string why = engine.IsolationWarning();
            !why.empty() && !isolationWarned_.exchange(true))
            observer_.IsolationWarning(why);
        if (std::string why = engine.OfficeVersionWarning();
            !why.empty() && !officeWarned_.exchange(true))
            observer_.OfficeVersionWarning(why);
        // A document stopped by the second request was not given its chance: interrupted.
        if (aborting_ && job.outcome == Outcome::Failed) {
            job.outcome = Outcome::Skipped;
            job.reason = kInterrupted;
        }
        Record(job, jobs_[order_[k]]);
    }
}

void BatchRunner::RunSlot() {
    {
        WorkerEngine engine(engineOptions_);
        {
            std::lock_guard<std::mutex> lock(slotsMutex_);
            engines_.push_back(&engine);
            if (aborting_) engine.Abort();
        }
        ConvertWith(engine);
        std::lock_guard<std::mutex> lock(slotsMutex_);
        engines_.erase(std::find(engines_.begin(), engines_.end(), &engine));
    }
    // The engine is gone with its worker by now.
    std::lock_guard<std::mutex> lock(slotsMutex_);
    --slotsRunning_;
    slotEnded_.notify_all();
}

// Stop requests are handled here, on the calling thread: the first lets the documents in
// progress finish, the second stops their workers. False when a slot had to be abandoned.
bool BatchRunner::WaitForSlots() {
    bool announced = false;
    auto abortedAt = Clock::time_point::max();
    std::unique_lock<std::mutex> lock(slotsMutex_);
    while (slotsRunning_ > 0) {
        slotEnded_.wait_for(lock, std::chrono::milliseconds(50));
        const int requests = observer_.StopRequests();
        if (requests >= 1 && !announced) {
            announced = true;
            lock.unlock();
            observer_.Stopping();
            lock.lock();
        }
        if (requests >= 2 && !aborting_) {
            aborting_ = true;
            abortedAt = Clock::now();
            for (auto* engine : engines_) engine->Abort();
        }
        if (Clock::now() - abortedAt > kAbandonAfter) return false;
    }
    return true;
}

BatchResult BatchRunner::Run() {
    ReportDecided();
    order_ = ConversionOrder();

    BatchResult result;
    const auto started = Clock::now();
    const int slots = std::min<int>(slots_, static_cast<int>(order_.size()));
    slotsRunning_ = slots;
    std::vector<std::thread> pool;
    for (int t = 0; t < slots; ++t) pool.emplace_back([this] { RunSlot(); });

    result.abandoned = !WaitForSlots();
    for (auto& slot : pool) {
        if (result.abandoned)
            slot.detach();
        else
            slot.join();
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
