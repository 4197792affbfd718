// vellumor-cli.exe under Wine, as a user runs it: a real document converted through the native
// Linux worker, and a usage error.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/win/wine_host.h"
#include "win32/unicode.h"

using namespace vellumor;

namespace {

using test::MakeFolders;
using test::MakeUnixLink;
using test::PathExists;
using test::RemoveTree;
using test::UnixPathOnZ;

std::string TempFolder() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring folder = std::wstring(base) + L"vellumor-cli-" +
                          std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(GetTickCount());
    CreateDirectoryW(folder.c_str(), nullptr);
    return win::Narrow(folder);
}

// Runs vellumor-cli.exe with the arguments and the native worker; its exit code, or -1 when it
// did not start or did not end within two minutes.
// VELLUMOR_TEST_ENGINE names another worker to run them with (the script worker).
int RunCli(const std::string& arguments) {
    wchar_t other[1024] = {};
    std::wstring worker = GetEnvironmentVariableW(L"VELLUMOR_TEST_ENGINE", other, 1024)
                              ? std::wstring(other)
                              : win::Widen(UnixPathOnZ(VELLUMOR_NATIVE_WORKER));
    SetEnvironmentVariableW(L"VELLUMOR_ENGINE_PATH", worker.c_str());
    std::wstring command =
        L"\"" + win::Widen(UnixPathOnZ(VELLUMOR_CLI)) + L"\" " + win::Widen(arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &process);
    SetEnvironmentVariableW(L"VELLUMOR_ENGINE_PATH", nullptr);
    if (!started) return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace

TEST(CliUnderWine, ConvertsADocumentBesideItsSource) {
    if (!PathExists(UnixPathOnZ(VELLUMOR_NATIVE_WORKER)))
        GTEST_SKIP() << "native worker not built: " << UnixPathOnZ(VELLUMOR_NATIVE_WORKER);
    std::string corpus = UnixPathOnZ(VELLUMOR_CORPUS "/poi_Bug54849.docx");
    if (!PathExists(corpus)) GTEST_SKIP() << "corpus not found at " << VELLUMOR_CORPUS;
    std::string folder = TempFolder();
    // A non-ASCII letter and a space in the name: the command line reaches the program as UTF-8.
    std::string source = folder + "\\\xC3\x9C ber.docx";
    ASSERT_TRUE(CopyFileW(win::Widen(corpus).c_str(), win::Widen(source).c_str(), FALSE));

    EXPECT_EQ(RunCli("--jobs 1 \"" + source + "\""), 0);
    EXPECT_TRUE(PathExists(folder + "\\\xC3\x9C ber.pdf"));

    // Into a folder given with forward slashes; the name still follows the Windows rules.
    std::string out = folder + "/out";
    EXPECT_EQ(RunCli("-o \"" + out + "\" \"" + folder + "\""), 0);
    EXPECT_TRUE(PathExists(folder + "\\out\\\xC3\x9C ber.pdf"));
}

std::string ReadText(const std::string& path) {
    std::ifstream in(win::LongPath(path).c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Records name inputs below their folder with '/' on Windows too, so shards agree with Linux
// machines; a resumed run keeps what the Windows file times say is unchanged.
TEST(CliUnderWine, RecordsAndResumeFollowTheWindowsFileSystem) {
    if (!PathExists(UnixPathOnZ(VELLUMOR_NATIVE_WORKER)))
        GTEST_SKIP() << "native worker not built: " << UnixPathOnZ(VELLUMOR_NATIVE_WORKER);
    std::string corpus = UnixPathOnZ(VELLUMOR_CORPUS "/poi_footnote.doc");
    if (!PathExists(corpus)) GTEST_SKIP() << "corpus not found at " << VELLUMOR_CORPUS;
    std::string folder = TempFolder();
    CreateDirectoryW(win::Widen(folder + "\\in").c_str(), nullptr);
    CreateDirectoryW(win::Widen(folder + "\\in\\Sub").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(win::Widen(corpus).c_str(),
                          win::Widen(folder + "\\in\\Sub\\a.doc").c_str(), FALSE));
    std::string first = folder + "\\first.jsonl", second = folder + "\\second.jsonl";

    EXPECT_EQ(RunCli("--jobs 1 --recursive --jsonl \"" + first + "\" \"" + folder + "\\in\""), 0);
    std::string report = ReadText(first);
    EXPECT_NE(report.find("\"relative\":\"Sub/a.doc\""), std::string::npos) << report;
    EXPECT_NE(report.find("\"source_mtime_ns\":"), std::string::npos) << report;

    EXPECT_EQ(RunCli("--recursive --resume \"" + first + "\" --jsonl \"" + second + "\" \"" +
                     folder + "\\in\""),
              0);
    EXPECT_EQ(Count(ReadText(second), "\"carried_over\":true"), 1u) << ReadText(second);
}

TEST(CliUnderWine, UsageErrorsExitWithTwo) {
    EXPECT_EQ(RunCli(""), 2);
    EXPECT_EQ(RunCli("--on-exists sometimes a.doc"), 2);
    EXPECT_EQ(RunCli("--shard 2/2 a.doc"), 2);
}

// A Windows path as a JSON report writes it: each backslash doubled.
std::string InJson(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '\\') out += '\\';
    }
    return out;
}

// Paths past MAX_PATH and names the ANSI code page cannot spell, found in a folder and named
// on the command line.
TEST(CliUnderWine, LongPathsAndNamesOutsideTheCodePageConvert) {
    if (!PathExists(UnixPathOnZ(VELLUMOR_NATIVE_WORKER)))
        GTEST_SKIP() << "native worker not built: " << UnixPathOnZ(VELLUMOR_NATIVE_WORKER);
    std::string corpus = UnixPathOnZ(VELLUMOR_CORPUS "/poi_footnote.doc");
    if (!PathExists(corpus)) GTEST_SKIP() << "corpus not found at " << VELLUMOR_CORPUS;
    std::string folder = TempFolder();
    std::string deep = folder + "\\in\\" + std::string(90, 'a') + "\\" + std::string(90, 'b');
    MakeFolders(deep);
    // Greek and Chinese letters: outside Windows-1252.
    std::string stem =
        "\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1 \xE6\x96\x87\xE6\x9B\xB8 " + std::string(60, 'c');
    std::string source = deep + "\\" + stem + ".doc";
    ASSERT_GT(win::Widen(source).size(), 260u);
    ASSERT_TRUE(CopyFileW(win::Widen(corpus).c_str(), win::LongPath(source).c_str(), FALSE));
    std::string json = folder + "\\r.json";

    EXPECT_EQ(RunCli("--jobs 1 --recursive --json \"" + json + "\" \"" + folder + "\\in\""), 0)
        << ReadText(json);
    EXPECT_TRUE(PathExists(deep + "\\" + stem + ".pdf"));
    EXPECT_NE(ReadText(json).find("\"outcome\": \"converted\""), std::string::npos)
        << ReadText(json);

    EXPECT_EQ(RunCli("--jobs 1 -o \"" + deep + "\\out\" \"" + source + "\""), 0);
    EXPECT_TRUE(PathExists(deep + "\\out\\" + stem + ".pdf"));
    RemoveTree(folder);
}

// Links made on the Linux side, as archives and build trees hold them: each document converts
// once, a second link to it is a duplicate, a link to nothing fails.
TEST(CliUnderWine, LinksConvertOnceAndLinksToNothingFail) {
    if (!PathExists(UnixPathOnZ(VELLUMOR_NATIVE_WORKER)))
        GTEST_SKIP() << "native worker not built: " << UnixPathOnZ(VELLUMOR_NATIVE_WORKER);
    std::string corpus = UnixPathOnZ(VELLUMOR_CORPUS "/poi_footnote.doc");
    if (!PathExists(corpus)) GTEST_SKIP() << "corpus not found at " << VELLUMOR_CORPUS;
    std::string folder = TempFolder();
    MakeFolders(folder + "\\store");
    MakeFolders(folder + "\\links");
    ASSERT_TRUE(CopyFileW(win::Widen(corpus).c_str(), win::Widen(folder + "\\store\\a.doc").c_str(),
                          FALSE));
    ASSERT_TRUE(CopyFileW(win::Widen(corpus).c_str(), win::Widen(folder + "\\store\\b.doc").c_str(),
                          FALSE));
    ASSERT_TRUE(MakeUnixLink("../store/a.doc", folder + "\\links\\1.doc"));
    ASSERT_TRUE(MakeUnixLink("../store/b.doc", folder + "\\links\\2.doc"));
    ASSERT_TRUE(MakeUnixLink("../store/a.doc", folder + "\\links\\3.doc"));
    // A link to nothing may not even be listed under Wine; when it is, it fails.
    MakeUnixLink("../store/missing.doc", folder + "\\links\\4.doc");
    std::string json = folder + "\\r.json";

    int code = RunCli("--jobs 1 --json \"" + json + "\" \"" + folder + "\\links\"");
    std::string report = ReadText(json);
    EXPECT_TRUE(PathExists(folder + "\\links\\1.pdf"));
    EXPECT_TRUE(PathExists(folder + "\\links\\2.pdf"));
    EXPECT_FALSE(PathExists(folder + "\\links\\3.pdf"));
    EXPECT_NE(report.find("\"duplicate_of\": \"" + InJson(folder + "\\links\\1.doc") + "\""),
              std::string::npos)
        << report;
    EXPECT_EQ(Count(report, "\"outcome\": \"converted\""), 2u) << report;
    bool danglingListed = report.find("4.doc") != std::string::npos;
    EXPECT_EQ(code, danglingListed ? 1 : 0) << report;
    if (danglingListed) {
        EXPECT_EQ(Count(report, "\"outcome\": \"failed\""), 1u) << report;
    }
    test::RemoveUnixTree(folder);
}

TEST(CliUnderWine, AFolderThatCannotBeReadIsAFailedRecord) {
    std::string folder = TempFolder();
    std::string closed = folder + "\\in\\closed";
    MakeFolders(closed);
    { std::ofstream(win::Widen(closed + "\\inside.doc").c_str()) << "x"; }
    if (!test::CloseFolder(closed)) {
        test::OpenFolder(closed);
        RemoveTree(folder);
        GTEST_SKIP() << test::kClosedFolderSkip;
    }
    std::string json = folder + "\\r.json";
    EXPECT_EQ(RunCli("--recursive --json \"" + json + "\" \"" + folder + "\\in\""), 1);
    std::string report = ReadText(json);
    EXPECT_NE(report.find("\"reason\": \"cannot read the folder " + InJson(closed) +
                          ": permission denied\""),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("\"relative\": \"closed/\""), std::string::npos) << report;
    test::OpenFolder(closed);
    RemoveTree(folder);
}
