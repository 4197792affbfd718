// The Windows worker client under Wine, driving the native Linux worker: real .docx in, real
// PDF out, over the loopback socket, with Windows paths translated for the worker.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "engine/client/worker_engine.h"
#include "tests/win/wine_host.h"
#include "win32/unicode.h"

using namespace vellumor;

namespace {

using test::PathExists;

// The worker of the native build, as a Windows path on Wine's Z: drive.
std::string NativeWorker() {
    return test::UnixPathOnZ(VELLUMOR_NATIVE_WORKER);
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(win::Widen(path).c_str(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A fresh folder on C:, where documents and PDFs of the test go.
std::string TempFolder() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring folder = std::wstring(base) + L"vellumor-worker-" +
                          std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(GetTickCount());
    CreateDirectoryW(folder.c_str(), nullptr);
    return win::Narrow(folder);
}

std::string CopyFromCorpus(const std::string& name, const std::string& folder,
                           const std::string& as) {
    std::string corpus = "Z:" + std::string(VELLUMOR_CORPUS) + "/" + name;
    for (auto& c : corpus)
        if (c == '/') c = '\\';
    std::string target = folder + "\\" + as;
    CopyFileW(win::Widen(corpus).c_str(), win::Widen(target).c_str(), FALSE);
    return target;
}

}  // namespace

TEST(WorkerClientUnderWine, ConvertsARealDocxThroughTheLinuxWorker) {
    if (!PathExists(NativeWorker())) GTEST_SKIP() << "native worker not built: " << NativeWorker();
    if (!PathExists(CopyFromCorpus("poi_Bug54849.docx", TempFolder(), "probe.docx")))
        GTEST_SKIP() << "corpus not found at " << VELLUMOR_CORPUS;
    std::string folder = TempFolder();
    // Spaces, "%", "#" and a non-ASCII letter in the source name; a missing output folder.
    std::string source = CopyFromCorpus("poi_Bug54849.docx", folder, "a b%20#\xC3\x9C.docx");
    ASSERT_TRUE(PathExists(source));
    std::string pdf = folder + "\\out\\a b%20#\xC3\x9C.pdf";

    WorkerEngineOptions options;
    options.workerPath = NativeWorker();
    WorkerEngine engine(options);
    engine.Load(source, 0, 13, false);
    engine.Save(pdf, 0, 12, false);

    std::string bytes = ReadAll(pdf);
    ASSERT_GT(bytes.size(), 1000u);
    EXPECT_EQ(bytes.substr(0, 5), "%PDF-");
    EXPECT_EQ(engine.LastPageCount(), 2);

    // A refusal comes back as an engine error naming the file, and the worker goes on.
    std::string text = folder + "\\notes.doc";
    std::ofstream(win::Widen(text).c_str()) << "only text\n";
    try {
        engine.Load(text, 0, 9, false);
        ADD_FAILURE() << "plain text was loaded";
    } catch (const EngineError& e) {
        EXPECT_STREQ(e.what(), "Cannot convert notes.doc: it is plain text, not a Word document");
    }
    engine.Load(source, 0, 13, false);
    engine.Save(folder + "\\again.pdf", 0, 12, false);
    EXPECT_TRUE(PathExists(folder + "\\again.pdf"));
    EXPECT_EQ(engine.WorkersStarted(), 1);
}

TEST(WorkerClientUnderWine, AHangingWorkerEndsItselfAtTheDeadline) {
    if (!PathExists(NativeWorker())) GTEST_SKIP() << "native worker not built: " << NativeWorker();
    std::string folder = TempFolder();
    std::string source = CopyFromCorpus("poi_Bug54849.docx", folder, "hangs-here.docx");
    if (!PathExists(source)) GTEST_SKIP() << "corpus not found at " << VELLUMOR_CORPUS;
    // The fault hook of the worker's test build; Wine passes the variable on to it.
    SetEnvironmentVariableW(L"VELLUMOR_ENGINE_FAULT", L"hang:hangs-here");
    WorkerEngineOptions options;
    options.workerPath = NativeWorker();
    options.operationTimeout = std::chrono::seconds(4);
    WorkerEngine engine(options);
    SetEnvironmentVariableW(L"VELLUMOR_ENGINE_FAULT", nullptr);
    try {
        engine.Load(source, 0, 13, false);
        ADD_FAILURE() << "the hanging load returned";
    } catch (const EngineError& e) {
        EXPECT_STREQ(e.what(),
                     "The document engine did not finish loading hangs-here.docx within 4 seconds");
    }
    std::string fine = CopyFromCorpus("poi_Bug54849.docx", folder, "fine.docx");
    engine.Load(fine, 0, 13, false);
    engine.Save(folder + "\\fine.pdf", 0, 12, false);
    EXPECT_TRUE(PathExists(folder + "\\fine.pdf"));
    EXPECT_EQ(engine.WorkersStarted(), 2);
}
