// The command-line converter's batch: which inputs a command line names, where each PDF goes,
// and the conversion of one input. Separate from main() so the tests can drive it.
#pragma once

#include <string>
#include <vector>

#include "engine/document_engine.h"

namespace vellumor::cli {

enum class OnExists { Overwrite, Skip, Rename };
enum class Outcome { Pending, Converted, Skipped, Failed };

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
    int format = 0;
    Outcome outcome = Outcome::Pending;
    std::string reason;
    int pages = 0;
    double seconds = 0;
};

// One job per input, in command-line order (a folder's documents sorted by path). Inputs that
// cannot be converted are already Skipped or Failed with their reason; the rest are Pending
// with their PDF path decided, no two the same.
std::vector<Job> PlanJobs(const std::vector<std::string>& paths, const Options& options);

// Loads and saves one pending job; sets its outcome and its pages.
void ConvertOne(ConversionEngine& engine, Job& job);

}  // namespace vellumor::cli
