// vellumor-cli as its users run it: exit codes, one outcome per input, JSON records, output
// naming, and a run that goes on when the engine hangs or dies on one document.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

namespace fs = std::filesystem;

namespace {

class TempFolder {
  public:
    TempFolder() {
        char name[] = "/tmp/vellumor-cli-test-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~TempFolder() { fs::remove_all(path_); }
    fs::path operator/(const std::string& name) const { return path_ / name; }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

void Copy(const std::string& corpusName, const fs::path& target) {
    fs::create_directories(target.parent_path());
    fs::copy_file(fs::path(VELLUMOR_CORPUS) / corpusName, target);
}

int RunCli(const std::string& arguments, const std::string& environment = "") {
    std::string command =
        environment + " '" + std::string(VELLUMOR_CLI) + "' " + arguments + " >/dev/null 2>&1";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

nlohmann::json ReadJson(const fs::path& file) {
    std::ifstream in(file);
    return nlohmann::json::parse(in);
}

std::string Q(const fs::path& p) {
    return "'" + p.string() + "'";
}

}  // namespace

TEST(Cli, UsageErrorsExitWithTwo) {
    EXPECT_EQ(RunCli(""), 2);
    EXPECT_EQ(RunCli("-o /tmp/x --beside-source a.doc"), 2);
    EXPECT_EQ(RunCli("--on-exists sometimes a.doc"), 2);
    EXPECT_EQ(RunCli("--keep-tree a.doc"), 2);
    EXPECT_EQ(RunCli("--jobs 0 a.doc"), 2);
    EXPECT_EQ(RunCli("--help"), 0);
}

TEST(Cli, EveryInputEndsInOneOutcomeAndNamesFollowTheRules) {
    TempFolder dir;
    Copy("poi_Bug54849.docx", dir / "in" / "A.DOCX");
    Copy("poi_footnote.doc", dir / "in" / "sub" / "b.doc");
    std::ofstream(dir / "in" / "notes.doc") << "plain words\n";
    std::ofstream(dir / "in" / "~$A.DOCX") << "lock";
    std::ofstream(dir / "in" / "readme.txt") << "not an input";
    fs::path out = dir / "out", json = dir / "r.json";

    EXPECT_EQ(RunCli("--recursive --keep-tree --jobs 2 -o " + Q(out) + " --json " + Q(json) + " " +
                     Q(dir / "in") + " " + Q(dir / "missing.docx")),
              1);
    EXPECT_TRUE(fs::exists(out / "A.pdf"));
    EXPECT_TRUE(fs::exists(out / "sub" / "b.pdf"));
    auto records = ReadJson(json);
    ASSERT_EQ(records.size(), 5u);  // four found in the folder, one missing file
    std::map<std::string, nlohmann::json> by;
    for (auto& r : records) by[fs::path(r["input"].get<std::string>()).filename().string()] = r;
    EXPECT_EQ(by["A.DOCX"]["outcome"], "converted");
    EXPECT_EQ(by["A.DOCX"]["pages"], 2);
    EXPECT_EQ(by["b.doc"]["outcome"], "converted");
    EXPECT_EQ(by["notes.doc"]["outcome"], "failed");
    EXPECT_NE(by["notes.doc"]["reason"].get<std::string>().find("plain text"), std::string::npos);
    EXPECT_EQ(by["~$A.DOCX"]["outcome"], "skipped");
    EXPECT_EQ(by["missing.docx"]["outcome"], "failed");

    // An existing PDF: renamed, or skipped, never lost.
    EXPECT_EQ(RunCli("--on-exists rename -o " + Q(out) + " " + Q(dir / "in" / "A.DOCX")), 0);
    EXPECT_TRUE(fs::exists(out / "A (1).pdf"));
    EXPECT_EQ(RunCli("--on-exists skip -o " + Q(out) + " --json " + Q(json) + " " +
                     Q(dir / "in" / "A.DOCX")),
              0);
    EXPECT_EQ(ReadJson(json)[0]["outcome"], "skipped");
    // Beside the source by default.
    EXPECT_EQ(RunCli(Q(dir / "in" / "sub" / "b.doc")), 0);
    EXPECT_TRUE(fs::exists(dir / "in" / "sub" / "b.pdf"));
}

TEST(Cli, TheRunGoesOnWhenTheEngineHangsOrDies) {
    TempFolder dir;
    Copy("poi_Bug54849.docx", dir / "in" / "1-hangs.docx");
    Copy("poi_Bug54849.docx", dir / "in" / "2-fine.docx");
    Copy("poi_footnote.doc", dir / "in" / "3-dies.doc");
    Copy("poi_footnote.doc", dir / "in" / "4-fine.doc");
    fs::path json = dir / "r.json";
    std::string worker = "VELLUMOR_ENGINE_PATH='" + std::string(VELLUMOR_TEST_WORKER) + "' ";
    EXPECT_EQ(RunCli("--jobs 1 --timeout 3 --json " + Q(json) + " " + Q(dir / "in"),
                     worker + "VELLUMOR_ENGINE_FAULT=hang:hangs"),
              1);
    auto records = ReadJson(json);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0]["outcome"], "failed");
    EXPECT_NE(records[0]["reason"].get<std::string>().find("did not finish loading"),
              std::string::npos);
    EXPECT_EQ(records[1]["outcome"], "converted");
    EXPECT_EQ(records[3]["outcome"], "converted");

    fs::remove_all(dir / "in" / "2-fine.pdf");
    EXPECT_EQ(RunCli("--jobs 1 --json " + Q(json) + " " + Q(dir / "in" / "3-dies.doc") + " " +
                         Q(dir / "in" / "2-fine.docx"),
                     worker + "VELLUMOR_ENGINE_FAULT=crash:dies"),
              1);
    records = ReadJson(json);
    EXPECT_EQ(records[0]["outcome"], "failed");
    EXPECT_NE(records[0]["reason"].get<std::string>().find("crashed the document engine twice"),
              std::string::npos);
    EXPECT_EQ(records[1]["outcome"], "converted");
    EXPECT_TRUE(fs::exists(dir / "in" / "2-fine.pdf"));
}
