#include "tests/win/engine/test_control.h"

#include <olectl.h>

#include <algorithm>

#include "engine/control/DocEngineLib_TLB.h"

namespace testctl {

namespace {

Options g_options;
Log g_log;

void Step(std::string text) {
    g_log.steps.push_back(std::move(text));
}

std::string IidName(REFIID iid) {
    if (iid == IID_IOleObject) return "IOleObject";
    if (iid == IID_IUnknown) return "IUnknown";
    if (iid == IID_IPropertyNotifySink) return "propertynotify";
    if (iid == vellumor::kDocEngineEventsId) return "events";
    return "other";
}

class Control;

// One outgoing interface of the control, holding at most one sink.
class Point : public IConnectionPoint {
  public:
    Point(Control* owner, const IID& iid) : owner_(owner), iid_(iid) {}
    ~Point() { Drop(); }
    IUnknown* sink() const { return sink_; }
    void Drop() {
        if (sink_) std::exchange(sink_, nullptr)->Release();
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetConnectionInterface(IID* iid) override {
        *iid = iid_;
        return S_OK;
    }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
        if (!sink || !cookie) return E_POINTER;
        if (sink_) return CONNECT_E_ADVISELIMIT;
        IUnknown* typed = nullptr;
        if (FAILED(sink->QueryInterface(iid_, reinterpret_cast<void**>(&typed))))
            return CONNECT_E_CANNOTCONNECT;
        sink_ = typed;
        *cookie = 7;
        Step("Advise(" + IidName(iid_) + ")");
        return S_OK;
    }
    STDMETHODIMP Unadvise(DWORD cookie) override {
        Step("Unadvise(" + IidName(iid_) + ")");
        if (cookie != 7 || !sink_) return CONNECT_E_NOCONNECTION;
        Drop();
        return S_OK;
    }
    STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

  private:
    Control* owner_;
    IID iid_;
    IUnknown* sink_ = nullptr;
};

// The _DDocEngine interface as its own object, so the log shows which interface a call used.
class EngineDispatch : public IDispatch {
  public:
    explicit EngineDispatch(Control* owner);
    virtual ~EngineDispatch();
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != vellumor::kDocEngineDispatchId)
            return E_NOINTERFACE;
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argErr) override;

  private:
    ULONG refs_ = 1;
    Control* owner_;
};

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    return DefWindowProcW(window, message, w, l);
}

const wchar_t* ControlWindowClass() {
    static const wchar_t* name = [] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = ControlWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VellumorTestEngineControl";
        RegisterClassW(&wc);
        return L"VellumorTestEngineControl";
    }();
    return name;
}

