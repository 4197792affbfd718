#include <windows.h>

#include <string>

#include "batch/platform.h"
#include "core/trace.h"
#include "engine/client/worker_platform.h"
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

std::string MakePrivateFolder(const std::string& prefix) {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (!length || length > MAX_PATH) return {};
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::uint8_t bytes[6];
        if (!worker_platform::RandomBytes(bytes, sizeof bytes)) return {};
        std::string name = prefix + std::to_string(GetCurrentProcessId()) + "-";
        for (std::uint8_t b : bytes)
            name += "0123456789abcdef"[b >> 4], name += "0123456789abcdef"[b & 15];
        const std::wstring folder = std::wstring(temp) + Widen(name);
        if (CreateDirectoryW(folder.c_str(), nullptr)) return Narrow(folder);
        if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
    return {};
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
    const std::wstring source = win::LongPath(from), target = win::LongPath(to);
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    if (GetLastError() != ERROR_NOT_SAME_DEVICE) return false;
    const std::wstring part = target + L".vellumor-part-" + std::to_wstring(GetCurrentProcessId());
    if (CopyFileW(source.c_str(), part.c_str(), FALSE) &&
        MoveFileExW(part.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(source.c_str());
        return true;
    }
    DeleteFileW(part.c_str());
    return false;
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
