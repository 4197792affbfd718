// The whole road under Wine: the real main window, the real worker client and the LibreOffice
// worker, real documents copied to a folder on C:. Checks the PDFs on disk, their page counts as
// the worker reports them, and what the window shows.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/application.h"
#include "app/form_run.h"
#include "batch/look_ahead_engine.h"
#include "batch/worker_choice.h"
#include "engine/client/worker_engine.h"
#include "tests/win/app/form_test_support.h"
#include "tests/win/wine_host.h"
#include "win32/long_path.h"

using namespace vellumor;
using namespace vellumor::test;

namespace {

// A Unix path as this Windows process sees it.
std::wstring FromUnix(const std::string& path) {
    std::wstring out = L"Z:" + win::Widen(path);
    for (auto& c : out)
        if (c == L'/') c = L'\\';
    return out;
}

// VELLUMOR_TEST_ENGINE names another worker to run them with (the script worker).
std::wstring TestWorker() {
    wchar_t other[1024] = {};
    return GetEnvironmentVariableW(L"VELLUMOR_TEST_ENGINE", other, 1024)
               ? std::wstring(other)
               : FromUnix(VELLUMOR_NATIVE_WORKER);
}
const std::wstring kWorker = TestWorker();
const std::wstring kCorpus = FromUnix(VELLUMOR_CORPUS);

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The script worker into a program folder, with the office settings it reads beside it.
bool CopyScriptWorker(const std::wstring& script, const std::wstring& program) {
    const std::wstring settings =
        script.substr(0, script.find_last_of(L'\\') + 1) + L"office_settings.ini";
    return CopyFileW(script.c_str(), (program + L"\\vellumor_engine.py").c_str(), FALSE) &&
           CopyFileW(settings.c_str(), (program + L"\\office_settings.ini").c_str(), FALSE);
}

// The first bytes of a file.
std::string Head(const std::wstring& path, DWORD size = 5) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes(size, '\0');
    DWORD read = 0;
    ReadFile(file, bytes.data(), size, &read, nullptr);
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

// The worker client with a window onto each call: the pages of every PDF saved, and a hook
// that lets a test act while the engine works.
class WatchedEngine : public DocumentEngine {
  public:
    explicit WatchedEngine(std::map<std::string, int>& pages) : pages_(pages) {
        WorkerEngineOptions options;
        options.workerPath = win::Narrow(kWorker);
        options.operationTimeout = std::chrono::seconds(90);
        worker_ = std::make_unique<WorkerEngine>(options);
    }
    int Load(const std::string& path, int reserved, int format, bool flag) override {
        return worker_->Load(path, reserved, format, flag);
    }
    int Save(const std::string& path, int reserved, int format, bool flag) override {
        if (duringSave) duringSave(path);
        const int result = worker_->Save(path, reserved, format, flag);
        pages_[path] = worker_->LastPageCount();
        return result;
    }
    std::function<void(const std::string&)> duringSave;

