// The Windows half of the batch core's platform layer: what a killed run left is swept and a
// live owner's is not, and a PDF put in place takes its folder's permissions.
#include <windows.h>
// after windows.h
#include <aclapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "batch/leftovers.h"
#include "batch/platform.h"
#include "tests/win/wine_host.h"
#include "win32/unicode.h"

using namespace vellumor;
using namespace vellumor::batch;
using vellumor::test::PathExists;

namespace {

// No process has this id: Windows gives ids in steps of four.
constexpr std::uint32_t kGonePid = 2147483001u;
constexpr std::uint8_t kRandom[6] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab};
constexpr const char* kPrefix = "vellumor-ahead-";

void Touch(const std::string& path) {
    HANDLE file = CreateFileW(win::Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, "x", 1, &written, nullptr);
    CloseHandle(file);
}

// Another process that runs now (Wine's own services are there while the test runs).
std::uint32_t AnotherLiveProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    std::uint32_t found = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID != GetCurrentProcessId() && ProcessIsAlive(entry.th32ProcessID))
            found = entry.th32ProcessID;
    CloseHandle(snapshot);
    return found;
}

class WinLeftovers : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        oldTmp = temp;
        root = win::Narrow(temp) + "vellumor-leftovers-test-" +
               std::to_string(GetCurrentProcessId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        test::RemoveTree(root);
        test::MakeFolders(root + "\\temp");
        test::MakeFolders(root + "\\out");
        // The sweep looks in the system's temporary folder: here, the test's own.
        wchar_t old[4096] = {};
        hadTmp = GetEnvironmentVariableW(L"TMP", old, 4096) > 0;
        savedTmp = old;
        SetEnvironmentVariableW(L"TMP", win::Widen(root + "\\temp").c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"TMP", hadTmp ? savedTmp.c_str() : nullptr);
        test::RemoveTree(root);
    }
    std::string Folder(std::uint32_t pid, const std::string& random = "") {
        std::string folder = root + "\\temp\\";
        folder += random.empty() ? PrivateFolderName(kPrefix, pid, kRandom)
                                 : kPrefix + std::to_string(pid) + "-" + random;
        CreateDirectoryW(win::Widen(folder).c_str(), nullptr);
        Touch(folder + "\\1.pdf");
        return folder;
    }
    std::string root;
    std::wstring oldTmp, savedTmp;
    bool hadTmp = false;
};

