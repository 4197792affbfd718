#include "engine/worker/file_url.h"

#include <unistd.h>

#include <climits>

namespace vellumor::engine {

std::string FileUrlFromPath(std::string_view path) {
    static const char* hex = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            url.push_back(static_cast<char>(c));
        } else {
            url.push_back('%');
            url.push_back(hex[c >> 4]);
            url.push_back(hex[c & 15]);
        }
    }
    return url;
}

std::string AbsolutePath(std::string_view path) {
    if (!path.empty() && path.front() == '/') return std::string(path);
    char cwd[PATH_MAX];
    std::string base = getcwd(cwd, sizeof cwd) ? cwd : "/";
    if (base.empty() || base.back() != '/') base += '/';
    return base + std::string(path);
}

}  // namespace vellumor::engine
