// The look-ahead engine under the conversion run, against one worker doing the same work in the
// run's order: the run must see the same calls, texts, progress and failures, and the output
// folder must hold the same PDFs, whatever happens to the list and the files meanwhile. The
// workers are small fakes that read a file and write it back as a "PDF".
#include "batch/look_ahead_engine.h"
#include "batch/leftovers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "core/conversion_run.h"
#include "engine/client/worker_engine.h"
#include "engine/input_file.h"
#include "tests/support/one_worker.h"

using namespace vellumor;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteAll(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The run builds its paths the Windows way: a row's file name follows its last backslash. The
// rows here end in "\\name", and the host hands the engine the same path with slashes.
std::string Posix(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

// What all fake workers share: how many convert at once, and how long each step takes.
struct Workshop {
    std::atomic<int> busy{0}, mostBusy{0}, made{0}, loads{0};
    std::chrono::milliseconds step{15};
};

// A worker: a file whose text starts with "BAD" does not load; the PDF is "PDF:" and the
// source's text; a PDF in a missing folder is a failed save. Messages name the file, as the
// worker client's do.
class FakeWorker : public ConversionEngine {
  public:
    explicit FakeWorker(Workshop& shop) : shop_(shop) { ++shop_.made; }
    void LoadDocument(const std::string& path, SourceFormat) override {
        Busy busy(shop_);
        ++shop_.loads;
        document_.clear();
        if (!fs::exists(path))
            throw EngineError(EngineFailure::NotFound,
                              "Cannot convert " + DisplayNameOf(path) + ": the file is missing");
        std::string text = ReadAll(path);
        if (text.rfind("BAD", 0) == 0)
            throw EngineError(EngineFailure::LoadFailed,
                              "Cannot convert " + DisplayNameOf(path) + ": " + text);
        document_ = "PDF:" + text;
    }
    SavedPdf SavePdf(const std::string& path) override {
        Busy busy(shop_);
        if (!fs::is_directory(fs::path(path).parent_path()))
            throw EngineError(EngineFailure::SaveFailed,
                              "Cannot save " + DisplayNameOf(path) + ": no such folder");
        WriteAll(path, document_);
        return {1};
    }

  private:
    struct Busy {
        explicit Busy(Workshop& s) : shop(s) {
            const int now = ++shop.busy;
            int most = shop.mostBusy;
            while (now > most && !shop.mostBusy.compare_exchange_weak(most, now)) {
            }
            std::this_thread::sleep_for(shop.step);
        }
        ~Busy() { --shop.busy; }
        Workshop& shop;
    };
    Workshop& shop_;
    std::string document_;
};

// One worker in the run's order: what the window did before it converted ahead.
using OneWorker = vellumor::test::OneWorker<FakeWorker>;

// The window as the run sees it, recording every visible step; actions queued for a pump run
// there, as clicks do.
class Host : public RunHost {
  public:
    Host(DocumentEngine& engine, std::vector<std::string> rows, std::string folder)
        : engine_(engine), rows(std::move(rows)), folder(std::move(folder)) {}
    DocumentEngine& engine_;
    std::vector<std::string> rows;
    std::string folder;
    OutputMode mode = OutputMode::SettingPath;
    ConversionRun* run = nullptr;
    std::map<int, std::function<void(Host&)>> onPump;
    std::vector<std::string> seen;  // statuses, progress, boxes, errors, in order
    int pumps = 0;

    int RowCount() override { return static_cast<int>(rows.size()); }
    // A position past the end names no row: the list control gives an empty text.
    std::string RowPath(int row) override {
        return row < RowCount() ? rows[static_cast<size_t>(row)] : std::string();
    }
    std::string OutputFolder() override { return folder; }
    OutputMode Mode() override { return mode; }
    void EnsureFolder(const std::string& f) override { fs::create_directory(f); }
    void RepaintWindow() override {}
    void RepaintList() override {}
    void SetStatus(const std::string& text) override { seen.push_back("status " + text); }
    void ShowProgressBar(bool visible) override { seen.push_back(visible ? "bar" : "no bar"); }
    void UpdateProgress(int total, int done) override {
        PumpMessages();
        seen.push_back("progress " + std::to_string(done) + "/" + std::to_string(total));
    }
    void PumpMessages() override {
        auto it = onPump.find(pumps++);
        if (it != onPump.end()) it->second(*this);
    }
    void Load(const std::string& path, int format) override {
        engine_.Load(Posix(path), 0, format, false);
    }
    void Save(const std::string& path, int format) override {
        engine_.Save(Posix(path), 0, format, false);
    }
    // The run's plan in this machine's paths.
    void RowReached(int row, int count, const ConversionPlan& plan) override {
        auto* ahead = dynamic_cast<LookAhead*>(&engine_);
        if (!ahead) return;
        ahead->RowReached(row, count, [&plan](int r) -> std::optional<PlannedConversion> {
            std::optional<PlannedConversion> planned = plan(r);
            if (!planned) return planned;
            planned->source = Posix(planned->source);
            planned->pdfPath = Posix(planned->pdfPath);
            return planned;
        });
    }
    void RunEnded() override {
        if (auto* ahead = dynamic_cast<LookAhead*>(&engine_)) ahead->RunEnded();
    }
    void ShowLoadFailure() override { seen.push_back("box"); }
    void OpenExplorer(const std::string&) override { seen.push_back("explorer"); }
};

class LookAheadRun : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("vellumor-ahead-test-" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root / "docs");
    }
    void TearDown() override { fs::remove_all(root); }

    std::string Doc(const std::string& name, const std::string& text = "") {
        const fs::path path = root / "docs" / name;
        WriteAll(path, text.empty() ? "text of " + name : text);
        return (root / "docs").string() + "\\" + name;
    }
    std::vector<std::string> Docs(int count) {
        std::vector<std::string> rows;
        for (int i = 0; i < count; ++i) rows.push_back(Doc("d" + std::to_string(i) + ".docx"));
        return rows;
    }

    // What a run leaves: the visible steps, then every file of the output folder and its text.
    struct Outcome {
        std::vector<std::string> seen;
        std::map<std::string, std::string> pdfs;
        bool operator==(const Outcome& o) const { return seen == o.seen && pdfs == o.pdfs; }
    };
    Outcome RunWith(DocumentEngine& engine, const std::vector<std::string>& rows,
                    const std::string& outName, const std::function<void(Host&)>& setUp = {}) {
        const fs::path out = root / outName;
        Host host(engine, rows, out.string());
        if (setUp) setUp(host);
        ConversionRun run;
        host.run = &run;
        try {
            run.Run(host);
        } catch (const std::exception& e) {
            host.seen.push_back(std::string("error ") + e.what());
        }
        Outcome outcome;
        for (std::string& s : host.seen) {  // the two runs write into folders of their own
            for (auto at = s.find(out.string()); at != std::string::npos; at = s.find(out.string()))
                s.replace(at, out.string().size(), "OUT");
            outcome.seen.push_back(s);
        }
        if (fs::exists(out))
            for (const auto& entry : fs::directory_iterator(out))
                outcome.pdfs[entry.path().filename().string()] = ReadAll(entry.path());
        return outcome;
    }

    // The same run with one worker and with the look-ahead engine; both outcomes.
    std::pair<Outcome, Outcome> Both(const std::vector<std::string>& rows,
                                     const std::function<void(Host&)>& setUp = {},
                                     int workers = 3) {
        OneWorker one(shop);
        Outcome single = RunWith(one, rows, "one", setUp);
        Outcome ahead;
        {
            LookAheadEngine engine([this] { return std::make_unique<FakeWorker>(shop); },
                                   LookAheadOptions{workers});
            ahead = RunWith(engine, rows, "ahead", setUp);
            taken = engine.RowsTakenAhead();
            thrown = engine.ResultsThrownAway();
            privateFolder = engine.PrivateFolder();
            if (!privateFolder.empty()) leftInPrivate = Count(privateFolder);
        }
        return {single, ahead};
    }
    // What the run left in the folder, the marker its owner holds there aside.
    static int Count(const fs::path& folder) {
        int n = 0;
        for (auto it = fs::directory_iterator(folder); it != fs::directory_iterator(); ++it)
            n += it->path().filename() != batch::kOwnerMarker;
        return n;
    }

    fs::path root;
    Workshop shop;
    int taken = 0, thrown = 0, leftInPrivate = 0;
    std::string privateFolder;
};

