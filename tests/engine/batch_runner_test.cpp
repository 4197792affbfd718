// The batch runner driven as a front end other than the console would drive it: through its
// observer, with the test worker converting real documents.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/batch_runner.h"
#include "tests/engine/worker_test_support.h"
#include "tests/support/corpus.h"

namespace fs = std::filesystem;
using namespace vellumor;
using namespace vellumor::cli;

namespace {

using test::TempFolder;

// Records what the runner reports; stops as often as told from the start.
class RecordingObserver : public BatchObserver {
  public:
    explicit RecordingObserver(int stopRequests = 0) : stopRequests_(stopRequests) {}

    int StopRequests() override { return stopRequests_; }
    void Stopping() override {}
    void JobEnded(const Job& job) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ended.push_back(job);
    }
    void IsolationWarning(const std::string&) override {}
    void OfficeVersionWarning(const std::string&) override {}

    std::vector<Job> ended;

  private:
    std::mutex mutex_;
    int stopRequests_;
};

WorkerEngineOptions TestEngine() {
    WorkerEngineOptions options;
    options.workerPath = VELLUMOR_TEST_WORKER;
    return options;
}

// Two documents in a folder, and a file argument that does not exist.
std::vector<Job> PlanTwoDocumentsAndAMissingFile(const TempFolder& dir) {
    fs::create_directories(dir.path() / "in");
    fs::copy_file(fs::path(VELLUMOR_CORPUS) / "poi_Bug54849.docx", dir.path() / "in" / "a.docx");
    fs::copy_file(fs::path(VELLUMOR_CORPUS) / "poi_footnote.doc", dir.path() / "in" / "b.doc");
    Options options;
    return PlanJobs({(dir.path() / "missing.docx").string(), (dir.path() / "in").string()},
                    options);
}

TEST(BatchRunner, ConvertsThePendingJobsAndReportsEveryJobOnceDecidedOnesFirst) {
    VELLUMOR_REQUIRE_CORPUS();
    TempFolder dir;
    std::vector<Job> planned = PlanTwoDocumentsAndAMissingFile(dir);
    ASSERT_EQ(planned.size(), 3u);
    ASSERT_NE(planned[0].outcome, Outcome::Pending);
    ASSERT_EQ(planned[1].outcome, Outcome::Pending);
    ASSERT_EQ(planned[2].outcome, Outcome::Pending);

    RecordingObserver observer;
    BatchRunner runner(planned, TestEngine(), 2, observer);
    const BatchResult result = runner.Run();

    EXPECT_FALSE(result.interrupted);
    EXPECT_FALSE(result.abandoned);
    ASSERT_EQ(result.jobs.size(), 3u);
    // The records keep the planned order, whatever order the slots finished in.
    for (std::size_t i = 0; i < planned.size(); ++i)
        EXPECT_EQ(result.jobs[i].source, planned[i].source);
    EXPECT_EQ(result.jobs[0].outcome, planned[0].outcome);
    for (std::size_t i : {1u, 2u}) {
        EXPECT_EQ(result.jobs[i].outcome, Outcome::Converted) << result.jobs[i].reason;
        EXPECT_GT(result.jobs[i].pages, 0);
        EXPECT_TRUE(fs::exists(result.jobs[i].pdf));
    }
    ASSERT_EQ(observer.ended.size(), 3u);
    EXPECT_EQ(observer.ended[0].source, planned[0].source);
    std::map<std::string, int> reported;
    for (const Job& job : observer.ended) ++reported[job.source];
    for (const Job& job : planned) EXPECT_EQ(reported[job.source], 1) << job.source;
}

TEST(BatchRunner, AStopBeforeAnyDocumentStartsRecordsThePendingOnesAsInterrupted) {
    VELLUMOR_REQUIRE_CORPUS();
    TempFolder dir;
    std::vector<Job> planned = PlanTwoDocumentsAndAMissingFile(dir);
    ASSERT_EQ(planned.size(), 3u);

    RecordingObserver observer(1);
    BatchRunner runner(planned, TestEngine(), 1, observer);
    const BatchResult result = runner.Run();

    EXPECT_TRUE(result.interrupted);
    ASSERT_EQ(result.jobs.size(), 3u);
    EXPECT_EQ(result.jobs[0].outcome, planned[0].outcome);
    for (std::size_t i : {1u, 2u}) {
        EXPECT_EQ(result.jobs[i].outcome, Outcome::Skipped);
        EXPECT_EQ(result.jobs[i].reason, kInterrupted);
        EXPECT_FALSE(fs::exists(result.jobs[i].pdf));
    }
    EXPECT_EQ(observer.ended.size(), 3u);
}

// The test worker behind a script: the first launched crashes on any document named "lost-*",
// the second converts, and every later one (a replacement) exits before it greets.
std::string WorkersOfWhichReplacementsCannotStart(const TempFolder& dir) {
    const fs::path script = dir.path() / "worker.sh";
    std::ofstream(script) << "#!/bin/sh\n"
                          << "launches='" << (dir.path() / "launch").string() << "'\n"
                          << "if mkdir \"$launches-1\" 2>/dev/null; then\n"
                          << "  VELLUMOR_ENGINE_FAULT=crash:/lost- exec '" << VELLUMOR_TEST_WORKER
                          << "' \"$@\"\n"
                          << "elif mkdir \"$launches-2\" 2>/dev/null; then\n"
                          << "  exec '" << VELLUMOR_TEST_WORKER << "' \"$@\"\n"
                          << "fi\n"
                          << "exit 3\n";
    fs::permissions(script, fs::perms::owner_all);
    return script.string();
}

TEST(BatchRunner, ADocumentWhoseWorkerCannotBeReplacedIsConvertedByTheOtherWorker) {
    VELLUMOR_REQUIRE_CORPUS();
    TempFolder dir;
    fs::create_directories(dir.path() / "in");
    fs::copy_file(fs::path(VELLUMOR_CORPUS) / "poi_Bug54849.docx",
                  dir.path() / "in" / "lost-a.docx");
    fs::copy_file(fs::path(VELLUMOR_CORPUS) / "poi_footnote.doc", dir.path() / "in" / "lost-b.doc");
    const std::vector<Job> planned = PlanJobs({(dir.path() / "in").string()}, Options());
    ASSERT_EQ(planned.size(), 2u);

    WorkerEngineOptions engine = TestEngine();
    engine.workerPath = WorkersOfWhichReplacementsCannotStart(dir);
    engine.startTimeout = std::chrono::seconds(5);  // a replacement that exits fails by then
    RecordingObserver observer;
    BatchRunner runner(planned, engine, 2, observer);
    const BatchResult result = runner.Run();

    ASSERT_EQ(result.jobs.size(), 2u);
    for (const Job& job : result.jobs) {
        EXPECT_EQ(job.outcome, Outcome::Converted) << job.source << ": " << job.reason;
        EXPECT_TRUE(fs::exists(job.pdf)) << job.pdf;
    }
    EXPECT_EQ(observer.ended.size(), 2u) << "each document is reported once";
}

}  // namespace
