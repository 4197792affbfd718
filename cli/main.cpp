// vellumor-cli: converts .doc and .docx files to PDF in batches with the document engine.
//
//   vellumor-cli [options] PATH...
//
// Every input ends in exactly one outcome: converted (pages, seconds), skipped (why) or failed
// (why). Exit code 0 when nothing failed, 1 when something failed, 2 for a usage error.
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
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/batch.h"
#include "cli/platform.h"
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

// Progress: a bar on a terminal, one line per file otherwise.
class Reporter {
  public:
    explicit Reporter(std::size_t total) : total_(total), terminal_(StderrIsTerminal()) {}

    void Done(const Job& job) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++done_;
        if (job.outcome == Outcome::Converted) ++converted_;
        if (job.outcome == Outcome::Failed) ++failed_;
        if (job.outcome == Outcome::Skipped) ++skipped_;
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

    void Finish() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (terminal_) {
            ClearBar();
        }
    }

  private:
    static std::string LineFor(const Job& job) {
        char buf[64];
        switch (job.outcome) {
            case Outcome::Converted:
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
    std::size_t done_ = 0, converted_ = 0, failed_ = 0, skipped_ = 0;
};

nlohmann::json Record(const Job& job) {
    nlohmann::json r;
    r["input"] = job.source;
    switch (job.outcome) {
        case Outcome::Converted:
            r["outcome"] = "converted";
            r["output"] = job.pdf;
            r["pages"] = job.pages;
            r["seconds"] = std::round(job.seconds * 1000) / 1000;
            break;
        case Outcome::Skipped:
            r["outcome"] = "skipped";
            r["reason"] = job.reason;
            break;
        default:
            r["outcome"] = "failed";
            r["reason"] = job.reason;
            if (!job.pdf.empty()) r["output"] = job.pdf;
            break;
    }
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    PrepareConsole();
    std::vector<std::string> arguments = Utf8Arguments(argc, argv);
    std::vector<char*> utf8Argv;
    for (auto& argument : arguments) utf8Argv.push_back(argument.data());
    CLI::App app{"Converts Word documents (.doc, .docx) to PDF.", "vellumor-cli"};
    Options options;
    std::vector<std::string> paths;
    std::string outputDir, onExists = "overwrite", jsonFile, enginePath;
    bool besideSource = false;
    int timeoutSeconds = 120;
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
    app.add_option("--json", jsonFile, "write one record per input to FILE")->type_name("FILE");
    app.add_option("--engine", enginePath,
                   "the engine worker: vellumor-engine or the script vellumor_engine.py")
        ->type_name("PATH");

    try {
        app.parse(static_cast<int>(utf8Argv.size()), utf8Argv.data());
        if (options.keepTree && outputDir.empty())
            throw CLI::ValidationError("--keep-tree", "needs -o DIR");
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    options.outputFolder = outputDir;
    options.onExists = onExists == "skip"     ? OnExists::Skip
                       : onExists == "rename" ? OnExists::Rename
                                              : OnExists::Overwrite;

    std::vector<Job> jobs = PlanJobs(paths, options);
    std::vector<std::size_t> toConvert;
    for (std::size_t i = 0; i < jobs.size(); ++i)
        if (jobs[i].outcome == Outcome::Pending) toConvert.push_back(i);

    Reporter reporter(jobs.size());
    for (const auto& job : jobs)
        if (job.outcome != Outcome::Pending) reporter.Done(job);

    auto started = Clock::now();
    std::atomic<std::size_t> next{0};
    std::string worker = WorkerPath(enginePath);
    int threads = std::min<int>(options.jobs, static_cast<int>(toConvert.size()));
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&] {
            WorkerEngineOptions engineOptions;
            engineOptions.workerPath = worker;
            engineOptions.operationTimeout = std::chrono::seconds(timeoutSeconds);
            engineOptions.pdfA = options.pdfA;
            WorkerEngine engine(engineOptions);
            for (std::size_t k; (k = next++) < toConvert.size();) {
                Job& job = jobs[toConvert[k]];
                ConvertOne(engine, job);
                reporter.Done(job);
            }
        });
    }
    for (auto& t : pool) t.join();
    reporter.Finish();
    double seconds = std::chrono::duration<double>(Clock::now() - started).count();

    std::size_t converted = 0, skipped = 0, failed = 0;
    nlohmann::json records = nlohmann::json::array();
    for (const auto& job : jobs) {
        converted += job.outcome == Outcome::Converted;
        skipped += job.outcome == Outcome::Skipped;
        failed += job.outcome == Outcome::Failed;
        records.push_back(Record(job));
    }
    if (!jsonFile.empty()) {
        std::ofstream json(PathOf(jsonFile));
        json << records.dump(2) << "\n";
        if (!json) {
            std::fprintf(stderr, "vellumor-cli: cannot write %s\n", jsonFile.c_str());
            return 1;
        }
    }
    std::printf("%zu file%s: %zu converted, %zu skipped, %zu failed in %.1f s (%.2f documents/s)\n",
                jobs.size(), jobs.size() == 1 ? "" : "s", converted, skipped, failed, seconds,
                seconds > 0 ? converted / seconds : 0.0);
    return failed ? 1 : 0;
}
