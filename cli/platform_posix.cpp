#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/platform.h"
#include "engine/client/worker_engine.h"

namespace fs = std::filesystem;

namespace vellumor::cli {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void PrepareConsole() {}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}

int TerminalWidth() {
    winsize ws{};
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 40 ? ws.ws_col : 80;
}

std::string ClearLineText() {
    return "\r\033[K";
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

void BinaryStandardInput() {}

namespace {
std::error_code LastError() {
    return std::error_code(errno, std::generic_category());
}
}  // namespace

std::vector<ListedEntry> ListFolder(const std::string& folder, std::error_code& error) {
    error.clear();
    std::vector<ListedEntry> entries;
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) {
        error = LastError();
        return entries;
    }
    for (;;) {
        errno = 0;
        dirent* entry = readdir(dir);
        if (!entry) {
            if (errno != 0) error = LastError();
            break;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        ListedKind kind = entry->d_type == DT_REG   ? ListedKind::File
                          : entry->d_type == DT_DIR ? ListedKind::Folder
                          : entry->d_type == DT_LNK ? ListedKind::Link
                                                    : ListedKind::Unknown;
        entries.push_back({entry->d_name, kind});
    }
    closedir(dir);
    return entries;
}

EntryFacts Examine(const std::string& path) {
    EntryFacts facts;
    struct stat own {
    }, target{};
    if (lstat(path.c_str(), &own) != 0) {
        facts.error = LastError();
        return facts;
    }
    facts.link = S_ISLNK(own.st_mode);
    if (!facts.link) {
        target = own;
    } else if (stat(path.c_str(), &target) != 0) {
        facts.error = LastError();
        // A link to nothing, or one of a circle of links; anything else (a folder on the way
        // that cannot be searched) leaves the target unknown.
        if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) facts.kind = EntryKind::Dangling;
        return facts;
    }
    facts.kind = S_ISREG(target.st_mode)   ? EntryKind::File
                 : S_ISDIR(target.st_mode) ? EntryKind::Folder
                                           : EntryKind::Other;
    facts.identity.device = static_cast<std::uint64_t>(target.st_dev);
    facts.identity.index = static_cast<std::uint64_t>(target.st_ino);
    return facts;
}

std::string LinkTarget(const std::string& path) {
    std::error_code ec;
    fs::path target = fs::read_symlink(path, ec);
    return ec ? std::string() : target.string();
}

std::error_code TryOpen(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return LastError();
    close(fd);
    return {};
}

std::string ReasonText(const std::error_code& error) {
    if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted)
        return "permission denied";
    if (error == std::errc::no_such_file_or_directory) return "no such file or folder";
    if (error == std::errc::not_a_directory) return "a part of the path is not a folder";
    if (error == std::errc::too_many_symbolic_link_levels) return "its links lead in a circle";
    if (error == std::errc::filename_too_long) return "the path is too long";
    std::string text = error.message();
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

std::string NameKey(const std::string& name) {
    return name;
}

namespace {
std::atomic<int> g_interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free count");

void CountInterrupt(int) {
    g_interrupts.fetch_add(1);
}
}  // namespace

void CatchInterrupts() {
    // Installed even where the shell started us with SIGINT ignored, so that an interrupt
    // always ends the run in order.
    struct sigaction action {};
    action.sa_handler = CountInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int Interrupts() {
    return g_interrupts.load();
}

fs::path PathOf(const std::string& utf8) {
    return fs::path(utf8);
}

std::string TextOf(const fs::path& path) {
    return path.string();
}

std::string NativeText(std::string path) {
    return path;
}

}  // namespace vellumor::cli