  private:
    std::unique_ptr<WorkerEngine> worker_;
    std::map<std::string, int>& pages_;
};

class RunServices : public FakeServices {
  public:
    std::vector<std::wstring> explorerFolders;
    void ShellLaunch(HWND, const wchar_t*, const std::wstring& file, const std::wstring& parameters,
                     int) override {
        if (file == L"Explorer.exe") explorerFolders.push_back(parameters);
    }
};

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Exists(kWorker)) GTEST_SKIP() << "no native worker at " << VELLUMOR_NATIVE_WORKER;
        if (!Exists(kCorpus)) GTEST_SKIP() << "no corpus at " << VELLUMOR_CORPUS;
        form = std::make_unique<app::TForm1>(services);
        auto engine = std::make_unique<WatchedEngine>(pages);
        engine_ = engine.get();
        form->DocEngineControl1 = std::move(engine);
        form->Show(SW_SHOWNOACTIVATE);
        PumpMessages();
    }
    void TearDown() override {
        form.reset();
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    // Copies a corpus document into the folder, under another name if given; adds its row.
    std::wstring Add(const std::wstring& corpusName, const std::wstring& as = {}) {
        const std::wstring target = docs.Path() + L"\\" + (as.empty() ? corpusName : as);
        EXPECT_TRUE(CopyFileW((kCorpus + L"\\" + corpusName).c_str(), target.c_str(), FALSE))
            << win::Narrow(corpusName);
        form->AddFileEntry(win::Narrow(target));
        return target;
    }
    void SetOutput(const std::wstring& folder) {
        SetWindowTextW(form->LabeledEdit2, folder.c_str());
    }
    void Convert() { SendMessageW(form->SpeedButton11, BM_CLICK, 0, 0); }
    void PostClick(HWND button) {
        PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    }
    // The PDF is there, is a PDF, and has the pages the office laid out.
    void ExpectPdf(const std::wstring& path, int pageCount) {
        EXPECT_EQ(Head(path), "%PDF-") << win::Narrow(path);
        EXPECT_EQ(pages[win::Narrow(path)], pageCount) << win::Narrow(path);
    }
    int BarMaximum() {
        return static_cast<int>(SendMessageW(form->ProgressBar1, PBM_GETRANGE, FALSE, 0));
    }
    int BarPosition() {
        return static_cast<int>(SendMessageW(form->ProgressBar1, PBM_GETPOS, 0, 0));
    }

    RunServices services;
    app::Application application{services};
    TempFolder docs;
    std::unique_ptr<app::TForm1> form;
    std::map<std::string, int> pages;
    WatchedEngine* engine_ = nullptr;
};

TEST_F(EndToEnd, ConvertsRealDocumentsInBothModesWhateverTheirNames) {
    Add(L"poi_DiffFirstPageHeadFoot.doc");
    Add(L"oxmlsdk_PageColor-lightgreen.docx", L"Page Color.DOCX");
    Add(L"\x4e2d\x6587\x5c5e\x6027_\x00dc"
        L"bersicht.doc");
    const std::wstring cjkPdf =
        L"\x4e2d\x6587\x5c5e\x6027_\x00dc"
        L"bersicht.pdf";

    // Setting Path, the folder without its trailing backslash; it does not exist yet.
    const std::wstring out = docs.Path() + L"\\out";
    SetOutput(out);
    Convert();
    EXPECT_TRUE(services.boxes.empty());
    ExpectPdf(out + L"\\poi_DiffFirstPageHeadFoot.pdf", 2);
    ExpectPdf(out + L"\\Page Color.pdf", 2);
    ExpectPdf(out + L"\\" + cjkPdf, 1);
    EXPECT_EQ(form->Label1->Caption(), "Successed!");
    EXPECT_FALSE(IsWindowVisible(form->ProgressBar1));
    EXPECT_EQ(BarMaximum(), 3);
    EXPECT_EQ(BarPosition(), 3);
    EXPECT_EQ(services.explorerFolders, std::vector<std::wstring>{out});

    // With the trailing backslash: the same names, no doubled separator.
    const std::wstring out2 = docs.Path() + L"\\out2\\";
    SetOutput(out2);
    Convert();
    ExpectPdf(out2 + L"poi_DiffFirstPageHeadFoot.pdf", 2);
    ExpectPdf(out2 + cjkPdf, 1);

    // Original Path: beside the sources; the explorer still opens the output folder.
    SendMessageW(form->RadioButton2, BM_CLICK, 0, 0);
    Convert();
    ExpectPdf(docs.Path() + L"\\Page Color.pdf", 2);
    ExpectPdf(docs.Path() + L"\\" + cjkPdf, 1);
    EXPECT_EQ(services.explorerFolders.size(), 3u);
    EXPECT_EQ(services.explorerFolders.back(), out2);
}

