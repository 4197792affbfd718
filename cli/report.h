// The converter's reports: one JSON record per input, the JSON Lines report's header and
// summary, reading an earlier report for --resume, and merging the reports of a batch's shards.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_map>
#include <vector>

#include "cli/batch.h"

namespace vellumor::cli {

// The inputs of one shard (or of the whole tree): how many, and the sum of their identities'
// hashes, which tells the same set of inputs from another without listing them.
struct InputTally {
    std::uint64_t count = 0;
    std::uint64_t digest = 0;
    void Add(const std::string& identity) {
        ++count;
        digest += Fnv1a64(identity);
    }
    bool operator==(const InputTally&) const = default;
};

struct RunInfo {
    std::vector<std::string> arguments;
    bool recursive = false;
    int shardIndex = 0;
    int shardCount = 1;
    InputTally all;                  // every input of the tree, before sharding
    std::vector<InputTally> shards;  // the same, one per shard
};

// The tallies of a planned tree, whole and per shard.
void TallyInputs(const std::vector<Job>& jobs, RunInfo& run);

nlohmann::json RecordOf(const Job& job);

// The summary's lines for the PDFs whose page count differs from the one Word recorded
// ("OUT.pdf: Word counted 12 pages; the PDF has 13"), then a note that Word's count can be
// stale; none when every count agrees or none is known.
std::vector<std::string> PageCountNotes(const std::vector<Job>& jobs);
nlohmann::json HeaderOf(const RunInfo& run);

// An earlier report (--json or --jsonl) as --resume reads it: its converted records by input.
// error is set when the file cannot be read or is not a report.
std::unordered_map<std::string, EarlierConversion> ReadEarlierConversions(const std::string& path,
                                                                          std::string& error);

// vellumor-cli merge: the shard reports into one JSON Lines report on out; problems on err.
// 0 when every input of the tree is there exactly once, 1 when not, 2 when a report is unusable.
int MergeReports(const std::vector<std::string>& reports, std::ostream& out, std::ostream& err);

}  // namespace vellumor::cli
