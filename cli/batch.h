// The command-line converter's batch: which inputs a command line names, where each PDF goes,
// which shard each input belongs to, and the conversion of one input. Separate from main() so
// the tests can drive it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/platform.h"
#include "engine/document_engine.h"

namespace vellumor::cli {

enum class OnExists { Overwrite, Skip, Rename };
enum class Outcome { Pending, Converted, Skipped, Failed };

inline constexpr const char* kInterrupted = "interrupted";

struct Options {
    bool recursive = false;
    std::string outputFolder;  // empty: beside each source
    bool keepTree = false;
    int jobs = 1;
    OnExists onExists = OnExists::Overwrite;
    bool pdfA = false;
};

struct Job {
    std::string source;
    std::string pdf;
    int argument = 0;      // the command-line argument it came from (0-based)
    std::string relative;  // below that argument with '/' separators; a file argument's name
    int format = 0;
    Outcome outcome = Outcome::Pending;
    std::string reason;
    std::string duplicateOf;  // skipped as another name of this input's document
    int pages = 0;
    int wordPages = 0;  // the page count Word recorded in the document, 0 when none
    double seconds = 0;
    FileFacts sourceFacts;
    std::uint64_t pdfSize = 0;
    bool carriedOver = false;  // converted by an earlier run, taken over by --resume
};

// The PDF an earlier run wrote for a source, as its report recorded it.
struct EarlierConversion {
    std::string pdf;
    int pages = 0;
    int wordPages = 0;
    double seconds = 0;
    FileFacts source;
    std::uint64_t pdfSize = 0;
};
// The earlier conversion of a source path, or nullptr.
using EarlierLookup = std::function<const EarlierConversion*(const std::string& source)>;

// One job per input, in command-line order (a folder's documents sorted by path), and a failed
// one for each folder that cannot be read. Inputs that cannot be converted are already Skipped
// or Failed with their reason; a second name of a document (a link, a hard link, a path named
// twice) is Skipped with duplicateOf set; the rest are Pending with their PDF path decided, no
// two the same. With earlier conversions, an input whose
// source and PDF are as that run left them is Converted and carried over.
std::vector<Job> PlanJobs(const std::vector<std::string>& paths, const Options& options,
                          const EarlierLookup& earlier = nullptr);

// Loads and saves one pending job; sets its outcome, its pages and the facts of its files. An
// engine that could not start its office throws on (EngineError, StartFailed): the job is left
// as it was, for another engine.
void ConvertOne(ConversionEngine& engine, Job& job);

// FNV-1a, 64 bits. Shards hash an input's relative path: every machine that lists the same
// tree puts each input in the same shard, whatever the folder is mounted as.
std::uint64_t Fnv1a64(std::string_view text);
inline int ShardOf(const Job& job, int count) {
    return static_cast<int>(Fnv1a64(job.relative) % static_cast<std::uint64_t>(count));
}
// What identifies an input across the reports of one tree: its argument and relative path.
inline std::string IdentityOf(int argument, const std::string& relative) {
    return std::to_string(argument) + '\n' + relative;
}

}  // namespace vellumor::cli
