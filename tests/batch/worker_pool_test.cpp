// The worker pool with engines that start, fail to start or hang as the test says.
#include "batch/worker_pool.h"
#include "core/engine_unavailable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace vellumor {
namespace {

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

TEST(WorkersFor, NeverMoreThanTheCoresOrWhatTheMemoryHoldsAtTheCeilingAndAtLeastOne) {
    EXPECT_EQ(WorkersFor(0, 32, 256 * kGiB, 4096), 32);  // wanted 0: the cores
    EXPECT_EQ(WorkersFor(0, 32, 16 * kGiB, 4096), 3);    // (16 - 1) GiB / 4 GiB
    EXPECT_EQ(WorkersFor(8, 2, 24 * kGiB, 4096), 2);     // never more than the cores
    EXPECT_EQ(WorkersFor(3, 8, 24 * kGiB, 4096), 3);     // fewer when fewer are wanted
    EXPECT_EQ(WorkersFor(0, 8, 4 * kGiB, 0), 3);         // no ceiling: 1 GiB each
    EXPECT_EQ(WorkersFor(0, 4, 2 * kGiB, 4096), 1);      // too little memory: still one
    EXPECT_EQ(WorkersFor(0, 0, 0, 4096), 1);             // nothing known: one
    EXPECT_EQ(WorkersFor(6, 0, 0, 4096), 6);
}

// An engine that says which worker made it; it fails to start when told, and its Load waits
// for Abort when told to hang.
struct Engines {
    std::mutex mutex;
    std::vector<bool> startFails;  // by the order engines are made; beyond: they start
    int made = 0;
    std::atomic<int> aborted{0};
    // Loads of "lost" whose office dies and cannot be started again, as a replacement that
    // fails would; "lost-hang" waits for Abort first, which fails such a start too.
    std::atomic<int> restartsFailing{0};
};

class TestEngine : public ConversionEngine {
  public:
    TestEngine(Engines& engines, int number, bool failsToStart)
        : engines_(engines), number_(number), failsToStart_(failsToStart) {}
    void WaitUntilReady() override {
        if (failsToStart_)
            throw EngineError(EngineFailure::StartFailed,
                              "engine " + std::to_string(number_) + " did not start");
    }
    void LoadDocument(const std::string& path, SourceFormat) override {
        if (path == "lost-hang") {
            abortedFuture_.wait();
            throw EngineError(EngineFailure::StartFailed, "the conversion was stopped");
        }
        if (path == "lost" && engines_.restartsFailing-- > 0)
            throw EngineError(EngineFailure::StartFailed,
                              "engine " + std::to_string(number_) + " did not start again");
        if (path == "hang") abortedFuture_.wait();
        if (abortedNow_) throw EngineError(EngineFailure::EngineDied, "aborted");
    }
    SavedPdf SavePdf(const std::string&) override { return {}; }
    void Abort() override {
        ++engines_.aborted;
        abortedNow_ = true;
        aborted_.set_value();
    }
    int Number() const { return number_; }

