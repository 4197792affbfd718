#include "cli/batch.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <unordered_map>
#include <unordered_set>
#include <system_error>

#include "cli/platform.h"
#include "core/paths.h"
#include "core/word_pages.h"

namespace fs = std::filesystem;

namespace vellumor::cli {

namespace {

struct Found {
    std::string path;
    int argument = 0;
    std::string relative;
    int root = -1;  // the folder argument it was found under, -1 for a file argument
    FileIdentity identity;
    bool link = false;    // named through a symbolic link
    std::string failure;  // set: the input cannot be converted, and why
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

std::string Joined(const std::string& folder, const std::string& name) {
    if (folder.empty() || IsSeparator(folder.back())) return folder + name;
#ifdef _WIN32
    return folder + '\\' + name;
#else
    return folder + '/' + name;
#endif
}

struct IdentityHash {
    std::size_t operator()(const FileIdentity& id) const {
        return std::hash<std::uint64_t>()(id.index * 31 + id.device);
    }
};
using FolderSet = std::unordered_set<FileIdentity, IdentityHash>;

// Why a link that leads nowhere cannot be converted.
std::string DanglingReason(const std::string& path, const std::error_code& error) {
    if (error == std::errc::too_many_symbolic_link_levels) return "a link that leads in a circle";
    std::string target = LinkTarget(path);
    return target.empty() ? "a link to a file that does not exist"
                          : "a link to " + target + ", which does not exist";
}

// The documents below one folder argument, sorted by path, and one failed record for each
// folder that cannot be read. Links to files are taken like the files; links to folders are
// followed after the folder's own tree, each folder (by its identity) searched only once, so a
// link that leads back up ends there.
class FolderScan {
  public:
    FolderScan(int argument, int root, bool recursive, FolderSet& visited,
               std::vector<Found>& found)
        : argument_(argument),
          root_(root),
          recursive_(recursive),
          visited_(visited),
          found_(found) {}

    void Run(const std::string& folder, const FileIdentity& identity) {
        std::size_t first = found_.size();
        visited_.insert(identity);
        Walk(folder, "");
        // Folders reached through links, in the order found; each may lead to more.
        for (std::size_t i = 0; i < linkedFolders_.size(); ++i) {
            auto [path, relative] = linkedFolders_[i];
            EntryFacts facts = Examine(path);
            if (facts.kind != EntryKind::Folder || !visited_.insert(facts.identity).second)
                continue;
            Walk(path, relative);
        }
        std::sort(found_.begin() + static_cast<std::ptrdiff_t>(first), found_.end(),
                  [](const Found& a, const Found& b) { return a.path < b.path; });
    }

  private:
    void Walk(const std::string& folder, const std::string& relative) {
        std::error_code error;
        std::vector<ListedEntry> entries = ListFolder(folder, error);
        if (error)
            Add(folder, relative.empty() ? "./" : relative + "/", {}, false,
                "cannot read the folder " + folder + ": " + ReasonText(error));
        std::sort(entries.begin(), entries.end(),
                  [](const ListedEntry& a, const ListedEntry& b) { return a.name < b.name; });
        for (const auto& entry : entries) {
            std::string path = Joined(folder, entry.name);
            std::string below = relative.empty() ? entry.name : relative + "/" + entry.name;
            bool document = IsDocument(entry.name);
            if (entry.kind == ListedKind::Folder) {
                if (!recursive_) continue;
                EntryFacts facts = Examine(path);
                if (facts.kind == EntryKind::Folder && !visited_.insert(facts.identity).second)
                    continue;  // a mount of a folder already searched
                Walk(path, below);
                continue;
            }
            if (entry.kind == ListedKind::File && !document) continue;
            EntryFacts facts = Examine(path);
            switch (facts.kind) {
                case EntryKind::File:
                    if (document) Add(path, below, facts.identity, facts.link, "");
                    break;
                case EntryKind::Folder:
                    if (!recursive_) break;
                    if (facts.link)
                        linkedFolders_.emplace_back(path, below);
                    else if (visited_.insert(facts.identity).second)
                        Walk(path, below);
                    break;
                case EntryKind::Dangling:
                    if (document) Add(path, below, {}, true, DanglingReason(path, facts.error));
                    break;
                case EntryKind::Unreachable:
                    // Gone since the listing, or behind a folder that cannot be searched.
                    if (document)
                        Add(path, below, {}, facts.link,
                            "cannot open the file: " + ReasonText(facts.error));
                    break;
                case EntryKind::Other:
                    break;
            }
        }
    }

    void Add(const std::string& path, const std::string& relative, const FileIdentity& identity,
             bool link, std::string failure) {
        Found f;
        f.path = path;
        f.argument = argument_;
        f.relative = relative;
        f.root = root_;
        f.identity = identity;
        f.link = link;
        f.failure = std::move(failure);
        found_.push_back(std::move(f));
    }

