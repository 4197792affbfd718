// file:// URLs for local paths: every byte outside the unreserved set (and "/") is
// percent-encoded, so spaces, "%", "#", "?" and non-ASCII names reach the office intact.
#pragma once

#include <string>
#include <string_view>

namespace vellumor::engine {

// path must be absolute (start with "/").
std::string FileUrlFromPath(std::string_view path);

// Makes a path absolute against the current folder; "." and ".." are left for the system.
std::string AbsolutePath(std::string_view path);

}  // namespace vellumor::engine