// A folder picked with Add Folder whose documents lie past MAX_PATH, with names the ANSI code
// page cannot spell: they convert beside their sources and into an output folder.
TEST_F(EndToEnd, ConvertsPathsLongerThanMaxPathWithNamesOutsideTheCodePage) {
    const std::string deep =
        docs.Utf8() + "\\" + std::string(100, 'd') + "\\" + std::string(90, 'e');
    test::MakeFolders(deep);
    const std::string stem =
        "\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1 \xE6\x96\x87 " + std::string(80, 'n');
    const std::string source = deep + "\\" + stem + ".doc";
    ASSERT_GT(win::Widen(source).size(), 260u);
    ASSERT_TRUE(
        CopyFileW((kCorpus + L"\\poi_footnote.doc").c_str(), win::LongPath(source).c_str(), FALSE));
    services.BrowseAnswers(win::Widen(deep));
    SendMessageW(form->SpeedButton4, BM_CLICK, 0, 0);
    ASSERT_EQ(form->FileList().Count(), 1);

    SendMessageW(form->RadioButton2, BM_CLICK, 0, 0);  // beside the source
    Convert();
    EXPECT_TRUE(services.boxes.empty());
    EXPECT_EQ(form->Label1->Caption(), "Successed!");
    EXPECT_EQ(Head(win::LongPath(deep + "\\" + stem + ".pdf")), "%PDF-");

    SendMessageW(form->RadioButton1, BM_CLICK, 0, 0);  // into a folder that is long too
    SetOutput(win::Widen(deep + "\\out"));
    Convert();
    EXPECT_TRUE(services.boxes.empty());
    EXPECT_EQ(Head(win::LongPath(deep + "\\out\\" + stem + ".pdf")), "%PDF-");
    test::RemoveTree(docs.Utf8() + "\\" + std::string(100, 'd'));
}

// A listener on 127.0.0.1 in this (Windows) process, counting the connections it is offered.
class LoopbackListener {
  public:
    LoopbackListener() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(socket_, 16);
        getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~LoopbackListener() {
        closesocket(socket_);
        WSACleanup();
    }
    int port() const { return port_; }
    // Accepts (and counts) whatever connections are waiting.
    int Connections() {
        for (;;) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(socket_, &set);
            timeval none{0, 200 * 1000};
            if (select(0, &set, nullptr, nullptr, &none) <= 0) return count_;
            SOCKET s = accept(socket_, nullptr, nullptr);
            if (s == INVALID_SOCKET) return count_;
            closesocket(s);
            ++count_;
        }
    }

  private:
    SOCKET socket_ = INVALID_SOCKET;
    int port_ = 0;
    int count_ = 0;
};

