#include "core/conversion_run.h"
#include "core/engine_unavailable.h"
#include "core/trace.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

using namespace vellumor;
using ::testing::ElementsAre;

namespace {

// A window stand-in that records what the run does to it. Actions queued for a pump run there,
// the way clicks waiting in the message queue are handled at that point of a real run.
class FakeHost : public RunHost {
  public:
    std::vector<std::string> rows;
    std::string folder = "D:\\Output";
    OutputMode mode = OutputMode::SettingPath;
    std::set<std::string> existingFolders;
    std::set<std::string> failingLoads, failingSaves;
    std::string noEngineFrom;                   // from this row's load on, no engine can start
    std::vector<std::function<void()>> onPump;  // index = number of the pump, from 0

    std::vector<std::string> log;  // engine calls, boxes, explorer
    std::vector<std::string> statuses;
    std::string status;
    bool barVisible = false;
    int barMax = 100, barPos = 0;
    int pumps = 0;
    bool quitRequested = false;

    int RowCount() override { return static_cast<int>(rows.size()); }
    std::string RowPath(int row) override { return rows.at(static_cast<size_t>(row)); }
    std::string OutputFolder() override { return folder; }
    OutputMode Mode() override { return mode; }
    void EnsureFolder(const std::string& f) override {
        if (!existingFolders.count(f)) log.push_back("mkdir " + f);
    }
    void RepaintWindow() override {}
    void RepaintList() override {}
    void SetStatus(const std::string& text) override {
        status = text;
        statuses.push_back(text);
    }
    void ShowProgressBar(bool visible) override { barVisible = visible; }
    std::vector<std::pair<int, int>> updates;  // (total, done) of each progress update
    void UpdateProgress(int total, int done) override {
        PumpMessages();
        barMax = total;
        barPos = done;
        updates.emplace_back(total, done);
    }
    void PumpMessages() override {
        const int n = pumps++;
        if (n < static_cast<int>(onPump.size()) && onPump[n]) onPump[n]();
    }
    void Load(const std::string& path, int format) override {
        log.push_back("load " + path + " " + std::to_string(format));
        if (failingLoads.count(path)) throw std::runtime_error("cannot read");
        if (noEngineFrom == path) throw EngineUnavailable("the office did not start");
    }
    void Save(const std::string& path, int format) override {
        log.push_back("save " + path + " " + std::to_string(format));
        if (failingSaves.count(path)) throw std::runtime_error("Disk full");
    }
    void ShowLoadFailure() override { log.push_back("box load failure"); }
    std::vector<std::string> hooks;  // RowReached and RunEnded, with the last engine call
    // Notes the PDF the plan names for the row after this one, or "none".
    void RowReached(int row, int count, const ConversionPlan& plan) override {
        const auto next = plan(row + 1);
        hooks.push_back("row " + std::to_string(row) + "/" + std::to_string(count) + " " +
                        (next ? next->pdfPath : "none") +
                        (log.empty() ? "" : " after " + log.back()));
    }
    bool runEndedFails = false;
    void RunEnded() override {
        hooks.push_back("ended after " + (log.empty() ? "" : log.back()));
        if (runEndedFails) throw std::runtime_error("cannot remove a.pdf");
    }
    void OpenExplorer(const std::string& f) override { log.push_back("explorer " + f); }
};

}  // namespace

TEST(ConversionRun, CompletedRunConvertsEveryRowAndOpensExplorer) {
    FakeHost host;
    host.rows = {"C:\\Docs\\a.docx", "C:\\Docs\\B.DOC", "C:\\my.docs\\report.final.DocX"};
    ConversionRun run;
    EXPECT_EQ(run.Run(host), RunEnd::Completed);
    EXPECT_THAT(host.log,
                ElementsAre("mkdir D:\\Output", "load C:\\Docs\\a.docx 13",
                            "save D:\\Output\\a.pdf 12", "load C:\\Docs\\B.DOC 9",
                            "save D:\\Output\\B.pdf 12", "load C:\\my.docs\\report.final.DocX 13",
                            "save D:\\Output\\report.final.pdf 12", "explorer D:\\Output"));
    EXPECT_THAT(host.statuses,
                ElementsAre("Converting...", "D:\\Output\\a.docx", "D:\\Output\\B.DOC",
                            "D:\\Output\\report.final.DocX", "Successed!"));
    EXPECT_FALSE(host.barVisible);
    EXPECT_EQ(host.barMax, 3);
    EXPECT_EQ(host.barPos, 3);
    // Two pumps per file: before it and inside its progress update.
    EXPECT_EQ(host.pumps, 6);
    EXPECT_FALSE(run.InProgress());
}

