// vellumor-cli as its users run it: exit codes, one outcome per input, JSON records, output
// naming, a run that goes on when the engine hangs or dies on one document, and the big-batch
// tools: records as documents end, Ctrl+C, --resume, shards and merge.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include "tests/support/corpus.h"

namespace fs = std::filesystem;

namespace {

class TempFolder {
  public:
    TempFolder() {
        char name[] = "/tmp/vellumor-cli-test-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~TempFolder() { fs::remove_all(path_); }
    fs::path operator/(const std::string& name) const { return path_ / name; }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

void Copy(const std::string& corpusName, const fs::path& target) {
    fs::create_directories(target.parent_path());
    fs::copy_file(fs::path(VELLUMOR_CORPUS) / corpusName, target);
}

int RunCli(const std::string& arguments, const std::string& environment = "") {
    std::string command =
        environment + " '" + std::string(VELLUMOR_CLI) + "' " + arguments + " >/dev/null 2>&1";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

nlohmann::json ReadJson(const fs::path& file) {
    std::ifstream in(file);
    return nlohmann::json::parse(in);
}

std::string Q(const fs::path& p) {
    return "'" + p.string() + "'";
}

}  // namespace

TEST(Cli, UsageErrorsExitWithTwo) {
    EXPECT_EQ(RunCli(""), 2);
    EXPECT_EQ(RunCli("-o /tmp/x --beside-source a.doc"), 2);
    EXPECT_EQ(RunCli("--on-exists sometimes a.doc"), 2);
    EXPECT_EQ(RunCli("--keep-tree a.doc"), 2);
    EXPECT_EQ(RunCli("--jobs 0 a.doc"), 2);
    EXPECT_EQ(RunCli("--help"), 0);
}

TEST(Cli, EveryInputEndsInOneOutcomeAndNamesFollowTheRules) {
    VELLUMOR_REQUIRE_CORPUS();
    TempFolder dir;
    Copy("poi_Bug54849.docx", dir / "in" / "A.DOCX");
    Copy("poi_footnote.doc", dir / "in" / "sub" / "b.doc");
    std::ofstream(dir / "in" / "notes.doc");  // empty: refused by the input check
    std::ofstream(dir / "in" / "~$A.DOCX") << "lock";
    std::ofstream(dir / "in" / "readme.txt") << "not an input";
    fs::path out = dir / "out", json = dir / "r.json";

    EXPECT_EQ(RunCli("--recursive --keep-tree --jobs 2 -o " + Q(out) + " --json " + Q(json) + " " +
                     Q(dir / "in") + " " + Q(dir / "missing.docx")),
              1);
    EXPECT_TRUE(fs::exists(out / "A.pdf"));
    EXPECT_TRUE(fs::exists(out / "sub" / "b.pdf"));
    auto records = ReadJson(json);
    ASSERT_EQ(records.size(), 5u);  // four found in the folder, one missing file
    std::map<std::string, nlohmann::json> by;
    for (auto& r : records) by[fs::path(r["input"].get<std::string>()).filename().string()] = r;
    EXPECT_EQ(by["A.DOCX"]["outcome"], "converted");
    EXPECT_EQ(by["A.DOCX"]["pages"], 1);  // as Word lays it out
    EXPECT_EQ(by["b.doc"]["outcome"], "converted");
    EXPECT_EQ(by["notes.doc"]["outcome"], "failed");
    EXPECT_NE(by["notes.doc"]["reason"].get<std::string>().find("empty"), std::string::npos);
    EXPECT_EQ(by["~$A.DOCX"]["outcome"], "skipped");
    EXPECT_EQ(by["missing.docx"]["outcome"], "failed");

    // An existing PDF: renamed, or skipped, never lost.
    EXPECT_EQ(RunCli("--on-exists rename -o " + Q(out) + " " + Q(dir / "in" / "A.DOCX")), 0);
    EXPECT_TRUE(fs::exists(out / "A (1).pdf"));
    EXPECT_EQ(RunCli("--on-exists skip -o " + Q(out) + " --json " + Q(json) + " " +
                     Q(dir / "in" / "A.DOCX")),
              0);
    EXPECT_EQ(ReadJson(json)[0]["outcome"], "skipped");
    // Beside the source by default.
    EXPECT_EQ(RunCli(Q(dir / "in" / "sub" / "b.doc")), 0);
    EXPECT_TRUE(fs::exists(dir / "in" / "sub" / "b.pdf"));
}

// The page count Word recorded travels with each record, and the summary names the PDFs whose
// count differs from it.
TEST(Cli, RecordsCarryWordsPageCountAndTheSummaryNamesThoseThatDiffer) {
    VELLUMOR_REQUIRE_CORPUS();
    TempFolder dir;
    Copy("poi_Bug54849.docx", dir / "in" / "same.docx");          // Word counted 1 page
    Copy("poi_DiffFirstPageHeadFoot.doc", dir / "in" / "b.doc");  // Word counted 2
    Copy("poi_Bug54849.docx", dir / "in" / "stale.docx");
    // The same document with a count Word left stale.
    fs::create_directories(dir / "parts" / "docProps");
    std::ofstream(dir / "parts" / "docProps" / "app.xml")
        << "<Properties><Pages>3</Pages><Application>Microsoft Office Word</Application>"
           "</Properties>";
    ASSERT_EQ(std::system(("cd " + Q(dir / "parts") + " && zip -q " + Q(dir / "in" / "stale.docx") +
                           " docProps/app.xml")
                              .c_str()),
              0);
    const fs::path out = dir / "out", json = dir / "r.json", jsonl = dir / "r.jsonl";
    const std::string command = "'" + std::string(VELLUMOR_CLI) + "' --jobs 2 -o " + Q(out) +
                                " --json " + Q(json) + " --jsonl " + Q(jsonl) + " " +
                                Q(dir / "in") + " 2>/dev/null";
    std::string printed;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            printed.append(buffer, n);
        pclose(pipe);
    }
    std::map<std::string, nlohmann::json> by;
    for (auto& r : ReadJson(json))
        by[fs::path(r["input"].get<std::string>()).filename().string()] = r;
    EXPECT_EQ(by["same.docx"]["word_pages"], 1);
    EXPECT_EQ(by["b.doc"]["word_pages"], 2);
    EXPECT_EQ(by["stale.docx"]["word_pages"], 3);
    EXPECT_EQ(by["stale.docx"]["pages"], 1);
    EXPECT_NE(printed.find("stale.pdf: Word counted 3 pages; the PDF has 1\n"), std::string::npos)
        << printed;
    EXPECT_EQ(printed.find("same.pdf: Word counted"), std::string::npos) << printed;
    EXPECT_NE(printed.find("can be stale"), std::string::npos) << printed;
    EXPECT_NE(printed.find("; Word counted 3)"), std::string::npos) << printed;
    std::ifstream lines(jsonl);
    std::string line, last;
    while (std::getline(lines, line)) last = line;
    const auto differ = nlohmann::json::parse(last)["summary"]["pages_differ_from_word"];
    ASSERT_EQ(differ.size(), 1u) << last;
    EXPECT_EQ(fs::path(differ[0].get<std::string>()).filename(), "stale.pdf");
}

TEST(Cli, TheRunGoesOnWhenTheEngineHangsOrDies) {
    VELLUMOR_REQUIRE_CORPUS();
    TempFolder dir;
    Copy("poi_Bug54849.docx", dir / "in" / "1-hangs.docx");
    Copy("poi_Bug54849.docx", dir / "in" / "2-fine.docx");
    Copy("poi_footnote.doc", dir / "in" / "3-dies.doc");
    Copy("poi_footnote.doc", dir / "in" / "4-fine.doc");
    fs::path json = dir / "r.json";
    std::string worker = "VELLUMOR_ENGINE_PATH='" + std::string(VELLUMOR_TEST_WORKER) + "' ";
    EXPECT_EQ(RunCli("--jobs 1 --timeout 3 --json " + Q(json) + " " + Q(dir / "in"),
                     worker + "VELLUMOR_ENGINE_FAULT=hang:hangs"),
              1);
    auto records = ReadJson(json);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0]["outcome"], "failed");
    EXPECT_NE(records[0]["reason"].get<std::string>().find("did not finish loading"),
              std::string::npos);
    EXPECT_EQ(records[1]["outcome"], "converted");
    EXPECT_EQ(records[3]["outcome"], "converted");

