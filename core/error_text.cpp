#include "core/error_text.h"

#include <cstdio>

#include "core/paths.h"

namespace vellumor {

std::string ApplicationTitle(std::string_view programPath) {
    // Either form of separator, whichever the program path was written with.
    std::string name = LastName(programPath, "\\:/");
    if (auto dot = name.find('.'); dot != std::string::npos) name.erase(dot);
    if (name.empty()) return name;
    return name.substr(0, 1) + LowerAscii(std::string_view(name).substr(1));
}

std::string ErrorBoxText(std::string_view message) {
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    return text;
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
