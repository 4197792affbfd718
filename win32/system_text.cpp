#include "win32/system_text.h"

#include <optional>

#include "core/text.h"
#include "win32/handles.h"
#include "win32/unicode.h"

namespace vellumor::win {

namespace {

struct FreeLocalMemory {
    void operator()(wchar_t* p) const { LocalFree(p); }
};

// FormatMessage's text for code, trimmed; nothing when the system has none.
std::optional<std::string> FormattedMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    Owned<wchar_t*, FreeLocalMemory> owner(buffer);
    if (!buffer) return std::nullopt;
    return TrimFailureText(Narrow(buffer));
}

}  // namespace

std::string SystemMessageText(DWORD code) {
    return FormattedMessage(code).value_or(std::string());
}

std::string SystemErrorText(DWORD code) {
    return FormattedMessage(code).value_or("error " + std::to_string(code));
}

}  // namespace vellumor::win