    fs::remove_all(dir / "in" / "2-fine.pdf");
    EXPECT_EQ(RunCli("--jobs 1 --json " + Q(json) + " " + Q(dir / "in" / "3-dies.doc") + " " +
                         Q(dir / "in" / "2-fine.docx"),
                     worker + "VELLUMOR_ENGINE_FAULT=crash:dies"),
              1);
    records = ReadJson(json);
    EXPECT_EQ(records[0]["outcome"], "failed");
    EXPECT_NE(records[0]["reason"].get<std::string>().find("crashed the document engine twice"),
              std::string::npos);
    EXPECT_EQ(records[1]["outcome"], "converted");
    EXPECT_TRUE(fs::exists(dir / "in" / "2-fine.pdf"));
}

namespace {

using Clock = std::chrono::steady_clock;
// VELLUMOR_TEST_ENGINE runs these tests against another worker with the same fault hooks
// (the script worker's tests/engine/script_worker_testhooks.py).
const std::string kWorker = std::getenv("VELLUMOR_TEST_ENGINE")
                                ? std::getenv("VELLUMOR_TEST_ENGINE")
                                : VELLUMOR_TEST_WORKER;

// Starts the CLI with default signal handling (as from an interactive shell) and the test
// worker; VELLUMOR_TEST_RUN marks its processes, so the test can look for leftovers.
pid_t StartCli(const std::vector<std::string>& arguments, const std::string& mark,
               const std::string& fault = "") {
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        setenv("VELLUMOR_ENGINE_PATH", kWorker.c_str(), 1);
        setenv("VELLUMOR_TEST_RUN", mark.c_str(), 1);
        if (!fault.empty()) setenv("VELLUMOR_ENGINE_FAULT", fault.c_str(), 1);
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        std::vector<char*> argv{const_cast<char*>(VELLUMOR_CLI)};
        for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(VELLUMOR_CLI, argv.data());
        _exit(127);
    }
    return pid;
}

// The exit code, or -1 when the program did not end in time (it is killed then).
int WaitForExit(pid_t pid, std::chrono::seconds within) {
    auto until = Clock::now() + within;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > until) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The JSON lines of a report; a last line cut short by a kill is left out.
std::vector<nlohmann::json> ReadLines(const fs::path& file) {
    std::vector<nlohmann::json> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        try {
            lines.push_back(nlohmann::json::parse(line));
        } catch (const nlohmann::json::exception&) {
        }
    }
    return lines;
}

std::vector<nlohmann::json> Records(const std::vector<nlohmann::json>& lines) {
    std::vector<nlohmann::json> records;
    for (const auto& line : lines)
        if (line.contains("input")) records.push_back(line);
    return records;
}

bool WaitForRecords(const fs::path& jsonl, std::size_t count, std::chrono::seconds within) {
    auto until = Clock::now() + within;
    while (Records(ReadLines(jsonl)).size() < count)
        if (Clock::now() > until)
            return false;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return true;
}

