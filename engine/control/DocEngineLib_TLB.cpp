#include "engine/control/DocEngineLib_TLB.h"

#include <algorithm>
#include <new>
#include <utility>

#include "core/error_text.h"
#include "win32/com_object.h"
#include "win32/guard.h"
#include "win32/system_text.h"
#include "win32/unicode.h"

namespace vellumor {

namespace {

void Check(HRESULT hr) {
    if (FAILED(hr)) throw OleFailure(hr);
}

// The four arguments of one call, last argument first, cleared however the call ends.
class ArgumentList {
  public:
    ArgumentList() {
        for (auto& v : args_) VariantInit(&v);
    }
    ~ArgumentList() {
        for (auto& v : args_) VariantClear(&v);
    }
    ArgumentList(const ArgumentList&) = delete;
    ArgumentList& operator=(const ArgumentList&) = delete;
    VARIANTARG& operator[](size_t i) { return args_[i]; }
    VARIANTARG* data() { return args_.data(); }
    UINT size() const { return static_cast<UINT>(args_.size()); }

  private:
    std::array<VARIANTARG, 4> args_;
};

std::string NarrowBstr(BSTR text) {
    return text ? win::Narrow(std::wstring_view(text, SysStringLen(text))) : std::string();
}

}  // namespace

std::array<DISPID, kDocEngineEventCount> DocEngineEventIds() {
    std::array<DISPID, kDocEngineEventCount> ids{};
    int slot = 0;
    for (DISPID id = 1; id <= 17; ++id) ids[slot++] = id;
    ids[slot++] = DISPID_ERROREVENT;
    for (DISPID id = 18; id <= 61; ++id) ids[slot++] = id;
    return ids;
}

int DocEngineEventSlot(DISPID id) {
    static const auto ids = DocEngineEventIds();
    const auto found = std::find(ids.begin(), ids.end(), id);
    return found == ids.end() ? -1 : static_cast<int>(found - ids.begin());
}

EngineError OleFailure(HRESULT code) {
    const auto unsignedCode = static_cast<std::uint32_t>(code);
    return EngineError(
        EngineFailureMessage({}, unsignedCode, win::SystemMessageText(static_cast<DWORD>(code))),
        static_cast<long>(code));
}

// The frame window the control may ask for while it activates: the top-level window of the
// parent. The program has no menus, toolbars or accelerators to share with it.
class TDocEngineControl::Frame : public win::ComObject<Frame, IOleInPlaceFrame> {
  public:
    explicit Frame(HWND window) : window_(window) {}

    void* InterfaceFor(REFIID iid) {
        if (iid == IID_IUnknown || iid == IID_IOleWindow || iid == IID_IOleInPlaceUIWindow ||
            iid == IID_IOleInPlaceFrame)
            return static_cast<IOleInPlaceFrame*>(this);
        return nullptr;
    }

    STDMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = window_;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return S_OK; }
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS widths) override {
        return widths ? INPLACE_E_NOTOOLSPACE : S_OK;
    }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  private:
    ~Frame() override = default;
    HWND window_;
};