TEST_F(LookAheadRun, ACompletedRunShowsTheSameStepsAndPdfsAndUsesTheWorkDoneAhead) {
    const auto rows = Docs(9);
    auto [single, ahead] = Both(rows);
    EXPECT_EQ(ahead, single);
    EXPECT_EQ(ahead.pdfs.size(), 9u);
    EXPECT_EQ(ahead.seen.back(), "explorer");
    EXPECT_EQ(taken, 9);
    EXPECT_EQ(thrown, 0);
    EXPECT_GE(shop.mostBusy.load(), 2);
    EXPECT_EQ(leftInPrivate, 0);
    EXPECT_FALSE(fs::exists(privateFolder)) << "the private folder goes with the engine";
}

TEST_F(LookAheadRun, AFailedLoadInTheThirdRowEndsTheRunWithOnlyTheFirstTwoPdfs) {
    auto rows = Docs(6);
    rows[2] = Doc("broken.doc", "BAD content");
    auto [single, ahead] = Both(rows);
    EXPECT_EQ(ahead, single);
    EXPECT_EQ(ahead.pdfs.size(), 2u);
    EXPECT_EQ(ahead.seen.back(), "status ");
    EXPECT_EQ(leftInPrivate, 0) << "rows done beyond the failure are thrown away";
}