// Processes still running with this run's mark in their environment.
int ProcessesMarked(const std::string& mark) {
    int found = 0;
    std::string needle = "VELLUMOR_TEST_RUN=" + mark;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream environ(entry.path() / "environ", std::ios::binary);
        std::stringstream text;
        text << environ.rdbuf();
        std::string env = text.str();
        for (std::size_t at = 0; at < env.size(); at = env.find('\0', at) + 1) {
            if (env.compare(at, needle.size() + 1, needle + '\0') == 0) {
                ++found;
                break;
            }
            if (env.find('\0', at) == std::string::npos) break;
        }
    }
    return found;
}

bool NoProcessesMarkedWithin(const std::string& mark, std::chrono::seconds within) {
    auto until = Clock::now() + within;
    while (ProcessesMarked(mark) > 0)
        if (Clock::now() > until)
            return false;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return true;
}

std::map<std::string, nlohmann::json> ByName(const std::vector<nlohmann::json>& records) {
    std::map<std::string, nlohmann::json> by;
    for (auto& r : records) by[fs::path(r["input"].get<std::string>()).filename().string()] = r;
    return by;
}

std::vector<std::string> PdfsIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() != ".docx" && entry.path().extension() != ".doc")
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::uint64_t Fnv1a64(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

}  // namespace

// A worker that cannot start the office here (as the C++ worker once could not on a newer
// office) gives way to the script worker beside it, with one line saying so.
TEST(Cli, AWorkerThatCannotStartTheOfficeGivesWayToTheScriptWorker) {
    VELLUMOR_REQUIRE_CORPUS();
    TempFolder dir;
    const fs::path lib = dir / "lib";
    fs::create_directories(lib);
    for (const char* name : {"vellumor_engine.py", "office_settings.ini"})
        fs::copy_file(fs::path(VELLUMOR_SCRIPT_FOLDER) / name, lib / name);
    const fs::path worker = lib / "vellumor-engine";
    std::ofstream(worker) << "#!/bin/sh\nexec /usr/bin/python3 - \"$@\" <<'EOF'\n"
                             "import os, socket, sys\nsys.path.insert(0, '"
                          << lib.string()
                          << "')\nimport vellumor_engine as ve\n"
                             "s = socket.create_connection(('127.0.0.1', int(sys.argv[1])))\n"
                             "s.sendall(ve.encode_frame(ve.Message(ve.HELLO, version="
                             "ve.PROTOCOL_VERSION, token=os.environ[ve.TOKEN_VARIABLE], "
                             "pid=os.getpid())))\n"
                             "s.sendall(ve.encode_frame(ve.Message(ve.READY, status=ve."
                             "START_FAILED, text='no main loop here')))\nEOF\n";
    fs::permissions(worker, fs::perms::owner_all);
    Copy("poi_footnote.doc", dir / "in" / "a.doc");
    const fs::path json = dir / "r.json", said = dir / "said.txt";
    const std::string command = "VELLUMOR_ENGINE_PATH=" + Q(worker) + " '" +
                                std::string(VELLUMOR_CLI) + "' --jobs 1 --json " + Q(json) + " " +
                                Q(dir / "in") + " >/dev/null 2>" + Q(said);
    EXPECT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(said);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text,
              "vellumor-cli: The document engine could not start the office: no main loop "
              "here; converting with the script worker " +
                  (lib / "vellumor_engine.py").string() + " instead\n");
    auto records = ReadJson(json);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["outcome"], "converted");
}

TEST(Cli, JsonlRecordsAreWrittenAsDocumentsEndAndSurviveAKill) {
    VELLUMOR_REQUIRE_CORPUS();
    TempFolder dir;
    Copy("poi_footnote.doc", dir / "in" / "1.doc");
    Copy("poi_Bug54849.docx", dir / "in" / "2-hangs.docx");
    fs::path jsonl = dir / "r.jsonl";
    std::string mark = dir.path().string();
    pid_t cli = StartCli(
        {"--jobs", "1", "--timeout", "60", "--jsonl", jsonl.string(), (dir / "in").string()}, mark,
        "hang:hangs");
    ASSERT_TRUE(WaitForRecords(jsonl, 1, std::chrono::seconds(60)));
    kill(cli, SIGKILL);
    WaitForExit(cli, std::chrono::seconds(10));

    auto lines = ReadLines(jsonl);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0]["arguments"][0], (dir / "in").string());
    EXPECT_EQ(lines[0]["inputs"]["count"], 2);
    auto records = Records(lines);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["outcome"], "converted");
    EXPECT_EQ(records[0]["source_size"], fs::file_size(dir / "in" / "1.doc"));
    EXPECT_EQ(records[0]["pdf_size"], fs::file_size(dir / "in" / "1.pdf"));
    EXPECT_TRUE(records[0].contains("source_mtime_ns"));
    // The worker notices its client is gone and ends itself.
    EXPECT_TRUE(NoProcessesMarkedWithin(mark, std::chrono::seconds(5)));
}

