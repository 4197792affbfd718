// The document engine as the program sees it.
//
// DocumentEngine is the window's face: the two operations Load and Save with the engine's own
// arguments. ConversionEngine is the typed face the worker client and the command-line
// converter use: load a path in a named format, save a PDF and learn its page count.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "core/engine_codes.h"
#include "core/row_plan.h"

namespace vellumor {

// What went wrong, for callers that decide on it (retry, report); the message is for people.
enum class EngineFailure {
    Unspecified,
    NotFound,           // the source is missing or unreadable
    Refused,            // the input check refused the content
    PasswordProtected,  // the document needs a password
    LoadFailed,         // the office could not read the document
    SaveFailed,         // the PDF could not be written
    NoDocument,         // Save without a document loaded
    BadRequest,         // a format code the engine does not know
    StartFailed,        // the engine could not be started
    Deadline,           // the engine did not finish within the time allowed
    EngineDied,         // the engine's process ended during the operation
    Protocol,           // the engine's answer was unreadable
};

// A failed engine operation: the message is what the user is shown.
class EngineError : public std::runtime_error {
  public:
    explicit EngineError(const std::string& message, long code = 0)
        : std::runtime_error(message), code_(code) {}
    EngineError(EngineFailure failure, const std::string& message)
        : std::runtime_error(message), failure_(failure) {}
    long code() const { return code_; }
    EngineFailure failure() const { return failure_; }

  private:
    long code_ = 0;
    EngineFailure failure_ = EngineFailure::Unspecified;
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

struct SavedPdf {
    int pages = 0;  // 0 when the engine cannot tell
};

class ConversionEngine {
  public:
    virtual ~ConversionEngine() = default;
    // Both throw EngineError; paths are UTF-8.
    virtual void LoadDocument(const std::string& path, SourceFormat format) = 0;
    virtual SavedPdf SavePdf(const std::string& path) = 0;
    // Waits until the engine can take a document; throws EngineError (StartFailed) when it
    // cannot start. An engine that is ready when made returns at once.
    virtual void WaitUntilReady() {}
    // From any thread: ends the operation in progress; it and every later one fail.
    virtual void Abort() {}
};

// An engine that converts the rows after the current one while the run works on it. The run's
// Load and Save see no difference; what is done ahead is used only when they ask for exactly it.
class LookAhead {
  public:
    virtual ~LookAhead() = default;
    // The run is about to load row `row` of the `rows` it walks; plan names rows as the list
    // shows them now. Called on the run's thread only.
    virtual void RowReached(int row, int rows, const ConversionPlan& plan) = 0;
    // The run is over (completed, stopped, failed): whatever was done ahead is thrown away.
    // When it returns, nothing of that run is queued or running and nothing it made is on disk
    // outside the output folder: work in flight is aborted (the worker doing it is ended and a
    // fresh one takes its place), so it returns within the time an aborted worker takes to
    // notice, not the time a document would take: with two rows in flight, tens of
    // milliseconds; under a tenth of a second beside two CPU-bound processes on two cores, a
    // fifth with six. The fresh workers start after it returns (an office takes a few seconds):
    // the next run's first row waits for that, never for rows thrown away.
    virtual void RunEnded() = 0;
};

}  // namespace vellumor
