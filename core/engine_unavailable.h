// No engine can take any document: none was found, or every worker tried failed to start. It is
// no fault of the row being converted, so the run lets it leave for the error box instead of
// charging the row with a failed load; what() says why, for the trace or a console.
#pragma once

#include <stdexcept>
#include <string>

namespace vellumor {

class EngineUnavailable : public std::runtime_error {
  public:
    explicit EngineUnavailable(const std::string& why) : std::runtime_error(why) {}
};

}  // namespace vellumor
