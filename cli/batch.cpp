#include "cli/batch.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>
#include <system_error>

#include "cli/platform.h"
#include "core/paths.h"

namespace fs = std::filesystem;

namespace vellumor::cli {

namespace {

struct Found {
    std::string path;
    int argument = 0;
    std::string relative;
    int root = -1;  // the folder argument it was found under (in Roots), -1 for a file argument
    bool symlink = false;
};

bool IsDocument(const std::string& path) {
    return LoadFormatFor(ExtensionOfPath(FileNameOfPath(path))) != 0;
}

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

std::string WithSlashes(std::string path) {
#ifdef _WIN32
    for (auto& c : path)
        if (c == '\\') c = '/';
#endif
    return path;
}

// A folder's documents, sorted by path. What the listing tells (a regular file, a link) is
// kept, so planning needs no further look at each file.
void Scan(const std::string& folder, int argument, bool recursive, std::vector<std::string>& roots,
          std::vector<Found>& found) {
    std::size_t first = found.size();
    std::error_code ec;
    fs::path rootPath = PathOf(folder);
    std::string rootText = TextOf(rootPath);
    // The folder's canonical path, with a separator to append the relative path to.
    std::string rootKey = TextOf(fs::weakly_canonical(rootPath, ec) / "");
    int root = static_cast<int>(roots.size());
    roots.push_back(rootKey);
    auto add = [&](const fs::directory_entry& entry) {
        std::error_code e;
        if (!entry.is_regular_file(e)) return;
        std::string text = TextOf(entry.path());
        if (!IsDocument(text)) return;
        Found f;
        f.path = NativeText(text);
        std::size_t cut = text.compare(0, rootText.size(), rootText) == 0 ? rootText.size() : 0;
        while (cut < text.size() && IsSeparator(text[cut])) ++cut;
        f.relative = WithSlashes(text.substr(cut));
        f.argument = argument;
        f.root = root;
        f.symlink = entry.is_symlink(e);
        found.push_back(std::move(f));
    };
    if (recursive) {
        for (fs::recursive_directory_iterator
                 it(rootPath, fs::directory_options::skip_permission_denied, ec),
             end;
             !ec && it != end; it.increment(ec))
            add(*it);
    } else {
        for (fs::directory_iterator it(rootPath, fs::directory_options::skip_permission_denied, ec),
             end;
             !ec && it != end; it.increment(ec))
            add(*it);
    }
    std::sort(found.begin() + static_cast<std::ptrdiff_t>(first), found.end(),
              [](const Found& a, const Found& b) { return a.path < b.path; });
}

std::string WithNumber(const std::string& pdf, int n) {
    std::string stem = pdf.substr(0, pdf.size() - 4);  // without ".pdf"
    return stem + " (" + std::to_string(n) + ").pdf";
}

// Which files exist, one listing per output folder instead of one look per PDF.
class ExistingFiles {
  public:
    bool Exists(const std::string& path) {
        std::size_t cut = path.size();
        while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
        std::string_view folder(path.data(), cut);
        // Most PDFs go to the folder of the one before.
        if (!last_ || folder != lastFolder_) {
            lastFolder_ = folder;
            auto it = folders_.find(lastFolder_);
            if (it == folders_.end())
                it = folders_.emplace(lastFolder_, List(PathOf(lastFolder_))).first;
            last_ = &it->second;
        }
        return last_->count(NameKey(path.substr(cut))) > 0;
    }

  private:
    static std::unordered_set<std::string> List(const fs::path& folder) {
        std::unordered_set<std::string> names;
        std::error_code ec;
        for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec), end;
             !ec && it != end; it.increment(ec))
            names.insert(NameKey(TextOf(it->path().filename())));
        return names;
    }

    std::unordered_map<std::string, std::unordered_set<std::string>> folders_;
    std::string lastFolder_;
    const std::unordered_set<std::string>* last_ = nullptr;
};

// Whether the earlier run's PDF of this source still stands: the source unchanged, the PDF there
// with the size recorded.
bool StillStands(const EarlierConversion& earlier, const std::string& source) {
    FileFacts now = FactsOf(source);
    if (!now.known || !earlier.source.known || now.size != earlier.source.size ||
        now.mtimeNs != earlier.source.mtimeNs)
        return false;
    FileFacts pdf = FactsOf(earlier.pdf);
    return pdf.known && pdf.size == earlier.pdfSize;
}

}  // namespace

