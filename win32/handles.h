// Move-only owners for Win32 and COM resources: every handle the program makes has one.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>

#include <utility>

namespace vellumor::win {

// Owns a handle and frees it with Free::operator() unless it is the empty value.
template <typename Handle, typename Free>
class Owned {
public:
    Owned() = default;
    explicit Owned(Handle handle) : handle_(handle) {}
    ~Owned() { reset(); }
    Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, Handle{})) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) reset(std::exchange(other.handle_, Handle{}));
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Handle{}; }
    Handle release() { return std::exchange(handle_, Handle{}); }
    void reset(Handle handle = Handle{}) {
        if (handle_ != Handle{}) Free{}(handle_);
        handle_ = handle;
    }

private:
    Handle handle_{};
};

struct DeleteGdiObject {
    void operator()(HGDIOBJ h) const { DeleteObject(h); }
};
struct DeleteMemoryDc {
    void operator()(HDC h) const { DeleteDC(h); }
};
struct DestroyIconHandle {
    void operator()(HICON h) const { DestroyIcon(h); }
};
struct DestroyMenuHandle {
    void operator()(HMENU h) const { DestroyMenu(h); }
};
struct CloseKernelHandle {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
struct FreeTaskMemory {
    void operator()(void* p) const { CoTaskMemFree(p); }
};
struct FreeBstr {
    void operator()(BSTR s) const { SysFreeString(s); }
};
struct FreeGlobal {
    void operator()(HGLOBAL h) const { GlobalFree(h); }
};

using Bitmap = Owned<HBITMAP, DeleteGdiObject>;
using Brush = Owned<HBRUSH, DeleteGdiObject>;
using Pen = Owned<HPEN, DeleteGdiObject>;
using Font = Owned<HFONT, DeleteGdiObject>;
using Region = Owned<HRGN, DeleteGdiObject>;
using MemoryDc = Owned<HDC, DeleteMemoryDc>;
using Icon = Owned<HICON, DestroyIconHandle>;
using Menu = Owned<HMENU, DestroyMenuHandle>;
using KernelHandle = Owned<HANDLE, CloseKernelHandle>;
using Pidl = Owned<PIDLIST_ABSOLUTE, FreeTaskMemory>;
using Bstr = Owned<BSTR, FreeBstr>;
using GlobalMemory = Owned<HGLOBAL, FreeGlobal>;

// A device context from GetDC, given back with ReleaseDC.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// BeginPaint / EndPaint.
class PaintDc {
public:
    explicit PaintDc(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
    ~PaintDc() { EndPaint(window_, &paint_); }
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    HDC get() const { return dc_; }
    const PAINTSTRUCT& info() const { return paint_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// Selects an object into a DC for the life of this value and puts the old one back.
class SelectObjectScope {
public:
    SelectObjectScope(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
    ~SelectObjectScope() { SelectObject(dc_, old_); }
    SelectObjectScope(const SelectObjectScope&) = delete;
    SelectObjectScope& operator=(const SelectObjectScope&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// A COM interface pointer, released when dropped.
template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    Interface* get() const { return p_; }
    Interface* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out-parameters: releases what is held and hands out the slot.
    Interface** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    void reset() {
        if (p_) std::exchange(p_, nullptr)->Release();
    }
    // Takes an extra reference to a pointer owned elsewhere.
    static ComPtr copy(Interface* p) {
        ComPtr out;
        out.p_ = p;
        if (p) p->AddRef();
        return out;
    }

private:
    Interface* p_ = nullptr;
};

// A VARIANT, cleared when dropped.
class Variant {
public:
    Variant() { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* get() { return &v_; }
    const VARIANT& operator*() const { return v_; }

private:
    VARIANT v_;
};

// COM for the calling thread, single-threaded apartment; uninitialised only if it succeeded.
class ComApartment {
public:
    ComApartment() : ok_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComApartment() {
        if (ok_) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_;
};

}  // namespace vellumor::win