// The control's client site: its place in the parent panel, the ambient properties, and the
// property-change sink. It lives as long as the control holds it; the host detaches it when it
// goes, so a late call from the control finds no host and does nothing.
class TDocEngineControl::Site
    : public win::ComObject<Site, IOleClientSite, IOleInPlaceSite, IOleControlSite,
                            win::DispatchByIdOnly, IPropertyNotifySink> {
  public:
    explicit Site(TDocEngineControl* host) : host_(host) {}

    void Detach() {
        inPlace_.reset();
        host_ = nullptr;
    }
    IOleInPlaceObject* InPlaceObject() const { return inPlace_.get(); }
    void DropInPlaceObject() { inPlace_.reset(); }

    void* InterfaceFor(REFIID iid) {
        if (iid == IID_IUnknown || iid == IID_IOleClientSite)
            return static_cast<IOleClientSite*>(this);
        if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
            return static_cast<IOleInPlaceSite*>(this);
        if (iid == IID_IOleControlSite) return static_cast<IOleControlSite*>(this);
        if (iid == IID_IDispatch) return static_cast<IDispatch*>(this);
        if (iid == IID_IPropertyNotifySink) return static_cast<IPropertyNotifySink*>(this);
        return nullptr;
    }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return S_OK; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        if (moniker) *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override {
        if (container) *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow / IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = host_ ? host_->parent_ : nullptr;
        return host_ ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return S_OK; }
    STDMETHODIMP CanInPlaceActivate() override { return host_ ? S_OK : S_FALSE; }
    STDMETHODIMP OnInPlaceActivate() override {
        if (!host_ || !host_->oleObject_) return E_UNEXPECTED;
        return host_->oleObject_->QueryInterface(IID_IOleInPlaceObject, inPlace_.put_void());
    }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                  LPRECT position, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO info) override {
        if (frame) *frame = nullptr;
        if (document) *document = nullptr;
        if (!host_) return E_UNEXPECTED;
        if (!frame || !position || !clip || !info) return E_POINTER;
        HWND top = GetAncestor(host_->parent_, GA_ROOT);
        *frame = new (std::nothrow) Frame(top ? top : host_->parent_);
        if (!*frame) return E_OUTOFMEMORY;
        *position = host_->bounds_;
        *clip = host_->bounds_;
        info->fMDIApp = FALSE;
        info->hwndFrame = top ? top : host_->parent_;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override {
        inPlace_.reset();
        return S_OK;
    }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT rect) override {
        if (!rect) return E_POINTER;
        if (inPlace_) inPlace_->SetObjectRects(rect, rect);
        return S_OK;
    }

    // IOleControlSite
    STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
    STDMETHODIMP LockInPlaceActive(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetExtendedControl(IDispatch** control) override {
        if (control) *control = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
    STDMETHODIMP OnFocus(BOOL) override { return S_OK; }
    STDMETHODIMP ShowPropertyFrame() override { return E_NOTIMPL; }

    // IDispatch: the ambient properties. The control runs in user mode, unseen.
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                        EXCEPINFO*, UINT*) override {
        if (!(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
        if (!result) return E_POINTER;
        VariantInit(result);
        auto boolean = [result](bool value) {
            result->vt = VT_BOOL;
            result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        };
        auto integer = [result](LONG value) {
            result->vt = VT_I4;
            result->lVal = value;
            return S_OK;
        };
        switch (id) {
            case DISPID_AMBIENT_USERMODE:
            case DISPID_AMBIENT_SUPPORTSMNEMONICS:
            case DISPID_AMBIENT_AUTOCLIP:
                return boolean(true);
            case DISPID_AMBIENT_UIDEAD:
            case DISPID_AMBIENT_SHOWGRABHANDLES:
            case DISPID_AMBIENT_SHOWHATCHING:
            case DISPID_AMBIENT_DISPLAYASDEFAULT:
            case DISPID_AMBIENT_MESSAGEREFLECT:
                return boolean(false);
            case DISPID_AMBIENT_LOCALEID:
                return integer(static_cast<LONG>(GetThreadLocale()));
            case DISPID_AMBIENT_BACKCOLOR:
                return integer(static_cast<LONG>(GetSysColor(COLOR_BTNFACE)));
            case DISPID_AMBIENT_FORECOLOR:
                return integer(static_cast<LONG>(GetSysColor(COLOR_WINDOWTEXT)));
            case DISPID_AMBIENT_DISPLAYNAME:
                result->vt = VT_BSTR;
                result->bstrVal = SysAllocString(L"DocEngineControl1");
                return result->bstrVal ? S_OK : E_OUTOFMEMORY;
            default:
                return DISP_E_MEMBERNOTFOUND;
        }
    }

    // IPropertyNotifySink: the program keeps no copy of any property, so there is nothing to
    // refresh and every edit is allowed.
    STDMETHODIMP OnChanged(DISPID) override { return S_OK; }
    STDMETHODIMP OnRequestEdit(DISPID) override { return S_OK; }

  private:
    ~Site() override = default;
    TDocEngineControl* host_;
    win::ComPtr<IOleInPlaceObject> inPlace_;
};

// The sink of the control's event interface: each event goes to its slot by dispatch id.
class TDocEngineControl::EventSink : public win::ComObject<EventSink, win::DispatchByIdOnly> {
  public:
    explicit EventSink(TDocEngineControl* host) : host_(host) {}
    void Detach() { host_ = nullptr; }

    void* InterfaceFor(REFIID iid) {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == kDocEngineEventsId)
            return static_cast<IDispatch*>(this);
        return nullptr;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO*, UINT*) override {
        if (result) VariantInit(result);
        return win::Guarded(
            [&]() -> HRESULT {
                DISPPARAMS none{};
                if (host_) host_->DispatchEvent(id, params ? *params : none);
                return S_OK;
            },
            S_OK);
    }

  private:
    ~EventSink() override = default;
    TDocEngineControl* host_;
};

TDocEngineControl::TDocEngineControl(HWND parent, const RECT& bounds,
                                     std::vector<std::uint8_t> persistedState, const CLSID& classId)
    : parent_(parent), bounds_(bounds) {
    *site_.put() = new Site(this);
    *eventSink_.put() = new EventSink(this);
    try {
        Check(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                               IID_IOleObject, oleObject_.put_void()));
        if (FAILED(oleObject_->GetMiscStatus(DVASPECT_CONTENT, &miscStatus_))) miscStatus_ = 0;
        if (miscStatus_ & OLEMISC_SETCLIENTSITEFIRST)
            Check(oleObject_->SetClientSite(static_cast<IOleClientSite*>(site_.get())));
        Check(oleObject_->QueryInterface(IID_IPersistStreamInit, persist_.put_void()));
        if (!persistedState.empty()) {
            win::GlobalMemory block(GlobalAlloc(GMEM_MOVEABLE, persistedState.size()));
            if (!block) Check(E_OUTOFMEMORY);
            void* bytes = GlobalLock(block.get());
            if (!bytes) Check(E_OUTOFMEMORY);
            std::copy(persistedState.begin(), persistedState.end(), static_cast<BYTE*>(bytes));
            GlobalUnlock(block.get());
            persisted_ = std::move(block);
        }
    } catch (...) {
        Teardown();
        throw;
    }
}

