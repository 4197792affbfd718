// TDocEngineControl: hosts the document engine's ActiveX control as a hidden child of a panel and
// drives its two automation calls, Load and Save, late-bound through IDispatch::Invoke.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/document_engine.h"
#include "win32/handles.h"

namespace vellumor {

// The control's class, its dispatch interface _DDocEngine and its event interface.
inline constexpr CLSID kDocEngineClassId = {
    0x3CE7A701, 0x9BC2, 0x11DE, {0xA4, 0xC1, 0x00, 0x13, 0xD3, 0x50, 0x66, 0x7C}};
inline constexpr IID kDocEngineDispatchId = {
    0x3CE7A707, 0x9BC2, 0x11DE, {0xA4, 0xC1, 0x00, 0x13, 0xD3, 0x50, 0x66, 0x7C}};
inline constexpr IID kDocEngineEventsId = {
    0x3CE7A708, 0x9BC2, 0x11DE, {0xA4, 0xC1, 0x00, 0x13, 0xD3, 0x50, 0x66, 0x7C}};

inline constexpr DISPID kDispIdLoad = 99;
inline constexpr DISPID kDispIdSave = 100;

// The control's events in slot order: 1 to 17, the error event, then 18 to 61.
inline constexpr int kDocEngineEventCount = 62;
std::array<DISPID, kDocEngineEventCount> DocEngineEventIds();
// The slot of an event's dispatch id, or -1 when the table has none.
int DocEngineEventSlot(DISPID id);

// An engine call that failed inside the control (DISP_E_EXCEPTION): besides the message and the
// code it carries what the control's exception record named.
class OleEngineError : public EngineError {
  public:
    OleEngineError(const std::string& message, long code, std::string source, std::string helpFile,
                   long helpContext)
        : EngineError(message, code),
          source_(std::move(source)),
          helpFile_(std::move(helpFile)),
          helpContext_(helpContext) {}
    const std::string& source() const { return source_; }
    const std::string& helpFile() const { return helpFile_; }
    long helpContext() const { return helpContext_; }

  private:
    std::string source_;
    std::string helpFile_;
    long helpContext_;
};

// The failure for a code with no description of its own: the system text (win::SystemMessageText),
// else "OLE error ...".
EngineError OleFailure(HRESULT code);

class TDocEngineControl : public DocumentEngine {
  public:
    // An event handler receives the event's arguments as the control sent them.
    using EventHandler = std::function<void(DISPPARAMS&)>;

    // Creates the control (the class must be registered) and gives it its client site at once
    // when it asks for that. The persisted state is handed to the control unchanged when it is
    // initialised; with none the control starts new. The parent window must outlive this object.
    // Throws EngineError with the system's text when the control cannot be created.
    TDocEngineControl(HWND parent, const RECT& bounds, std::vector<std::uint8_t> persistedState,
                      const CLSID& classId = kDocEngineClassId);
    ~TDocEngineControl() override;
    TDocEngineControl(const TDocEngineControl&) = delete;
    TDocEngineControl& operator=(const TDocEngineControl&) = delete;

    // Loads the persisted state, connects the sinks and activates the control in place in the
    // parent at the bounds. Done once; the window calls it before it is first shown, and the
    // first Load or Save calls it if nobody did.
    void CreateControl();
    bool Initialized() const { return initialized_; }
    // The control's own window once it is active in place (or null).
    HWND ControlWindow() const;

    int Load(const std::string& path, int reserved, int format, bool flag) override;
    int Save(const std::string& path, int reserved, int format, bool flag) override;

    // The event slots, one per event in slot order; all are empty in the program.
    std::array<EventHandler, kDocEngineEventCount>& Events() { return events_; }

  private:
    class Site;
    class Frame;
    class EventSink;
    friend class Site;
    friend class EventSink;

    int Invoke(DISPID id, const std::string& path, int reserved, int format, bool flag);
    IDispatch& EngineInterface();
    void DispatchEvent(DISPID id, DISPPARAMS& params);
    void Connect(REFIID iid, IUnknown* sink, DWORD& cookie);
    void Disconnect(REFIID iid, DWORD& cookie);

    HWND parent_;
    RECT bounds_;
    bool initialized_ = false;
    std::string initFailure_;
    long initFailureCode_ = 0;
    DWORD miscStatus_ = 0;
    win::GlobalMemory persisted_;

    void Teardown() noexcept;

    // Our references to the site and the event sink; the control may keep its own a while longer.
    win::ComPtr<Site> site_;
    win::ComPtr<EventSink> eventSink_;
    win::ComPtr<IOleObject> oleObject_;
    win::ComPtr<IPersistStreamInit> persist_;
    win::ComPtr<IOleControl> oleControl_;
    win::ComPtr<IDispatch> dispatch_;
    win::ComPtr<IPerPropertyBrowsing> propertyBrowsing_;
    win::ComPtr<IDispatch> engine_;  // _DDocEngine, taken on the first call
    DWORD propertyCookie_ = 0;
    DWORD eventCookie_ = 0;
    std::array<EventHandler, kDocEngineEventCount> events_;
};

}  // namespace vellumor
