// vellumor-cli: converts .doc and .docx files to PDF in batches with the document engine.
//
//   vellumor-cli [options] PATH...
//   vellumor-cli merge [-o FILE] REPORT...
//
// Every input ends in exactly one outcome: converted (pages, seconds), skipped (why) or failed
// (why). Exit code 0 when nothing failed, 1 when something failed, 2 for a usage error, 130
// when the user interrupted the run (the reports are written all the same).
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <condition_variable>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "cli/batch.h"
#include "cli/platform.h"
#include "cli/report.h"
#include "engine/client/worker_engine.h"

namespace fs = std::filesystem;
using namespace vellumor;
using namespace vellumor::cli;
using Clock = std::chrono::steady_clock;

namespace {

// The worker: --engine, else VELLUMOR_ENGINE_PATH, else the one beside the program (the
// executable, then the script), else the one in the build tree. Either may be an executable
// worker or the script worker (a .py file).
std::string WorkerPath(const std::string& chosen) {
    if (!chosen.empty()) return chosen;
    if (std::string env = Environment("VELLUMOR_ENGINE_PATH"); !env.empty()) return env;
    if (std::string beside = FindWorkerBesideExecutable(); !beside.empty()) return beside;
    if (std::string script = FindScriptBesideExecutable(); !script.empty()) return script;
    return BuiltWorker();
}

// Progress: a bar on a terminal, one line per file otherwise; and each finished job's record
// in the JSON Lines report, flushed at once so a killed run keeps it.
class Reporter {
  public:
    Reporter(std::size_t total, std::ofstream* jsonl)
        : total_(total), terminal_(StderrIsTerminal()), jsonl_(jsonl) {}

    // Records the job's outcome as the batch's, under the lock the final report is read with.
    void Done(const Job& job, Job& slot) {
        std::lock_guard<std::mutex> lock(mutex_);
        slot = job;
        ++done_;
        if (job.outcome == Outcome::Converted) ++converted_;
        if (job.outcome == Outcome::Failed) ++failed_;
        if (jsonl_) {
            *jsonl_ << RecordOf(job).dump() << "\n";
            jsonl_->flush();
        }
        std::string line = LineFor(job);
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

    void Say(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (terminal_) ClearBar();
        std::fprintf(stderr, "%s\n", text.c_str());
    }

    void Finish() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (terminal_) ClearBar();
    }

    std::mutex& Mutex() { return mutex_; }

  private:
    static std::string LineFor(const Job& job) {
        char buf[64];
        switch (job.outcome) {
            case Outcome::Converted:
                if (job.carriedOver)
                    return "kept      " + job.source + " -> " + job.pdf + " (converted before)";
                std::snprintf(buf, sizeof buf, " (%d page%s, %.2f s)", job.pages,
                              job.pages == 1 ? "" : "s", job.seconds);
                return "converted " + job.source + " -> " + job.pdf + buf;
            case Outcome::Skipped:
                return "skipped   " + job.source + ": " + job.reason;
            case Outcome::Failed:
                return "failed    " + job.source + ": " + job.reason;
            case Outcome::Pending:
                break;
        }
        return job.source;
    }

    void ClearBar() { std::fputs(ClearLineText().c_str(), stderr); }

    void DrawBar(const std::string& current) {
        int width = TerminalWidth();
        int barWidth = 30;
        int filled = total_ ? static_cast<int>(barWidth * done_ / total_) : barWidth;
        std::string bar =
            "[" + std::string(filled, '#') + std::string(barWidth - filled, '-') + "]";
        char counts[128];
        std::snprintf(counts, sizeof counts, " %zu/%zu  %zu converted, %zu failed ", done_, total_,
                      converted_, failed_);
        std::string text = bar + counts;
        std::string name = FileNameOfPath(current);
        if (static_cast<int>(text.size() + name.size()) < width) text += name;
        ClearBar();
        std::fprintf(stderr, "%s", text.c_str());
        std::fflush(stderr);
    }

