// What the batch core needs from the system besides the worker client's own: the facts of a
// file, private folders, putting a finished PDF in place, and the machine's size. One
// implementation per platform (platform_posix.cpp, platform_win32.cpp). Paths of any length: on
// Windows every call goes through the "\\?\" form beyond 260 characters.
#pragma once

#include <cstdint>
#include <string>

namespace vellumor::batch {

// A file's size and last-write time, to tell whether it changed since: the look-ahead compares
// them while a run goes on, the command line's --resume with what an earlier run recorded.
struct FileFacts {
    bool known = false;  // false when the file cannot be read
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;  // since 1970-01-01 UTC
    bool operator==(const FileFacts&) const = default;
};
FileFacts FactsOf(const std::string& path);

// A new folder of this process's own under the system's temporary folder; empty on failure.
std::string MakePrivateFolder(const std::string& prefix);
// Puts the finished file from under the name to, replacing what is there. Across volumes it is
// copied beside the target first and renamed there, so the target folder never shows a part.
bool MoveIntoPlace(const std::string& from, const std::string& to);
void RemoveFile(const std::string& path);

// The machine's physical memory in bytes; 0 when the system does not tell.
std::uint64_t PhysicalMemoryBytes();

}  // namespace vellumor::batch