TDocEngineControl::~TDocEngineControl() {
    Teardown();
}

void TDocEngineControl::Teardown() noexcept {
    if (oleObject_) oleObject_->Close(OLECLOSE_NOSAVE);
    Disconnect(kDocEngineEventsId, eventCookie_);
    Disconnect(IID_IPropertyNotifySink, propertyCookie_);
    engine_.reset();
    propertyBrowsing_.reset();
    dispatch_.reset();
    oleControl_.reset();
    persist_.reset();
    if (site_) site_->DropInPlaceObject();
    if (oleObject_) oleObject_->SetClientSite(nullptr);
    oleObject_.reset();
    persisted_.reset();
    if (site_) site_->Detach();
    if (eventSink_) eventSink_->Detach();
    site_.reset();
    eventSink_.reset();
}

void TDocEngineControl::CreateControl() {
    if (initialized_) return;
    if (!initFailure_.empty()) throw EngineError(initFailure_, initFailureCode_);
    try {
        win::ComPtr<IOleClientSite> current;
        if (FAILED(oleObject_->GetClientSite(current.put())) || !current)
            Check(oleObject_->SetClientSite(static_cast<IOleClientSite*>(site_.get())));
        if (persisted_) {
            win::ComPtr<IStream> stream;
            Check(CreateStreamOnHGlobal(persisted_.get(), FALSE, stream.put()));
            Check(persist_->Load(stream.get()));
            stream.reset();
            persisted_.reset();
        } else {
            Check(persist_->InitNew());
        }
        Check(oleObject_->QueryInterface(IID_IOleControl, oleControl_.put_void()));
        Check(oleObject_->QueryInterface(IID_IDispatch, dispatch_.put_void()));
        if (FAILED(
                oleObject_->QueryInterface(IID_IPerPropertyBrowsing, propertyBrowsing_.put_void())))
            propertyBrowsing_.reset();
        Connect(IID_IPropertyNotifySink, static_cast<IPropertyNotifySink*>(site_.get()),
                propertyCookie_);
        Connect(kDocEngineEventsId, eventSink_.get(), eventCookie_);
        oleControl_->OnAmbientPropertyChange(DISPID_UNKNOWN);
        RECT bounds = bounds_;
        Check(oleObject_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr,
                                 static_cast<IOleClientSite*>(site_.get()), 0, parent_, &bounds));
        if (!site_->InPlaceObject()) throw EngineError("OLE control activation failed");
        initialized_ = true;
    } catch (const EngineError& failure) {
        // A half-made control is not tried again: every later use reports the same failure.
        initFailure_ = failure.what();
        initFailureCode_ = failure.code();
        if (initFailure_.empty()) initFailure_ = "OLE control activation failed";
        throw;
    }
}

