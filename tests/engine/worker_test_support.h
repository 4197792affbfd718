// What the tests that drive real workers share: temporary folders, files and command output,
// failures as text, process checks, and the two workers every such test runs against.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

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

inline std::string WorkerName(const ::testing::TestParamInfo<std::string>& info) {
    const std::string& path = info.param;
    return path.size() > 3 && path.compare(path.size() - 3, 3, ".py") == 0 ? "ScriptWorker"
                                                                           : "CppWorker";
}

}  // namespace vellumor::test
