#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "batch/platform.h"
#include "core/trace.h"

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

std::string MakePrivateFolder(const std::string& prefix) {
    std::error_code error;
    std::string base = std::filesystem::temp_directory_path(error).string();
    if (error) base = "/tmp";
    std::string pattern = base + "/" + prefix + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    return mkdtemp(name.data()) ? std::string(name.data()) : std::string();
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EXDEV) return false;
    const std::string part = to + ".vellumor-part-" + std::to_string(getpid());
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