  private:
    Engines& engines_;
    int number_;
    bool failsToStart_;
    std::atomic<bool> abortedNow_{false};
    std::promise<void> aborted_;
    std::shared_future<void> abortedFuture_ = aborted_.get_future().share();
};

WorkerPool::EngineMaker MakerFor(Engines& engines) {
    return [&engines]() -> std::unique_ptr<ConversionEngine> {
        std::lock_guard<std::mutex> lock(engines.mutex);
        const int number = engines.made++;
        const bool fails = number < static_cast<int>(engines.startFails.size()) &&
                           engines.startFails[static_cast<std::size_t>(number)];
        return std::make_unique<TestEngine>(engines, number, fails);
    };
}

// What each task saw: the engine's number, or the start failure.
struct Seen {
    std::mutex mutex;
    std::vector<std::string> what;
    std::atomic<int> unavailable{0};  // start failures told as no engine at all
    void Note(ConversionEngine* engine, const std::exception_ptr& why) {
        std::string text;
        if (engine) {
            text = "engine " + std::to_string(static_cast<TestEngine*>(engine)->Number());
        } else {
            try {
                std::rethrow_exception(why);
            } catch (const EngineUnavailable& e) {
                text = e.what();
                ++unavailable;
            } catch (const std::exception& e) {
                text = e.what();
            }
        }
        std::lock_guard<std::mutex> lock(mutex);
        what.push_back(text);
    }
};

void RunAll(WorkerPool& pool, Seen& seen, int count) {
    std::vector<std::promise<void>> done(static_cast<std::size_t>(count));
    for (auto& over : done)
        pool.Submit([&seen, &over](ConversionEngine* engine, const std::exception_ptr& why) {
            seen.Note(engine, why);
            over.set_value();
        });
    for (auto& over : done) over.get_future().wait();
}

TEST(WorkerPool, AWorkerThatCannotStartLeavesItsTasksToTheOthers) {
    Engines engines;
    engines.startFails = {true, false};  // of the two, the first made fails
    WorkerPool pool(MakerFor(engines), 2);
    pool.EnsureWorkers(2);
    Seen seen;
    RunAll(pool, seen, 6);
    ASSERT_EQ(seen.what.size(), 6u);
    for (const std::string& what : seen.what) EXPECT_EQ(what, "engine 1");
}

TEST(WorkerPool, OnlyWhenNoWorkerCanStartDoTasksGetTheStartFailure) {
    Engines engines;
    engines.startFails = {true, true};
    WorkerPool pool(MakerFor(engines), 2);
    pool.EnsureWorkers(2);
    Seen seen;
    RunAll(pool, seen, 3);
    ASSERT_EQ(seen.what.size(), 3u);
    const std::set<std::string> failures(seen.what.begin(), seen.what.end());
    ASSERT_EQ(failures.size(), 1u);  // the last worker to fail runs them all
    EXPECT_EQ(seen.unavailable.load(), 3) << "the front ends tell this from a row's failure";
    EXPECT_TRUE(*failures.begin() == "engine 0 did not start" ||
                *failures.begin() == "engine 1 did not start")
        << *failures.begin();
}

TEST(WorkerPool, AnAbortedTaskEndsNowAndItsWorkerTakesTheNextOnAFreshEngine) {
    Engines engines;
    WorkerPool pool(MakerFor(engines), 1);
    pool.EnsureWorkers(1);
    std::promise<void> running;
    std::promise<std::string> hungEnded;
    auto hung = pool.Submit([&](ConversionEngine* engine, const std::exception_ptr&) {
        running.set_value();
        try {
            engine->LoadDocument("hang", SourceFormat::Docx);
            hungEnded.set_value("loaded");
        } catch (const EngineError& e) {
            hungEnded.set_value(e.what());
        }
    });
    Seen seen;
    std::promise<void> waitingRan;
    auto waiting =
        pool.Submit([&](ConversionEngine*, const std::exception_ptr&) { waitingRan.set_value(); });
    running.get_future().wait();
    EXPECT_TRUE(pool.Cancel(waiting));  // not begun: taken back
    pool.Abort(hung);
    EXPECT_EQ(hungEnded.get_future().get(), "aborted");
    EXPECT_TRUE(pool.WaitUntilNoneRuns());
    RunAll(pool, seen, 1);
    EXPECT_EQ(seen.what, std::vector<std::string>{"engine 1"});
    EXPECT_EQ(engines.aborted, 1);
    EXPECT_FALSE(pool.Cancel(waiting));
}

// Tasks that load "lost" and note which engine converted it; a start failure is let out to
// the pool, as the front ends' tasks do.
void RunLost(WorkerPool& pool, Seen& seen, int count) {
    std::vector<std::promise<void>> done(static_cast<std::size_t>(count));
    for (auto& over : done)
        pool.Submit([&seen, &over](ConversionEngine* engine, const std::exception_ptr& why) {
            if (engine) engine->LoadDocument("lost", SourceFormat::Docx);
            seen.Note(engine, why);
            over.set_value();
        });
    for (auto& over : done) over.get_future().wait();
}

TEST(WorkerPool, ATaskWhoseOfficeCannotStartAgainGoesToAnotherWorkerAndItsOwnEnds) {
    Engines engines;
    engines.restartsFailing = 1;
    WorkerPool pool(MakerFor(engines), 2);
    pool.EnsureWorkers(2);
    Seen seen;
    RunLost(pool, seen, 6);
    ASSERT_EQ(seen.what.size(), 6u);  // each task ran to its end once
    const std::set<std::string> engineUsed(seen.what.begin(), seen.what.end());
    ASSERT_EQ(engineUsed.size(), 1u) << "the worker that lost its office takes no more";
    EXPECT_TRUE(*engineUsed.begin() == "engine 0" || *engineUsed.begin() == "engine 1");
    EXPECT_EQ(seen.unavailable.load(), 0);
    EXPECT_EQ(engines.made, 2) << "a worker that could not start again is not replaced";
}

TEST(WorkerPool, WhenTheLastWorkerCannotStartAgainItsTaskAndTheRestGetTheStartFailure) {
    Engines engines;
    engines.restartsFailing = 1000;
    WorkerPool pool(MakerFor(engines), 2);
    pool.EnsureWorkers(2);
    Seen seen;
    RunLost(pool, seen, 4);
    ASSERT_EQ(seen.what.size(), 4u);
    EXPECT_EQ(seen.unavailable.load(), 4) << "none charged with the start failure itself";
    const std::set<std::string> failures(seen.what.begin(), seen.what.end());
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_TRUE(*failures.begin() == "engine 0 did not start again" ||
                *failures.begin() == "engine 1 did not start again")
        << *failures.begin();
}

TEST(WorkerPool, ATaskAbortedWhileItsOfficeStartsAgainEndsAtOnceAndIsNotHandedOn) {
    Engines engines;
    WorkerPool pool(MakerFor(engines), 1);
    pool.EnsureWorkers(1);
    std::promise<void> running;
    std::vector<std::string> runs;  // what each run of the task got, in order
    auto lost = pool.Submit([&](ConversionEngine* engine, const std::exception_ptr& why) {
        if (engine) {
            runs.push_back("engine");
            running.set_value();
            engine->LoadDocument("lost-hang", SourceFormat::Docx);
        }
        try {
            std::rethrow_exception(why);
        } catch (const EngineUnavailable&) {
            runs.push_back("unavailable");
        } catch (...) {
            runs.push_back("other");
        }
    });
    running.get_future().wait();
    pool.Abort(lost);
    EXPECT_TRUE(pool.WaitUntilNoneRuns());
    EXPECT_EQ(runs, (std::vector<std::string>{"engine", "unavailable"}));
    EXPECT_FALSE(pool.Cancel(lost)) << "nothing of it waits in the queue";
    Seen seen;
    RunAll(pool, seen, 1);  // the worker goes on, on a fresh engine
    EXPECT_EQ(seen.what, std::vector<std::string>{"engine 1"});
}

}  // namespace
}  // namespace vellumor
