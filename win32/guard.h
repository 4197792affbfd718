// The boundary of every window procedure, subclass procedure and callback: an exception must
// never cross into the system (a MinGW program ends if one does). It is handed to the handler
// that the application object installs, which shows the error box.
#pragma once

#include <exception>
#include <type_traits>

namespace vellumor::win {

using ExceptionHandler = void (*)(std::exception_ptr);

// Installed once by the application object; until then exceptions are dropped.
void SetExceptionHandler(ExceptionHandler handler);
void HandleCurrentException() noexcept;

// Runs body; on an exception hands it over and returns fallback.
template <typename Body, typename Result = std::invoke_result_t<Body>>
Result Guarded(Body&& body, Result fallback = Result{}) noexcept {
    try {
        return body();
    } catch (...) {
        HandleCurrentException();
        return fallback;
    }
}

}  // namespace vellumor::win
