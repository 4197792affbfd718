// Small text helpers every layer uses: ASCII case folding, trimming, and where the last name
// of a path begins. Portable; they work on UTF-8 bytes and leave multibyte sequences alone.
#pragma once

#include <string>
#include <string_view>

namespace vellumor {

// Changes only the ASCII letters A to Z, so multibyte UTF-8 sequences pass through untouched.
std::string LowerAscii(std::string_view text);

// Removes every trailing character of code 32 or below and every trailing ".".
std::string TrimFailureText(std::string_view text);

// Where the last name of a path starts: just after the last of the separator characters, or 0
// when there is none. The name is path.substr(start), its folder path.substr(0, start).
std::size_t NameStart(std::string_view path, std::string_view separators);
// The last name of a path: the text after the last of the separator characters.
std::string LastName(std::string_view path, std::string_view separators);

}  // namespace vellumor
