// The worker client against the real worker: real documents in, real PDFs out, refusals with
// reasons, and a worker that hangs or dies costs one document only.
#include "engine/client/worker_engine.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace fs = std::filesystem;
using namespace vellumor;

namespace {

class TempFolder {
  public:
    TempFolder() {
        char name[] = "/tmp/vellumor-engine-test-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~TempFolder() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

// Copies a corpus document into the folder under another name.
std::string Copy(const std::string& corpusName, const fs::path& folder, const std::string& as) {
    fs::path target = folder / fs::u8path(as);
    fs::copy_file(fs::path(VELLUMOR_CORPUS) / fs::u8path(corpusName), target,
                  fs::copy_options::overwrite_existing);
    return target.string();
}

std::string Write(const fs::path& folder, const std::string& name, const std::string& bytes) {
    fs::path target = folder / fs::u8path(name);
    std::ofstream(target, std::ios::binary) << bytes;
    return target.string();
}

int PdfPages(const std::string& pdf) {
    std::string command = "pdfinfo '" + pdf + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char line[512];
    int pages = -1;
    while (fgets(line, sizeof line, pipe))
        if (std::sscanf(line, "Pages: %d", &pages) == 1) break;
    pclose(pipe);
    return pages;
}

std::unique_ptr<WorkerEngine> MakeEngine(std::chrono::seconds timeout = std::chrono::seconds(120)) {
    WorkerEngineOptions options;
    options.workerPath = VELLUMOR_TEST_WORKER;
    options.operationTimeout = timeout;
    return std::make_unique<WorkerEngine>(options);
}

std::string FailureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EngineError& e) {
        return e.what();
    }
    return "(no failure)";
}

}  // namespace

TEST(WorkerEngine, ConvertsRealDocumentsWithAwkwardNames) {
    TempFolder dir;
    auto engine = MakeEngine();
    struct Case {
        const char* corpus;
        const char* as;
        int format;
        int pages;
    } cases[] = {
        {"poi_Bug54849.docx", "a b%20#1.docx", 13, 2},
        {"poi_footnote.doc",
         "\xC3\x9C"
         "bersicht \xE4\xB8\xAD.doc",
         9, 1},  // needs the main thread
        {"poi_DiffFirstPageHeadFoot.doc", "x?y.doc", 9, 2},
    };
    for (const auto& c : cases) {
        std::string source = Copy(c.corpus, dir.path(), c.as);
        std::string pdf = (dir.path() / "out" / fs::u8path(std::string(c.as) + ".pdf")).string();
        engine->Load(source, 0, c.format, false);
        engine->Save(pdf, 0, 12, false);
        EXPECT_EQ(PdfPages(pdf), c.pages) << c.as;
        EXPECT_EQ(engine->LastPageCount(), c.pages) << c.as;
    }
    EXPECT_GT(engine->LastWorkerMemory(), 10u << 20);
    // Nothing but the PDFs is left behind: no partial files.
    int files = 0;
    for (auto& e : fs::directory_iterator(dir.path() / "out")) {
        EXPECT_EQ(e.path().extension(), ".pdf") << e.path();
        ++files;
    }
    EXPECT_EQ(files, 3);
    EXPECT_EQ(engine->WorkersStarted(), 1);
}

TEST(WorkerEngine, RefusesWhatIsNotAWordDocumentWithTheReason) {
    TempFolder dir;
    auto engine = MakeEngine();
    auto loadFailure = [&](const std::string& path, int format) {
        return FailureOf([&] { engine->Load(path, 0, format, false); });
    };
    EXPECT_EQ(loadFailure(Write(dir.path(), "t.doc", "just some text\n"), 9),
              "Cannot convert t.doc: it is plain text, not a Word document");
    EXPECT_EQ(loadFailure(Write(dir.path(), "e.docx", ""), 13),
              "Cannot convert e.docx: it is an empty file");
    EXPECT_EQ(loadFailure(Copy("poi_TestRobert_Flaherty.doc", dir.path(), "x.doc"), 9),
              "Cannot convert x.doc: it is an Excel workbook, not a Word document");
    EXPECT_EQ(loadFailure(Copy("poi_password_tika_binaryrc4.doc", dir.path(), "p.doc"), 9),
              "Cannot convert p.doc: the document is password-protected");
    EXPECT_EQ(loadFailure(Copy("poi_bug53475-password-is-pass.docx", dir.path(), "p.docx"), 13),
              "Cannot convert p.docx: the document is password-protected");
    EXPECT_NE(loadFailure((dir.path() / "missing.doc").string(), 9).find("missing.doc"),
              std::string::npos);
    EXPECT_NE(loadFailure(Copy("poi_truncated62886.docx", dir.path(), "t.docx"), 13)
                  .find("the office could not read it"),
              std::string::npos);
    // A failed load leaves nothing to save: no PDF of an earlier document under a new name.
    std::string pdf = (dir.path() / "none.pdf").string();
    EXPECT_EQ(FailureOf([&] { engine->Save(pdf, 0, 12, false); }),
              "Cannot save none.pdf: no document is loaded");
    EXPECT_FALSE(fs::exists(pdf));
    // Still the same worker: refusals are ordinary answers.
    EXPECT_EQ(engine->WorkersStarted(), 1);
}

