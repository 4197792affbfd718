#include "cli/batch.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <system_error>

#include "cli/platform.h"
#include "core/paths.h"

namespace fs = std::filesystem;

namespace vellumor::cli {

namespace {

struct Found {
    std::string path;
    std::string root;  // the folder argument it was found under, empty for a file argument
};

bool IsDocument(const std::string& path) {
    return LoadFormatFor(ExtensionOfPath(FileNameOfPath(path))) != 0;
}

std::vector<Found> Scan(const std::string& folder, bool recursive) {
    std::vector<Found> found;
    std::error_code ec;
    auto add = [&](const fs::directory_entry& entry) {
        std::error_code e;
        if (!entry.is_regular_file(e)) return;
        std::string path = NativeText(TextOf(entry.path()));
        if (IsDocument(path)) found.push_back({path, folder});
    };
    if (recursive) {
        for (fs::recursive_directory_iterator
                 it(PathOf(folder), fs::directory_options::skip_permission_denied, ec),
             end;
             !ec && it != end; it.increment(ec))
            add(*it);
    } else {
        for (fs::directory_iterator
                 it(PathOf(folder), fs::directory_options::skip_permission_denied, ec),
             end;
             !ec && it != end; it.increment(ec))
            add(*it);
    }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.path < b.path; });
    return found;
}

std::string WithNumber(const std::string& pdf, int n) {
    std::string stem = pdf.substr(0, pdf.size() - 4);  // without ".pdf"
    return stem + " (" + std::to_string(n) + ").pdf";
}

}  // namespace

std::vector<Job> PlanJobs(const std::vector<std::string>& paths, const Options& options) {
    std::vector<Found> inputs;
    std::vector<Job> jobs;
    for (const auto& argument : paths) {
        std::string path = NativeText(argument);
        std::error_code ec;
        auto status = fs::status(PathOf(path), ec);
        if (ec || !fs::exists(status)) {
            inputs.push_back({path, {}});
            continue;
        }
        if (fs::is_directory(status)) {
            auto found = Scan(path, options.recursive);
            inputs.insert(inputs.end(), found.begin(), found.end());
        } else {
            inputs.push_back({path, {}});
        }
    }

    std::set<std::string> seenSources, claimedPdfs;
    for (const auto& input : inputs) {
        Job job;
        job.source = input.path;
        std::error_code ec;
        fs::path source = PathOf(input.path);
        std::string name = FileNameOfPath(input.path);
        job.format = LoadFormatFor(ExtensionOfPath(name));
        if (!fs::exists(source, ec)) {
            job.outcome = Outcome::Failed;
            job.reason = "no such file or folder";
        } else if (!fs::is_regular_file(source, ec)) {
            job.outcome = Outcome::Failed;
            job.reason = "not a regular file";
        } else if (job.format == 0) {
            job.outcome = Outcome::Skipped;
            job.reason = "not a .doc or .docx file";
        } else if (name.rfind("~$", 0) == 0) {
            job.outcome = Outcome::Skipped;
            job.reason = "a lock file Word keeps beside an open document";
        } else if (!seenSources.insert(TextOf(fs::weakly_canonical(source, ec))).second) {
            job.outcome = Outcome::Skipped;
            job.reason = "named more than once";
        }
        if (job.outcome != Outcome::Pending) {
            jobs.push_back(job);
            continue;
        }

        std::string output;
        if (options.outputFolder.empty()) {
            output = OutputPathForPath(input.path, "", OutputMode::OriginalPath);
        } else {
            std::string folder = NativeText(options.outputFolder);
            if (options.keepTree && !input.root.empty()) {
                fs::path relative = source.parent_path().lexically_relative(PathOf(input.root));
                if (!relative.empty() && relative != ".")
                    folder = NativeText(TextOf(PathOf(folder) / relative));
            }
            output = OutputPathForPath(input.path, folder, OutputMode::SettingPath);
        }
        job.pdf = PdfPathForPath(output);

        // An earlier input of this run writing the same PDF is never overwritten silently.
        bool claimed = claimedPdfs.count(job.pdf) > 0;
        bool exists = fs::exists(PathOf(job.pdf), ec);
        if (claimed || exists) {
            if (options.onExists == OnExists::Skip) {
                job.outcome = Outcome::Skipped;
                job.reason = claimed ? job.pdf + " is written by an earlier input of this run"
                                     : job.pdf + " exists";
                jobs.push_back(job);
                continue;
            }
            if (claimed || options.onExists == OnExists::Rename) {
                std::string base = job.pdf;
                for (int n = 1;; ++n) {
                    std::string candidate = WithNumber(base, n);
                    if (!claimedPdfs.count(candidate) && !fs::exists(PathOf(candidate), ec)) {
                        job.pdf = candidate;
                        break;
                    }
                }
            }
        }
        claimedPdfs.insert(job.pdf);
        jobs.push_back(job);
    }
    return jobs;
}

void ConvertOne(ConversionEngine& engine, Job& job) {
    auto started = std::chrono::steady_clock::now();
    try {
        engine.LoadDocument(job.source, static_cast<SourceFormat>(job.format));
        job.pages = engine.SavePdf(job.pdf).pages;
        job.outcome = Outcome::Converted;
    } catch (const EngineError& e) {
        job.outcome = Outcome::Failed;
        job.reason = e.what();
    } catch (const std::exception& e) {
        job.outcome = Outcome::Failed;
        job.reason = e.what();
    }
    job.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

}  // namespace vellumor::cli
