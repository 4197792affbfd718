// What a killed run leaves outside the output folder, swept at the next start: the names that
// are ours, and on this system which of them go.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "batch/leftovers.h"
#include "batch/platform.h"

namespace fs = std::filesystem;
using namespace vellumor::batch;

namespace {

// No process has this id: it is above any pid the kernel gives, and odd for Windows.
constexpr std::uint32_t kGonePid = 2147483001u;
constexpr std::uint32_t kLivePid = 1;  // init, there as long as the system is
constexpr std::uint8_t kRandom[6] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab};

TEST(LeftoverNames, OnlyOurExactFormsAreRecognised) {
    EXPECT_EQ(PrivateFolderName("vellumor-ahead-", 4242, kRandom),
              "vellumor-ahead-4242-0123456789ab");
    EXPECT_EQ(PidOfPrivateFolder("vellumor-ahead-4242-0123456789ab", "vellumor-ahead-"), 4242u);
    for (const char* name :
         {"vellumor-ahead-notes", "vellumor-ahead-4242", "vellumor-ahead-4242-0123456789a",
          "vellumor-ahead-4242-0123456789abc", "vellumor-ahead-4242-0123456789AB",
          "vellumor-ahead--0123456789ab", "vellumor-ahead-04242-0123456789ab",
          "vellumor-ahead-+4242-0123456789ab", "vellumor-ahead-99999999999-0123456789ab",
          "Vellumor-ahead-4242-0123456789ab", "x-vellumor-ahead-4242-0123456789ab"})
        EXPECT_FALSE(PidOfPrivateFolder(name, "vellumor-ahead-")) << name;

    EXPECT_EQ(PartName("a.pdf", 77), "a.pdf.vellumor-part-77");
    EXPECT_EQ(PidOfPart("a.pdf.vellumor-part-77", "a.pdf"), 77u);
    for (const char* name :
         {"a.pdf.vellumor-part-", "a.pdf.vellumor-part-77x", "a.pdf.vellumor-part-77.pdf",
          "b.pdf.vellumor-part-77", "xa.pdf.vellumor-part-77", "a.pdf.vellumor-part--77", "a.pdf",
          "a.pdf.vellumor-part-077"})
        EXPECT_FALSE(PidOfPart(name, "a.pdf")) << name;
}

void Touch(const fs::path& path) {
    std::ofstream(path) << "x";
}

class Leftovers : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("vellumor-leftovers-test-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root / "temp");
        fs::create_directories(root / "out");
        // The sweep looks in the system's temporary folder: here, the test's own.
        const char* old = getenv("TMPDIR");
        if (old) oldTemp = old;
        hadTemp = old != nullptr;
        setenv("TMPDIR", (root / "temp").c_str(), 1);
    }
    void TearDown() override {
        if (hadTemp)
            setenv("TMPDIR", oldTemp.c_str(), 1);
        else
            unsetenv("TMPDIR");
        fs::remove_all(root);
    }
    fs::path Folder(std::uint32_t pid, bool marked) {
        const fs::path folder = root / "temp" / PrivateFolderName(kPrefix, pid, kRandom);
        fs::create_directories(folder);
        Touch(folder / "1.pdf");
        if (marked) Touch(folder / kOwnerMarker);
        return folder;
    }
    static constexpr const char* kPrefix = "vellumor-ahead-";
    fs::path root;
    std::string oldTemp;
    bool hadTemp = false;
};

TEST_F(Leftovers, AKilledRunsFolderGoesAndALiveOwnersAndAUsersStay) {
    ASSERT_TRUE(ProcessIsAlive(kLivePid));
    ASSERT_FALSE(ProcessIsAlive(kGonePid));
    const fs::path gone = Folder(kGonePid, true);
    const fs::path goneUnmarked = Folder(kGonePid + 2, false);
    const fs::path liveUnmarked = Folder(kLivePid, false);
    // The pid lives, but as another process: nobody holds the marker.
    const fs::path reused = root / "temp" / "vellumor-ahead-1-ffffffffffff";
    fs::create_directories(reused);
    Touch(reused / kOwnerMarker);
    // The pid lives and holds its marker.
    const fs::path held = root / "temp" / "vellumor-ahead-1-eeeeeeeeeeee";
    fs::create_directories(held);
    Touch(held / kOwnerMarker);
    const int lock = open((held / kOwnerMarker).c_str(), O_RDONLY);
    ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    // A user's things with names close to ours.
    const fs::path userFolder = root / "temp" / "vellumor-ahead-notes";
    fs::create_directories(userFolder);
    const fs::path userFile = root / "temp" / PrivateFolderName(kPrefix, kGonePid + 4, kRandom);
    Touch(userFile);
    const fs::path otherPrefix =
        root / "temp" / PrivateFolderName("vellumor-other-", kGonePid, kRandom);
    fs::create_directories(otherPrefix);

    PrivateFolder own = PrivateFolder::Make(kPrefix);
    ASSERT_FALSE(own.Path().empty());
    EXPECT_EQ(fs::path(own.Path()).parent_path(), root / "temp");
    EXPECT_EQ(PidOfPrivateFolder(fs::path(own.Path()).filename().string(), kPrefix),
              static_cast<std::uint32_t>(getpid()));
    Touch(fs::path(own.Path()) / "2.pdf");

    SweepPrivateFolders(kPrefix);
    close(lock);

    EXPECT_FALSE(fs::exists(gone));
    EXPECT_FALSE(fs::exists(goneUnmarked));
    EXPECT_FALSE(fs::exists(reused));
    EXPECT_TRUE(fs::exists(liveUnmarked / "1.pdf")) << "a live pid's folder without a marker";
    EXPECT_TRUE(fs::exists(held / kOwnerMarker)) << "a live owner's folder";
    EXPECT_TRUE(fs::exists(fs::path(own.Path()) / "2.pdf")) << "this process's own folder";
    EXPECT_TRUE(fs::exists(userFolder));
    EXPECT_TRUE(fs::exists(userFile));
    EXPECT_TRUE(fs::exists(otherPrefix));

    // Its owner's marker is held: another process's sweep leaves it. Gone with its owner.
    const int probe = open((fs::path(own.Path()) / kOwnerMarker).c_str(), O_RDONLY);
    ASSERT_GE(probe, 0);
    EXPECT_NE(flock(probe, LOCK_EX | LOCK_NB), 0);
    close(probe);
    const std::string path = own.Path();
    PrivateFolder moved = std::move(own);
    EXPECT_TRUE(own.Path().empty());
    moved = PrivateFolder();
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(Leftovers, PartsOfGoneProcessesBesideThatTargetGoAndNothingElse) {
    const fs::path out = root / "out";
    Touch(out / "a.pdf");
    const std::string target = (out / "a.pdf").string();
    Touch(out / PartName("a.pdf", kGonePid));
    for (const std::string& kept :
         {PartName("a.pdf", kLivePid), PartName("b.pdf", kGonePid),
          PartName("a.pdf", kGonePid) + ".pdf", std::string("a.pdf.vellumor-part-old"),
          std::string("notes.txt")})
        Touch(out / kept);
    fs::create_directories(out / PartName("a.pdf", kGonePid + 2));  // a folder: never ours

    SweepPartsBeside(target);

    EXPECT_FALSE(fs::exists(out / PartName("a.pdf", kGonePid)));
    int left = 0;
    for (auto it = fs::directory_iterator(out); it != fs::directory_iterator(); ++it) ++left;
    EXPECT_EQ(left, 7) << "a.pdf, five files not ours or a live one's, and the folder";
}

}  // namespace
