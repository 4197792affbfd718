#include "win32/system_text.h"

#include "win32/handles.h"
#include "win32/unicode.h"

namespace vellumor::win {

namespace {

struct FreeLocalMemory {
    void operator()(wchar_t* p) const { LocalFree(p); }
};

}  // namespace

std::string SystemErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    Owned<wchar_t*, FreeLocalMemory> owner(buffer);
    std::string text = buffer ? Narrow(buffer) : "error " + std::to_string(code);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

}  // namespace vellumor::win
