#include "core/path_list.h"

#include <istream>
#include <iterator>

namespace vellumor {

bool SplitPathList(std::string_view text, PathListFormat format, std::vector<std::string>& paths,
                   std::string& error) {
    const bool lines = format == PathListFormat::Lines;
    if (lines) {
        if (std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
            std::size_t line = 1;
            for (std::size_t i = 0; i < nul; ++i) line += text[i] == '\n';
            error = "line " + std::to_string(line) +
                    " holds a NUL byte: a list of NUL-separated paths (find -print0) is read "
                    "with -0";
            return false;
        }
        constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
        if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
            text.remove_prefix(kByteOrderMark.size());
    }
    const char end = lines ? '\n' : '\0';
    while (!text.empty()) {
        std::size_t cut = text.find(end);
        std::string_view entry = text.substr(0, cut);
        text.remove_prefix(cut == std::string_view::npos ? text.size() : cut + 1);
        if (lines && !entry.empty() && entry.back() == '\r') entry.remove_suffix(1);
        if (!entry.empty()) paths.emplace_back(entry);
    }
    return true;
}

bool ReadPathList(std::istream& in, PathListFormat format, std::vector<std::string>& paths,
                  std::string& error) {
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        error = "reading it broke off";
        return false;
    }
    return SplitPathList(text, format, paths, error);
}

}  // namespace vellumor