    int argument_, root_;
    bool recursive_;
    FolderSet& visited_;
    std::vector<Found>& found_;
    std::vector<std::pair<std::string, std::string>> linkedFolders_;
};

std::string IdentityKey(const FileIdentity& id) {
    return std::to_string(id.device) + ':' + std::to_string(id.index);
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
            if (it == folders_.end()) it = folders_.emplace(lastFolder_, List(lastFolder_)).first;
            last_ = &it->second;
        }
        return last_->count(NameKey(path.substr(cut))) > 0;
    }

  private:
    static std::unordered_set<std::string> List(const std::string& folder) {
        std::unordered_set<std::string> names;
        std::error_code ec;
        for (const auto& entry : ListFolder(folder.empty() ? std::string(".") : folder, ec))
            names.insert(NameKey(entry.name));
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
    std::vector<Job> jobs;
    int roots = 0;
    for (std::size_t a = 0; a < paths.size(); ++a) {
        std::string path = NativeText(paths[a]);
        int argument = static_cast<int>(a);
        EntryFacts facts = Examine(path);
        if (facts.kind == EntryKind::Folder) {
            // Each argument's tree on its own: documents that two arguments reach are recorded
            // under both, the second as a duplicate.
            FolderSet visited;
            FolderScan(argument, roots++, options.recursive, visited, inputs)
                .Run(path, facts.identity);
            continue;
        }
        Found f;
        f.path = path;
        f.argument = argument;
        f.relative = WithSlashes(FileNameOfPath(path));
        f.identity = facts.identity;
        f.link = facts.link;
        switch (facts.kind) {
            case EntryKind::File:
                break;
            case EntryKind::Dangling:
                f.failure = DanglingReason(path, facts.error);
                break;
            case EntryKind::Unreachable:
                f.failure = facts.error == std::errc::no_such_file_or_directory
                                ? "no such file or folder"
                                : "cannot open the file: " + ReasonText(facts.error);
                break;
            default:
                f.failure = "not a regular file";
                break;
        }
        inputs.push_back(std::move(f));
    }
    jobs.reserve(inputs.size());

    // Which name of each document is converted: the first in input order that is not a link,
    // else the first; every other name of it is a duplicate of that one.
    std::unordered_map<std::string, std::size_t> converting;
    converting.reserve(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const Found& input = inputs[i];
        if (!input.failure.empty() || !IsDocument(input.path)) continue;
        if (FileNameOfPath(input.path).rfind("~$", 0) == 0) continue;
        auto [it, first] = converting.emplace(IdentityKey(input.identity), i);
        if (!first && inputs[it->second].link && !input.link) it->second = i;
    }

    ExistingFiles existing;
    std::unordered_set<std::string> claimedPdfs;
    claimedPdfs.reserve(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        Found& input = inputs[i];
        Job job;
        job.source = input.path;
        job.argument = input.argument;
        job.relative = std::move(input.relative);
        bool listed = input.root >= 0;  // found in a folder argument
        std::string name = FileNameOfPath(input.path);
        job.format = input.failure.empty() ? LoadFormatFor(ExtensionOfPath(name)) : 0;
        if (!input.failure.empty()) {
            job.outcome = Outcome::Failed;
            job.reason = std::move(input.failure);
        } else if (job.format == 0) {
            job.outcome = Outcome::Skipped;
            job.reason = "not a .doc or .docx file";
        } else if (name.rfind("~$", 0) == 0) {
            job.outcome = Outcome::Skipped;
            job.reason = "a lock file Word keeps beside an open document";
        } else if (std::size_t chosen = converting.at(IdentityKey(input.identity)); chosen != i) {
            job.outcome = Outcome::Skipped;
            job.duplicateOf = inputs[chosen].path;
            job.reason = job.duplicateOf == job.source ? "named more than once"
                                                       : "the same document as " + job.duplicateOf;
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
                job.wordPages = before->wordPages;
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
    // Gone or closed to us since the folder was listed: said in plain words, not as the
    // engine's failure.
    if (std::error_code error = TryOpen(job.source)) {
        job.outcome = Outcome::Failed;
        job.reason = "cannot open the file: " + ReasonText(error);
        job.seconds = 0;
        return;
    }
    {
        std::ifstream in(PathOf(job.source), std::ios::binary);
        job.wordPages = RecordedWordPages(in);
    }
    try {
        engine.LoadDocument(job.source, static_cast<SourceFormat>(job.format));
        job.pages = engine.SavePdf(job.pdf).pages;
        job.outcome = Outcome::Converted;
        job.pdfSize = FactsOf(job.pdf).size;
    } catch (const EngineError& e) {
        if (e.failure() == EngineFailure::StartFailed) throw;  // not the document's failure
        job.outcome = Outcome::Failed;
        job.reason = e.what();
    } catch (const std::exception& e) {
        job.outcome = Outcome::Failed;
        job.reason = e.what();
    }
    job.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

}  // namespace vellumor::cli
