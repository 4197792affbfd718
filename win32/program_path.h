// Where the program's own executable is, for the files installed beside it.
#pragma once

#include <string>

namespace vellumor::win {

// The executable's full path (UTF-8), however long.
std::string ProgramPath();

// The executable's folder without a trailing separator; "." when it cannot be told.
std::string ProgramFolder();

}  // namespace vellumor::win