    std::mutex mutex_;
    std::size_t total_;
    bool terminal_;
    std::ofstream* jsonl_;
    std::size_t done_ = 0, converted_ = 0, failed_ = 0;
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

}  // namespace

int main(int argc, char** argv) {
    PrepareConsole();
    std::vector<std::string> arguments = Utf8Arguments(argc, argv);
    if (arguments.size() > 1 && arguments[1] == "merge")
        return Merge(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    std::vector<char*> utf8Argv;
    for (auto& argument : arguments) utf8Argv.push_back(argument.data());
    CatchInterrupts();
    CLI::App app{
        "Converts Word documents (.doc, .docx) to PDF.\n"
        "  vellumor-cli merge [-o FILE] REPORT...  merges the --jsonl reports of shards",
        "vellumor-cli"};
    Options options;
    std::vector<std::string> paths;
    std::string outputDir, onExists = "overwrite", jsonFile, jsonlFile, resumeFile, shardText,
                           enginePath;
    bool besideSource = false, planOnly = false;
    int timeoutSeconds = 120;
    bool allowLinks = false;
    unsigned memoryLimitMb = 4096;
    options.jobs = std::max(1u, std::thread::hardware_concurrency());

    app.add_option("PATH", paths, "files and folders to convert")->required();
    app.add_flag("--recursive", options.recursive, "also convert documents in subfolders");
    auto* out = app.add_option("-o", outputDir, "write the PDFs into DIR");
    out->type_name("DIR");
    auto* beside = app.add_flag("--beside-source", besideSource,
                                "write each PDF beside its source (the default)");
    out->excludes(beside);
    app.add_flag("--keep-tree", options.keepTree,
                 "with -o, keep the folders below each folder argument");
    app.add_option("--jobs", options.jobs, "documents converted at once (default: cores)")
        ->check(CLI::Range(1, 64));
    app.add_option("--timeout", timeoutSeconds, "seconds allowed for each load and save")
        ->check(CLI::Range(1, 86400));
    app.add_option("--on-exists", onExists, "when the PDF exists: overwrite, skip or rename")
        ->check(CLI::IsMember({"overwrite", "skip", "rename"}));
    app.add_flag("--pdfa", options.pdfA, "write PDF/A-2b");
    app.add_flag("--allow-links", allowLinks,
                 "let documents show the local files they link to (pictures, included text); "
                 "the network stays out of reach");
    app.add_option("--memory-limit", memoryLimitMb,
                   "fail a document that needs more than MB of memory (default 4096)")
        ->type_name("MB")
        ->check(CLI::Range(256u, 1u << 20));
    app.add_option("--json", jsonFile, "write one record per input to FILE at the end")
        ->type_name("FILE");
    app.add_option("--jsonl", jsonlFile,
                   "write each input's record to FILE as one JSON line the moment it ends")
        ->type_name("FILE");
    app.add_option("--resume", resumeFile,
                   "keep what the run of this --json or --jsonl report converted, where source "
                   "and PDF are unchanged; convert the rest")
        ->type_name("REPORT");
    app.add_option("--shard", shardText,
                   "convert only shard K (0-based) of N; auto/N takes K from "
                   "SLURM_ARRAY_TASK_ID or JOB_COMPLETION_INDEX")
        ->type_name("K/N");
    app.add_flag("--plan-only", planOnly, "decide inputs and PDF names, print the counts, stop");
    app.add_option("--engine", enginePath,
                   "the engine worker: vellumor-engine or the script vellumor_engine.py")
        ->type_name("PATH");
    app.footer(
        "Ctrl+C stops handing out documents and lets those in progress finish; a second Ctrl+C "
        "stops them too. The inputs not converted are recorded as skipped (interrupted), the "
        "reports are written, and the exit code is 130.");

    RunInfo run;
    try {
        app.parse(static_cast<int>(utf8Argv.size()), utf8Argv.data());
        if (options.keepTree && outputDir.empty())
            throw CLI::ValidationError("--keep-tree", "needs -o DIR");
        std::string error;
        if (!shardText.empty() && !ParseShard(shardText, run.shardIndex, run.shardCount, error))
            throw CLI::ValidationError(error);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    options.outputFolder = outputDir;
    options.onExists = onExists == "skip"     ? OnExists::Skip
                       : onExists == "rename" ? OnExists::Rename
                                              : OnExists::Overwrite;

    std::unordered_map<std::string, EarlierConversion> earlier;
    if (!resumeFile.empty()) {
        std::string error;
        earlier = ReadEarlierConversions(resumeFile, error);
        if (!error.empty()) {
            std::fprintf(stderr, "vellumor-cli: --resume: %s\n", error.c_str());
            return 2;
        }
    }
    EarlierLookup lookup;
    if (!resumeFile.empty())
        lookup = [&earlier](const std::string& source) -> const EarlierConversion* {
            auto it = earlier.find(source);
            return it == earlier.end() ? nullptr : &it->second;
        };

    auto planStarted = Clock::now();
    std::vector<Job> jobs = PlanJobs(paths, options, lookup);
    run.arguments = paths;
    run.recursive = options.recursive;
    TallyInputs(jobs, run);
    if (run.shardCount > 1)
        jobs.erase(std::remove_if(jobs.begin(), jobs.end(),
                                  [&](const Job& job) {
                                      return ShardOf(job, run.shardCount) != run.shardIndex;
                                  }),
                   jobs.end());
    double planSeconds = std::chrono::duration<double>(Clock::now() - planStarted).count();
    std::vector<std::size_t> toConvert;
    std::size_t carried = 0;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (jobs[i].outcome == Outcome::Pending) toConvert.push_back(i);
        carried += jobs[i].carriedOver;
    }
    // With several workers, the largest documents first: a long one left for the end would keep
    // one worker busy while the others have nothing to do. One worker keeps the input order,
    // and records always do.
    if (options.jobs > 1) {
        for (std::size_t i : toConvert) jobs[i].sourceFacts = FactsOf(jobs[i].source);
        std::stable_sort(toConvert.begin(), toConvert.end(), [&](std::size_t a, std::size_t b) {
            return jobs[a].sourceFacts.size > jobs[b].sourceFacts.size;
        });
    }

    if (planOnly) {
        std::printf("%llu input%s", static_cast<unsigned long long>(run.all.count),
                    run.all.count == 1 ? "" : "s");
        if (run.shardCount > 1)
            std::printf(", %zu in shard %d/%d", jobs.size(), run.shardIndex, run.shardCount);
        std::printf(
            ": %zu to convert, %zu converted before, %zu skipped or failed; planned in "
            "%.2f s\n",
            toConvert.size(), carried, jobs.size() - toConvert.size() - carried, planSeconds);
        return 0;
    }

    std::ofstream jsonl;
    if (!jsonlFile.empty()) {
        jsonl.open(PathOf(jsonlFile), std::ios::binary | std::ios::trunc);
        jsonl << HeaderOf(run).dump() << "\n";
        jsonl.flush();
        if (!jsonl) {
            std::fprintf(stderr, "vellumor-cli: cannot write %s\n", jsonlFile.c_str());
            return 2;
        }
    }

    Reporter reporter(jobs.size(), jsonlFile.empty() ? nullptr : &jsonl);
    for (auto& job : jobs) {
        if (job.outcome == Outcome::Pending) continue;
        if (!job.carriedOver) job.sourceFacts = FactsOf(job.source);
        reporter.Done(Job(job), job);
    }

    auto started = Clock::now();
    std::atomic<std::size_t> next{0};
    std::string worker = WorkerPath(enginePath);
    int threads = std::min<int>(options.jobs, static_cast<int>(toConvert.size()));

    // The engines of the running slots, for a second interrupt to stop them.
    std::mutex engineMutex;
    std::condition_variable slotEnded;
    std::vector<WorkerEngine*> engines;
    std::atomic<bool> aborting{false};
    std::atomic<bool> isolationWarned{false};
    std::atomic<bool> officeWarned{false};
    int slotsRunning = threads;

    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&] {
            {
                WorkerEngineOptions engineOptions;
                engineOptions.workerPath = worker;
                engineOptions.operationTimeout = std::chrono::seconds(timeoutSeconds);
                engineOptions.pdfA = options.pdfA;
                engineOptions.allowLocalLinks = allowLinks;
                engineOptions.memoryLimitMiB = memoryLimitMb;
                WorkerEngine engine(engineOptions);
                {
                    std::lock_guard<std::mutex> lock(engineMutex);
                    engines.push_back(&engine);
                    if (aborting) engine.Abort();
                }
                for (std::size_t k; Interrupts() == 0 && (k = next++) < toConvert.size();) {
                    Job job;
                    {
                        std::lock_guard<std::mutex> lock(reporter.Mutex());
                        job = jobs[toConvert[k]];
                    }
                    ConvertOne(engine, job);
                    if (std::string why = engine.IsolationWarning();
                        !why.empty() && !isolationWarned.exchange(true))
                        reporter.Say("vellumor-cli: warning: " + why +
                                     "; documents may reach the network");
                    if (std::string why = engine.OfficeVersionWarning();
                        !why.empty() && !officeWarned.exchange(true))
                        reporter.Say("vellumor-cli: warning: " + why +
                                     "; documents may convert with faults");
                    if (aborting && job.outcome == Outcome::Failed) {
                        job.outcome = Outcome::Skipped;
                        job.reason = kInterrupted;
                    }
                    reporter.Done(job, jobs[toConvert[k]]);
                }
                std::lock_guard<std::mutex> lock(engineMutex);
                engines.erase(std::find(engines.begin(), engines.end(), &engine));
            }
            // The engine is gone with its worker by now.
            std::lock_guard<std::mutex> lock(engineMutex);
            --slotsRunning;
            slotEnded.notify_all();
        });
    }

    // Interrupts are handled here, on a normal thread: the first lets the documents in
    // progress finish, the second stops their workers.
    bool announced = false;
    auto abortedAt = Clock::time_point::max();
    bool abandoned = false;
    {
        std::unique_lock<std::mutex> lock(engineMutex);
        while (slotsRunning > 0) {
            slotEnded.wait_for(lock, std::chrono::milliseconds(50));
            int interrupts = Interrupts();
            if (interrupts >= 1 && !announced) {
                announced = true;
                lock.unlock();
                reporter.Say(
                    "vellumor-cli: interrupted; finishing the documents in progress "
                    "(Ctrl+C again stops them)");
                lock.lock();
            }
            if (interrupts >= 2 && !aborting) {
                aborting = true;
                abortedAt = Clock::now();
                for (auto* engine : engines) engine->Abort();
            }
            // A worker the system gives us no handle to (under Wine) ends when we do.
            if (Clock::now() - abortedAt > std::chrono::seconds(10)) {
                abandoned = true;
                break;
            }
        }
    }
    if (!abandoned)
        for (auto& t : pool) t.join();

    bool interrupted = Interrupts() > 0;
    std::vector<Job> final;
    {
        // Inputs never started: the record says so, the PDF was never begun.
        std::lock_guard<std::mutex> lock(reporter.Mutex());
        final = jobs;
    }
    for (std::size_t i = 0; i < final.size(); ++i)
        if (final[i].outcome == Outcome::Pending) {
            Job job = final[i];
            job.outcome = Outcome::Skipped;
            job.reason = kInterrupted;
            reporter.Done(job, final[i]);
        }
    reporter.Finish();
    double seconds = std::chrono::duration<double>(Clock::now() - started).count();

    std::size_t converted = 0, skipped = 0, failed = 0;
    nlohmann::json records = nlohmann::json::array();
    for (const auto& job : final) {
        converted += job.outcome == Outcome::Converted;
        skipped += job.outcome == Outcome::Skipped;
        failed += job.outcome == Outcome::Failed;
        if (!jsonFile.empty()) records.push_back(RecordOf(job));
    }
    int exitCode = interrupted ? 130 : failed ? 1 : 0;
    if (!jsonlFile.empty()) {
        nlohmann::json summary = {{"converted", converted},     {"skipped", skipped},
                                  {"failed", failed},           {"carried_over", carried},
                                  {"interrupted", interrupted}, {"seconds", seconds}};
        jsonl << nlohmann::json{{"summary", summary}}.dump() << "\n";
        jsonl.flush();
        if (!jsonl) {
            std::fprintf(stderr, "vellumor-cli: cannot write %s\n", jsonlFile.c_str());
            exitCode = interrupted ? 130 : 1;
        }
    }
    if (!jsonFile.empty()) {
        std::ofstream json(PathOf(jsonFile));
        json << records.dump(2) << "\n";
        if (!json) {
            std::fprintf(stderr, "vellumor-cli: cannot write %s\n", jsonFile.c_str());
            exitCode = interrupted ? 130 : 1;
        }
    }
    std::size_t fresh = converted - carried;
    std::printf("%zu file%s: %zu converted", final.size(), final.size() == 1 ? "" : "s", converted);
    if (carried) std::printf(" (%zu before)", carried);
    std::printf(", %zu skipped, %zu failed in %.1f s (%.2f documents/s)%s\n", skipped, failed,
                seconds, seconds > 0 ? fresh / seconds : 0.0, interrupted ? ", interrupted" : "");
    std::fflush(stdout);
    if (abandoned) std::_Exit(exitCode);
    return exitCode;
}