TEST(Cli, CtrlCLetsTheDocumentInProgressEndAndRecordsTheRestAsInterrupted) {
    VELLUMOR_REQUIRE_CORPUS();
    TempFolder dir;
    Copy("poi_footnote.doc", dir / "in" / "1.doc");
    Copy("poi_Bug54849.docx", dir / "in" / "2-hangs.docx");
    Copy("poi_footnote.doc", dir / "in" / "3.doc");
    Copy("poi_Bug54849.docx", dir / "in" / "4.docx");
    fs::path jsonl = dir / "r.jsonl", json = dir / "r.json";
    std::string mark = dir.path().string();
    std::vector<std::string> arguments{
        "--jobs", "1", "--jsonl", jsonl.string(), "--json", json.string(), (dir / "in").string()};

    // One Ctrl+C: the hanging document runs out its three seconds, nothing else starts.
    auto withTimeout = arguments;
    withTimeout.insert(withTimeout.begin(), {"--timeout", "3"});
    pid_t cli = StartCli(withTimeout, mark, "hang:hangs");
    ASSERT_TRUE(WaitForRecords(jsonl, 1, std::chrono::seconds(60)));
    kill(cli, SIGINT);
    EXPECT_EQ(WaitForExit(cli, std::chrono::seconds(30)), 130);
    EXPECT_EQ(ProcessesMarked(mark), 0);
    auto by = ByName(ReadJson(json).get<std::vector<nlohmann::json>>());
    EXPECT_EQ(by["1.doc"]["outcome"], "converted");
    EXPECT_EQ(by["2-hangs.docx"]["outcome"], "failed");
    for (const char* name : {"3.doc", "4.docx"}) {
        EXPECT_EQ(by[name]["outcome"], "skipped") << name;
        EXPECT_EQ(by[name]["reason"], "interrupted") << name;
    }
    EXPECT_EQ(Records(ReadLines(jsonl)).size(), 4u);
    EXPECT_TRUE(ReadLines(jsonl).back()["summary"]["interrupted"]);
    EXPECT_EQ(PdfsIn(dir / "in"), std::vector<std::string>{"1.pdf"});

    // Two: the hanging document is stopped at once, long before its minute is up.
    fs::remove(dir / "in" / "1.pdf");
    fs::remove(jsonl);
    auto withMinute = arguments;
    withMinute.insert(withMinute.begin(), {"--timeout", "60"});
    cli = StartCli(withMinute, mark, "hang:hangs");
    ASSERT_TRUE(WaitForRecords(jsonl, 1, std::chrono::seconds(60)));
    auto interrupted = Clock::now();
    kill(cli, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(cli, SIGINT);
    EXPECT_EQ(WaitForExit(cli, std::chrono::seconds(30)), 130);
    EXPECT_LT(Clock::now() - interrupted, std::chrono::seconds(15));
    EXPECT_EQ(ProcessesMarked(mark), 0);
    auto records = ReadJson(json);
    ASSERT_EQ(records.size(), 4u);
    int converted = 0, stopped = 0;
    for (auto& r : records) {
        converted += r["outcome"] == "converted";
        stopped += r["outcome"] == "skipped" && r["reason"] == "interrupted";
    }
    EXPECT_EQ(converted, 1);
    EXPECT_EQ(stopped, 3);
    EXPECT_EQ(PdfsIn(dir / "in"), std::vector<std::string>{"1.pdf"});  // no partial PDF left
}

TEST(Cli, ResumeConvertsWhatIsLeftAndWhatChanged) {
    VELLUMOR_REQUIRE_CORPUS();
    TempFolder dir;
    for (const char* name : {"a.doc", "b.doc", "c.doc"})
        Copy("poi_footnote.doc", dir / "in" / name);
    fs::path first = dir / "first.jsonl", second = dir / "second.json", third = dir / "third.jsonl";
    std::string worker = "VELLUMOR_ENGINE_PATH='" + kWorker + "' ";
    // A first run that got as far as a and b.
    ASSERT_EQ(RunCli("--jobs 1 --jsonl " + Q(first) + " " + Q(dir / "in" / "a.doc") + " " +
                         Q(dir / "in" / "b.doc"),
                     worker),
              0);
    EXPECT_EQ(RunCli("--jobs 1 --resume " + Q(first) + " --json " + Q(second) + " " +
                         Q(dir / "in" / "a.doc") + " " + Q(dir / "in" / "b.doc") + " " +
                         Q(dir / "in" / "c.doc"),
                     worker),
              0);
    auto by = ByName(ReadJson(second).get<std::vector<nlohmann::json>>());
    EXPECT_EQ(by["a.doc"]["carried_over"], true);
    EXPECT_EQ(by["b.doc"]["carried_over"], true);
    EXPECT_EQ(by["c.doc"]["outcome"], "converted");
    EXPECT_FALSE(by["c.doc"].contains("carried_over"));

    // A touched source and a deleted PDF are converted again; a PDF of another size is not
    // trusted either. The --json report serves as well as the --jsonl one.
    fs::last_write_time(dir / "in" / "a.doc",
                        fs::last_write_time(dir / "in" / "a.doc") + std::chrono::seconds(5));
    fs::remove(dir / "in" / "b.pdf");
    std::ofstream(dir / "in" / "c.pdf", std::ios::app) << "trailing bytes";
    Copy("poi_footnote.doc", dir / "in" / "d.doc");
    EXPECT_EQ(
        RunCli("--jobs 1 --resume " + Q(second) + " --jsonl " + Q(third) + " " + Q(dir / "in"),
               worker),
        0);
    by = ByName(Records(ReadLines(third)));
    ASSERT_EQ(by.size(), 4u);
    for (const char* name : {"a.doc", "b.doc", "c.doc", "d.doc"}) {
        EXPECT_EQ(by[name]["outcome"], "converted") << name;
        EXPECT_FALSE(by[name].contains("carried_over")) << name;
    }
    // And now all four are as the last run left them.
    EXPECT_EQ(RunCli("--resume " + Q(third) + " --json " + Q(second) + " " + Q(dir / "in"), worker),
              0);
    for (auto& r : ReadJson(second)) EXPECT_EQ(r["carried_over"], true) << r["input"];
    // A file that is not a report is a usage error, before anything is converted.
    EXPECT_EQ(RunCli("--resume " + Q(dir / "in" / "a.doc") + " " + Q(dir / "in"), worker), 2);
}

TEST(Cli, ShardsSplitTheTreeAndMergeChecksEveryInputIsThereOnce) {
    TempFolder dir;
    // Inputs the input check refuses at once: every one ends in a record without the office.
    std::set<std::string> all;
    for (int i = 0; i < 12; ++i) {
        std::string relative = (i % 3 ? "sub/" : "") + std::to_string(i) + ".doc";
        fs::create_directories((dir / "tree" / relative).parent_path());
        std::ofstream(dir / "tree" / relative);
        all.insert(relative);
    }
    std::string worker = "VELLUMOR_ENGINE_PATH='" + kWorker + "' ";
    std::set<std::string> seen;
    std::vector<fs::path> reports;
    for (int k = 0; k < 3; ++k) {
        fs::path report = dir / ("shard" + std::to_string(k) + ".jsonl");
        reports.push_back(report);
        // Shard 1 takes its index from a Slurm array numbered from 1.
        std::string shard = k == 1 ? "auto/3" : std::to_string(k) + "/3";
        std::string env = worker + (k == 1 ? "SLURM_ARRAY_TASK_ID=2 SLURM_ARRAY_TASK_MIN=1 " : "");
        EXPECT_EQ(
            RunCli("--recursive --shard " + shard + " --jsonl " + Q(report) + " " + Q(dir / "tree"),
                   env),
            1);
        auto lines = ReadLines(report);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0]["shard"]["index"], k);
        EXPECT_EQ(lines[0]["inputs"]["count"], 12);
        for (auto& r : Records(lines)) {
            std::string relative = r["relative"];
            EXPECT_EQ(Fnv1a64(relative) % 3, static_cast<std::uint64_t>(k)) << relative;
            EXPECT_TRUE(seen.insert(relative).second) << relative << " in two shards";
        }
    }
    EXPECT_EQ(seen, all);
    // Kubernetes' index works the same way.
    fs::path indexed = dir / "indexed.jsonl";
    RunCli("--recursive --shard auto/3 --jsonl " + Q(indexed) + " " + Q(dir / "tree"),
           worker + "JOB_COMPLETION_INDEX=2");
    EXPECT_EQ(Records(ReadLines(indexed)).size(), Records(ReadLines(reports[2])).size());
    EXPECT_EQ(RunCli("--shard 3/3 " + Q(dir / "tree"), worker), 2);
    EXPECT_EQ(RunCli("--shard auto/3 " + Q(dir / "tree"), worker), 2);

    fs::path merged = dir / "merged.jsonl";
    auto merge = [&](const std::vector<fs::path>& files) {
        std::string arguments = "merge -o " + Q(merged);
        for (const auto& f : files) arguments += " " + Q(f);
        return RunCli(arguments);
    };
    EXPECT_EQ(merge(reports), 0);
    EXPECT_EQ(Records(ReadLines(merged)).size(), 12u);
    EXPECT_TRUE(ReadLines(merged).back()["summary"]["complete"]);

    // A report that lost a record, a shard given twice, a shard not given at all.
    fs::path cut = dir / "cut.jsonl";
    {
        auto lines = ReadLines(reports[0]);
        std::ofstream out(cut);
        bool dropped = false;
        for (auto& line : lines) {
            if (line.contains("input") && !dropped) {
                dropped = true;
                continue;
            }
            out << line.dump() << "\n";
        }
        ASSERT_TRUE(dropped);
    }
    EXPECT_EQ(merge({cut, reports[1], reports[2]}), 1);
    EXPECT_EQ(merge({reports[0], reports[0], reports[1], reports[2]}), 1);
    EXPECT_EQ(merge({reports[0], reports[1]}), 1);
    EXPECT_EQ(merge({dir / "tree" / "0.doc"}), 2);
}

