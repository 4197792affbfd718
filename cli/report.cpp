#include "cli/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <ostream>
#include <set>

namespace vellumor::cli {

namespace {

std::string Hex(std::uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

std::uint64_t FromHex(const nlohmann::json& value) {
    if (!value.is_string()) return 0;
    return std::strtoull(value.get<std::string>().c_str(), nullptr, 16);
}

nlohmann::json TallyJson(const InputTally& tally) {
    return {{"count", tally.count}, {"digest", Hex(tally.digest)}};
}

InputTally TallyFrom(const nlohmann::json& value) {
    InputTally tally;
    if (!value.is_object()) return tally;
    tally.count = value.value("count", std::uint64_t{0});
    tally.digest = FromHex(value.value("digest", nlohmann::json()));
    return tally;
}

template <typename T>
T Field(const nlohmann::json& record, const char* name, T fallback) {
    auto it = record.find(name);
    if (it == record.end() || it->is_null()) return fallback;
    try {
        return it->get<T>();
    } catch (const nlohmann::json::exception&) {
        return fallback;
    }
}

bool IsRecord(const nlohmann::json& line) {
    return line.is_object() && line.contains("input") && line.contains("outcome");
}

// Calls each(line) for every JSON value of a report: the elements of a --json array, the lines
// of a --jsonl report. False with error when the file is not one.
template <typename Each>
bool ForEachEntry(const std::string& path, std::string& error, Each each) {
    std::ifstream in(PathOf(path), std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    char first = 0;
    while (in.get(first) && std::isspace(static_cast<unsigned char>(first))) {
    }
    in.seekg(0);
    try {
        if (first == '[') {
            for (const auto& entry : nlohmann::json::parse(in)) each(entry, std::string());
            return true;
        }
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
            nlohmann::json entry;
            try {
                entry = nlohmann::json::parse(line);
            } catch (const nlohmann::json::exception&) {
                // The last line of a report whose run was killed may be cut short.
                if (in.peek() == std::char_traits<char>::eof()) break;
                throw;
            }
            each(entry, line);
        }
        return true;
    } catch (const nlohmann::json::exception& e) {
        error = path + " is not a vellumor-cli report: " + e.what();
        return false;
    }
}

}  // namespace

void TallyInputs(const std::vector<Job>& jobs, RunInfo& run) {
    run.all = InputTally();
    run.shards.assign(static_cast<std::size_t>(run.shardCount), InputTally());
    for (const auto& job : jobs) {
        std::string identity = IdentityOf(job.argument, job.relative);
        run.all.Add(identity);
        run.shards[static_cast<std::size_t>(ShardOf(job, run.shardCount))].Add(identity);
    }
}

nlohmann::json RecordOf(const Job& job) {
    nlohmann::json r;
    r["input"] = job.source;
    switch (job.outcome) {
        case Outcome::Converted:
            r["outcome"] = "converted";
            r["output"] = job.pdf;
            r["pages"] = job.pages;
            if (job.wordPages > 0) r["word_pages"] = job.wordPages;
            r["seconds"] = std::round(job.seconds * 1000) / 1000;
            if (job.carriedOver) r["carried_over"] = true;
            break;
        case Outcome::Skipped:
            r["outcome"] = "skipped";
            r["reason"] = job.reason;
            if (!job.duplicateOf.empty()) r["duplicate_of"] = job.duplicateOf;
            break;
        default:
            r["outcome"] = "failed";
            r["reason"] = job.reason;
            if (!job.pdf.empty()) r["output"] = job.pdf;
            if (job.wordPages > 0) r["word_pages"] = job.wordPages;
            break;
    }
    r["argument"] = job.argument;
    r["relative"] = job.relative;
    if (job.sourceFacts.known) {
        r["source_size"] = job.sourceFacts.size;
        r["source_mtime_ns"] = job.sourceFacts.mtimeNs;
    }
    if (job.outcome == Outcome::Converted) r["pdf_size"] = job.pdfSize;
    return r;
}

std::vector<std::string> PageCountNotes(const std::vector<Job>& jobs) {
    std::vector<std::string> notes;
    for (const auto& job : jobs) {
        if (job.outcome != Outcome::Converted || job.wordPages <= 0 || job.pages == job.wordPages)
            continue;
        notes.push_back(job.pdf + ": Word counted " + std::to_string(job.wordPages) + " page" +
                        (job.wordPages == 1 ? "" : "s") + "; the PDF has " +
                        std::to_string(job.pages));
    }
    if (!notes.empty())
        notes.push_back(
            "(Word's count is the one it saved with the document; Word does not always bring "
            "it up to date, so it can be stale.)");
    return notes;
}

nlohmann::json HeaderOf(const RunInfo& run) {
    nlohmann::json shards = nlohmann::json::array();
    for (const auto& tally : run.shards) shards.push_back(TallyJson(tally));
    nlohmann::json header;
    header["vellumor_report"] = 1;
    header["arguments"] = run.arguments;
    header["recursive"] = run.recursive;
    header["shard"] = {{"index", run.shardIndex}, {"count", run.shardCount}};
    header["inputs"] = TallyJson(run.all);
    header["inputs_per_shard"] = shards;
    return header;
}

std::unordered_map<std::string, EarlierConversion> ReadEarlierConversions(const std::string& path,
                                                                          std::string& error) {
    std::unordered_map<std::string, EarlierConversion> earlier;
    ForEachEntry(path, error, [&](const nlohmann::json& entry, const std::string&) {
        if (!IsRecord(entry) || entry["outcome"] != "converted") return;
        EarlierConversion c;
        c.pdf = Field<std::string>(entry, "output", "");
        c.pages = Field<int>(entry, "pages", 0);
        c.wordPages = Field<int>(entry, "word_pages", 0);
        c.seconds = Field<double>(entry, "seconds", 0);
        c.source.known = entry.contains("source_size") && entry.contains("source_mtime_ns");
        c.source.size = Field<std::uint64_t>(entry, "source_size", 0);
        c.source.mtimeNs = Field<std::int64_t>(entry, "source_mtime_ns", 0);
        c.pdfSize = Field<std::uint64_t>(entry, "pdf_size", 0);
        // Without the facts to compare (a report of an older version) nothing is trusted.
        if (c.pdf.empty() || !c.source.known || !entry.contains("pdf_size")) return;
        earlier[entry["input"].get<std::string>()] = std::move(c);
    });
    return earlier;
}

int MergeReports(const std::vector<std::string>& reports, std::ostream& out, std::ostream& err) {
    struct Entry {
        int argument;
        std::string relative;
        std::string line;
        std::size_t report;
        std::string outcome;
        bool duplicate;
    };
    std::vector<Entry> entries;
    nlohmann::json first;
    std::vector<int> reportOfShard;
    int count = 0;
    bool problems = false;
    std::map<std::string, std::size_t> outcomes;
    std::size_t duplicates = 0;
    for (std::size_t r = 0; r < reports.size(); ++r) {
        nlohmann::json header;
        std::string error;
        bool read = ForEachEntry(reports[r], error,
                                 [&](const nlohmann::json& entry, const std::string& line) {
                                     if (entry.is_object() && entry.contains("vellumor_report")) {
                                         if (header.is_null()) header = entry;
                                         return;
                                     }
                                     if (!IsRecord(entry)) return;
                                     Entry e{Field<int>(entry, "argument", -1),
                                             Field<std::string>(entry, "relative", ""),
                                             line.empty() ? entry.dump() : line,
                                             r,
                                             Field<std::string>(entry, "outcome", ""),
                                             entry.contains("duplicate_of")};
                                     if (e.argument < 0 || e.relative.empty()) return;
                                     entries.push_back(std::move(e));
                                 });
        if (!read) {
            err << error << "\n";
            return 2;
        }
        if (header.is_null()) {
            err << reports[r] << " has no run header: merge reads the --jsonl reports\n";
            return 2;
        }
        int index = header["shard"].value("index", 0), n = header["shard"].value("count", 1);
        if (first.is_null()) {
            first = header;
            count = n;
            reportOfShard.assign(static_cast<std::size_t>(count), -1);
        } else if (n != count || header["inputs"] != first["inputs"] ||
                   header["arguments"].size() != first["arguments"].size()) {
            err << reports[r] << " is of another batch than " << reports[0]
                << " (its tree, its inputs or its number of shards differ)\n";
            return 2;
        }
        if (index < 0 || index >= count) {
            err << reports[r] << " names shard " << index << " of " << count << "\n";
            return 2;
        }
        if (reportOfShard[static_cast<std::size_t>(index)] >= 0) {
            err << "shard " << index << "/" << count << " is covered by both "
                << reports[static_cast<std::size_t>(reportOfShard[static_cast<std::size_t>(index)])]
                << " and " << reports[r] << "\n";
            problems = true;
        } else {
            reportOfShard[static_cast<std::size_t>(index)] = static_cast<int>(r);
        }
    }
    if (reports.empty()) {
        err << "merge needs at least one report\n";
        return 2;
    }

    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.argument != b.argument ? a.argument < b.argument : a.relative < b.relative;
    });
    std::vector<InputTally> found(static_cast<std::size_t>(count));
    Job probe;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        bool again =
            i > 0 && entries[i - 1].argument == e.argument && entries[i - 1].relative == e.relative;
        if (again) {
            err << "twice: " << e.relative << " (argument " << e.argument << ", in "
                << reports[entries[i - 1].report] << " and " << reports[e.report] << ")\n";
            problems = true;
            continue;
        }
        probe.relative = e.relative;
        found[static_cast<std::size_t>(ShardOf(probe, count))].Add(
            IdentityOf(e.argument, e.relative));
    }
    const auto& expected = first["inputs_per_shard"];
    for (int k = 0; k < count; ++k) {
        InputTally want = TallyFrom(k < static_cast<int>(expected.size()) ? expected[k] : nullptr);
        InputTally got = found[static_cast<std::size_t>(k)];
        if (want == got) continue;
        problems = true;
        if (reportOfShard[static_cast<std::size_t>(k)] < 0)
            err << "missing: shard " << k << "/" << count << " (" << want.count
                << " inputs): no report of it\n";
        else if (got.count < want.count)
            err << "missing: " << want.count - got.count << " of the " << want.count
                << " inputs of shard " << k << "/" << count << " ("
                << reports[static_cast<std::size_t>(reportOfShard[static_cast<std::size_t>(k)])]
                << " has no record of them)\n";
        else
            err << "shard " << k << "/" << count << " holds other inputs than its run planned\n";
    }

    nlohmann::json header = first;
    header["shard"] = {{"index", 0}, {"count", 1}};
    header["merged_shards"] = count;
    header["inputs_per_shard"] = nlohmann::json::array({first["inputs"]});
    out << header.dump() << "\n";
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (i == 0 || entries[i - 1].argument != entries[i].argument ||
            entries[i - 1].relative != entries[i].relative) {
            out << entries[i].line << "\n";
            outcomes[entries[i].outcome]++;
            duplicates += entries[i].duplicate;
        }
    nlohmann::json summary;
    for (const auto& [outcome, n] : outcomes) summary[outcome] = n;
    summary["duplicates"] = duplicates;
    summary["complete"] = !problems;
    out << nlohmann::json{{"summary", summary}}.dump() << "\n";
    return problems ? 1 : 0;
}

}  // namespace vellumor::cli
