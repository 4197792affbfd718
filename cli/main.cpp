// vellumor-cli: converts .doc and .docx files to PDF in batches with the document engine.
//
//   vellumor-cli [options] PATH...
//   vellumor-cli [options] --files-from LIST [-0] [PATH...]
//   vellumor-cli merge [-o FILE] REPORT...
//   vellumor-cli --version
//
// Every input ends in exactly one outcome: converted (pages, seconds), skipped (why) or failed
// (why). Exit code 0 when nothing failed, 1 when something failed, 2 for a usage error, 130
// when the user interrupted the run (the reports are written all the same).
//
// main() reads as the run goes: the options, the plan, the run (a BatchRunner, with this
// console's progress as its observer), the report.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "cli/batch.h"
#include "cli/batch_runner.h"
#include "cli/platform.h"
#include "cli/report.h"
#include "core/path_list.h"
#include "core/progress.h"
#include "batch/worker_choice.h"
#include "batch/worker_pool.h"
#include "engine/client/worker_engine.h"

using namespace vellumor;
using namespace vellumor::cli;
using Clock = std::chrono::steady_clock;

namespace {

// The worker: --engine, else VELLUMOR_ENGINE_PATH, else the one the window would take
// (batch/worker_choice.h), else the package's, else the build tree's.
std::string WorkerPath(const std::string& chosen) {
    return ChooseWorker(!chosen.empty() ? chosen : Environment("VELLUMOR_ENGINE_PATH"));
}

// The console's side of a run: a bar with the pace and the time left on a terminal, one line
// per file otherwise (nothing of the bar reaches a pipe or a file); each finished job's record
// in the JSON Lines report, flushed at once so a killed run keeps it; Ctrl+C as the run's stop
// requests.
class ConsoleProgress : public BatchObserver {
  public:
    // toConvert of the total jobs go to the engine; the plan decided the others, which the run
    // reports first and which tell nothing of the pace.
    ConsoleProgress(std::size_t total, std::size_t toConvert, std::ofstream* jsonl)
        : total_(total),
          decided_(total - toConvert),
          terminal_(StderrIsTerminal()),
          jsonl_(jsonl),
          estimate_(toConvert),
          started_(Clock::now()) {
        // Drawn again every second as well, so that the pace and the time left move on while
        // long documents convert (and the bar shows while the office starts).
        if (terminal_) ticker_ = std::thread([this] { Tick(); });
    }
    ~ConsoleProgress() override { StopTicker(); }

    int StopRequests() override { return Interrupts(); }

    void Stopping() override {
        Say("vellumor-cli: interrupted; finishing the documents in progress (Ctrl+C again stops "
            "them)");
    }

    void IsolationWarning(const std::string& why) override {
        Say("vellumor-cli: warning: " + why + "; documents may reach the network");
    }

    void OfficeVersionWarning(const std::string& why) override {
        Say("vellumor-cli: warning: " + why + "; documents may convert with faults");
    }

    void JobEnded(const Job& job) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++done_;
        // Inputs a stopped run never started end at once and tell nothing of the pace either.
        if (done_ > decided_ && job.reason != kInterrupted) estimate_.Ended(Elapsed());
        if (job.outcome == Outcome::Converted) ++converted_;
        if (job.outcome == Outcome::Failed) ++failed_;
        if (jsonl_) {
            *jsonl_ << RecordOf(job).dump() << "\n";
            jsonl_->flush();
        }
        std::string line = LineFor(job);
        current_ = job.source;
        if (terminal_) {
            if (job.outcome != Outcome::Converted) {
                ClearBar();
                std::fprintf(stderr, "%s\n", line.c_str());
            }
            DrawBar(job.source);
        } else {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        }
    }

    void Finish() {
        StopTicker();
        std::lock_guard<std::mutex> lock(mutex_);
        if (terminal_) ClearBar();
    }