TEST(ConversionRun, OriginalPathStillCreatesAndOpensTheOutputFolder) {
    FakeHost host;
    host.mode = OutputMode::OriginalPath;
    host.rows = {"C:\\Docs\\a.docx"};
    ConversionRun run;
    EXPECT_EQ(run.Run(host), RunEnd::Completed);
    EXPECT_THAT(host.log, ElementsAre("mkdir D:\\Output", "load C:\\Docs\\a.docx 13",
                                      "save C:\\Docs\\a.pdf 12", "explorer D:\\Output"));
    EXPECT_EQ(host.statuses[1], "C:\\Docs\\a.docx");
}

TEST(ConversionRun, EmptyListCompletesAtOnceAndKeepsTheBarValues) {
    FakeHost host;
    host.folder = "";
    host.existingFolders = {};
    ConversionRun run;
    EXPECT_EQ(run.Run(host), RunEnd::Completed);
    EXPECT_THAT(host.log, ElementsAre("mkdir ", "explorer "));
    EXPECT_THAT(host.statuses, ElementsAre("Converting...", "Successed!"));
    EXPECT_FALSE(host.barVisible);
    EXPECT_EQ(host.barMax, 100);
    EXPECT_EQ(host.barPos, 0);
}

TEST(ConversionRun, FailedLoadInThirdRowKeepsEarlierPdfsAndEndsTheRun) {
    FakeHost host;
    host.existingFolders = {"D:\\Output"};
    host.rows = {"C:\\a.doc", "C:\\b.doc", "C:\\broken.docx", "C:\\d.doc"};
    host.failingLoads = {"C:\\broken.docx"};
    ConversionRun run;
    EXPECT_EQ(run.Run(host), RunEnd::FailedLoad);
    EXPECT_THAT(host.log, ElementsAre("load C:\\a.doc 9", "save D:\\Output\\a.pdf 12",
                                      "load C:\\b.doc 9", "save D:\\Output\\b.pdf 12",
                                      "load C:\\broken.docx 13", "box load failure"));
    EXPECT_EQ(host.status, "");
    EXPECT_FALSE(host.barVisible);
    EXPECT_EQ(host.barPos, 2);
}

TEST(ConversionRun, RowThatIsNoWordDocumentIsAFailedLoadAndNeverSaved) {
    FakeHost host;
    host.existingFolders = {"D:\\Output"};
    host.rows = {"C:\\a.doc", "C:\\notes.txt", "C:\\c.doc"};
    ConversionRun run;
    EXPECT_EQ(run.Run(host), RunEnd::FailedLoad);
    EXPECT_THAT(host.log,
                ElementsAre("load C:\\a.doc 9", "save D:\\Output\\a.pdf 12", "box load failure"));
}