TEST(Cli, PlanOnlyCountsWithoutConverting) {
    VELLUMOR_REQUIRE_CORPUS();
    TempFolder dir;
    Copy("poi_footnote.doc", dir / "in" / "a.doc");
    Copy("poi_footnote.doc", dir / "in" / "b.doc");
    EXPECT_EQ(RunCli("--plan-only " + Q(dir / "in")), 0);
    EXPECT_EQ(PdfsIn(dir / "in"), std::vector<std::string>{});
}

// ---- real folders: links, second names, folders and files that cannot be read ----

namespace {

struct Ran {
    int code = -1;
    std::string out;  // standard output
};

// Runs a shell command and keeps what it writes to standard output and its exit code.
Ran RunShell(const std::string& command) {
    Ran ran;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return ran;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) ran.out.append(buffer, n);
    int status = pclose(pipe);
    ran.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ran;
}

Ran RunCliOutput(const std::string& arguments, const std::string& environment = "",
                 const std::string& asUser = "") {
    std::string command = environment + " " + asUser + " '" + std::string(VELLUMOR_CLI) + "' " +
                          arguments + " 2>/dev/null";
    return RunShell(command);
}

// The closing summary line of a run.
std::string SummaryLine(const std::string& out) {
    auto end = out.find_last_not_of('\n');
    if (end == std::string::npos) return "";
    auto start = out.rfind('\n', end);
    return out.substr(start == std::string::npos ? 0 : start + 1, end - start);
}

// The records of the first argument by their path below it.
std::map<std::string, nlohmann::json> ByRelative(const nlohmann::json& records) {
    std::map<std::string, nlohmann::json> by;
    for (const auto& r : records)
        if (r["argument"] == 0) by[r["relative"].get<std::string>()] = r;
    return by;
}

}  // namespace

