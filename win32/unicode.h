// UTF-8 inside, UTF-16 only at the Win32 call.
#pragma once

#include <string>
#include <string_view>

namespace vellumor::win {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

}  // namespace vellumor::win
