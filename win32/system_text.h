// The system's own text for an error code, for messages that name what failed.
#pragma once

#include <windows.h>

#include <string>

namespace vellumor::win {

// FormatMessage's text for code (UTF-8), without trailing blanks, line breaks and full stops;
// empty when the system has none.
std::string SystemMessageText(DWORD code);

// The same, but "error N" when the system has no text for the code.
std::string SystemErrorText(DWORD code);

}  // namespace vellumor::win