TEST_F(LookAheadRun, TheLoadFailureFoundAheadIsTheOneWorkersMessage) {
    const std::string broken = Doc("broken.docx", "BAD zip");
    std::string oneMessage, aheadMessage;
    {
        OneWorker one(shop);
        try {
            one.Load(Posix(broken), 0, 13, false);
        } catch (const EngineError& e) {
            oneMessage = e.what();
        }
    }
    LookAheadEngine engine([this] { return std::make_unique<FakeWorker>(shop); },
                           LookAheadOptions{2});
    const std::vector<std::string> rows = {Posix(Doc("a.docx")), Posix(broken)};
    auto plan = [&](int r) -> std::optional<PlannedConversion> {
        return PlannedConversion{rows[r], 13, (root / (std::to_string(r) + ".pdf")).string()};
    };
    engine.RowReached(0, 2, plan);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // both are done ahead by now
    engine.Load(rows[0], 0, 13, false);
    engine.Save((root / "0.pdf").string(), 0, 12, false);
    engine.RowReached(1, 2, plan);
    try {
        engine.Load(rows[1], 0, 13, false);
        ADD_FAILURE() << "the load should fail";
    } catch (const EngineError& e) {
        aheadMessage = e.what();
        EXPECT_EQ(e.failure(), EngineFailure::LoadFailed);
    }
    EXPECT_EQ(aheadMessage, oneMessage);
    EXPECT_EQ(aheadMessage, "Cannot convert broken.docx: BAD zip");
}

TEST_F(LookAheadRun, StopLeavesExactlyThePdfsOfTheRowsTheRunReached) {
    const auto rows = Docs(8);
    // Pump 0 is before row 0, pump 1 inside row 0's progress, pump 2 before row 1, ...
    auto [single, ahead] =
        Both(rows, [](Host& h) { h.onPump[3] = [](Host& host) { host.run->RequestStop(); }; });
    EXPECT_EQ(ahead, single);
    EXPECT_EQ(ahead.pdfs.size(), 2u);
    EXPECT_EQ(ahead.seen.back(), "status Stopped");
    EXPECT_EQ(leftInPrivate, 0);
}

