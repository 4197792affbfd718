#include "batch/worker_choice.h"

#include "engine/client/worker_engine.h"
#include "engine/client/worker_platform.h"

namespace vellumor {

namespace wp = vellumor::worker_platform;

namespace {

std::string InFolder(const std::string& folder, const std::string& name) {
    const std::string path = folder + std::string(1, wp::PathSeparator()) + name;
    return wp::FileExists(path) ? path : std::string();
}

std::string ExecutableWorkerIn(const std::string& folder) {
#ifdef _WIN32
    if (std::string worker = InFolder(folder, "vellumor-engine.exe"); !worker.empty())
        return worker;
    return wp::RunningUnderWine() ? InFolder(folder, "vellumor-engine") : std::string();
#else
    return InFolder(folder, "vellumor-engine");
#endif
}

}  // namespace

std::string ChooseWorkerIn(const std::string& folder, const std::string& named) {
    if (!named.empty()) return named;
    if (std::string worker = ExecutableWorkerIn(folder); !worker.empty()) return worker;
    WorkerEngineOptions options;
    options.workerPath = InFolder(folder, kScriptWorkerName);
    if (!options.workerPath.empty() && WorkerStartProblem(options).empty())
        return options.workerPath;
#ifndef _WIN32
    const std::string parent = folder.substr(0, folder.find_last_of('/'));
    if (std::string packaged = InFolder(parent + "/lib/vellumor", "vellumor-engine");
        !packaged.empty())
        return packaged;
    return InFolder(parent + "/engine/worker", "vellumor-engine");
#else
    return {};
#endif
}

std::string ChooseWorker(const std::string& named) {
    return ChooseWorkerIn(ProgramFolder(), named);
}

std::string ProgramFolder() {
    return wp::ExecutableFolder();
}

std::string FindScriptBesideExecutable() {
    return InFolder(ProgramFolder(), kScriptWorkerName);
}

std::unique_ptr<DocumentEngine> MakeWorkerEngineIn(const std::string& folder) {
    WorkerEngineOptions options;
    options.workerPath = ChooseWorkerIn(folder);
    if (options.workerPath.empty()) return nullptr;
    return MakeWorkerEngine(options);
}

}  // namespace vellumor
