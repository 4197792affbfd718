#include "core/text.h"

namespace vellumor {

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string TrimFailureText(std::string_view text) {
    auto end = text.size();
    while (end > 0) {
        const auto c = static_cast<unsigned char>(text[end - 1]);
        if (c > 32 && c != '.') break;
        --end;
    }
    return std::string(text.substr(0, end));
}

std::size_t NameStart(std::string_view path, std::string_view separators) {
    const auto cut = path.find_last_of(separators);
    return cut == std::string_view::npos ? 0 : cut + 1;
}

std::string LastName(std::string_view path, std::string_view separators) {
    return std::string(path.substr(NameStart(path, separators)));
}

}  // namespace vellumor
