// A small ActiveX control of our own that stands in for the document engine's control in the
// host's tests. It answers what the host asks for, records every step and call it receives, and
// misbehaves on request. Registered for this process only (CoRegisterClassObject).
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>
#include <vector>

namespace testctl {

enum class ResultKind { Empty, Integer, Text };

// What the next control made does; reset before every test.
struct Options {
    bool setClientSiteFirst = true;  // OLEMISC_SETCLIENTSITEFIRST in the status flags
    bool offerConnectionPoints = true;
    bool offerEventPoint = true;
    bool offerPropertyPoint = true;
    bool offerEngineInterface = true;
    bool activateInPlace = true;  // false: DoVerb succeeds but never reports in-place activation
    HRESULT createResult = S_OK;  // the class factory's answer
    bool fireEventsDuringLoad = true;

    // How Load and Save end: S_OK, DISP_E_EXCEPTION with the record below, or any other code.
    HRESULT invokeResult = S_OK;
    std::wstring description;
    bool noDescription = false;  // leaves bstrDescription null
    SCODE scode = 0;
    std::wstring source;
    std::wstring helpFile;
    DWORD helpContext = 0;

    ResultKind result = ResultKind::Integer;
    LONG resultValue = 0;
};

// One Invoke as the control saw it.
struct Call {
    std::string through;  // "engine" (the _DDocEngine interface) or "control" (plain IDispatch)
    DISPID id = 0;
    bool nullIid = false;
    LCID lcid = 0;
    WORD flags = 0;
    UINT argCount = 0;
    UINT namedCount = 0;
    bool namedIds = false;
    std::vector<VARTYPE> types;  // as in rgvarg: last argument first
    std::wstring path;
    LONG reserved = -1;
    LONG format = -1;
    VARIANT_BOOL flag = 1;
    bool resultGiven = false;
    bool exceptionRecordCleared = false;
    bool argErrGiven = false;
    std::vector<HRESULT> eventAnswers;  // what the host's sinks answered to events fired here
};

struct Log {
    std::vector<std::string> steps;  // lifecycle in order
    std::vector<Call> calls;
    std::vector<BYTE> loadedState;
    int engineQueries = 0;
    HWND parentGiven = nullptr;
    RECT boundsGiven{};
    RECT contextPosition{};
    HWND window = nullptr;
    bool frameGiven = false;
    VARIANT_BOOL ambientUserMode = 0;
    HRESULT ambientUserModeAnswer = E_FAIL;
    int liveObjects = 0;
};

Options& options();
Log& log();
void Reset();

// The control's class registered for this process while the value lives.
class Registration {
  public:
    explicit Registration(const CLSID& classId);
    ~Registration();
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    bool ok() const { return cookie_ != 0; }

  private:
    DWORD cookie_ = 0;
};

}  // namespace testctl