// Word's HTML saved as .doc, naming a picture and a style sheet on a listener of this machine:
// the window converts it and nothing is fetched, because the worker has no network of its own
// and the office's settings block linked content.
TEST_F(EndToEnd, ADocumentNamingAnAddressMakesNoRequest) {
    LoopbackListener listener;
    const std::string address = "http://127.0.0.1:" + std::to_string(listener.port());
    const std::string html = "<html><head><link rel=\"stylesheet\" href=\"" + address +
                             "/style.css\"></head><body><p>Quarterly figures</p><img src=\"" +
                             address + "/track.png\" width=\"40\" height=\"40\"></body></html>";
    form->AddFileEntry(win::Narrow(docs.File(L"figures.doc", html)));
    SetOutput(docs.Path() + L"\\out");
    Convert();
    EXPECT_EQ(form->Label1->Caption(), "Successed!");
    EXPECT_EQ(Head(docs.Path() + L"\\out\\figures.pdf"), "%PDF-");
    EXPECT_EQ(listener.Connections(), 0);
    // The listener does take connections: the zero above means none was made.
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(listener.port()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(probe, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    EXPECT_EQ(listener.Connections(), 1);
    closesocket(probe);
}

TEST_F(EndToEnd, ABrokenThirdFileEndsTheRunAndKeepsTheFirstTwo) {
    Add(L"poi_footnote.doc", L"1.doc");
    Add(L"mammoth_strict-format.docx", L"2.docx");
    Add(L"poi_truncated62886.docx", L"3.docx");
    Add(L"poi_table-merges.doc", L"4.doc");
    const std::wstring out = docs.Path() + L"\\out";
    SetOutput(out);
    Convert();
    ExpectPdf(out + L"\\1.pdf", 1);
    ExpectPdf(out + L"\\2.pdf", 1);
    EXPECT_FALSE(Exists(out + L"\\3.pdf"));
    EXPECT_FALSE(Exists(out + L"\\4.pdf"));
    ASSERT_EQ(services.boxes.size(), 1u);
    EXPECT_EQ(services.boxes[0].text, L"Failed to open the word file.");
    EXPECT_EQ(services.boxes[0].caption, L"Error");
    EXPECT_EQ(form->Label1->Caption(), "");
    EXPECT_FALSE(IsWindowVisible(form->ProgressBar1));
    EXPECT_TRUE(services.explorerFolders.empty());
}

TEST_F(EndToEnd, StopBetweenFilesKeepsWhatWasDone) {
    Add(L"poi_footnote.doc", L"1.doc");
    Add(L"poi_table-merges.doc", L"2.doc");
    const std::wstring out = docs.Path() + L"\\out";
    SetOutput(out);
    engine_->duringSave = [this](const std::string&) { PostClick(form->SpeedButton1); };
    Convert();
    ExpectPdf(out + L"\\1.pdf", 1);
    EXPECT_FALSE(Exists(out + L"\\2.pdf"));
    EXPECT_EQ(form->Label1->Caption(), "Stopped");
    EXPECT_EQ(BarPosition(), 1);
    EXPECT_TRUE(services.explorerFolders.empty());
}

TEST_F(EndToEnd, ClosingTheWindowDuringARunLetsTheRunFinish) {
    Add(L"poi_footnote.doc", L"1.doc");
    Add(L"mammoth_strict-format.docx", L"2.docx");
    const std::wstring out = docs.Path() + L"\\out";
    SetOutput(out);
    engine_->duringSave = [this](const std::string&) {
        PostMessageW(form->Handle(), WM_CLOSE, 0, 0);
        engine_->duringSave = nullptr;
    };
    Convert();
    ExpectPdf(out + L"\\1.pdf", 1);
    ExpectPdf(out + L"\\2.pdf", 1);
    EXPECT_EQ(form->Label1->Caption(), "Successed!");
    EXPECT_EQ(services.explorerFolders.size(), 1u);
    EXPECT_TRUE(app::Application::QuitRequested());
    EXPECT_EQ(RunMainLoop(application), 0);
}

// The frame's close button once the first PDF is written, then Stop, both with the mouse while
// the worker converts: the run ends before the third document and the program then ends.
TEST_F(EndToEnd, CloseThenStopWithTheMouseEndsTheRunBeforeTheRemainingFiles) {
    Add(L"poi_footnote.doc", L"1.doc");
    Add(L"poi_table-merges.doc", L"2.doc");
    Add(L"mammoth_strict-format.docx", L"3.docx");
    const std::wstring out = docs.Path() + L"\\out";
    SetOutput(out);
    SetWindowPos(form->Handle(), HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    PumpMessages();
    int saves = 0;
    engine_->duringSave = [&](const std::string&) {
        ++saves;
        if (saves == 1) ClickOnScreen(CentreOnScreen(*form->ImgBtnClose));
        if (saves == 2) {
            EXPECT_TRUE(app::Application::QuitRequested());
            ClickOnScreen(CentreOnScreen(form->SpeedButton1));
        }
    };
    Convert();
    SetCursorPos(1, 1);
    ExpectPdf(out + L"\\1.pdf", 1);
    EXPECT_TRUE(Exists(out + L"\\2.pdf"));
    EXPECT_FALSE(Exists(out + L"\\3.pdf"));
    EXPECT_EQ(saves, 2);
    EXPECT_EQ(form->Label1->Caption(), "Stopped");
    EXPECT_TRUE(services.explorerFolders.empty());
    EXPECT_EQ(RunMainLoop(application), 0);
}

}  // namespace

// A program folder that holds only the script worker, and corpus documents to list.
class EndToEndScriptWorker : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::wstring script = FromUnix(VELLUMOR_SCRIPT_WORKER);
        if (!Exists(script)) GTEST_SKIP() << "no script worker at " << VELLUMOR_SCRIPT_WORKER;
        if (!Exists(kCorpus)) GTEST_SKIP() << "no corpus at " << VELLUMOR_CORPUS;
        ASSERT_TRUE(CopyScriptWorker(script, program.Path()));
    }
    // Copies a corpus document into docs under the name as and lists it.
    void AddRow(app::TForm1& form, const wchar_t* name, const wchar_t* as) {
        const std::wstring target = docs.Path() + L"\\" + as;
        ASSERT_TRUE(CopyFileW((kCorpus + L"\\" + name).c_str(), target.c_str(), FALSE));
        form.AddFileEntry(win::Narrow(target));
    }
    TempFolder program, docs, output;
    RunServices services;
};

