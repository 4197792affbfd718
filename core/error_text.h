// Texts of the error boxes and of engine failures.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/text.h"

namespace vellumor {

// The program file's name without its folder and without everything from its first "."; every
// character after the first lower-cased (ASCII letters only). "C:\x\VELLUMOR.EXE" -> "Vellumor".
std::string ApplicationTitle(std::string_view programPath);

// The message of the top-level error box: a "." is appended when the message is not empty and
// its last byte sorts after "." (so "!", ")", "." or a blank at the end get none).
std::string ErrorBoxText(std::string_view message);

// The message of a failed engine call: the trimmed description; if nothing is left, the trimmed
// system text for the code; if that is empty too, "OLE error XXXXXXXX" (upper-case hex).
std::string EngineFailureMessage(std::string_view description, std::uint32_t code,
                                 std::string_view systemText);

}  // namespace vellumor