TEST(WorkerEngine, AFailedSaveKeepsTheOlderPdf) {
    TempFolder dir;
    auto engine = MakeEngine();
    engine->Load(Copy("poi_Bug54849.docx", dir.path(), "a.docx"), 0, 13, false);
    // The target is a folder: the save fails, the folder and its content stay.
    fs::create_directories(dir.path() / "taken.pdf");
    std::string message =
        FailureOf([&] { engine->Save((dir.path() / "taken.pdf").string(), 0, 12, false); });
    EXPECT_EQ(message.rfind("Cannot save taken.pdf: ", 0), 0u) << message;
    EXPECT_TRUE(fs::is_directory(dir.path() / "taken.pdf"));
    // A missing folder is created, and an existing PDF is replaced only by a complete one.
    std::string pdf = (dir.path() / "new" / "deeper" / "a.pdf").string();
    engine->Save(pdf, 0, 12, false);
    EXPECT_EQ(PdfPages(pdf), 2);
}

TEST(WorkerEngine, AHangingDocumentIsKilledAtTheDeadlineAndTheNextConverts) {
    TempFolder dir;
    setenv("VELLUMOR_ENGINE_FAULT", "hang:hangs-here", 1);
    auto engine = MakeEngine(std::chrono::seconds(4));
    unsetenv("VELLUMOR_ENGINE_FAULT");
    auto started = std::chrono::steady_clock::now();
    std::string message = FailureOf([&] {
        engine->Load(Copy("poi_Bug54849.docx", dir.path(), "hangs-here.docx"), 0, 13, false);
    });
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(message,
              "The document engine did not finish loading hangs-here.docx within 4 seconds");
    EXPECT_LT(took, std::chrono::seconds(30));  // includes the office's start
    engine->Load(Copy("poi_Bug54849.docx", dir.path(), "fine.docx"), 0, 13, false);
    engine->Save((dir.path() / "fine.pdf").string(), 0, 12, false);
    EXPECT_EQ(PdfPages((dir.path() / "fine.pdf").string()), 2);
    EXPECT_EQ(engine->WorkersStarted(), 2);
}

TEST(WorkerEngine, AWorkerKilledMidDocumentCostsThatDocumentOnly) {
    TempFolder dir;
    setenv("VELLUMOR_ENGINE_FAULT", "crash:dies-here", 1);
    auto engine = MakeEngine();
    unsetenv("VELLUMOR_ENGINE_FAULT");
    std::string message = FailureOf(
        [&] { engine->Load(Copy("poi_footnote.doc", dir.path(), "dies-here.doc"), 0, 9, false); });
    EXPECT_EQ(
        message,
        "The document engine stopped while loading dies-here.doc: it ended on signal 9 (killed)");
    engine->Load(Copy("poi_footnote.doc", dir.path(), "next.doc"), 0, 9, false);
    engine->Save((dir.path() / "next.pdf").string(), 0, 12, false);
    EXPECT_EQ(PdfPages((dir.path() / "next.pdf").string()), 1);
    EXPECT_EQ(engine->WorkersStarted(), 2);
}

TEST(WorkerEngine, WorkersAreRecycledAfterTheirQuota) {
    TempFolder dir;
    WorkerEngineOptions options;
    options.workerPath = VELLUMOR_TEST_WORKER;
    options.recycleAfterDocuments = 2;
    options.startNow = false;
    WorkerEngine engine(options);
    EXPECT_EQ(engine.WorkersStarted(), 0);
    std::string source = Copy("poi_Bug45473.doc", dir.path(), "h.doc");
    for (int i = 0; i < 3; ++i) {
        engine.Load(source, 0, 9, false);
        engine.Save((dir.path() / ("h" + std::to_string(i) + ".pdf")).string(), 0, 12, false);
    }
    EXPECT_EQ(engine.WorkersStarted(), 2);
}

TEST(WorkerEngine, AMissingWorkerIsReportedOnFirstUse) {
    WorkerEngineOptions options;
    options.workerPath = "/nonexistent/vellumor-engine";
    WorkerEngine engine(options);  // does not throw: starting is never in the way
    std::string message = FailureOf([&] { engine.Load("/tmp/a.doc", 0, 9, false); });
    EXPECT_EQ(message.rfind("The document engine could not be started: cannot start", 0), 0u)
        << message;
}
