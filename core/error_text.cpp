#include "core/error_text.h"

#include <cstdio>

#include "core/paths.h"

namespace vellumor {

std::string ApplicationTitle(std::string_view programPath) {
    std::string name = FileNameOf(programPath);
    if (auto slash = name.find_last_of('/'); slash != std::string::npos) name.erase(0, slash + 1);
    if (auto dot = name.find('.'); dot != std::string::npos) name.erase(dot);
    if (name.empty()) return name;
    return name.substr(0, 1) + LowerAscii(std::string_view(name).substr(1));
}

std::string ErrorBoxText(std::string_view message) {
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    return text;
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

std::string EngineFailureMessage(std::string_view description, std::uint32_t code,
                                 std::string_view systemText) {
    std::string message = TrimFailureText(description);
    if (message.empty()) message = TrimFailureText(systemText);
    if (message.empty()) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "OLE error %.8X", static_cast<unsigned>(code));
        message = buffer;
    }
    return message;
}

}  // namespace vellumor