TEST_F(LookAheadRun, RowsRemovedReorderedOrChangedMeanwhileAreConvertedAsTheListThenSays) {
    auto rows = Docs(8);
    auto [single, ahead] = Both(rows, [this](Host& h) {
        // After row 0's save: rows 1 and 2 removed, the last two swapped, and row 3's file
        // rewritten with other text (same name, so only its size and time tell).
        h.onPump[1] = [this](Host& host) {
            host.rows.erase(host.rows.begin() + 1, host.rows.begin() + 3);
            std::swap(host.rows[4], host.rows[5]);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            WriteAll(Posix(host.rows[1]), "new text, longer than before");
        };
    });
    EXPECT_EQ(ahead, single);
    EXPECT_GE(thrown, 1) << "work done for the removed rows is thrown away";
    EXPECT_EQ(ahead.pdfs.at("d3.pdf"), "PDF:new text, longer than before");
    EXPECT_EQ(leftInPrivate, 0);
}

TEST_F(LookAheadRun, AModeSwitchMeanwhileSavesBesideTheSourcesFromTheNextFileOn) {
    const auto rows = Docs(5);
    auto setUp = [](Host& h) {
        h.onPump[1] = [](Host& host) { host.mode = OutputMode::OriginalPath; };
    };
    OneWorker one(shop);
    Outcome single = RunWith(one, rows, "one", setUp);
    std::set<std::string> besideOne;
    for (const auto& entry : fs::directory_iterator(root / "docs"))
        if (entry.path().extension() == ".pdf") besideOne.insert(ReadAll(entry.path()));
    for (int i = 0; i < 5; ++i) fs::remove(root / "docs" / ("d" + std::to_string(i) + ".pdf"));

    LookAheadEngine engine([this] { return std::make_unique<FakeWorker>(shop); },
                           LookAheadOptions{3});
    Outcome ahead = RunWith(engine, rows, "ahead", setUp);
    std::set<std::string> besideAhead;
    for (const auto& entry : fs::directory_iterator(root / "docs"))
        if (entry.path().extension() == ".pdf") besideAhead.insert(ReadAll(entry.path()));
    EXPECT_EQ(ahead, single);
    EXPECT_EQ(besideAhead, besideOne);
    EXPECT_EQ(besideAhead.size(), 4u);
}

TEST_F(LookAheadRun, ASaveThatFailsIsTheEnginesOwnFailureAtThatRow) {
    const auto rows = Docs(4);
    // The output folder is removed after row 1's save: the saves done ahead cannot be moved
    // there, and the run ends at row 2 with the worker's own message.
    auto [single, ahead] = Both(
        rows, [this](Host& h) { h.onPump[3] = [](Host& host) { fs::remove_all(host.folder); }; });
    EXPECT_EQ(ahead, single);
    EXPECT_EQ(ahead.seen.back(), "error Cannot save d2.pdf: no such folder");
}

TEST_F(LookAheadRun, TheFirstRowTakenAheadSweepsTheFolderOfARunThatWasKilled) {
    const std::uint8_t random[6] = {0xde, 0xad, 0, 0, 0, 1};
    // No process has this pid: above any the kernel gives, and odd for Windows.
    const fs::path killed = fs::temp_directory_path() /
                            batch::PrivateFolderName("vellumor-ahead-", 2147483001u, random);
    fs::create_directories(killed);
    WriteAll(killed / "1.pdf", "a user's document, converted");
    Both(Docs(2));
    EXPECT_FALSE(fs::exists(killed));
    fs::remove_all(killed);
}

// A worker whose office never comes up.
class UnstartableWorker : public FakeWorker {
  public:
    using FakeWorker::FakeWorker;
    void WaitUntilReady() override {
        throw EngineError(EngineFailure::StartFailed, "the office did not start");
    }
};

TEST_F(LookAheadRun, WhenNoWorkerCanStartTheRunEndsWithThatInsteadOfAFailedLoad) {
    LookAheadEngine engine([this] { return std::make_unique<UnstartableWorker>(shop); },
                           LookAheadOptions{3});
    const Outcome outcome = RunWith(engine, Docs(4), "out");
    ASSERT_FALSE(outcome.seen.empty());
    EXPECT_EQ(outcome.seen.back(), "error the office did not start");
    EXPECT_EQ(std::count(outcome.seen.begin(), outcome.seen.end(), "box"), 0)
        << "no row is charged with the engine's absence";
    EXPECT_TRUE(outcome.pdfs.empty());
}