TEST(ConversionRun, FailedSaveLeavesAsExceptionAfterTheProgressUpdate) {
    FakeHost host;
    host.existingFolders = {"D:\\Output"};
    host.rows = {"C:\\a.doc", "C:\\b.doc", "C:\\c.doc"};
    host.failingSaves = {"D:\\Output\\b.pdf"};
    ConversionRun run;
    EXPECT_THROW(
        {
            try {
                run.Run(host);
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "Disk full");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_THAT(host.log, ElementsAre("load C:\\a.doc 9", "save D:\\Output\\a.pdf 12",
                                      "load C:\\b.doc 9", "save D:\\Output\\b.pdf 12"));
    EXPECT_TRUE(host.barVisible);
    EXPECT_EQ(host.barMax, 3);
    EXPECT_EQ(host.barPos, 2);
    EXPECT_EQ(host.status, "D:\\Output\\b.doc");
    // The run is over: the next press starts a new one.
    EXPECT_FALSE(run.InProgress());
    host.failingSaves.clear();
    host.log.clear();
    EXPECT_EQ(run.Run(host), RunEnd::Completed);
    EXPECT_EQ(host.log.size(), 7u);
}

TEST(ConversionRun, StopBetweenFilesCompletesTheCurrentFileOnly) {
    FakeHost host;
    host.existingFolders = {"D:\\Output"};
    host.rows = {"C:\\a.doc", "C:\\b.doc", "C:\\c.doc"};
    ConversionRun run;
    // Stop pressed while a.doc is converted; handled in the pump after its save.
    host.onPump = {nullptr, [&] {
                       run.RequestStop();
                       host.SetStatus("");
                       host.ShowProgressBar(false);
                   }};
    EXPECT_EQ(run.Run(host), RunEnd::Stopped);
    EXPECT_THAT(host.log, ElementsAre("load C:\\a.doc 9", "save D:\\Output\\a.pdf 12"));
    EXPECT_EQ(host.status, "Stopped");
    EXPECT_FALSE(host.barVisible);
    EXPECT_EQ(host.barPos, 1);
    EXPECT_FALSE(run.StopRequested());
}

TEST(ConversionRun, StopPressedBetweenRunsIsDroppedByTheNextRun) {
    FakeHost host;
    host.rows = {"C:\\a.doc"};
    ConversionRun run;
    run.RequestStop();
    EXPECT_EQ(run.Run(host), RunEnd::Completed);
    EXPECT_EQ(host.status, "Successed!");
}

TEST(ConversionRun, StopAfterTheLastSaveDoesNotEndTheRunAndIsDroppedLater) {
    FakeHost host;
    host.rows = {"C:\\a.doc"};
    ConversionRun run;
    host.onPump = {nullptr, [&] { run.RequestStop(); }};
    EXPECT_EQ(run.Run(host), RunEnd::Completed);
    EXPECT_TRUE(run.StopRequested());
    host.onPump.clear();
    host.pumps = 0;
    EXPECT_EQ(run.Run(host), RunEnd::Completed);
}

TEST(ConversionRun, SecondStartDuringARunIsIgnored) {
    FakeHost host;
    host.existingFolders = {"D:\\Output"};
    host.rows = {"C:\\a.doc", "C:\\b.doc"};
    ConversionRun run;
    RunEnd nested = RunEnd::Completed;
    host.onPump = {[&] {
        EXPECT_TRUE(run.InProgress());
        nested = run.Run(host);
    }};
    EXPECT_EQ(run.Run(host), RunEnd::Completed);
    EXPECT_EQ(nested, RunEnd::Ignored);
    EXPECT_THAT(host.log,
                ElementsAre("load C:\\a.doc 9", "save D:\\Output\\a.pdf 12", "load C:\\b.doc 9",
                            "save D:\\Output\\b.pdf 12", "explorer D:\\Output"));
}

TEST(ConversionRun, ModeSwitchAppliesFromTheNextFileAndFolderEditsDoNot) {
    FakeHost host;
    host.existingFolders = {"D:\\Output"};
    host.rows = {"C:\\Docs\\a.doc", "C:\\Docs\\b.doc"};
    ConversionRun run;
    host.onPump = {nullptr, [&] {
                       host.mode = OutputMode::OriginalPath;
                       host.folder = "E:\\Elsewhere";
                   }};
    EXPECT_EQ(run.Run(host), RunEnd::Completed);
    EXPECT_THAT(host.log, ElementsAre("load C:\\Docs\\a.doc 9", "save D:\\Output\\a.pdf 12",
                                      "load C:\\Docs\\b.doc 9", "save C:\\Docs\\b.pdf 12",
                                      "explorer D:\\Output"));
}

TEST(ConversionRun, RowsAddedDuringARunCountInTheBarButAreNotConverted) {
    FakeHost host;
    host.existingFolders = {"D:\\Output"};
    host.rows = {"C:\\a.doc", "C:\\b.doc"};
    ConversionRun run;
    host.onPump = {[&] { host.rows.push_back("C:\\late.doc"); }};
    EXPECT_EQ(run.Run(host), RunEnd::Completed);
    EXPECT_EQ(host.log.size(), 5u);
    EXPECT_EQ(host.barMax, 3);
    EXPECT_EQ(host.barPos, 2);
}

TEST(ConversionRun, RowsAddedDuringTheProgressPumpCountFromTheNextUpdate) {
    FakeHost host;
    host.existingFolders = {"D:\\Output"};
    host.rows = {"C:\\a.doc", "C:\\b.doc", "C:\\c.doc"};
    ConversionRun run;
    // Pump 1 is the one inside a.doc's progress update; pump 3 is inside b.doc's.
    host.onPump = {nullptr, [&] { host.rows.push_back("C:\\late1.doc"); }, nullptr,
                   [&] { host.rows.push_back("C:\\late2.doc"); }};
    EXPECT_EQ(run.Run(host), RunEnd::Completed);
    EXPECT_THAT(host.updates,
                ElementsAre(std::make_pair(3, 1), std::make_pair(4, 2), std::make_pair(5, 3)));
    EXPECT_EQ(host.log.size(), 7u);  // the three rows of the start only
}

TEST(ConversionRun, ASecondRunLeavesTheBarAsTheLastRunLeftItUntilItsFirstSave) {
    FakeHost host;
    host.existingFolders = {"D:\\Output"};
    host.rows = {"C:\\a.doc", "C:\\b.doc"};
    ConversionRun run;
    EXPECT_EQ(run.Run(host), RunEnd::Completed);
    host.rows.push_back("C:\\c.doc");
    host.updates.clear();
    host.pumps = 0;
    std::vector<std::pair<int, int>> barBeforeFirstSave;
    host.onPump = {[&] { barBeforeFirstSave.emplace_back(host.barMax, host.barPos); }};
    EXPECT_EQ(run.Run(host), RunEnd::Completed);
    EXPECT_THAT(barBeforeFirstSave, ElementsAre(std::make_pair(2, 2)));
    EXPECT_EQ(host.updates.front(), std::make_pair(3, 1));
}

TEST(ConversionRun, CloseRequestedMidRunLetsTheRunFinish) {
    FakeHost host;
    host.existingFolders = {"D:\\Output"};
    host.rows = {"C:\\a.doc", "C:\\b.doc"};
    ConversionRun run;
    // The window records the quit for the main loop; the run does not look at it.
    host.onPump = {nullptr, [&] { host.quitRequested = true; }};
    EXPECT_EQ(run.Run(host), RunEnd::Completed);
    EXPECT_TRUE(host.quitRequested);
    EXPECT_EQ(host.log.back(), "explorer D:\\Output");
}

TEST(ConversionRun, HandlerThrowingDuringTheProgressPumpAfterAFailedSaveKeepsTheSaveFailure) {
    FakeHost host;
    host.existingFolders = {"D:\\Output"};
    host.rows = {"C:\\a.doc"};
    host.failingSaves = {"D:\\Output\\a.pdf"};
    host.onPump = {nullptr, [] { throw std::logic_error("handler"); }};
    ConversionRun run;
    try {
        run.Run(host);
        FAIL() << "the failed save must leave the run";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Disk full");
    }
    EXPECT_FALSE(run.InProgress());
}

TEST(ConversionRun, TheHostHearsOfEachRowBeforeItsLoadAndOfTheEndHoweverTheRunEnds) {
    FakeHost done;
    done.existingFolders = {"D:\\Output"};
    done.rows = {"C:\\a.doc", "C:\\b.doc"};
    ConversionRun run;
    run.Run(done);
    EXPECT_THAT(done.hooks, ElementsAre("row 0/2 D:\\Output\\b.pdf",
                                        "row 1/2 none after save D:\\Output\\a.pdf 12",
                                        "ended after explorer D:\\Output"));

    FakeHost failedLoad = done;
    failedLoad.hooks.clear();
    failedLoad.log.clear();
    failedLoad.pumps = 0;
    failedLoad.failingLoads = {"C:\\b.doc"};
    run.Run(failedLoad);
    EXPECT_EQ(failedLoad.hooks.back(), "ended after box load failure");

    FakeHost failedSave = done;
    failedSave.hooks.clear();
    failedSave.log.clear();
    failedSave.pumps = 0;
    failedSave.failingSaves = {"D:\\Output\\a.pdf"};
    EXPECT_THROW(run.Run(failedSave), std::runtime_error);
    EXPECT_EQ(failedSave.hooks.back(), "ended after save D:\\Output\\a.pdf 12");

    FakeHost stopped = done;
    stopped.hooks.clear();
    stopped.log.clear();
    stopped.pumps = 0;
    stopped.onPump = {nullptr, [&] { run.RequestStop(); }};
    EXPECT_EQ(run.Run(stopped), RunEnd::Stopped);
    EXPECT_THAT(stopped.hooks,
                ElementsAre("row 0/2 D:\\Output\\b.pdf", "ended after save D:\\Output\\a.pdf 12"));
}

namespace {

// The trace file of a test, read back whole.
class TraceTo {
  public:
    TraceTo() {
        path_ = std::filesystem::temp_directory_path() /
                ("vellumor-trace-test-" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(path_);
        SetTraceFile((path_ / "trace.log").string(), 4096);
    }
    ~TraceTo() {
        SetTraceFile("");
        std::filesystem::remove_all(path_);
    }
    std::string Text(const char* name = "trace.log") const {
        std::ifstream in(path_ / name, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::filesystem::path path_;
};

}  // namespace

TEST(ConversionRun, AFailedEndOfRunLeavesTheRunUnlessAnotherFailureIsLeavingThenItIsTraced) {
    TraceTo trace;
    FakeHost completed;
    completed.rows = {"C:\\Docs\\a.docx"};
    completed.runEndedFails = true;
    ConversionRun run;
    EXPECT_THROW(run.Run(completed), std::runtime_error);
    EXPECT_FALSE(run.InProgress());

    FakeHost failedSave;
    failedSave.rows = {"C:\\Docs\\a.docx"};
    failedSave.failingSaves = {"D:\\Output\\a.pdf"};
    failedSave.runEndedFails = true;
    try {
        run.Run(failedSave);
        ADD_FAILURE() << "the save failure should leave the run";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Disk full");
    }
    EXPECT_NE(trace.Text().find("the end of a run failed: cannot remove a.pdf"), std::string::npos);
}

TEST(ConversionRun, AFailedLoadKeepsTheEnginesReasonInTheTraceBehindTheBox) {
    TraceTo trace;
    FakeHost host;
    host.rows = {"C:\\Docs\\a.docx", "C:\\Docs\\b.docx"};
    host.failingLoads = {"C:\\Docs\\b.docx"};
    ConversionRun run;
    EXPECT_EQ(run.Run(host), RunEnd::FailedLoad);
    FakeHost notWord;
    notWord.rows = {"C:\\Docs\\notes.txt"};
    EXPECT_EQ(run.Run(notWord), RunEnd::FailedLoad);
    const std::string text = trace.Text();
    EXPECT_NE(text.find("failed to open C:\\Docs\\b.docx: cannot read\n"), std::string::npos);
    EXPECT_NE(text.find("failed to open C:\\Docs\\notes.txt: it is no .doc or .docx file"),
              std::string::npos);
    EXPECT_EQ(text.find("a.docx"), std::string::npos);
}

TEST(ConversionRun, NoEngineAtALoadLeavesForTheErrorBoxAndChargesNoRow) {
    TraceTo trace;
    FakeHost host;
    host.existingFolders = {"D:\\Output"};
    host.rows = {"C:\\a.doc", "C:\\b.doc", "C:\\c.doc"};
    host.noEngineFrom = "C:\\b.doc";
    ConversionRun run;
    try {
        run.Run(host);
        ADD_FAILURE() << "the run should leave with the engine's absence";
    } catch (const EngineUnavailable& e) {
        EXPECT_STREQ(e.what(), "the office did not start");
    }
    EXPECT_THAT(host.log,
                ElementsAre("load C:\\a.doc 9", "save D:\\Output\\a.pdf 12", "load C:\\b.doc 9"));
    EXPECT_FALSE(host.barVisible);
    EXPECT_EQ(host.status, "");
    EXPECT_FALSE(run.InProgress());
    EXPECT_EQ(host.hooks.back(), "ended after load C:\\b.doc 9");
    EXPECT_NE(trace.Text().find("no engine to open C:\\b.doc: the office did not start"),
              std::string::npos);
}

TEST(Trace, StaysWithinItsSizeKeepingOneFileAsideAndIsOffWithoutAFile) {
    TraceTo trace;
    for (int i = 0; i < 400; ++i) Trace("line " + std::to_string(i) + "\nwith a break");
    const std::string now = trace.Text(), before = trace.Text("trace.log.1");
    EXPECT_LE(now.size(), 4096u);
    EXPECT_LE(before.size(), 4096u);
    EXPECT_GT(before.size(), 3000u);
    EXPECT_NE(now.find("line 399 with a break\n"), std::string::npos);
    EXPECT_EQ(now.find("\r"), std::string::npos);
    SetTraceFile("");
    Trace("not written");
    EXPECT_EQ(trace.Text().find("not written"), std::string::npos);
}
