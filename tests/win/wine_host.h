// How the Windows tests reach the native build and the corpus while they run under Wine.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include <string>
#include <string_view>

#include "win32/dynamic_symbols.h"
#include "win32/long_path.h"
#include "win32/unicode.h"

namespace vellumor::test {

// A Unix path as this Windows process sees it, on Wine's Z: drive.
inline std::string UnixPathOnZ(std::string_view unixPath) {
    std::string dos = "Z:" + std::string(unixPath);
    for (auto& c : dos)
        if (c == '/') c = '\\';
    return dos;
}

inline bool PathExists(const std::string& path) {
    return GetFileAttributesW(win::LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Creates every missing folder of a path, however long.
inline void MakeFolders(const std::string& path) {
    for (std::size_t cut = path.find('\\', 3);; cut = path.find('\\', cut + 1)) {
        CreateDirectoryW(win::LongPath(path.substr(0, cut)).c_str(), nullptr);
        if (cut == std::string::npos) break;
    }
}

// Removes a folder and everything in it, however long its paths.
inline void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(win::LongPath(folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::string path = folder + "\\" + win::Narrow(name);
            bool link = found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !link)
                RemoveTree(path);
            else {
                // Copies of the read-only corpus are read-only too.
                SetFileAttributesW(win::LongPath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
                if (!DeleteFileW(win::LongPath(path).c_str()))
                    RemoveDirectoryW(win::LongPath(path).c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(win::LongPath(folder).c_str());
}

// The Unix name of a Windows path, from Wine.
inline std::string UnixPathOf(const std::string& path) {
    const auto toUnix = win::Symbols().wineGetUnixFileName;
    if (!toUnix) return {};
    char* unix = toUnix(win::Widen(path).c_str());
    if (!unix) return {};
    std::string text = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return text;
}

// Starts a Linux program with its arguments (a command line) and waits until done() holds,
// five seconds at most: Wine hands out no handle to wait on for a Unix program.
template <typename Done>
bool RunUnix(std::wstring commandLine, Done done) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    if (process.hProcess) CloseHandle(process.hProcess);
    if (process.hThread) CloseHandle(process.hThread);
    for (int i = 0; i < 250; ++i) {
        if (done()) return true;
        Sleep(20);
    }
    return done();
}

inline bool CanList(const std::string& folder) {
    WIN32_FIND_DATAW found{};
    HANDLE h = FindFirstFileW(win::LongPath(folder + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    return true;
}

// Makes a Unix symbolic link at link (a Windows path whose folder exists) to target (written
// into the link as it is), with the system's ln: Windows has no call that makes one under Wine.
inline bool MakeUnixLink(const std::string& target, const std::string& link) {
    std::string folder = UnixPathOf(link.substr(0, link.rfind('\\')));
    if (folder.empty()) return false;
    std::string unixLink = folder + "/" + link.substr(link.rfind('\\') + 1);
    return RunUnix(
        L"Z:\\bin\\ln -s \"" + win::Widen(target) + L"\" \"" + win::Widen(unixLink) + L"\"", [&] {
            WIN32_FIND_DATAW found{};
            HANDLE h = FindFirstFileW(win::LongPath(link).c_str(), &found);
            if (h == INVALID_HANDLE_VALUE) return false;
            FindClose(h);
            return true;
        });
}

// Removes a folder with links in it, those that lead nowhere included (which Wine does not
// list, so RemoveTree cannot reach them).
inline void RemoveUnixTree(const std::string& folder) {
    std::string unix = UnixPathOf(folder);
    if (unix.empty()) return;
    RunUnix(L"Z:\\bin\\rm -rf \"" + win::Widen(unix) + L"\"", [&] {
        return GetFileAttributesW(win::LongPath(folder).c_str()) == INVALID_FILE_ATTRIBUTES;
    });
}

// Denies everyone everything on a folder, which Wine carries over to the folder's Unix mode
// (000). True when this process can no longer list it (false for a root that keeps
// CAP_DAC_OVERRIDE, which reads every folder).
inline bool CloseFolder(const std::string& folder) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    alignas(DWORD) char buffer[256];
    ACL* acl = reinterpret_cast<ACL*>(buffer);
    InitializeAcl(acl, sizeof buffer, ACL_REVISION);
    AddAccessDeniedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, everyone);
    SetNamedSecurityInfoW(win::LongPath(folder).data(), SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, acl, nullptr);
    FreeSid(everyone);
    return !CanList(folder);
}

// Gives a closed folder its permissions back: a folder this process cannot open any more
// cannot take a new DACL either, so the system's chmod does it.
inline void OpenFolder(const std::string& folder) {
    if (CanList(folder)) {
        SetNamedSecurityInfoW(win::LongPath(folder).data(), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr);
        return;
    }
    RunUnix(L"Z:\\bin\\chmod 755 \"" + win::Widen(UnixPathOf(folder)) + L"\"",
            [&] { return CanList(folder); });
}

inline const char* kClosedFolderSkip =
    "this process reads every folder (root with CAP_DAC_OVERRIDE): run the Wine tests as an "
    "ordinary user, or as root under setpriv --bounding-set=-dac_override,-dac_read_search";

}  // namespace vellumor::test