// A worker whose office dies after its first document and cannot be started again: at its
// next load or, with atSave, at its next save (a crash while saving, then a replacement that
// does not start). Every later call fails so, as the worker client's then do.
class OfficeLostWorker : public FakeWorker {
  public:
    OfficeLostWorker(Workshop& shop, bool atSave) : FakeWorker(shop), atSave_(atSave) {}
    void LoadDocument(const std::string& path, SourceFormat format) override {
        if (lost_ || (!atSave_ && documents_ >= 1)) Lose();
        FakeWorker::LoadDocument(path, format);
    }
    SavedPdf SavePdf(const std::string& path) override {
        if (lost_ || (atSave_ && documents_ >= 1)) Lose();
        ++documents_;
        return FakeWorker::SavePdf(path);
    }

  private:
    [[noreturn]] void Lose() {
        lost_ = true;
        throw EngineError(EngineFailure::StartFailed,
                          "The document engine could not be started: the office did not start");
    }
    bool atSave_;
    bool lost_ = false;
    int documents_ = 0;
};

TEST_F(LookAheadRun, ARowWhoseWorkerCannotStartItsOfficeAgainIsConvertedByAnother) {
    const auto rows = Docs(6);
    OneWorker one(shop);
    const Outcome single = RunWith(one, rows, "one");
    for (const bool atSave : {false, true}) {
        SCOPED_TRACE(atSave ? "lost at a save" : "lost at a load");
        std::atomic<int> made{0};
        LookAheadEngine engine(
            [&]() -> std::unique_ptr<ConversionEngine> {
                if (made++ == 0) return std::make_unique<OfficeLostWorker>(shop, atSave);
                return std::make_unique<FakeWorker>(shop);
            },
            LookAheadOptions{2});
        const Outcome ahead = RunWith(engine, rows, atSave ? "save" : "load");
        EXPECT_EQ(ahead, single) << "every row converted, none charged";
        EXPECT_EQ(made.load(), 2) << "the worker that lost its office is not replaced";
        EXPECT_EQ(Count(engine.PrivateFolder()), 0);
    }
}

TEST_F(LookAheadRun, WhenEveryWorkerLosesItsOfficeTheRunEndsWithThatAndChargesNoRow) {
    LookAheadEngine engine([this] { return std::make_unique<OfficeLostWorker>(shop, false); },
                           LookAheadOptions{3});
    const Outcome outcome = RunWith(engine, Docs(8), "out");
    ASSERT_FALSE(outcome.seen.empty());
    EXPECT_EQ(outcome.seen.back(),
              "error The document engine could not be started: the office did not start");
    EXPECT_EQ(std::count(outcome.seen.begin(), outcome.seen.end(), "box"), 0);
    EXPECT_LE(outcome.pdfs.size(), 3u) << "one document for each worker, at most";
    EXPECT_EQ(Count(engine.PrivateFolder()), 0);
}

TEST_F(LookAheadRun, NeverMoreWorkersThanRowsLeftAndOneTakesTheLoadsOfAFolderlessRun) {
    const auto rows = Docs(2);
    LookAheadEngine engine([this] { return std::make_unique<FakeWorker>(shop); },
                           LookAheadOptions{8});
    EXPECT_EQ(engine.WorkersStarted(), 1);
    RunWith(engine, rows, "out");
    EXPECT_EQ(engine.WorkersStarted(), 2);
    EXPECT_EQ(engine.RowsTakenAhead(), 2);
}

TEST_F(LookAheadRun, WithoutRowReachedLoadAndSaveWorkAsOneWorker) {
    LookAheadEngine engine([this] { return std::make_unique<FakeWorker>(shop); },
                           LookAheadOptions{2});
    const std::string pdf = (root / "x.pdf").string();
    engine.Load(Posix(Doc("x.doc")), 0, 9, false);
    engine.Save(pdf, 0, 12, false);
    EXPECT_EQ(ReadAll(pdf), "PDF:text of x.doc");
    EXPECT_THROW(engine.Save(pdf, 0, 12, false), EngineError);  // nothing loaded any more
    EXPECT_THROW(engine.Load(Posix(Doc("y.doc")), 0, 7, false), EngineError);
}

