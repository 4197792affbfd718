// The document engine as the program sees it: two operations, Load and Save.
#pragma once

#include <stdexcept>
#include <string>

namespace vellumor {

// A failed engine operation: the message is what the user is shown.
class EngineError : public std::runtime_error {
public:
    explicit EngineError(const std::string& message, long code = 0)
        : std::runtime_error(message), code_(code) {}
    long code() const { return code_; }

private:
    long code_;
};

class DocumentEngine {
public:
    virtual ~DocumentEngine() = default;
    // Load(path, 0, 9 or 13, false): the engine then holds the document read from path.
    // Save(path, 0, 12, false): writes the document of the last Load that succeeded.
    // Paths are UTF-8. Both throw EngineError on failure; the result is the engine's own value.
    virtual int Load(const std::string& path, int reserved, int format, bool flag) = 0;
    virtual int Save(const std::string& path, int reserved, int format, bool flag) = 0;
};

}  // namespace vellumor
