#include "core/trace.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>

namespace vellumor {

namespace fs = std::filesystem;

namespace {

struct TraceLog {
    std::mutex mutex;
    std::string path;
    std::uintmax_t maxBytes = 0;
};

TraceLog& Log() {
    static TraceLog log;
    return log;
}

std::string Stamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts{};
#ifdef _WIN32
    gmtime_s(&parts, &now);
#else
    gmtime_r(&now, &parts);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%SZ", &parts);
    return text;
}

}  // namespace

void SetTraceFile(const std::string& path, std::uintmax_t maxBytes) {
    TraceLog& log = Log();
    std::lock_guard<std::mutex> lock(log.mutex);
    log.path = path;
    log.maxBytes = maxBytes;
}

std::string TraceFile() {
    TraceLog& log = Log();
    std::lock_guard<std::mutex> lock(log.mutex);
    return log.path;
}

void Trace(const std::string& what) {
    try {
        TraceLog& log = Log();
        std::lock_guard<std::mutex> lock(log.mutex);
        if (log.path.empty()) return;
        std::string line = Stamp() + " " + what;
        for (char& c : line)
            if (c == '\n' || c == '\r') c = ' ';
        line += '\n';
        const fs::path file = fs::u8path(log.path);
        std::error_code error;
        fs::create_directories(file.parent_path(), error);
        const std::uintmax_t size = fs::file_size(file, error);
        if (!error && size + line.size() > log.maxBytes) {
            fs::path aside = file;
            aside += ".1";
            fs::rename(file, aside, error);
            if (error) fs::remove(file, error);
        }
        std::ofstream(file, std::ios::binary | std::ios::app) << line;
    } catch (...) {
        // The log must never be why something else fails.
    }
}

}  // namespace vellumor
