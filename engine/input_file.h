// The input check applied to a file before any engine sees it, so every engine (the worker
// of either kind, or the engine control) refuses the same files with the same reasons.
#pragma once

#include <memory>
#include <string>

#include "core/input_check.h"
#include "engine/document_engine.h"

namespace vellumor {

// Reads the file at path (UTF-8) and runs the input check on its content. Throws EngineError
// (NotFound or Refused) with "Cannot convert NAME: REASON"; returns when the
// content may go to an engine, with what it found.
InputVerdict CheckInputFile(const std::string& path);

// The last part of a path, for messages (either separator on Windows).
std::string DisplayNameOf(const std::string& path);

// The format checks of the engines' Load and Save: throw EngineError (BadRequest) naming the
// file unless format is .doc or .docx for a load, PDF for a save.
void CheckLoadFormat(const std::string& path, int format);
void CheckSaveFormat(const std::string& path, int format);

// An engine that checks every file before its Load reaches the engine inside.
class InputCheckedEngine : public DocumentEngine {
  public:
    explicit InputCheckedEngine(std::unique_ptr<DocumentEngine> inner) : inner_(std::move(inner)) {}
    int Load(const std::string& path, int reserved, int format, bool flag) override {
        // The control does not say which import its office chose, so content the check cannot
        // name, which the workers leave to the office's detection, stays refused here.
        if (CheckInputFile(path).kind == InputKind::Unknown)
            throw EngineError(EngineFailure::Refused, "Cannot convert " + DisplayNameOf(path) +
                                                          ": it is " + kUnrecognisedContent);
        return inner_->Load(path, reserved, format, flag);
    }
    int Save(const std::string& path, int reserved, int format, bool flag) override {
        return inner_->Save(path, reserved, format, flag);
    }
    DocumentEngine& inner() { return *inner_; }

  private:
    std::unique_ptr<DocumentEngine> inner_;
};

}  // namespace vellumor
