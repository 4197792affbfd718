// IUnknown for the program's small COM objects, written once: the reference count, Release
// deleting the object at zero, and QueryInterface answering with what the object's
// InterfaceFor returns for an interface id (nullptr: not supported).
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <unknwn.h>

namespace vellumor::win {

// Object derives from ComObject<Object, Interface...> and defines a public
// void* InterfaceFor(REFIID iid) that casts this to the interface asked for, IUnknown included.
// Objects start with one reference, the creator's.
template <typename Object, typename... Interfaces>
class ComObject : public Interfaces... {
  public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = static_cast<Object*>(this)->InterfaceFor(iid);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    // Everything runs on one apartment thread, but the interlocked forms cost nothing and keep a
    // stray caller safe.
    STDMETHODIMP_(ULONG) AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&references_));
    }
    STDMETHODIMP_(ULONG) Release() override {
        const auto left = static_cast<ULONG>(InterlockedDecrement(&references_));
        if (left == 0) delete this;
        return left;
    }

  protected:
    ComObject() = default;
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

  private:
    LONG references_ = 1;
};

// IDispatch for objects called by dispatch id only (event sinks, ambient properties): no type
// information and no names to look up. The object defines Invoke.
class DispatchByIdOnly : public IDispatch {
  public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
};

}  // namespace vellumor::win
