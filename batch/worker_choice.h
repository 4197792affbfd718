// Which worker a front end converts with, and the engines made of it. The window and the
// command line choose alike:
//
//   1. the worker named (the command line's --engine or VELLUMOR_ENGINE_PATH), as it is;
//   2. the executable worker in the program's folder (vellumor-engine.exe on Windows, or under
//      Wine the Linux vellumor-engine; vellumor-engine elsewhere);
//   3. the script worker vellumor_engine.py there, when a Python can run it (the installed
//      office's python.exe on Windows);
//   4. outside Windows, the package's worker (../lib/vellumor from the program's folder, off
//      the command search path) and then the build tree's (../engine/worker).
#pragma once

#include <memory>
#include <string>

#include "engine/document_engine.h"

namespace vellumor {

// The script worker's file name.
inline constexpr const char* kScriptWorkerName = "vellumor_engine.py";

// The worker for a program in folder; empty when none can run.
std::string ChooseWorkerIn(const std::string& folder, const std::string& named = {});
// The same for the running program.
std::string ChooseWorker(const std::string& named = {});
// The folder of the running program.
std::string ProgramFolder();
// The script worker beside the running program, whether a Python can run it or not; empty if
// absent.
std::string FindScriptBesideExecutable();

// The worker engine of a program in folder (ChooseWorkerIn), launched now; null when none.
std::unique_ptr<DocumentEngine> MakeWorkerEngineIn(const std::string& folder);

}  // namespace vellumor