TEST(CliFolders, AFolderOfFortyLinksConvertsFortyDocuments) {
    VELLUMOR_REQUIRE_CORPUS();
    TempFolder dir;
    for (int i = 0; i < 40; ++i) {
        std::string name = (i < 10 ? "0" : "") + std::to_string(i);
        Copy(i % 2 ? "poi_footnote.doc" : "poi_Bug54849.docx",
             dir / "store" / (name + (i % 2 ? ".doc" : ".docx")));
        fs::create_directories(dir / "links");
        fs::create_symlink(fs::path("..") / "store" / (name + (i % 2 ? ".doc" : ".docx")),
                           dir / "links" / ("doc-" + name + (i % 2 ? ".doc" : ".docx")));
    }
    fs::path json = dir / "r.json", jsonl = dir / "r.jsonl";
    Ran ran = RunCliOutput("--jobs 1 -o " + Q(dir / "out") + " --json " + Q(json) + " --jsonl " +
                           Q(jsonl) + " " + Q(dir / "links"));
    EXPECT_EQ(ran.code, 0) << ran.out;
    auto records = ReadJson(json);
    ASSERT_EQ(records.size(), 40u);
    for (const auto& r : records) EXPECT_EQ(r["outcome"], "converted") << r.dump();
    EXPECT_EQ(PdfsIn(dir / "out").size(), 40u);
    EXPECT_NE(
        SummaryLine(ran.out).find("40 inputs: 40 converted, 0 duplicates, 0 skipped, 0 failed"),
        std::string::npos)
        << ran.out;
    auto summary = ReadLines(jsonl).back()["summary"];
    EXPECT_EQ(summary["converted"], 40);
    EXPECT_EQ(summary["duplicates"], 0);
}

TEST(CliFolders, SecondNamesAreDuplicatesAndLinksThatLeadNowhereFail) {
    VELLUMOR_REQUIRE_CORPUS();
    TempFolder dir;
    fs::path in = dir / "in";
    Copy("poi_footnote.doc", in / "a.doc");
    fs::create_symlink("a.doc", in / "b-link.doc");  // a link to a document of the folder
    fs::create_hard_link(in / "a.doc", in / "c-hard.doc");
    fs::create_symlink("0-link.doc", in / "0-link.doc");  // a link to itself: a circle
    fs::create_symlink("missing.doc", in / "d-dangling.doc");
    fs::create_symlink("missing-folder", in / "e-dangling");  // not a document name: ignored
    Copy("poi_Bug54849.docx", dir / "elsewhere" / "x.docx");
    fs::create_symlink(fs::path("..") / "elsewhere", in / "f-folder");
    fs::create_symlink(fs::path("..") / "elsewhere", in / "g-folder");  // the same folder again
    fs::create_directories(in / "sub");
    fs::create_symlink(fs::path(".."), in / "sub" / "up");  // back up: a loop
    fs::path json = dir / "r.json", jsonl = dir / "r.jsonl";

    Ran ran = RunCliOutput("--recursive --jobs 1 -o " + Q(dir / "out") + " --keep-tree --json " +
                           Q(json) + " --jsonl " + Q(jsonl) + " " + Q(in) + " " + Q(in / "a.doc"));
    EXPECT_EQ(ran.code, 1) << ran.out;
    auto records = ReadJson(json);
    auto by = ByRelative(records);
    ASSERT_EQ(records.size(), 7u) << records.dump(1);
    // The document itself converts, whichever of its names sorts first.
    EXPECT_EQ(by["a.doc"]["outcome"], "converted");
    EXPECT_EQ(by["a.doc"]["input"], (in / "a.doc").string());
    for (const char* second : {"b-link.doc", "c-hard.doc"}) {
        EXPECT_EQ(by[second]["outcome"], "skipped") << second;
        EXPECT_EQ(by[second]["duplicate_of"], (in / "a.doc").string()) << second;
        EXPECT_EQ(by[second]["reason"], "the same document as " + (in / "a.doc").string());
    }
    EXPECT_EQ(by["0-link.doc"]["outcome"], "failed");
    EXPECT_EQ(by["0-link.doc"]["reason"], "a link that leads in a circle");
    EXPECT_EQ(by["d-dangling.doc"]["outcome"], "failed");
    EXPECT_EQ(by["d-dangling.doc"]["reason"], "a link to missing.doc, which does not exist");
    // A linked folder is searched once, under the first name that reaches it; "up" leads back
    // to a folder already searched and ends there.
    EXPECT_EQ(by["f-folder/x.docx"]["outcome"], "converted");
    EXPECT_TRUE(fs::exists(dir / "out" / "f-folder" / "x.pdf"));
    EXPECT_EQ(by.count("g-folder/x.docx"), 0u);
    // The file argument naming a.doc again: the second argument's record, a duplicate.
    ASSERT_EQ(records[6]["argument"], 1);
    EXPECT_EQ(records[6]["duplicate_of"], (in / "a.doc").string());
    EXPECT_EQ(records[6]["reason"], "named more than once");

    EXPECT_NE(SummaryLine(ran.out).find("7 inputs: 2 converted, 3 duplicates, 0 skipped, 2 failed"),
              std::string::npos)
        << ran.out;
    EXPECT_NE(ran.out.find("duplicate " + (in / "b-link.doc").string() + ": the same document as"),
              std::string::npos)
        << ran.out;
    auto summary = ReadLines(jsonl).back()["summary"];
    EXPECT_EQ(summary["skipped"], 3);
    EXPECT_EQ(summary["duplicates"], 3);
    EXPECT_EQ(summary["skipped_other"], 0);
    EXPECT_EQ(summary["failed"], 2);
}