TEST_F(LookAheadRun, AStopAfterRowsWereDoneAheadLeavesNothingBehindOnDisk) {
    const auto rows = Docs(12);
    LookAheadEngine engine([this] { return std::make_unique<FakeWorker>(shop); },
                           LookAheadOptions{4});
    RunWith(engine, rows, "out", [](Host& h) {
        h.onPump[1] = [](Host&) { std::this_thread::sleep_for(std::chrono::milliseconds(150)); };
        h.onPump[2] = [](Host& host) { host.run->RequestStop(); };
    });
    // The run ended before row 1; by then several rows had been done ahead.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Count(engine.PrivateFolder()), 0);
}

// A worker whose saves of a marked document never end by themselves, only when aborted, as a
// real worker's would not for a document that takes its whole deadline.
struct Stuck {
    std::mutex mutex;
    std::condition_variable changed;
    int saving = 0, aborts = 0;
};
class StuckWorker : public ConversionEngine {
  public:
    explicit StuckWorker(Stuck& stuck) : stuck_(stuck) {}
    void LoadDocument(const std::string& path, SourceFormat) override {
        {
            std::lock_guard<std::mutex> lock(stuck_.mutex);
            if (aborted_)
                throw EngineError(EngineFailure::EngineDied, "an aborted worker was used");
        }
        text_ = ReadAll(path);
    }
    SavedPdf SavePdf(const std::string& path) override {
        if (text_.rfind("SLOW", 0) == 0) {
            WriteAll(path, "part");  // a part written before the worker was stopped
            std::unique_lock<std::mutex> lock(stuck_.mutex);
            ++stuck_.saving;
            stuck_.changed.notify_all();
            stuck_.changed.wait(lock, [&] { return aborted_; });
            throw EngineError(EngineFailure::EngineDied, "stopped");
        }
        WriteAll(path, "PDF:" + text_);
        return {1};
    }
    void Abort() override {
        std::lock_guard<std::mutex> lock(stuck_.mutex);
        aborted_ = true;
        ++stuck_.aborts;
        stuck_.changed.notify_all();
    }

  private:
    Stuck& stuck_;
    std::string text_;
    bool aborted_ = false;
};

TEST_F(LookAheadRun, AStopAbortsTheRowsInFlightAndTheNextRunConvertsOnFreshWorkers) {
    Stuck stuck;
    auto rows = Docs(4);
    rows[2] = Doc("slow.docx", "SLOW document");
    LookAheadEngine engine([&stuck] { return std::make_unique<StuckWorker>(stuck); },
                           LookAheadOptions{3});
    const Outcome stopped = RunWith(engine, rows, "out", [&stuck](Host& h) {
        // Inside row 0's progress: the slow row is being saved ahead; then Stop.
        h.onPump[1] = [&stuck](Host& host) {
            std::unique_lock<std::mutex> lock(stuck.mutex);
            stuck.changed.wait(lock, [&] { return stuck.saving == 1; });
            host.run->RequestStop();
        };
    });
    EXPECT_EQ(stopped.seen.back(), "status Stopped");
    EXPECT_EQ(stopped.pdfs.size(), 1u);
    {
        std::lock_guard<std::mutex> lock(stuck.mutex);
        EXPECT_GE(stuck.aborts, 1) << "the worker still at work is aborted";
    }
    EXPECT_EQ(Count(engine.PrivateFolder()), 0) << "its part is gone when the run has ended";

    rows[2] = Doc("slow.docx", "quick now");
    fs::remove_all(root / "out");
    const Outcome again = RunWith(engine, rows, "out");
    EXPECT_EQ(again.seen.back(), "explorer");
    EXPECT_EQ(again.pdfs.size(), 4u);
    EXPECT_EQ(again.pdfs.at("slow.pdf"), "PDF:quick now");  // on a fresh worker
}

}  // namespace

