// The Windows worker client under Wine, driving the native Linux worker: real .docx in, real
// PDF out, over the loopback socket, with Windows paths translated for the worker.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "engine/client/office_locator.h"
#include "batch/worker_choice.h"
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
    EXPECT_EQ(engine.LastPageCount(), 1);  // as Word lays it out

    // A refusal comes back as an engine error naming the file, and the worker goes on.
    std::string zeros = folder + "\\zeros.doc";
    std::ofstream(win::Widen(zeros).c_str(), std::ios::binary) << std::string(4096, '\0');
    try {
        engine.Load(zeros, 0, 9, false);
        ADD_FAILURE() << "a file of zeros was loaded";
    } catch (const EngineError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot convert zeros.doc: it is ", 0), 0u)
            << e.what();
        EXPECT_EQ(e.failure(), EngineFailure::Refused);
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

namespace {

// An office registered or installed for the test only: its registry value and folders are
// removed again at the end, so no later test finds a stand-in office.
class StandInOffice {
  public:
    ~StandInOffice() {
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kOfficeRegistryKey, view, 0);
        SetEnvironmentVariableW(L"ProgramW6432", saved_.empty() ? nullptr : saved_.c_str());
    }
    // A program folder holding a python.exe.
    std::string Folder(const std::string& name) {
        std::string folder = root_ + "\\" + name;
        CreateDirectoryW(win::Widen(folder).c_str(), nullptr);
        std::ofstream(win::Widen(folder + "\\python.exe").c_str()) << "MZ";
        return folder;
    }
    void Register(REGSAM view, const std::string& folder) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kOfficeRegistryKey, 0, nullptr, 0,
                                  KEY_SET_VALUE | view, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        std::wstring value = win::Widen(folder);
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    void ProgramFiles64(const std::string& folder) {
        wchar_t old[MAX_PATH] = {};
        if (saved_.empty() && GetEnvironmentVariableW(L"ProgramW6432", old, MAX_PATH)) saved_ = old;
        SetEnvironmentVariableW(L"ProgramW6432", win::Widen(folder).c_str());
    }
    std::string root_ = TempFolder();

  private:
    std::wstring saved_;
};

}  // namespace

TEST(OfficeUnderWine, FoundThroughEitherRegistryViewAndThenProgramFiles) {
    {
        StandInOffice office;
        std::string folder64 = office.Folder("office64");
        office.Register(KEY_WOW64_64KEY, folder64);
        // A 32-bit program finds the 64-bit office's registration.
        EXPECT_EQ(FindOfficePython(), folder64 + "\\python.exe");
    }
    {
        StandInOffice office;
        std::string folder32 = office.Folder("office32");
        office.Register(KEY_WOW64_32KEY, folder32 + "\\");  // a trailing separator is fine
        EXPECT_EQ(FindOfficePython(), folder32 + "\\python.exe");
    }
    {
        StandInOffice office;
        std::string programFiles = office.root_ + "\\pf";
        CreateDirectoryW(win::Widen(programFiles).c_str(), nullptr);
        CreateDirectoryW(win::Widen(programFiles + "\\LibreOffice").c_str(), nullptr);
        office.Folder("pf\\LibreOffice\\program");
        office.ProgramFiles64(programFiles);
        EXPECT_EQ(FindOfficePython(), programFiles + "\\LibreOffice\\program\\python.exe");
        // A registered folder without python.exe is passed over.
        office.Register(KEY_WOW64_64KEY, office.root_ + "\\empty");
        EXPECT_EQ(FindOfficePython(), programFiles + "\\LibreOffice\\program\\python.exe");
    }
}

// The Windows client's whole road to the script worker: found beside the program, started
// through Wine as the system's Python (no Windows office here), handed Unix paths.
TEST(ScriptWorkerUnderWine, ChosenBesideTheProgramAndConvertsARealDocument) {
    std::string script = test::UnixPathOnZ(VELLUMOR_SCRIPT_WORKER);
    if (!PathExists(script)) GTEST_SKIP() << "no script worker at " << VELLUMOR_SCRIPT_WORKER;
    if (!PathExists(test::UnixPathOnZ("/usr/bin/python3"))) GTEST_SKIP() << "no /usr/bin/python3";
    std::string program = TempFolder();
    ASSERT_TRUE(CopyFileW(win::Widen(script).c_str(),
                          win::Widen(program + "\\vellumor_engine.py").c_str(), FALSE));
    // The office settings the script reads beside itself.
    const std::string settings =
        script.substr(0, script.find_last_of('\\') + 1) + "office_settings.ini";
    ASSERT_TRUE(CopyFileW(win::Widen(settings).c_str(),
                          win::Widen(program + "\\office_settings.ini").c_str(), FALSE));
    // Nothing else beside the program: the script is the engine.
    EXPECT_EQ(ChooseWorkerIn(program), program + "\\vellumor_engine.py");
    std::string beside = TempFolder();
    std::ofstream(win::Widen(beside + "\\vellumor-engine.exe").c_str()) << "MZ";
    EXPECT_EQ(ChooseWorkerIn(beside), beside + "\\vellumor-engine.exe");

    std::string folder = TempFolder();
    std::string source = CopyFromCorpus("poi_footnote.doc", folder, "\xC3\x9C ber.doc");
    if (!PathExists(source)) GTEST_SKIP() << "corpus not found at " << VELLUMOR_CORPUS;
    WorkerEngineOptions options;
    options.workerPath = ChooseWorkerIn(program);
    WorkerEngine engine(options);
    engine.LoadDocument(source, SourceFormat::Doc);
    EXPECT_EQ(engine.SavePdf(folder + "\\out\\\xC3\x9C ber.pdf").pages, 1);
    EXPECT_EQ(ReadAll(folder + "\\out\\\xC3\x9C ber.pdf").substr(0, 5), "%PDF-");
}