TEST(CliFolders, AFileThatVanishesBeforeItsTurnFailsAndTheRunGoesOn) {
    VELLUMOR_REQUIRE_CORPUS();
    TempFolder dir;
    Copy("poi_Bug54849.docx", dir / "in" / "1-hangs.docx");
    Copy("poi_footnote.doc", dir / "in" / "2-vanishes.doc");
    Copy("poi_footnote.doc", dir / "in" / "3-fine.doc");
    fs::path jsonl = dir / "r.jsonl", json = dir / "r.json";
    pid_t cli = StartCli({"--jobs", "1", "--timeout", "3", "--jsonl", jsonl.string(), "--json",
                          json.string(), (dir / "in").string()},
                         dir.path().string(), "hang:hangs");
    // The header is written once the folder is listed; the first document then hangs a while.
    auto until = Clock::now() + std::chrono::seconds(30);
    while (ReadLines(jsonl).empty() && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    fs::remove(dir / "in" / "2-vanishes.doc");
    EXPECT_EQ(WaitForExit(cli, std::chrono::seconds(180)), 1);
    auto by = ByRelative(ReadJson(json));
    EXPECT_EQ(by["1-hangs.docx"]["outcome"], "failed");
    EXPECT_EQ(by["2-vanishes.doc"]["outcome"], "failed");
    EXPECT_EQ(by["2-vanishes.doc"]["reason"], "cannot open the file: no such file or folder");
    EXPECT_EQ(by["3-fine.doc"]["outcome"], "converted");
}

namespace {

// Runs commands as an ordinary user: root reads every folder whatever its permissions. Empty
// with why when that cannot be arranged.
std::string OrdinaryUser(std::string& why) {
    if (geteuid() != 0) return " ";  // already one
    if (std::system("setpriv --reuid=65534 --regid=65534 --clear-groups true >/dev/null 2>&1") !=
        0) {
        why = "running as root and setpriv cannot switch to user 65534";
        return "";
    }
    return "setpriv --reuid=65534 --regid=65534 --clear-groups";
}

}  // namespace

TEST(CliFolders, FoldersAndFilesThatCannotBeReadAreFailedRecords) {
    VELLUMOR_REQUIRE_CORPUS();
    std::string why;
    std::string asUser = OrdinaryUser(why);
    if (asUser.empty()) GTEST_SKIP() << why;
    TempFolder dir;
    fs::path in = dir / "in";
    Copy("poi_footnote.doc", in / "ok.doc");
    Copy("poi_footnote.doc", in / "closed" / "inside.doc");
    Copy("poi_footnote.doc", in / "secret.doc");
    Copy("poi_footnote.doc", in / "deeper" / "fine.doc");
    fs::create_directories(dir / "cache");
    // Everything the other user needs: the folders, the documents, a place for the office's
    // profile; then the folder and the file it must not read.
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
        fs::permissions(entry.path(), entry.is_directory() ? fs::perms::all : fs::perms(0644));
    }
    fs::permissions(dir.path(), fs::perms::all);
    fs::permissions(in / "closed", fs::perms::none);
    fs::permissions(in / "secret.doc", fs::perms::none);
    std::string environment = "HOME=" + Q(dir / "cache") + " XDG_CACHE_HOME=" + Q(dir / "cache");
    fs::path json = dir / "r.json";

    Ran ran =
        RunCliOutput("--recursive --jobs 1 --json " + Q(json) + " " + Q(in), environment, asUser);
    EXPECT_EQ(ran.code, 1) << ran.out;
    auto by = ByRelative(ReadJson(json));
    ASSERT_EQ(by.size(), 4u) << ReadJson(json).dump(1);
    EXPECT_EQ(by["closed/"]["outcome"], "failed");
    EXPECT_EQ(by["closed/"]["input"], (in / "closed").string());
    EXPECT_EQ(by["closed/"]["reason"],
              "cannot read the folder " + (in / "closed").string() + ": permission denied");
    EXPECT_EQ(by["secret.doc"]["outcome"], "failed");
    EXPECT_EQ(by["secret.doc"]["reason"], "cannot open the file: permission denied");
    EXPECT_EQ(by["ok.doc"]["outcome"], "converted");
    EXPECT_EQ(by["deeper/fine.doc"]["outcome"], "converted");
    EXPECT_NE(SummaryLine(ran.out).find("2 converted, 0 duplicates, 0 skipped, 2 failed"),
              std::string::npos)
        << ran.out;

    // A folder argument that cannot be read at all: one record, exit code 1.
    ran = RunCliOutput("--json " + Q(json) + " " + Q(in / "closed"), environment, asUser);
    EXPECT_EQ(ran.code, 1) << ran.out;
    auto records = ReadJson(json);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["relative"], "./");
    EXPECT_EQ(records[0]["reason"],
              "cannot read the folder " + (in / "closed").string() + ": permission denied");
    fs::permissions(in / "closed", fs::perms::all);  // so the folder can be removed
}

// ---- lists of paths from other tools (--files-from) ----

namespace {

// Standard output and standard error together.
Ran RunCliAll(const std::string& arguments) {
    return RunShell("'" + std::string(VELLUMOR_CLI) + "' " + arguments + " 2>&1");
}

void Touch(const fs::path& file, const std::string& content = "") {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
}

void WriteList(const fs::path& list, const std::vector<fs::path>& paths, char end) {
    std::ofstream out(list, std::ios::binary);
    for (const auto& path : paths) out << path.string() << end;
}

}  // namespace

