#include <windows.h>
// after windows.h
#include <aclapi.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "batch/leftovers.h"
#include "batch/platform.h"
#include "core/trace.h"
#include "engine/client/worker_platform.h"
#include "win32/handles.h"
#include "win32/long_path.h"
#include "win32/system_text.h"
#include "win32/unicode.h"

namespace vellumor::batch {

using win::Narrow;
using win::Widen;

FileFacts FactsOf(const std::string& path) {
    FileFacts facts;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(win::LongPath(path).c_str(), GetFileExInfoStandard, &data))
        return facts;
    facts.known = true;
    facts.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    // FILETIME counts 100 ns steps since 1601.
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
        data.ftLastWriteTime.dwLowDateTime);
    facts.mtimeNs = (ticks - 116444736000000000LL) * 100;
    return facts;
}

namespace {

struct FindCloser {
    void operator()(HANDLE h) const { FindClose(h); }
};
using FindHandle = win::Owned<HANDLE, FindCloser>;

FindHandle FindFirst(const std::wstring& pattern, WIN32_FIND_DATAW& found) {
    const HANDLE h = FindFirstFileW(pattern.c_str(), &found);
    return FindHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

std::wstring TemporaryFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (!length || length > MAX_PATH) return {};
    return temp;  // ends in a backslash
}

void RemoveTree(const std::wstring& path) {
    std::error_code error;
    std::filesystem::remove_all(std::filesystem::path(path), error);
    if (error) Trace("could not remove " + Narrow(path) + ": " + error.message());
}

// Whether the owner named in a private folder's name is gone. Its pid may have gone to another
// process since: then the marker tells, as a file a live owner holds open cannot be deleted.
bool OwnerGone(const std::wstring& folder, std::uint32_t pid) {
    if (!ProcessIsAlive(pid)) return true;
    const std::wstring marker = folder + L"\\" + Widen(kOwnerMarker);
    return DeleteFileW(marker.c_str()) != 0;  // not when held, or not made (yet)
}

// The PDF takes the permissions its folder gives new files: its own entries go and it
// inherits the folder's. A failure leaves the PDF whole, readable by its owner as the
// temporary folder's were: the row's PDF is there, so the failure is traced, not the row's.
void InheritFolderPermissions(const std::wstring& file, const std::string& name) {
    ACL empty;
    if (!InitializeAcl(&empty, sizeof empty, ACL_REVISION)) {
        Trace("could not reset the permissions of " + name + ": " +
              win::SystemErrorText(GetLastError()));
        return;
    }
    std::wstring path = file;
    const DWORD error =
        SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &empty, nullptr);
    if (error != ERROR_SUCCESS)
        Trace("could not give " + name +
              " the permissions of its folder: " + win::SystemErrorText(error));
}

}  // namespace

PrivateFolder PrivateFolder::Make(const std::string& prefix) {
    PrivateFolder folder;
    const std::wstring temp = TemporaryFolder();
    if (temp.empty()) {
        Trace("no temporary folder for the PDFs done ahead");
        return folder;
    }
    std::wstring path;
    for (int attempt = 0; attempt < 16 && path.empty(); ++attempt) {
        std::uint8_t bytes[6];
        if (!worker_platform::RandomBytes(bytes, sizeof bytes)) return folder;
        const std::wstring candidate =
            temp + Widen(PrivateFolderName(prefix, GetCurrentProcessId(), bytes));
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            path = candidate;
        } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
            Trace("could not make the private folder " + Narrow(candidate) + ": " +
                  win::SystemErrorText(GetLastError()));
            return folder;
        }
    }
    if (path.empty()) return folder;
    folder.path_ = Narrow(path);
    // Made and opened in one step, shared with nobody: no sweep can delete it while we live.
    const HANDLE marker = CreateFileW((path + L"\\" + Widen(kOwnerMarker)).c_str(), GENERIC_WRITE,
                                      0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (marker == INVALID_HANDLE_VALUE)
        Trace("could not mark the private folder " + folder.path_ + ": " +
              win::SystemErrorText(GetLastError()));
    else
        folder.marker_ = reinterpret_cast<std::intptr_t>(marker);
    return folder;
}

void PrivateFolder::Release() noexcept {
    if (marker_ != -1) CloseHandle(reinterpret_cast<HANDLE>(marker_));
    marker_ = -1;
    try {
        if (!path_.empty()) RemoveTree(Widen(path_));
    } catch (...) {  // nothing may leave a destructor; the folder is then swept next start
    }
    path_.clear();
}

void SweepPrivateFolders(const std::string& prefix) {
    const std::wstring temp = TemporaryFolder();
    if (temp.empty()) return;
    WIN32_FIND_DATAW found{};
    const FindHandle search = FindFirst(temp + Widen(prefix) + L"*", found);
    if (!search) return;
    const std::uint32_t self = GetCurrentProcessId();
    do {
        const std::optional<std::uint32_t> pid =
            PidOfPrivateFolder(Narrow(found.cFileName), prefix);
        if (!pid || *pid == self) continue;
        // A folder only, and never one that leads elsewhere.
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        const std::wstring path = temp + found.cFileName;
        if (!OwnerGone(path, *pid)) continue;
        Trace("removing the leftovers of an earlier run: " + Narrow(path));
        RemoveTree(path);
    } while (FindNextFileW(search.get(), &found));
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
    const std::wstring source = win::LongPath(from), target = win::LongPath(to);
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        InheritFolderPermissions(target, to);
        return true;
    }
    if (GetLastError() != ERROR_NOT_SAME_DEVICE) return false;
    SweepPartsBeside(to);
    const std::wstring part = target + Widen(kPartInfix) + std::to_wstring(GetCurrentProcessId());
    if (CopyFileW(source.c_str(), part.c_str(), FALSE) &&
        MoveFileExW(part.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(source.c_str());
        InheritFolderPermissions(target, to);
        return true;
    }
    DeleteFileW(part.c_str());
    return false;
}

void SweepPartsBeside(const std::string& target) {
    const std::wstring wide = win::LongPath(target);
    const std::size_t slash = wide.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"" : wide.substr(0, slash + 1);
    const std::string targetName =
        Narrow(slash == std::wstring::npos ? wide : wide.substr(slash + 1));
    WIN32_FIND_DATAW found{};
    const FindHandle search = FindFirst(wide + Widen(kPartInfix) + L"*", found);
    if (!search) return;
    do {
        // The search also matches short names: the long name decides.
        const std::optional<std::uint32_t> pid = PidOfPart(Narrow(found.cFileName), targetName);
        if (!pid || ProcessIsAlive(*pid)) continue;
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        const std::wstring path = folder + found.cFileName;
        Trace("removing the part an earlier run left: " + Narrow(path));
        // One that another process still writes is not deleted: it holds it unshared.
        if (!DeleteFileW(path.c_str()))
            Trace("could not remove " + Narrow(path) + ": " + win::SystemErrorText(GetLastError()));
    } while (FindNextFileW(search.get(), &found));
}

bool ProcessIsAlive(std::uint32_t pid) {
    if (pid == 0) return false;
    const win::KernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED;  // another user's: it lives
    return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

void RemoveFile(const std::string& path) {
    if (DeleteFileW(win::LongPath(path).c_str())) return;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        Trace("could not remove " + path + ": " + win::SystemErrorText(error));
}

std::uint64_t PhysicalMemoryBytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

}  // namespace vellumor::batch