class Control : public IOleObject,
                public IPersistStreamInit,
                public IOleControl,
                public IDispatch,
                public IOleInPlaceObject,
                public IConnectionPointContainer {
  public:
    Control()
        : options_(g_options),
          eventPoint_(this, vellumor::kDocEngineEventsId),
          propertyPoint_(this, IID_IPropertyNotifySink) {
        ++g_log.liveObjects;
    }
    virtual ~Control() {
        if (window_) DestroyWindow(window_);
        --g_log.liveObjects;
        Step("Destroyed");
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleObject)
            *out = static_cast<IOleObject*>(this);
        else if (iid == IID_IPersist || iid == IID_IPersistStreamInit)
            *out = static_cast<IPersistStreamInit*>(this);
        else if (iid == IID_IOleControl)
            *out = static_cast<IOleControl*>(this);
        else if (iid == IID_IDispatch)
            *out = static_cast<IDispatch*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject)
            *out = static_cast<IOleInPlaceObject*>(this);
        else if (iid == IID_IConnectionPointContainer && options_.offerConnectionPoints)
            *out = static_cast<IConnectionPointContainer*>(this);
        else if (iid == vellumor::kDocEngineDispatchId) {
            ++g_log.engineQueries;
            if (!options_.offerEngineInterface) return E_NOINTERFACE;
            *out = static_cast<IDispatch*>(new EngineDispatch(this));
            return S_OK;
        } else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override {
        Step(site ? "SetClientSite(site)" : "SetClientSite(null)");
        if (site_) site_->Release();
        site_ = site;
        if (site_) {
            site_->AddRef();
            IDispatch* ambient = nullptr;
            if (SUCCEEDED(
                    site_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&ambient)))) {
                DISPPARAMS none{};
                VARIANT value;
                VariantInit(&value);
                g_log.ambientUserModeAnswer =
                    ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYGET,
                                    &none, &value, nullptr, nullptr);
                if (value.vt == VT_BOOL) g_log.ambientUserMode = value.boolVal;
                VariantClear(&value);
                ambient->Release();
            }
        }
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** site) override {
        *site = site_;
        if (site_) site_->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD option) override {
        Step("Close(" + std::to_string(option) + ")");
        InPlaceDeactivate();
        return S_OK;
    }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                        LPCRECT bounds) override {
        Step("DoVerb(" + std::to_string(verb) + ")");
        if (verb != OLEIVERB_INPLACEACTIVATE || !site || !bounds) return E_INVALIDARG;
        g_log.parentGiven = parent;
        g_log.boundsGiven = *bounds;
        IOleInPlaceSite* place = nullptr;
        if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&place))))
            return E_NOINTERFACE;
        HRESULT hr = place->CanInPlaceActivate();
        if (hr == S_OK && options_.activateInPlace) hr = place->OnInPlaceActivate();
        if (SUCCEEDED(hr)) {
            IOleInPlaceFrame* frame = nullptr;
            IOleInPlaceUIWindow* document = nullptr;
            RECT position{}, clip{};
            OLEINPLACEFRAMEINFO info{};
            info.cb = sizeof info;
            if (SUCCEEDED(place->GetWindowContext(&frame, &document, &position, &clip, &info))) {
                g_log.contextPosition = position;
                g_log.frameGiven = frame != nullptr;
                if (frame) frame->Release();
                if (document) document->Release();
            }
            if (options_.activateInPlace) {
                window_ = CreateWindowExW(0, ControlWindowClass(), L"", WS_CHILD | WS_VISIBLE,
                                          bounds->left, bounds->top, bounds->right - bounds->left,
                                          bounds->bottom - bounds->top, parent, nullptr,
                                          GetModuleHandleW(nullptr), nullptr);
                g_log.window = window_;
                inPlace_ = place;
                place = nullptr;
            }
        }
        if (place) place->Release();
        return hr;
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* id) override {
        *id = vellumor::kDocEngineClassId;
        return S_OK;
    }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return OLE_S_USEREG; }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return S_OK; }
    STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override {
        Step("GetMiscStatus(" + std::to_string(aspect) + ")");
        *status = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE;
        if (options_.setClientSiteFirst) *status |= OLEMISC_SETCLIENTSITEFIRST;
        return S_OK;
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IPersistStreamInit
    STDMETHODIMP GetClassID(CLSID* id) override { return GetUserClassID(id); }
    STDMETHODIMP IsDirty() override { return S_FALSE; }
    STDMETHODIMP Load(LPSTREAM stream) override {
        std::vector<BYTE> bytes;
        BYTE buffer[256];
        ULONG read = 0;
        while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &read)) && read > 0)
            bytes.insert(bytes.end(), buffer, buffer + read);
        g_log.loadedState = bytes;
        Step("Load(" + std::to_string(bytes.size()) + " bytes)");
        return S_OK;
    }
    STDMETHODIMP Save(LPSTREAM, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP InitNew() override {
        Step("InitNew");
        return S_OK;
    }

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO*) override { return E_NOTIMPL; }
    STDMETHODIMP OnMnemonic(MSG*) override { return S_OK; }
    STDMETHODIMP OnAmbientPropertyChange(DISPID id) override {
        Step("OnAmbientPropertyChange(" + std::to_string(id) + ")");
        return S_OK;
    }
    STDMETHODIMP FreezeEvents(BOOL) override { return S_OK; }

    // IDispatch of the control object itself
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argErr) override {
        return Call("control", id, iid, lcid, flags, params, result, exception, argErr);
    }

    // IOleInPlaceObject
    STDMETHODIMP GetWindow(HWND* window) override {
        *window = window_;
        return window_ ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return S_OK; }
    STDMETHODIMP InPlaceDeactivate() override {
        if (inPlace_) {
            IOleInPlaceSite* place = std::exchange(inPlace_, nullptr);
            place->OnInPlaceDeactivate();
            place->Release();
        }
        if (window_) DestroyWindow(std::exchange(window_, nullptr));
        return S_OK;
    }
    STDMETHODIMP UIDeactivate() override { return S_OK; }
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT) override {
        if (window_)
            MoveWindow(window_, position->left, position->top, position->right - position->left,
                       position->bottom - position->top, TRUE);
        return S_OK;
    }
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
        *out = nullptr;
        Point* point = nullptr;
        if (iid == vellumor::kDocEngineEventsId && options_.offerEventPoint) point = &eventPoint_;
        if (iid == IID_IPropertyNotifySink && options_.offerPropertyPoint) point = &propertyPoint_;
        if (!point) return CONNECT_E_NOCONNECTION;
        point->AddRef();
        *out = point;
        return S_OK;
    }

    HRESULT Call(const char* through, DISPID id, REFIID iid, LCID lcid, WORD flags,
                 DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argErr) {
        testctl::Call call;
        call.through = through;
        call.id = id;
        call.nullIid = iid == IID_NULL;
        call.lcid = lcid;
        call.flags = flags;
        call.resultGiven = result != nullptr;
        call.argErrGiven = argErr != nullptr;
        if (exception) {
            EXCEPINFO cleared;
            ZeroMemory(&cleared, sizeof cleared);
            call.exceptionRecordCleared = memcmp(exception, &cleared, sizeof cleared) == 0;
        }
        if (params) {
            call.argCount = params->cArgs;
            call.namedCount = params->cNamedArgs;
            call.namedIds = params->rgdispidNamedArgs != nullptr;
            for (UINT i = 0; i < params->cArgs; ++i) call.types.push_back(params->rgvarg[i].vt);
            if (params->cArgs == 4) {
                const VARIANTARG* a = params->rgvarg;
                if (a[3].vt == VT_BSTR && a[3].bstrVal)
                    call.path.assign(a[3].bstrVal, SysStringLen(a[3].bstrVal));
                call.reserved = a[2].lVal;
                call.format = a[1].lVal;
                call.flag = a[0].boolVal;
            }
        }
        if (id != vellumor::kDispIdLoad && id != vellumor::kDispIdSave) {
            g_log.calls.push_back(call);
            return DISP_E_MEMBERNOTFOUND;
        }
        if (id == vellumor::kDispIdLoad && options_.fireEventsDuringLoad) FireEvents(call);
        g_log.calls.push_back(call);

        if (result) {
            switch (options_.result) {
                case ResultKind::Empty:
                    break;
                case ResultKind::Integer:
                    result->vt = VT_I4;
                    result->lVal = options_.resultValue;
                    break;
                case ResultKind::Text:
                    result->vt = VT_BSTR;
                    result->bstrVal = SysAllocString(L"not a number");
                    break;
            }
        }
        if (options_.invokeResult == DISP_E_EXCEPTION && exception) {
            exception->wCode = 0;
            exception->scode = options_.scode;
            exception->bstrDescription =
                options_.noDescription ? nullptr : SysAllocString(options_.description.c_str());
            exception->bstrSource =
                options_.source.empty() ? nullptr : SysAllocString(options_.source.c_str());
            exception->bstrHelpFile =
                options_.helpFile.empty() ? nullptr : SysAllocString(options_.helpFile.c_str());
            exception->dwHelpContext = options_.helpContext;
        }
        return options_.invokeResult;
    }

    // An error event, a change event and a property change, all on this thread, mid-call.
    void FireEvents(testctl::Call& call) {
        if (auto* sink = static_cast<IDispatch*>(eventPoint_.sink())) {
            VARIANTARG args[7];
            for (auto& a : args) VariantInit(&a);
            VARIANT_BOOL cancel = VARIANT_FALSE;
            BSTR description = SysAllocString(L"from the control");
            args[0].vt = VT_BOOL | VT_BYREF;  // CancelDisplay, last argument first
            args[0].pboolVal = &cancel;
            args[1].vt = VT_I4;  // HelpContext
            args[2].vt = VT_BSTR;
            args[2].bstrVal = SysAllocString(L"help.chm");
            args[3].vt = VT_BSTR;
            args[3].bstrVal = SysAllocString(L"engine");
            args[4].vt = VT_I4;
            args[4].lVal = static_cast<LONG>(E_FAIL);
            args[5].vt = VT_BSTR | VT_BYREF;
            args[5].pbstrVal = &description;
            args[6].vt = VT_I2;
            args[6].iVal = 3;
            DISPPARAMS error{args, nullptr, 7, 0};
            call.eventAnswers.push_back(sink->Invoke(DISPID_ERROREVENT, IID_NULL, 0,
                                                     DISPATCH_METHOD, &error, nullptr, nullptr,
                                                     nullptr));
            SysFreeString(description);
            for (auto& a : args) VariantClear(&a);
            DISPPARAMS none{};
            call.eventAnswers.push_back(
                sink->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
            call.eventAnswers.push_back(
                sink->Invoke(500, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
        }
        if (auto* sink = static_cast<IPropertyNotifySink*>(propertyPoint_.sink())) {
            call.eventAnswers.push_back(sink->OnRequestEdit(DISPID_UNKNOWN));
            call.eventAnswers.push_back(sink->OnChanged(DISPID_UNKNOWN));
        }
    }

  private:
    ULONG refs_ = 1;
    const Options& options_;
    IOleClientSite* site_ = nullptr;
    IOleInPlaceSite* inPlace_ = nullptr;
    HWND window_ = nullptr;
    Point eventPoint_;
    Point propertyPoint_;
};

STDMETHODIMP Point::QueryInterface(REFIID iid, void** out) {
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IConnectionPoint) return E_NOINTERFACE;
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}
STDMETHODIMP_(ULONG) Point::AddRef() {
    return static_cast<IOleObject*>(owner_)->AddRef();
}
STDMETHODIMP_(ULONG) Point::Release() {
    return static_cast<IOleObject*>(owner_)->Release();
}
STDMETHODIMP Point::GetConnectionPointContainer(IConnectionPointContainer** out) {
    return static_cast<IOleObject*>(owner_)->QueryInterface(IID_IConnectionPointContainer,
                                                            reinterpret_cast<void**>(out));
}

EngineDispatch::EngineDispatch(Control* owner) : owner_(owner) {
    static_cast<IOleObject*>(owner_)->AddRef();
}
EngineDispatch::~EngineDispatch() {
    static_cast<IOleObject*>(owner_)->Release();
}
STDMETHODIMP EngineDispatch::Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags,
                                    DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                    UINT* argErr) {
    return owner_->Call("engine", id, iid, lcid, flags, params, result, exception, argErr);
}

class Factory : public IClassFactory {
  public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        Step("CreateInstance(" + IidName(iid) + ")");
        if (outer) return CLASS_E_NOAGGREGATION;
        if (FAILED(g_options.createResult)) return g_options.createResult;
        auto* control = new Control;
        const HRESULT hr = static_cast<IOleObject*>(control)->QueryInterface(iid, out);
        static_cast<IOleObject*>(control)->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

Options& options() {
    return g_options;
}
Log& log() {
    return g_log;
}
void Reset() {
    g_options = Options{};
    g_log = Log{};
}

Registration::Registration(const CLSID& classId) {
    if (FAILED(CoRegisterClassObject(classId, &g_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                     &cookie_)))
        cookie_ = 0;
}

Registration::~Registration() {
    if (cookie_) CoRevokeClassObject(cookie_);
}

}  // namespace testctl