// The run decides every input in its plan here (each PDF exists and --on-exists skip keeps it),
// so the records are compared without an engine.
TEST(CliFilesFrom, AListGivesTheRecordsOrderAndDuplicatesOfTheSameArguments) {
    TempFolder dir;
    for (const char* name :
         {"a.docx", "a.pdf", "b.doc", "b.pdf", "notes.txt", "sub/c.docx", "sub/c.pdf"})
        Touch(dir / name, "x");
    fs::create_symlink("a.docx", dir / "alias.docx");
    const std::vector<fs::path> inputs{dir / "b.doc", dir / "a.docx",     dir / "notes.txt",
                                       dir / "sub",   dir / "alias.docx", dir / "gone.docx",
                                       dir / "a.docx"};
    const std::string options = "--recursive --on-exists skip --json ";
    std::string arguments;
    for (const auto& input : inputs) arguments += " " + Q(input);
    ASSERT_EQ(RunCli(options + Q(dir / "arguments.json") + arguments), 1);
    const nlohmann::json expected = ReadJson(dir / "arguments.json");
    ASSERT_EQ(expected.size(), inputs.size());
    EXPECT_EQ(expected[4]["duplicate_of"], (dir / "a.docx").string());
    EXPECT_EQ(expected[6]["reason"], "named more than once");

    // Windows line ends and blank lines change nothing.
    {
        std::ofstream list(dir / "crlf.txt", std::ios::binary);
        for (const auto& input : inputs) list << "\r\n" << input.string() << "\r\n";
    }
    ASSERT_EQ(RunCli(options + Q(dir / "list.json") + " --files-from " + Q(dir / "crlf.txt")), 1);
    EXPECT_EQ(ReadJson(dir / "list.json"), expected);

    // Into a pipe: one line per input, nothing of the terminal's progress bar.
    Ran ran = RunCliAll(options + Q(dir / "piped.json") + " --files-from " + Q(dir / "crlf.txt"));
    EXPECT_NE(ran.out.find("duplicate " + (dir / "alias.docx").string()), std::string::npos)
        << ran.out;
    EXPECT_EQ(ran.out.find_first_of("\r\033"), std::string::npos) << ran.out;

    // Arguments first, then the list's paths, counted on as one command line.
    WriteList(dir / "rest.txt", {inputs.begin() + 2, inputs.end()}, '\n');
    ASSERT_EQ(RunCli(options + Q(dir / "both.json") + " --files-from " + Q(dir / "rest.txt") + " " +
                     Q(inputs[0]) + " " + Q(inputs[1])),
              1);
    EXPECT_EQ(ReadJson(dir / "both.json"), expected);
}

TEST(CliFilesFrom, NulSeparatedNamesMayHoldNewlines) {
    TempFolder dir;
    const std::vector<fs::path> inputs{dir / "two\nlines.docx", dir / "tab\tand\r.doc",
                                       dir / " lead and trail .docx"};
    for (const auto& input : inputs) {
        Touch(input, "x");
        Touch(fs::path(input).replace_extension(".pdf"), "x");
    }
    std::string arguments;
    for (const auto& input : inputs) arguments += " " + Q(input);
    const std::string options = "--on-exists skip --json ";
    ASSERT_EQ(RunCli(options + Q(dir / "arguments.json") + arguments), 0);
    const nlohmann::json expected = ReadJson(dir / "arguments.json");
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(expected[0]["input"], inputs[0].string());

    // From standard input, as find -print0 | vellumor-cli --files-from - -0 gives it.
    WriteList(dir / "list0", inputs, '\0');
    ASSERT_EQ(RunCli(options + Q(dir / "list.json") + " -0 --files-from - <" + Q(dir / "list0")),
              0);
    EXPECT_EQ(ReadJson(dir / "list.json"), expected);

    // Read one path a line, the same list would name other files: refused, and -0 named.
    Ran ran = RunCliAll("--plan-only --files-from - <" + Q(dir / "list0"));
    EXPECT_EQ(ran.code, 2) << ran.out;
    EXPECT_NE(ran.out.find("standard input"), std::string::npos) << ran.out;
    EXPECT_NE(ran.out.find("-0"), std::string::npos) << ran.out;
}

TEST(CliFilesFrom, AListThatCannotBeReadIsAUsageErrorThatNamesIt) {
    TempFolder dir;
    Ran ran = RunCliAll("--plan-only --files-from " + Q(dir / "missing.txt"));
    EXPECT_EQ(ran.code, 2);
    EXPECT_NE(
        ran.out.find("cannot read " + (dir / "missing.txt").string() + ": no such file or folder"),
        std::string::npos)
        << ran.out;
    ran = RunCliAll("--plan-only --files-from " + Q(dir.path()));
    EXPECT_EQ(ran.code, 2);
    EXPECT_NE(ran.out.find("cannot read " + dir.path().string() + ": it is a folder"),
              std::string::npos)
        << ran.out;
    // -0 belongs to a list; an empty list names no inputs, which is no error.
    EXPECT_EQ(RunCli("-0 " + Q(dir / "a.docx")), 2);
    Touch(dir / "empty.txt");
    ran = RunCliAll("--plan-only --files-from " + Q(dir / "empty.txt"));
    EXPECT_EQ(ran.code, 0) << ran.out;
    EXPECT_NE(ran.out.find("0 inputs: 0 to convert"), std::string::npos) << ran.out;
}

// Far more paths than a command line holds (the system's limit is about 2 MB of arguments), as
// an old export lists them: files that are there, files gone since, and second names.
TEST(CliFilesFrom, TwoHundredThousandPathsArePlanned) {
    TempFolder dir;
    std::vector<fs::path> paths;
    paths.reserve(200000);
    for (int i = 0; i < 190000; ++i) {
        fs::path file = dir / ("folder " + std::to_string(i / 2000)) /
                        ("document number " + std::to_string(i) + ".docx");
        if (i % 2000 == 0) fs::create_directories(file.parent_path());
        if (i % 19 < 10) std::ofstream{file};  // 100,000 there, 90,000 gone
        paths.push_back(file);
    }
    for (int i = 0; i < 10000; ++i) paths.push_back(paths[static_cast<std::size_t>(i) * 19]);
    WriteList(dir / "list.txt", paths, '\n');
    ASSERT_GT(fs::file_size(dir / "list.txt"), 10u << 20);

    Ran ran =
        RunCliAll("--plan-only -o " + Q(dir / "out") + " --files-from " + Q(dir / "list.txt"));
    EXPECT_EQ(ran.code, 0) << ran.out;
    EXPECT_NE(ran.out.find("200000 inputs: 100000 to convert, 0 converted before, 10000 "
                           "duplicates, 90000 skipped or failed"),
              std::string::npos)
        << ran.out;
}
