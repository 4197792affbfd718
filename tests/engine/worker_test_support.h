// What the tests that drive real workers share: temporary folders, files and command output,
// failures as text, process checks, and the two workers every such test runs against.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "engine/document_engine.h"

namespace vellumor::test {

namespace fs = std::filesystem;

// A fresh folder under /tmp, removed afterwards unless VELLUMOR_KEEP_TEST_FILES is set.
class TempFolder {
  public:
    TempFolder() {
        char name[] = "/tmp/vellumor-engine-test-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~TempFolder() {
        if (!getenv("VELLUMOR_KEEP_TEST_FILES")) fs::remove_all(path_);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

// Writes bytes to the named file in folder; answers its path.
inline std::string Write(const fs::path& folder, const std::string& name,
                         const std::string& bytes) {
    fs::path target = folder / fs::u8path(name);
    std::ofstream(target, std::ios::binary) << bytes;
    return target.string();
}

// What a shell command prints on its standard output.
inline std::string CommandOutput(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) text.append(buf, n);
        pclose(pipe);
    }
    return text;
}

// The engine's message when the call fails, "(no failure)" when it does not.
inline std::string FailureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EngineError& e) {
        return e.what();
    }
    return "(no failure)";
}

inline std::vector<int> ChildrenOf(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    std::vector<int> children;
    for (int child; in >> child;) children.push_back(child);
    return children;
}

// Running, not merely waiting to be collected.
inline bool Alive(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    auto close = text.rfind(')');
    return close != std::string::npos && text.size() > close + 2 && text[close + 2] != 'Z';
}

// The workers: the C++ worker's test build, and the shipped script started through its test
// launcher (which finds the script through VELLUMOR_SCRIPT_WORKER).
inline auto Workers() {
    setenv("VELLUMOR_SCRIPT_WORKER", VELLUMOR_SCRIPT_WORKER, 1);
    return ::testing::Values(std::string(VELLUMOR_TEST_WORKER),
                             std::string(VELLUMOR_SCRIPT_TESTHOOKS));
}

// A worker parameter that ends in this runs the script worker on the oldest office we support
// (Debian 12's LibreOffice 7.4, unpacked by scripts/oldest-office) instead of the installed one;
// one that ends in kOnNewestOffice runs its worker on the newest one we test (LibreOffice 26.8,
// in the Debian 13 root of scripts/newest-office).
inline constexpr const char* kOnOldestOffice = "@oldest-office";
inline constexpr const char* kOnNewestOffice = "@newest-office";

inline std::string CacheFolder() {
    if (const char* xdg = getenv("XDG_CACHE_HOME"); xdg && *xdg) return xdg;
    if (const char* home = getenv("HOME"); home && *home) return std::string(home) + "/.cache";
    return "";
}

// The Python that runs the script worker on the oldest office, or empty when it is not there.
inline std::string OldestOfficePython() {
    if (const char* set = getenv("VELLUMOR_OLDEST_OFFICE_PYTHON"); set && *set) return set;
    const std::string cache = CacheFolder();
    std::string python = cache + "/vellumor/office-7.4/python3";
    return !cache.empty() && access(python.c_str(), X_OK) == 0 ? python : "";
}

// The folder of the newest office's root and its launchers, or empty when it is not there.
inline std::string NewestOfficeFolder() {
    const std::string cache = CacheFolder();
    const std::string folder = cache + "/vellumor/office-26.8";
    return !cache.empty() && access((folder + "/.complete-v1").c_str(), F_OK) == 0 ? folder : "";
}

inline bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The workers of the conformance suite: both on the installed office and on the newest one,
// and the script worker on the oldest office too.
inline auto ConformanceWorkers() {
    setenv("VELLUMOR_SCRIPT_WORKER", VELLUMOR_SCRIPT_WORKER, 1);
    return ::testing::Values(std::string(VELLUMOR_TEST_WORKER),
                             std::string(VELLUMOR_SCRIPT_TESTHOOKS),
                             std::string(VELLUMOR_SCRIPT_TESTHOOKS) + kOnOldestOffice,
                             std::string(VELLUMOR_SCRIPT_TESTHOOKS) + kOnNewestOffice,
                             std::string(VELLUMOR_TEST_WORKER) + kOnNewestOffice);
}

// The worker program of a parameter; points the client at the other office's Python when the
// parameter asks for it (the C++ worker runs inside the newest office's root through the
// launcher the build writes beside it). Empty when that office is not there (the test skips).
inline std::string UseWorker(const std::string& param) {
    unsetenv("VELLUMOR_PYTHON");
    if (EndsWith(param, kOnOldestOffice)) {
        std::string python = OldestOfficePython();
        if (python.empty()) return "";
        setenv("VELLUMOR_PYTHON", python.c_str(), 1);
        return param.substr(0, param.size() - std::string(kOnOldestOffice).size());
    }
    if (EndsWith(param, kOnNewestOffice)) {
        const std::string folder = NewestOfficeFolder();
        if (folder.empty()) return "";
        const std::string worker =
            param.substr(0, param.size() - std::string(kOnNewestOffice).size());
#ifdef VELLUMOR_TEST_WORKER_ON_NEWEST_OFFICE
        setenv("VELLUMOR_NEWEST_OFFICE_RUN", (folder + "/run").c_str(), 1);
        if (worker == VELLUMOR_TEST_WORKER) return VELLUMOR_TEST_WORKER_ON_NEWEST_OFFICE;
#endif
        setenv("VELLUMOR_PYTHON", (folder + "/python3").c_str(), 1);
        return worker;
    }
    return param;
}

// Why a parameter's worker cannot run here.
inline std::string MissingOffice(const std::string& param) {
    return EndsWith(param, kOnNewestOffice)
               ? "LibreOffice 26.8 has no Debian 13 root (scripts/newest-office makes it, as root)"
               : "LibreOffice 7.4 is not unpacked (scripts/oldest-office prepares it)";
}

inline std::string WorkerName(const ::testing::TestParamInfo<std::string>& info) {
    std::string path = info.param;
    std::string office;
    for (const char* mark : {kOnOldestOffice, kOnNewestOffice})
        if (EndsWith(path, mark)) {
            path.resize(path.size() - std::string(mark).size());
            office = mark == kOnOldestOffice ? "OnOldestOffice" : "OnNewestOffice";
        }
    return (EndsWith(path, ".py") ? "ScriptWorker" : "CppWorker") + office;
}

}  // namespace vellumor::test
