// How the Windows tests reach the native build and the corpus while they run under Wine.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "win32/unicode.h"

namespace vellumor::test {

// A Unix path as this Windows process sees it, on Wine's Z: drive.
inline std::string UnixPathOnZ(std::string_view unixPath) {
    std::string dos = "Z:" + std::string(unixPath);
    for (auto& c : dos)
        if (c == '/') c = '\\';
    return dos;
}

inline bool PathExists(const std::string& path) {
    return GetFileAttributesW(win::Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace vellumor::test
