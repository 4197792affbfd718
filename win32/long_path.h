// Paths for the wide file functions: beyond 260 characters those need the "\\?\" form, which
// takes a full path with backslashes only.
#pragma once

#include <string>
#include <string_view>

namespace vellumor::win {

// The path (UTF-8) as the wide file functions take it: unchanged while it is short, else made
// full and given the "\\?\" (or "\\?\UNC\") prefix.
std::wstring LongPath(std::string_view utf8);

}  // namespace vellumor::win