  private:
    void Tick() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!tick_.wait_for(lock, std::chrono::seconds(1), [this] { return finished_; }))
            DrawBar(current_);
    }

    void StopTicker() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        tick_.notify_all();
        if (ticker_.joinable()) ticker_.join();
    }

    void Say(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (terminal_) ClearBar();
        std::fprintf(stderr, "%s\n", text.c_str());
    }

    static std::string LineFor(const Job& job) {
        char buf[64];
        switch (job.outcome) {
            case Outcome::Converted:
                if (job.carriedOver)
                    return "kept      " + job.source + " -> " + job.pdf + " (converted before)";
                std::snprintf(buf, sizeof buf, " (%d page%s, %.2f s", job.pages,
                              job.pages == 1 ? "" : "s", job.seconds);
                return "converted " + job.source + " -> " + job.pdf + buf +
                       (job.wordPages > 0 ? "; Word counted " + std::to_string(job.wordPages)
                                          : std::string()) +
                       ")";
            case Outcome::Skipped:
                if (!job.duplicateOf.empty()) return "duplicate " + job.source + ": " + job.reason;
                return "skipped   " + job.source + ": " + job.reason;
            case Outcome::Failed:
                return "failed    " + job.source + ": " + job.reason;
            case Outcome::Pending:
                break;
        }
        return job.source;
    }

    void ClearBar() { std::fputs(ClearLineText().c_str(), stderr); }

    double Elapsed() const {
        return std::chrono::duration<double>(Clock::now() - started_).count();
    }

    void DrawBar(const std::string& current) {
        ProgressCounts counts;
        counts.done = done_;
        counts.total = total_;
        counts.converted = converted_;
        counts.failed = failed_;
        const double now = Elapsed();
        counts.rate = estimate_.Rate(now);
        counts.secondsLeft = estimate_.SecondsLeft(now);
        std::string text = ProgressLine(counts, FileNameOfPath(current), TerminalWidth());
        ClearBar();
        std::fprintf(stderr, "%s", text.c_str());
        std::fflush(stderr);
    }

    std::mutex mutex_;
    std::size_t total_, decided_;
    bool terminal_;
    std::ofstream* jsonl_;
    std::size_t done_ = 0, converted_ = 0, failed_ = 0;
    ProgressEstimate estimate_;
    Clock::time_point started_;
    std::string current_;  // the source of the job that ended last
    bool finished_ = false;
    std::condition_variable tick_;
    std::thread ticker_;  // last: it starts once the rest is made
};

