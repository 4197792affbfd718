// What the batch core needs from the system besides the worker client's own: the facts of a
// file, private folders, putting a finished PDF in place, and the machine's size. One
// implementation per platform (platform_posix.cpp, platform_win32.cpp). Paths of any length: on
// Windows every call goes through the "\\?\" form beyond 260 characters.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

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

// A new folder of this process's own under the system's temporary folder, named as in
// batch/leftovers.h, with a marker file inside held open (and on Linux locked) for as long as
// the owner lives: a later start tells a live owner's folder by it even when the pid in its
// name has been given to another process. The folder and all in it go with the owner. Path()
// is empty when no folder could be made.
class PrivateFolder {
  public:
    PrivateFolder() = default;
    static PrivateFolder Make(const std::string& prefix);
    ~PrivateFolder() { Release(); }
    PrivateFolder(PrivateFolder&& other) noexcept
        : path_(std::exchange(other.path_, {})), marker_(std::exchange(other.marker_, -1)) {}
    PrivateFolder& operator=(PrivateFolder&& other) noexcept {
        if (this != &other) {
            Release();
            path_ = std::exchange(other.path_, {});
            marker_ = std::exchange(other.marker_, -1);
        }
        return *this;
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    const std::string& Path() const { return path_; }

  private:
    void Release() noexcept;
    std::string path_;
    std::intptr_t marker_ = -1;  // the open marker: a descriptor, or a HANDLE on Windows
};

// Removes the private folders of prefix that runs killed before their end left under the
// temporary folder: a folder is removed when the process its name names is gone, or when no
// process holds its marker (the pid went to another process since). A folder whose owner lives
// is left alone, this process's own among them, and so is every name not of our exact form.
void SweepPrivateFolders(const std::string& prefix);

// Puts the finished file from under the name to, replacing what is there. Across volumes it is
// copied beside the target first and renamed there, so the target folder never shows a part;
// parts of that same target name that a killed run left there are removed first (see
// SweepPartsBeside). On Windows the PDF then takes the permissions the target folder gives
// its files, not those of the folder it was written in.
bool MoveIntoPlace(const std::string& from, const std::string& to);
// Removes "<target>.vellumor-part-<pid>" files of processes that are gone, beside target and
// for that name only.
void SweepPartsBeside(const std::string& target);
void RemoveFile(const std::string& path);

// Whether a process of this id runs now.
bool ProcessIsAlive(std::uint32_t pid);

// The machine's physical memory in bytes; 0 when the system does not tell.
std::uint64_t PhysicalMemoryBytes();

}  // namespace vellumor::batch