TEST_F(WinLeftovers, AKilledRunsFolderGoesAndALiveOwnersAndAUsersStay) {
    ASSERT_FALSE(ProcessIsAlive(kGonePid));
    ASSERT_TRUE(ProcessIsAlive(GetCurrentProcessId()));
    const std::uint32_t live = AnotherLiveProcess();
    ASSERT_NE(live, 0u) << "no other process to stand for a live owner";

    const std::string gone = Folder(kGonePid);
    const std::string liveUnmarked = Folder(live, "aaaaaaaaaaaa");
    // The pid lives, but as another process: nobody holds the marker.
    const std::string reused = Folder(live, "bbbbbbbbbbbb");
    Touch(reused + "\\" + kOwnerMarker);
    // The pid lives and its owner holds the marker open.
    const std::string held = Folder(live, "cccccccccccc");
    const HANDLE marker = CreateFileW(win::Widen(held + "\\" + kOwnerMarker).c_str(), GENERIC_WRITE,
                                      0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    ASSERT_NE(marker, INVALID_HANDLE_VALUE);
    const std::string userFolder = root + "\\temp\\vellumor-ahead-notes";
    CreateDirectoryW(win::Widen(userFolder).c_str(), nullptr);
    const std::string userFile =
        root + "\\temp\\" + PrivateFolderName(kPrefix, kGonePid + 2, kRandom);
    Touch(userFile);

    PrivateFolder own = PrivateFolder::Make(kPrefix);
    ASSERT_FALSE(own.Path().empty());
    EXPECT_EQ(own.Path().rfind(
                  root + "\\temp\\" + kPrefix + std::to_string(GetCurrentProcessId()) + "-", 0),
              0u)
        << own.Path();
    Touch(own.Path() + "\\2.pdf");

    SweepPrivateFolders(kPrefix);
    CloseHandle(marker);

    EXPECT_FALSE(PathExists(gone));
    EXPECT_FALSE(PathExists(reused));
    EXPECT_TRUE(PathExists(liveUnmarked + "\\1.pdf")) << "a live pid's folder without a marker";
    EXPECT_TRUE(PathExists(held + "\\1.pdf")) << "a live owner's folder";
    EXPECT_TRUE(PathExists(own.Path() + "\\2.pdf")) << "this process's own folder";
    EXPECT_TRUE(PathExists(userFolder));
    EXPECT_TRUE(PathExists(userFile));

    // The owner's marker cannot be taken from it; the folder goes with its owner.
    EXPECT_FALSE(DeleteFileW(win::Widen(own.Path() + "\\" + kOwnerMarker).c_str()));
    const std::string path = own.Path();
    own = PrivateFolder();
    EXPECT_FALSE(PathExists(path));
}

TEST_F(WinLeftovers, PartsOfGoneProcessesBesideThatTargetGoAndNothingElse) {
    const std::string out = root + "\\out\\";
    Touch(out + "a.pdf");
    Touch(out + PartName("a.pdf", kGonePid));
    for (const std::string& kept :
         {PartName("a.pdf", GetCurrentProcessId()), PartName("b.pdf", kGonePid),
          PartName("a.pdf", kGonePid) + ".pdf", std::string("a.pdf.vellumor-part-old")})
        Touch(out + kept);

    SweepPartsBeside(out + "a.pdf");

    EXPECT_FALSE(PathExists(out + PartName("a.pdf", kGonePid)));
    for (const std::string& kept :
         {std::string("a.pdf"), PartName("a.pdf", GetCurrentProcessId()),
          PartName("b.pdf", kGonePid), PartName("a.pdf", kGonePid) + ".pdf",
          std::string("a.pdf.vellumor-part-old")})
        EXPECT_TRUE(PathExists(out + kept)) << kept;
}

// The (type, mask) of each entry of path's DACL; for a folder with inheritable, only those
// its files inherit.
std::vector<std::pair<int, DWORD>> Entries(const std::string& path, bool inheritable) {
    std::wstring wide = win::Widen(path);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::vector<std::pair<int, DWORD>> entries;
    if (GetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return {{-1, 0}};
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
        if (inheritable && !(ace->Header.AceFlags & OBJECT_INHERIT_ACE)) continue;
        entries.emplace_back(ace->Header.AceType, ace->Mask);
    }
    LocalFree(descriptor);
    return entries;
}

// An ACL of one entry allowing everyone mask, with the given inheritance flags.
struct OneEntryAcl {
    alignas(DWORD) char buffer[128];
    ACL* acl = reinterpret_cast<ACL*>(buffer);
    OneEntryAcl(DWORD mask, DWORD inheritance) {
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        PSID everyone = nullptr;
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
        InitializeAcl(acl, sizeof buffer, ACL_REVISION);
        AddAccessAllowedAceEx(acl, ACL_REVISION, inheritance, mask, everyone);
        FreeSid(everyone);
    }
};

DWORD SetProtectedAcl(const std::string& path, ACL* acl) {
    std::wstring wide = win::Widen(path);
    return SetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                 nullptr, nullptr, acl, nullptr);
}

TEST_F(WinLeftovers, APdfPutInPlaceTakesItsFoldersPermissionsNotThoseOfTheTemporaryFolder) {
    const std::string out = root + "\\out";
    const OneEntryAcl folderAcl(FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    ASSERT_EQ(SetProtectedAcl(out, folderAcl.acl), ERROR_SUCCESS);
    PrivateFolder ahead = PrivateFolder::Make(kPrefix);
    ASSERT_FALSE(ahead.Path().empty());
    const std::string written = ahead.Path() + "\\1.pdf";
    Touch(written);
    const OneEntryAcl tempAcl(FILE_GENERIC_READ, 0);
    ASSERT_EQ(SetProtectedAcl(written, tempAcl.acl), ERROR_SUCCESS);
    Touch(root + "\\temp\\b.pdf");  // the same, kept to compare with
    ASSERT_EQ(SetProtectedAcl(root + "\\temp\\b.pdf", tempAcl.acl), ERROR_SUCCESS);

    ASSERT_TRUE(MoveIntoPlace(written, out + "\\a.pdf"));

    // Windows gives the PDF the folder's inheritable entries; Wine keeps no ACLs of their own
    // but maps them onto the Unix mode, and shows the mode as entries: either way the PDF's
    // entries are its folder's inheritable ones, not the temporary folder's.
    EXPECT_EQ(Entries(out + "\\a.pdf", false), Entries(out, true));
    EXPECT_NE(Entries(out + "\\a.pdf", false), Entries(root + "\\temp\\b.pdf", false))
        << "the test sets the temporary file's permissions apart from the folder's";
}

}  // namespace