#ifdef VELLUMOR_REAL_WORKER
#include "engine/client/worker_engine.h"
#include "tests/support/corpus.h"

namespace {

// The same through the real worker client and the script worker on real documents: a broken third
// row, a run that stops, and the PDFs compared by name and page count with one worker's.
class LookAheadRealWorker : public LookAheadRun {
  protected:
    static std::unique_ptr<WorkerEngine> NewWorker() {
        WorkerEngineOptions options;
        options.workerPath = VELLUMOR_REAL_WORKER;
        options.operationTimeout = std::chrono::seconds(90);
        return std::make_unique<WorkerEngine>(options);
    }
    std::string Corpus(const std::string& name, const std::string& as) {
        fs::copy_file(fs::path(VELLUMOR_CORPUS) / name, root / "docs" / as);
        return (root / "docs").string() + "\\" + as;
    }
    // One worker in the run's order, over the real client.
    class OneRealWorker : public DocumentEngine {
      public:
        std::unique_ptr<WorkerEngine> worker = NewWorker();
        int Load(const std::string& p, int r, int f, bool b) override {
            return worker->Load(p, r, f, b);
        }
        int Save(const std::string& p, int r, int f, bool b) override {
            return worker->Save(p, r, f, b);
        }
    };
};

TEST_F(LookAheadRealWorker, RealDocumentsGiveTheSameStepsAndPdfsAsOneWorker) {
    VELLUMOR_REQUIRE_CORPUS();
    const std::vector<std::string> rows = {
        Corpus("docx4j_tables.docx", "a.docx"), Corpus("poi_Bug45473.doc", "b.doc"),
        Doc("broken.docx", std::string("PK\x03\x04 not a zip at all", 24)),
        Corpus("docx4j_tables.docx", "d.docx")};
    OneRealWorker one;
    Outcome single = RunWith(one, rows, "one");
    Outcome ahead;
    {
        LookAheadEngine engine([] { return NewWorker(); }, LookAheadOptions{2});
        ahead = RunWith(engine, rows, "ahead");
    }
    EXPECT_EQ(ahead.seen, single.seen);
    ASSERT_EQ(ahead.pdfs.size(), 2u);
    for (const auto& [name, bytes] : single.pdfs) {
        ASSERT_TRUE(ahead.pdfs.count(name)) << name;
        EXPECT_EQ(ahead.pdfs[name].substr(0, 5), "%PDF-");
        EXPECT_EQ(ahead.pdfs[name].size() / 1000, bytes.size() / 1000) << name;
    }
}

}  // namespace
#endif

// Both engines the window can use refuse a format they cannot load or save before any worker
// is asked, with the same message naming the file.
TEST(EngineFormats, BothEnginesRefuseUnknownFormatsAlikeWithoutAskingAWorker) {
    Workshop shop;
    LookAheadEngine lookAhead([&shop] { return std::make_unique<FakeWorker>(shop); },
                              LookAheadOptions{2});
    WorkerEngineOptions options;
    options.workerPath = "/nonexistent/vellumor-engine";
    WorkerEngine worker(options);
    for (DocumentEngine* engine :
         {static_cast<DocumentEngine*>(&lookAhead), static_cast<DocumentEngine*>(&worker)}) {
        try {
            engine->Load("/in/a b.docx", 0, 7, false);
            ADD_FAILURE() << "format 7 loaded";
        } catch (const EngineError& e) {
            EXPECT_EQ(e.failure(), EngineFailure::BadRequest);
            EXPECT_STREQ(e.what(), "Cannot convert a b.docx: unknown load format 7");
        }
        try {
            engine->Save("/out/a.pdf", 0, 9, false);
            ADD_FAILURE() << "saved as format 9";
        } catch (const EngineError& e) {
            EXPECT_EQ(e.failure(), EngineFailure::BadRequest);
            EXPECT_STREQ(e.what(), "Cannot save a.pdf: unknown save format 9");
        }
    }
    EXPECT_EQ(shop.loads, 0);
}