std::vector<Job> PlanJobs(const std::vector<std::string>& paths, const Options& options,
                          const EarlierLookup& earlier) {
    std::vector<Found> inputs;
    std::vector<std::string> roots;
    std::vector<Job> jobs;
    for (std::size_t a = 0; a < paths.size(); ++a) {
        std::string path = NativeText(paths[a]);
        int argument = static_cast<int>(a);
        std::error_code ec;
        auto status = fs::status(PathOf(path), ec);
        if (!ec && fs::is_directory(status)) {
            Scan(path, argument, options.recursive, roots, inputs);
        } else {
            Found f;
            f.path = path;
            f.argument = argument;
            f.relative = WithSlashes(FileNameOfPath(path));
            inputs.push_back(std::move(f));
        }
    }
    jobs.reserve(inputs.size());

    ExistingFiles existing;
    std::unordered_set<std::string> seenSources, claimedPdfs;
    seenSources.reserve(inputs.size());
    claimedPdfs.reserve(inputs.size());
    for (auto& input : inputs) {
        Job job;
        job.source = input.path;
        job.argument = input.argument;
        job.relative = std::move(input.relative);
        std::error_code ec;
        bool listed = input.root >= 0;  // a regular file, as its folder's listing said
        fs::path source = listed ? fs::path() : PathOf(input.path);
        std::string name = FileNameOfPath(input.path);
        job.format = LoadFormatFor(ExtensionOfPath(name));
        std::string sourceKey =
            listed && !input.symlink
                ? roots[static_cast<std::size_t>(input.root)] + NativeText(job.relative)
                : TextOf(fs::weakly_canonical(source, ec));
        if (!listed && !fs::exists(source, ec)) {
            job.outcome = Outcome::Failed;
            job.reason = "no such file or folder";
        } else if (!listed && !fs::is_regular_file(source, ec)) {
            job.outcome = Outcome::Failed;
            job.reason = "not a regular file";
        } else if (job.format == 0) {
            job.outcome = Outcome::Skipped;
            job.reason = "not a .doc or .docx file";
        } else if (name.rfind("~$", 0) == 0) {
            job.outcome = Outcome::Skipped;
            job.reason = "a lock file Word keeps beside an open document";
        } else if (!seenSources.insert(NameKey(sourceKey)).second) {
            job.outcome = Outcome::Skipped;
            job.reason = "named more than once";
        }
        if (job.outcome != Outcome::Pending) {
            jobs.push_back(std::move(job));
            continue;
        }

        if (earlier) {
            const EarlierConversion* before = earlier(job.source);
            if (before && StillStands(*before, job.source)) {
                job.outcome = Outcome::Converted;
                job.carriedOver = true;
                job.pdf = before->pdf;
                job.pages = before->pages;
                job.seconds = before->seconds;
                job.sourceFacts = before->source;
                job.pdfSize = before->pdfSize;
                claimedPdfs.insert(NameKey(job.pdf));
                jobs.push_back(std::move(job));
                continue;
            }
        }

        std::string output;
        if (options.outputFolder.empty()) {
            output = OutputPathForPath(input.path, "", OutputMode::OriginalPath);
        } else {
            std::string folder = NativeText(options.outputFolder);
            auto slash = job.relative.rfind('/');
            if (options.keepTree && listed && slash != std::string::npos)
                folder = TextOf(PathOf(folder) / PathOf(NativeText(job.relative.substr(0, slash))));
            output = OutputPathForPath(input.path, folder, OutputMode::SettingPath);
        }
        job.pdf = PdfPathForPath(output);

        // An earlier input of this run writing the same PDF is never overwritten silently.
        bool claimed = claimedPdfs.count(NameKey(job.pdf)) > 0;
        if (claimed || existing.Exists(job.pdf)) {
            if (options.onExists == OnExists::Skip) {
                job.outcome = Outcome::Skipped;
                job.reason = claimed ? job.pdf + " is written by an earlier input of this run"
                                     : job.pdf + " exists";
                jobs.push_back(std::move(job));
                continue;
            }
            if (claimed || options.onExists == OnExists::Rename) {
                std::string base = job.pdf;
                for (int n = 1;; ++n) {
                    std::string candidate = WithNumber(base, n);
                    if (!claimedPdfs.count(NameKey(candidate)) && !existing.Exists(candidate)) {
                        job.pdf = candidate;
                        break;
                    }
                }
            }
        }
        claimedPdfs.insert(NameKey(job.pdf));
        jobs.push_back(std::move(job));
    }
    return jobs;
}

std::uint64_t Fnv1a64(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

void ConvertOne(ConversionEngine& engine, Job& job) {
    auto started = std::chrono::steady_clock::now();
    job.sourceFacts = FactsOf(job.source);
    try {
        engine.LoadDocument(job.source, static_cast<SourceFormat>(job.format));
        job.pages = engine.SavePdf(job.pdf).pages;
        job.outcome = Outcome::Converted;
        job.pdfSize = FactsOf(job.pdf).size;
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
