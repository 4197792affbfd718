#include "win32/guard.h"

namespace vellumor::win {

namespace {
ExceptionHandler g_handler = nullptr;
}

void SetExceptionHandler(ExceptionHandler handler) { g_handler = handler; }

void HandleCurrentException() noexcept {
    if (!g_handler) return;
    try {
        g_handler(std::current_exception());
    } catch (...) {
        // The error box itself failed: nothing is left to tell the user with.
    }
}

}  // namespace vellumor::win