HWND TDocEngineControl::ControlWindow() const {
    HWND window = nullptr;
    if (site_ && site_->InPlaceObject() && FAILED(site_->InPlaceObject()->GetWindow(&window)))
        window = nullptr;
    return window;
}

void TDocEngineControl::Connect(REFIID iid, IUnknown* sink, DWORD& cookie) {
    win::ComPtr<IConnectionPointContainer> container;
    if (FAILED(oleObject_->QueryInterface(IID_IConnectionPointContainer, container.put_void())) ||
        !container)
        return;
    win::ComPtr<IConnectionPoint> point;
    if (FAILED(container->FindConnectionPoint(iid, point.put())) || !point) return;
    if (FAILED(point->Advise(sink, &cookie))) cookie = 0;
}

void TDocEngineControl::Disconnect(REFIID iid, DWORD& cookie) {
    if (cookie == 0 || !oleObject_) return;
    win::ComPtr<IConnectionPointContainer> container;
    win::ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(
            oleObject_->QueryInterface(IID_IConnectionPointContainer, container.put_void())) &&
        container && SUCCEEDED(container->FindConnectionPoint(iid, point.put())) && point)
        point->Unadvise(cookie);
    cookie = 0;
}

void TDocEngineControl::DispatchEvent(DISPID id, DISPPARAMS& params) {
    const int slot = DocEngineEventSlot(id);
    if (slot < 0 || !events_[slot]) return;  // an empty slot drops the event
    events_[slot](params);
}

IDispatch& TDocEngineControl::EngineInterface() {
    if (!engine_) {
        win::ComPtr<IDispatch> engine;
        if (FAILED(dispatch_->QueryInterface(kDocEngineDispatchId, engine.put_void())) || !engine)
            throw EngineError("Interface not supported", static_cast<long>(E_NOINTERFACE));
        engine_ = std::move(engine);
    }
    return *engine_.get();
}

int TDocEngineControl::Load(const std::string& path, int reserved, int format, bool flag) {
    return Invoke(kDispIdLoad, path, reserved, format, flag);
}

int TDocEngineControl::Save(const std::string& path, int reserved, int format, bool flag) {
    return Invoke(kDispIdSave, path, reserved, format, flag);
}

int TDocEngineControl::Invoke(DISPID id, const std::string& path, int reserved, int format,
                              bool flag) {
    CreateControl();
    IDispatch& engine = EngineInterface();

    ArgumentList args;
    const std::wstring widePath = win::Widen(path);
    args[3].vt = VT_BSTR;
    args[3].bstrVal = SysAllocStringLen(widePath.data(), static_cast<UINT>(widePath.size()));
    if (!args[3].bstrVal) Check(E_OUTOFMEMORY);
    args[2].vt = VT_I4;
    args[2].lVal = reserved;
    args[1].vt = VT_I4;
    args[1].lVal = format;
    args[0].vt = VT_BOOL;
    args[0].boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
    DISPPARAMS params{args.data(), nullptr, args.size(), 0};

    // Zeroed, so a call that leaves the result empty reads as 0, not as leftover bytes.
    win::Variant result;
    ZeroMemory(result.get(), sizeof(VARIANT));
    EXCEPINFO exception;
    ZeroMemory(&exception, sizeof exception);
    const HRESULT hr =
        engine.Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result.get(), &exception, nullptr);
    const LONG value = result.get()->lVal;

    if (hr == DISP_E_EXCEPTION && exception.pfnDeferredFillIn)
        exception.pfnDeferredFillIn(&exception);
    const win::Bstr source(exception.bstrSource);
    const win::Bstr description(exception.bstrDescription);
    const win::Bstr helpFile(exception.bstrHelpFile);
    if (SUCCEEDED(hr)) return value;

    if (hr == DISP_E_EXCEPTION) {
        // A record with no scode names its failure only by the exception itself.
        const HRESULT code = exception.scode != 0 ? exception.scode : DISP_E_EXCEPTION;
        throw OleEngineError(
            EngineFailureMessage(NarrowBstr(description.get()), static_cast<std::uint32_t>(code),
                                 win::SystemMessageText(static_cast<DWORD>(code))),
            static_cast<long>(code), NarrowBstr(source.get()), NarrowBstr(helpFile.get()),
            static_cast<long>(exception.dwHelpContext));
    }
    throw OleFailure(hr);
}

}  // namespace vellumor
