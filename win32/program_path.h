// Where the program's own executable is, for the files installed beside it.
#pragma once

#include <string>

namespace vellumor::win {

// The executable's full path (UTF-8), however long.
std::string ProgramPath();

// The executable's folder without a trailing separator; "." when it cannot be told.
std::string ProgramFolder();

// The trace log of the program (core/trace.h): trace.log in %LOCALAPPDATA%\Vellumor; empty
// when the system names no such folder.
std::string TraceLogPath();

}  // namespace vellumor::win
