#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <utility>

#include "batch/leftovers.h"
#include "batch/platform.h"
#include "core/trace.h"
#include "engine/client/worker_platform.h"

namespace vellumor::batch {

FileFacts FactsOf(const std::string& path) {
    FileFacts facts;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return facts;
    facts.known = true;
    facts.size = static_cast<std::uint64_t>(st.st_size);
    facts.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return facts;
}

namespace {

std::string TemporaryFolder() {
    std::error_code error;
    std::string base = std::filesystem::temp_directory_path(error).string();
    return error || base.empty() ? std::string("/tmp") : base;
}

void RemoveTree(const std::string& path) {
    std::error_code error;
    std::filesystem::remove_all(path, error);
    if (error) Trace("could not remove " + path + ": " + error.message());
}

// Whether the owner named in a private folder's name is gone. Its pid may have gone to
// another process since: then the marker tells, as only a live owner holds it locked.
bool OwnerGone(const std::string& folder, std::uint32_t pid) {
    if (!ProcessIsAlive(pid)) return true;
    const std::string marker = folder + "/" + kOwnerMarker;
    const int fd = open(marker.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;  // not marked (yet, or it could not be): left while the pid lives
    const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
}

}  // namespace

PrivateFolder PrivateFolder::Make(const std::string& prefix) {
    PrivateFolder folder;
    const std::string base = TemporaryFolder();
    for (int attempt = 0; attempt < 16 && folder.path_.empty(); ++attempt) {
        std::uint8_t bytes[6];
        if (!worker_platform::RandomBytes(bytes, sizeof bytes)) return folder;
        const std::string path =
            base + "/" + PrivateFolderName(prefix, static_cast<std::uint32_t>(getpid()), bytes);
        if (mkdir(path.c_str(), 0700) == 0) {
            folder.path_ = path;
        } else if (errno != EEXIST) {
            Trace("could not make the private folder " + path + ": " + strerror(errno));
            return folder;
        }
    }
    if (folder.path_.empty()) return folder;
    // Locked under another name and then renamed, so a sweep never finds it unlocked.
    const std::string pending = folder.path_ + "/" + kOwnerMarker + "-new";
    const int fd = open(pending.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        rename(pending.c_str(), (folder.path_ + "/" + kOwnerMarker).c_str()) == 0) {
        folder.marker_ = fd;
    } else {
        // Still ours: a sweep leaves it while this process lives.
        Trace("could not mark the private folder " + folder.path_ + ": " + strerror(errno));
        if (fd >= 0) close(fd);
    }
    return folder;
}

void PrivateFolder::Release() noexcept {
    if (marker_ >= 0) close(static_cast<int>(marker_));
    marker_ = -1;
    try {
        if (!path_.empty()) RemoveTree(path_);
    } catch (...) {  // nothing may leave a destructor; the folder is then swept next start
    }
    path_.clear();
}

void SweepPrivateFolders(const std::string& prefix) {
    const std::string base = TemporaryFolder();
    std::error_code error;
    std::filesystem::directory_iterator it(base, error), end;
    if (error) {
        Trace("could not look for leftovers in " + base + ": " + error.message());
        return;
    }
    const auto self = static_cast<std::uint32_t>(getpid());
    for (; it != end; it.increment(error)) {
        if (error) break;
        const std::string name = it->path().filename().string();
        const std::optional<std::uint32_t> pid = PidOfPrivateFolder(name, prefix);
        if (!pid || *pid == self) continue;
        const std::string path = it->path().string();
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        if (!OwnerGone(path, *pid)) continue;
        Trace("removing the leftovers of an earlier run: " + path);
        RemoveTree(path);
    }
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EXDEV) return false;
    SweepPartsBeside(to);
    const std::string part = PartName(to, static_cast<std::uint32_t>(getpid()));
    std::error_code error;
    std::filesystem::copy_file(from, part, std::filesystem::copy_options::overwrite_existing,
                               error);
    if (!error && rename(part.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return true;
    }
    unlink(part.c_str());
    return false;
}

void SweepPartsBeside(const std::string& target) {
    const std::filesystem::path path(target);
    const std::string targetName = path.filename().string();
    std::filesystem::path folder = path.parent_path();
    if (folder.empty()) folder = ".";
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error), end;
    for (; !error && it != end; it.increment(error)) {
        const std::optional<std::uint32_t> pid =
            PidOfPart(it->path().filename().string(), targetName);
        if (!pid || ProcessIsAlive(*pid)) continue;
        struct stat st {};
        if (lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        Trace("removing the part an earlier run left: " + it->path().string());
        RemoveFile(it->path().string());
    }
}

bool ProcessIsAlive(std::uint32_t pid) {
    if (pid == 0 || pid > static_cast<std::uint32_t>(std::numeric_limits<pid_t>::max()))
        return false;
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

void RemoveFile(const std::string& path) {
    if (unlink(path.c_str()) != 0 && errno != ENOENT)
        Trace("could not remove " + path + ": " + strerror(errno));
}

std::uint64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0
               ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size)
               : 0;
}

}  // namespace vellumor::batch
