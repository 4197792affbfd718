#include "engine/control/engine_choice.h"

#include <objbase.h>

#include "win32/handles.h"

namespace vellumor {

const char* const kNoEngineMessage =
    "No document engine was found. Vellumor converts documents with LibreOffice (version 7 or "
    "later, 32- or 64-bit): install it from https://www.libreoffice.org/download/ and start "
    "Vellumor again. The engine script vellumor_engine.py must stay in the folder of "
    "Vellumor.exe";

bool ControlClassRegistered(const CLSID& classId) {
    win::ComPtr<IClassFactory> factory;
    return SUCCEEDED(CoGetClassObject(classId, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, nullptr,
                                      IID_IClassFactory, factory.put_void())) &&
           factory;
}

std::unique_ptr<DocumentEngine> ChooseEngine(const EngineSources& sources) {
    if (sources.controlRegistered && sources.control && sources.controlRegistered())
        return sources.control();
    if (sources.worker) {
        if (auto engine = sources.worker()) return engine;
    }
    throw EngineError(kNoEngineMessage);
}

}  // namespace vellumor
