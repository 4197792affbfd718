#include <sys/ioctl.h>
#include <unistd.h>

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
