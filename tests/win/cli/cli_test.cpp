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

using test::PathExists;

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
int RunCli(const std::string& arguments) {
    SetEnvironmentVariableW(L"VELLUMOR_ENGINE_PATH",
                            win::Widen(UnixPathOnZ(VELLUMOR_NATIVE_WORKER)).c_str());
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
    std::ifstream in(win::Widen(path).c_str(), std::ios::binary);
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