// The window's own start-up choice of engine, in a program folder that holds only the script
// worker: under Wine without a Windows office the system's Python runs it, and the window
// converts real documents through it.
TEST_F(EndToEndScriptWorker, TheWindowConvertsThroughTheScriptBesideTheProgram) {
    auto form = std::make_unique<app::TForm1>(services);
    form->DocEngineControl1 = app::MakeStartupEngine(
        *form, [&] { return MakeWorkerEngineIn(win::Narrow(program.Path())); });
    ASSERT_NE(form->DocEngineControl1, nullptr);
    form->Show(SW_SHOWNOACTIVATE);
    for (const wchar_t* name : {L"poi_Bug54849.docx", L"poi_footnote.doc"})
        AddRow(*form, name, name);
    SetWindowTextW(form->LabeledEdit2, output.Path().c_str());
    SendMessageW(form->SpeedButton11, BM_CLICK, 0, 0);
    EXPECT_EQ(form->Label1->Caption(), "Successed!");
    EXPECT_EQ(Head(output.Path() + L"\\poi_Bug54849.pdf"), "%PDF-");
    EXPECT_EQ(Head(output.Path() + L"\\poi_footnote.pdf"), "%PDF-");
    form.reset();
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
}

// The engine the program starts with, converting ahead on every core through the script
// worker: a broken third file ends the run with the first two PDFs only, as with one worker,
// and nothing done ahead is left on disk.
TEST_F(EndToEndScriptWorker, TheWindowConvertsAheadAndABrokenThirdFileKeepsOnlyTheFirstTwo) {
    auto form = std::make_unique<app::TForm1>(services);
    form->DocEngineControl1 = app::MakeStartupEngine(
        *form, [&] { return MakeLookAheadEngineIn(win::Narrow(program.Path())); });
    auto* ahead = dynamic_cast<LookAheadEngine*>(form->DocEngineControl1.get());
    ASSERT_NE(ahead, nullptr);
    form->Show(SW_SHOWNOACTIVATE);
    const std::pair<const wchar_t*, const wchar_t*> rows[] = {
        {L"poi_footnote.doc", L"1.doc"},
        {L"mammoth_strict-format.docx", L"2.docx"},
        {L"poi_truncated62886.docx", L"3.docx"},
        {L"poi_table-merges.doc", L"4.doc"},
        {L"poi_Bug54849.docx", L"5.docx"}};
    for (const auto& [name, as] : rows) AddRow(*form, name, as);
    SetWindowTextW(form->LabeledEdit2, output.Path().c_str());
    SendMessageW(form->SpeedButton11, BM_CLICK, 0, 0);

    EXPECT_EQ(Head(output.Path() + L"\\1.pdf"), "%PDF-");
    EXPECT_EQ(Head(output.Path() + L"\\2.pdf"), "%PDF-");
    for (const wchar_t* name : {L"3.pdf", L"4.pdf", L"5.pdf"})
        EXPECT_FALSE(Exists(output.Path() + L"\\" + name)) << win::Narrow(name);
    ASSERT_EQ(services.boxes.size(), 1u);
    EXPECT_EQ(services.boxes[0].text, L"Failed to open the word file.");
    EXPECT_EQ(form->Label1->Caption(), "");
    EXPECT_TRUE(services.explorerFolders.empty());
    EXPECT_EQ(ahead->RowsTakenAhead(), 2);
    EXPECT_LE(ahead->WorkersStarted(), static_cast<int>(std::thread::hardware_concurrency()));
    const std::wstring privateFolder = win::Widen(ahead->PrivateFolder());
    form.reset();
    if (!privateFolder.empty()) {
        EXPECT_FALSE(Exists(privateFolder));
    }
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
}
