// Which document engine the program uses: the engine's ActiveX control when its class is
// registered on the machine, otherwise the LibreOffice worker beside the program.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "engine/document_engine.h"

namespace vellumor {

// True when COM can hand out the class object of the control (registered on the machine, or
// for this process).
bool ControlClassRegistered(const CLSID& classId);

using EngineFactory = std::function<std::unique_ptr<DocumentEngine>()>;

struct EngineSources {
    // Whether the control can be hosted; usually ControlClassRegistered for its class.
    std::function<bool()> controlRegistered;
    // Hosts the control; called only when it is registered. Its failures are not caught.
    EngineFactory control;
    // Makes the worker client; returns null when no worker lies beside the program. Empty when
    // the program is built without one.
    EngineFactory worker;
};

// The message shown when neither engine is there.
extern const char* const kNoEngineMessage;

// The engine for this run of the program. Throws EngineError(kNoEngineMessage) when the
// control is not registered and no worker is found.
std::unique_ptr<DocumentEngine> ChooseEngine(const EngineSources& sources);

}  // namespace vellumor
