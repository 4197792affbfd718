#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "cli/platform.h"

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

std::string BuiltWorker() {
    // In the build tree the worker lives in its own folder.
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    fs::path built = self.parent_path().parent_path() / "engine" / "worker" / "vellumor-engine";
    return fs::exists(built, ec) ? built.string() : std::string();
}

FileFacts FactsOf(const std::string& path) {
    FileFacts facts;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return facts;
    facts.known = true;
    facts.size = static_cast<std::uint64_t>(st.st_size);
    facts.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return facts;
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