// --shard K/N or auto/N: K from the scheduler's array index, counted from the array's first.
bool ParseShard(const std::string& text, int& index, int& count, std::string& error) {
    auto slash = text.find('/');
    auto number = [](const std::string& digits, long long& out) {
        if (digits.empty() || digits.size() > 9 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        out = std::stoll(digits);
        return true;
    };
    long long k = 0, n = 0;
    if (slash == std::string::npos || !number(text.substr(slash + 1), n) || n < 1 || n > 1000000) {
        error = "--shard: expected K/N or auto/N with N from 1 to 1000000, not " + text;
        return false;
    }
    std::string which = text.substr(0, slash);
    if (which == "auto") {
        std::string task = Environment("SLURM_ARRAY_TASK_ID"), from = "SLURM_ARRAY_TASK_ID";
        long long first = 0, step = 1;
        if (!task.empty()) {
            if (std::string min = Environment("SLURM_ARRAY_TASK_MIN"); !min.empty())
                number(min, first);
            if (std::string s = Environment("SLURM_ARRAY_TASK_STEP"); !s.empty()) number(s, step);
        } else {
            task = Environment("JOB_COMPLETION_INDEX");
            from = "JOB_COMPLETION_INDEX";
        }
        if (task.empty()) {
            error = "--shard auto/N: neither SLURM_ARRAY_TASK_ID nor JOB_COMPLETION_INDEX is set";
            return false;
        }
        if (!number(task, k) || k < first || step < 1 || (k - first) % step != 0) {
            error = "--shard auto/N: " + from + " is " + task + ", not an index of the array";
            return false;
        }
        k = (k - first) / step;
    } else if (!number(which, k)) {
        error = "--shard: expected K/N or auto/N, not " + text;
        return false;
    }
    if (k >= n) {
        error = "--shard: index " + std::to_string(k) + " is not below the number of shards " +
                std::to_string(n);
        return false;
    }
    index = static_cast<int>(k);
    count = static_cast<int>(n);
    return true;
}

int Merge(std::vector<std::string> arguments) {
    CLI::App app{
        "Merges the --jsonl reports of a batch's shards into one and checks that every "
        "input of the tree is in it exactly once.",
        "vellumor-cli merge"};
    std::vector<std::string> reports;
    std::string outputFile;
    app.add_option("REPORT", reports, "the shards' --jsonl reports")->required();
    app.add_option("-o", outputFile, "write the merged report to FILE (default: standard output)")
        ->type_name("FILE");
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    if (outputFile.empty()) return MergeReports(reports, std::cout, std::cerr);
    std::ofstream out(PathOf(outputFile), std::ios::binary);
    int code = MergeReports(reports, out, std::cerr);
    out.flush();
    if (!out) {
        std::fprintf(stderr, "vellumor-cli: cannot write %s\n", outputFile.c_str());
        return 2;
    }
    return code;
}

// A conversion's command line, parsed.
struct CommandLine {
    Options options;
    std::vector<std::string> paths;  // the PATH arguments, then the paths of --files-from
    std::string filesFrom;           // the list file; "-" for standard input
    bool nulSeparated = false;       // -0: the list's paths end with NUL bytes
    bool showVersion = false;
    std::string jsonFile, jsonlFile, resumeFile, enginePath;
    bool planOnly = false;
    int timeoutSeconds = 120;
    bool allowLinks = false;
    unsigned memoryLimitMb = 4096;
    int shardIndex = 0, shardCount = 1;
};

// Parses the command line of a conversion into line. Returns the exit code when the program
// ends here (--help: 0, a usage error: 2), else -1.
int ParseCommandLine(std::vector<std::string>& arguments, CommandLine& line) {
    CLI::App app{
        "Converts Word documents (.doc, .docx) to PDF.\n"
        "  vellumor-cli merge [-o FILE] REPORT...  merges the --jsonl reports of shards",
        "vellumor-cli"};
    Options& options = line.options;
    std::string outputDir, onExists = "overwrite", shardText;
    bool besideSource = false;
    options.jobs = 0;  // the machine's share (WorkersFor)

    app.add_option("PATH", line.paths, "files and folders to convert");
    app.add_option("--files-from", line.filesFrom,
                   "also convert the files and folders LIST names, one a line, after the PATH "
                   "arguments; - reads the list from standard input")
        ->type_name("LIST");
    app.add_flag("-0,--null", line.nulSeparated,
                 "the paths of --files-from end with NUL bytes (as find -print0 writes them)");
    app.add_flag("--recursive", options.recursive, "also convert documents in subfolders");
    auto* out = app.add_option("-o", outputDir, "write the PDFs into DIR");
    out->type_name("DIR");
    auto* beside = app.add_flag("--beside-source", besideSource,
                                "write each PDF beside its source (the default)");
    out->excludes(beside);
    app.add_flag("--keep-tree", options.keepTree,
                 "with -o, keep the folders below each folder argument");
    app.add_option("--jobs", options.jobs,
                   "documents converted at once (default: the cores, fewer when the memory "
                   "holds fewer workers at the --memory-limit ceiling)")
        ->check(CLI::Range(1, 64));
    app.add_option("--timeout", line.timeoutSeconds, "seconds allowed for each load and save")
        ->check(CLI::Range(1, 86400));
    app.add_option("--on-exists", onExists, "when the PDF exists: overwrite, skip or rename")
        ->check(CLI::IsMember({"overwrite", "skip", "rename"}));
    app.add_flag("--pdfa", options.pdfA, "write PDF/A-2b");
    app.add_flag("--allow-links", line.allowLinks,
                 "let documents show the local files they link to (pictures, included text); "
                 "the network stays out of reach");
    app.add_option("--memory-limit", line.memoryLimitMb,
                   "fail a document that needs more than MB of memory (default 4096)")
        ->type_name("MB")
        ->check(CLI::Range(256u, 1u << 20));
    app.add_option("--json", line.jsonFile, "write one record per input to FILE at the end")
        ->type_name("FILE");
    app.add_option("--jsonl", line.jsonlFile,
                   "write each input's record to FILE as one JSON line the moment it ends")
        ->type_name("FILE");
    app.add_option("--resume", line.resumeFile,
                   "keep what the run of this --json or --jsonl report converted, where source "
                   "and PDF are unchanged; convert the rest")
        ->type_name("REPORT");
    app.add_option("--shard", shardText,
                   "convert only shard K (0-based) of N; auto/N takes K from "
                   "SLURM_ARRAY_TASK_ID or JOB_COMPLETION_INDEX")
        ->type_name("K/N");
    app.add_flag("--plan-only", line.planOnly,
                 "decide inputs and PDF names, print the counts, stop");
    app.add_option("--engine", line.enginePath,
                   "the engine worker: vellumor-engine or the script vellumor_engine.py")
        ->type_name("PATH");
    app.add_flag("--version", line.showVersion,
                 "print the version of vellumor-cli and of the office it converts with, and stop");
    app.footer(
        "Ctrl+C stops handing out documents and lets those in progress finish; a second Ctrl+C "
        "stops them too. The inputs not converted are recorded as skipped (interrupted), the "
        "reports are written, and the exit code is 130.");

    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
        if (line.showVersion) return -1;
        if (line.paths.empty() && line.filesFrom.empty())
            throw CLI::RequiredError("PATH (or --files-from LIST)");
        if (line.nulSeparated && line.filesFrom.empty())
            throw CLI::ValidationError("-0", "needs --files-from LIST");
        if (options.keepTree && outputDir.empty())
            throw CLI::ValidationError("--keep-tree", "needs -o DIR");
        std::string error;
        if (!shardText.empty() && !ParseShard(shardText, line.shardIndex, line.shardCount, error))
            throw CLI::ValidationError(error);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    options.outputFolder = outputDir;
    options.onExists = onExists == "skip"     ? OnExists::Skip
                       : onExists == "rename" ? OnExists::Rename
                                              : OnExists::Overwrite;
    return -1;
}

// --files-from: the list's paths after the PATH arguments, so a list names its inputs as
// arguments would. False, with the reason on standard error, when the list cannot be read.
bool AddListedPaths(CommandLine& line) {
    if (line.filesFrom.empty()) return true;
    const PathListFormat format =
        line.nulSeparated ? PathListFormat::NulSeparated : PathListFormat::Lines;
    const bool standardInput = line.filesFrom == "-";
    std::string error;
    if (standardInput) {
        BinaryStandardInput();
        std::string text;
        char buffer[65536];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
            text.append(buffer, n);
        if (std::ferror(stdin))
            error = "reading it broke off";
        else
            SplitPathList(text, format, line.paths, error);
    } else if (std::error_code cannot = TryOpen(line.filesFrom)) {
        error = ReasonText(cannot);
    } else if (Examine(line.filesFrom).kind == EntryKind::Folder) {
        error = "it is a folder";
    } else {
        std::ifstream in(PathOf(line.filesFrom), std::ios::binary);
        ReadPathList(in, format, line.paths, error);
    }
    if (error.empty()) return true;
    std::fprintf(stderr, "vellumor-cli: --files-from: cannot read %s: %s\n",
                 standardInput ? "the list on standard input" : line.filesFrom.c_str(),
                 error.c_str());
    return false;
}

// What the run is to do: every job of this shard, and how many of them are decided already.
struct Plan {
    std::vector<Job> jobs;
    RunInfo run;
    std::size_t toConvert = 0, carried = 0, duplicates = 0;
    double seconds = 0;
};

// Plans the jobs of the command line; false (with the reason on standard error) when the
// --resume report cannot be read.
bool MakePlan(const CommandLine& line, Plan& plan) {
    std::unordered_map<std::string, EarlierConversion> earlier;
    EarlierLookup lookup;
    if (!line.resumeFile.empty()) {
        std::string error;
        earlier = ReadEarlierConversions(line.resumeFile, error);
        if (!error.empty()) {
            std::fprintf(stderr, "vellumor-cli: --resume: %s\n", error.c_str());
            return false;
        }
        lookup = [&earlier](const std::string& source) -> const EarlierConversion* {
            auto it = earlier.find(source);
            return it == earlier.end() ? nullptr : &it->second;
        };
    }

    auto started = Clock::now();
    std::vector<Job>& jobs = plan.jobs;
    jobs = PlanJobs(line.paths, line.options, lookup);
    RunInfo& run = plan.run;
    run.arguments = line.paths;
    run.recursive = line.options.recursive;
    run.shardIndex = line.shardIndex;
    run.shardCount = line.shardCount;
    TallyInputs(jobs, run);
    if (run.shardCount > 1)
        jobs.erase(std::remove_if(jobs.begin(), jobs.end(),
                                  [&](const Job& job) {
                                      return ShardOf(job, run.shardCount) != run.shardIndex;
                                  }),
                   jobs.end());
    plan.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    for (const auto& job : jobs) {
        plan.toConvert += job.outcome == Outcome::Pending;
        plan.carried += job.carriedOver;
        plan.duplicates += !job.duplicateOf.empty();
    }
    return true;
}

// --plan-only: the counts of the plan on one line.
void PrintPlan(const Plan& plan) {
    const RunInfo& run = plan.run;
    std::printf("%llu input%s", static_cast<unsigned long long>(run.all.count),
                run.all.count == 1 ? "" : "s");
    if (run.shardCount > 1)
        std::printf(", %zu in shard %d/%d", plan.jobs.size(), run.shardIndex, run.shardCount);
    std::printf(
        ": %zu to convert, %zu converted before, %zu duplicates, %zu skipped or failed; "
        "planned in %.2f s\n",
        plan.toConvert, plan.carried, plan.duplicates,
        plan.jobs.size() - plan.toConvert - plan.carried - plan.duplicates, plan.seconds);
}

// The C++ worker when it starts with the office here; else, when the script worker is beside
// the program or in the tree, that one, with one line saying so: an office the C++ worker does not
// know how to start must not fail every document.
std::string WorkingWorker(const std::string& worker) {
    const auto isScript = [](const std::string& path) {
        return path.size() > 3 && path.compare(path.size() - 3, 3, ".py") == 0;
    };
    if (worker.empty() || isScript(worker)) return worker;
    std::string script = FindScriptBesideExecutable();
    if (script.empty()) {
        // Beside the worker itself.
        std::error_code ec;
        const auto beside =
            std::filesystem::canonical(std::filesystem::u8path(worker), ec).parent_path() /
            "vellumor_engine.py";
        if (!ec && std::filesystem::exists(beside, ec)) script = beside.string();
    }
    if (script.empty()) return worker;
    WorkerEngineOptions probe;
    probe.workerPath = worker;
    WorkerEngine engine(probe);
    std::string problem;
    try {
        engine.WaitUntilReady();
        return worker;
    } catch (const EngineError& e) {
        problem = e.what();
    }
    if (problem.rfind("The document engine could not start the office", 0) != 0) return worker;
    std::fprintf(stderr, "vellumor-cli: %s; converting with the script worker %s instead\n",
                 problem.c_str(), script.c_str());
    return script;
}

WorkerEngineOptions EngineOptionsFor(const CommandLine& line) {
    WorkerEngineOptions engine;
    engine.workerPath = WorkingWorker(WorkerPath(line.enginePath));
    engine.operationTimeout = std::chrono::seconds(line.timeoutSeconds);
    engine.pdfA = line.options.pdfA;
    engine.allowLocalLinks = line.allowLinks;
    engine.memoryLimitMiB = line.memoryLimitMb;
    return engine;
}

// --version: this program's version, then the office its worker starts, with the version the
// office gives itself. The worker is started to ask: what is printed is the office a conversion
// would use. 0 when the office started, 1 when none could be.
int PrintVersion(const CommandLine& line) {
    std::printf("vellumor-cli %s\n", VELLUMOR_VERSION);
    std::fflush(stdout);
    WorkerEngineOptions options = EngineOptionsFor(line);
    options.startTimeout = std::chrono::seconds(30);
    try {
        WorkerEngine engine(options);
        engine.WaitUntilReady();
        std::printf("office: %s (through %s)\n", engine.OfficeName().c_str(),
                    options.workerPath.c_str());
        if (std::string why = engine.OfficeVersionWarning(); !why.empty())
            std::printf("office: warning: %s\n", why.c_str());
        return 0;
    } catch (const EngineError& e) {
        std::printf("office: none found: %s\n", e.what());
        return 1;
    }
}

// The end of a run: the --jsonl summary, the --json report and the summary line. Returns the
// exit code: 130 when interrupted, 1 when something failed or a report cannot be written, else 0.
// carried: the jobs the plan took over from an earlier run (--resume).
int ReportRun(const CommandLine& line, std::size_t carried, const BatchResult& result,
              std::ofstream& jsonl) {
    const std::vector<Job>& jobs = result.jobs;
    const bool interrupted = result.interrupted;
    const double seconds = result.seconds;
    // Duplicates are counted apart: a run that converted one name of each document says so,
    // and a batch that converted little is never hidden behind one "skipped" count.
    std::size_t converted = 0, skipped = 0, duplicates = 0, failed = 0;
    nlohmann::json records = nlohmann::json::array();
    for (const auto& job : jobs) {
        converted += job.outcome == Outcome::Converted;
        skipped += job.outcome == Outcome::Skipped;
        duplicates += job.outcome == Outcome::Skipped && !job.duplicateOf.empty();
        failed += job.outcome == Outcome::Failed;
        if (!line.jsonFile.empty()) records.push_back(RecordOf(job));
    }
    int exitCode = interrupted ? 130 : failed ? 1 : 0;
    if (!line.jsonlFile.empty()) {
        // "skipped" counts every skipped record, duplicates included, as it always has;
        // "duplicates" and "skipped_other" split it.
        nlohmann::json summary = {
            {"converted", converted},     {"skipped", skipped},
            {"duplicates", duplicates},   {"skipped_other", skipped - duplicates},
            {"failed", failed},           {"carried_over", carried},
            {"interrupted", interrupted}, {"seconds", seconds}};
        nlohmann::json differing = nlohmann::json::array();
        for (const auto& job : jobs)
            if (job.outcome == Outcome::Converted && job.wordPages > 0 &&
                job.pages != job.wordPages)
                differing.push_back(job.pdf);
        summary["pages_differ_from_word"] = differing;
        jsonl << nlohmann::json{{"summary", summary}}.dump() << "\n";
        jsonl.flush();
        if (!jsonl) {
            std::fprintf(stderr, "vellumor-cli: cannot write %s\n", line.jsonlFile.c_str());
            exitCode = interrupted ? 130 : 1;
        }
    }
    if (!line.jsonFile.empty()) {
        std::ofstream json(PathOf(line.jsonFile));
        json << records.dump(2) << "\n";
        if (!json) {
            std::fprintf(stderr, "vellumor-cli: cannot write %s\n", line.jsonFile.c_str());
            exitCode = interrupted ? 130 : 1;
        }
    }
    const std::vector<std::string> pageNotes = PageCountNotes(jobs);
    for (const auto& note : pageNotes) std::printf("%s\n", note.c_str());
    const std::size_t fresh = converted - carried;
    std::printf("%zu input%s: %zu converted", jobs.size(), jobs.size() == 1 ? "" : "s", converted);
    if (carried) std::printf(" (%zu before)", carried);
    std::printf(", %zu duplicate%s, %zu skipped, %zu failed in %.1f s (%.2f documents/s)%s\n",
                duplicates, duplicates == 1 ? "" : "s", skipped - duplicates, failed, seconds,
                seconds > 0 ? fresh / seconds : 0.0, interrupted ? ", interrupted" : "");
    std::fflush(stdout);
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    PrepareConsole();
    std::vector<std::string> arguments = Utf8Arguments(argc, argv);
    if (arguments.size() > 1 && arguments[1] == "merge")
        return Merge(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    CatchInterrupts();

    CommandLine line;
    if (int code = ParseCommandLine(arguments, line); code >= 0) return code;
    if (line.showVersion) return PrintVersion(line);
    if (!AddListedPaths(line)) return 2;

    Plan plan;
    if (!MakePlan(line, plan)) return 2;
    if (line.planOnly) {
        PrintPlan(plan);
        return 0;
    }

    std::ofstream jsonl;
    if (!line.jsonlFile.empty()) {
        jsonl.open(PathOf(line.jsonlFile), std::ios::binary | std::ios::trunc);
        jsonl << HeaderOf(plan.run).dump() << "\n";
        jsonl.flush();
        if (!jsonl) {
            std::fprintf(stderr, "vellumor-cli: cannot write %s\n", line.jsonlFile.c_str());
            return 2;
        }
    }

    ConsoleProgress progress(plan.jobs.size(), plan.toConvert,
                             line.jsonlFile.empty() ? nullptr : &jsonl);
    const int workers =
        line.options.jobs > 0 ? line.options.jobs : WorkersForThisMachine(0, line.memoryLimitMb);
    BatchRunner runner(std::move(plan.jobs), EngineOptionsFor(line), workers, progress);
    const BatchResult result = runner.Run();
    progress.Finish();

    const int exitCode = ReportRun(line, plan.carried, result, jsonl);
    // Slots left running still use the runner: the process ends without waiting for them.
    if (result.abandoned) std::_Exit(exitCode);
    return exitCode;
}
