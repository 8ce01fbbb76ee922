// Owners of every Win32 and COM resource the program uses, one move-only type
// per kind, in the manner of WIL's unique_* types: whatever the path out of a
// scope, the resource is given back exactly once.
//
//   UniqueHkey          HKEY                  RegCloseKey
//   UniqueFind          FindFirstFile handle  FindClose
//   UniqueFile          file handle           CloseHandle (INVALID_HANDLE_VALUE is none)
//   UniqueKernelHandle  thread, event, mutex  CloseHandle (nullptr is none)
//   UniqueGlobalAtom    global atom           GlobalDeleteAtom
//   UniqueCoTaskMem     COM task memory       CoTaskMemFree (shell item lists and the like)
//   UniqueLocalMem      LocalAlloc memory     LocalFree (CommandLineToArgvW, security descriptors)
//   UniqueInternet      WinINet handle        InternetCloseHandle
//   UniqueFont          HFONT                 DeleteObject
//   UniqueBrush         HBRUSH                DeleteObject
//   SelectedObject      an object in a DC     SelectObject of the one it replaced
//   UniqueWindow        window                DestroyWindow (a window of the calling thread)
//   UniqueWindowDc      a window's DC         ReleaseDC to that window
//   UniqueHook          windows hook          UnhookWindowsHookEx
//   UniqueEventSource   RegisterEventSource   DeregisterEventSource
//   UniqueHeapMemory    process heap memory   HeapFree
//   ComPtr<T>           COM interface         Release
//   UniqueBstr          BSTR                  SysFreeString
//   UniqueVariant       VARIANT               VariantClear
//   ScopedComInit       COM on this thread    CoUninitialize; a failed CoInitializeEx throws
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wininet.h>

#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "tools/win/system_text.h"

namespace tolmar::win {

template <typename T, typename Traits>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(T value) : value_(value) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(std::exchange(other.value_, Traits::Invalid())) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.value_, Traits::Invalid()));
        return *this;
    }
    ~UniqueHandle() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::Invalid(); }
    // For functions that return the handle through an out parameter.
    T* put() {
        reset();
        return &value_;
    }
    T release() { return std::exchange(value_, Traits::Invalid()); }
    void reset(T value = Traits::Invalid()) {
        if (value_ != Traits::Invalid()) Traits::Close(value_);
        value_ = value;
    }

private:
    T value_ = Traits::Invalid();
};

// The traits of a handle kind, in the manner of WIL's unique_any: the
// function that gives the handle back, and which value means "none".
template <typename T, auto CloseFunction>
struct NullIsNone {
    static T Invalid() { return T{}; }
    static void Close(T value) { CloseFunction(value); }
};
template <auto CloseFunction>
struct InvalidHandleValueIsNone {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE value) { CloseFunction(value); }
};

using UniqueHkey = UniqueHandle<HKEY, NullIsNone<HKEY, RegCloseKey>>;
using UniqueFind = UniqueHandle<HANDLE, InvalidHandleValueIsNone<FindClose>>;
using UniqueFile = UniqueHandle<HANDLE, InvalidHandleValueIsNone<CloseHandle>>;
using UniqueKernelHandle = UniqueHandle<HANDLE, NullIsNone<HANDLE, CloseHandle>>;
using UniqueGlobalAtom = UniqueHandle<ATOM, NullIsNone<ATOM, GlobalDeleteAtom>>;
using UniqueCoTaskMem = UniqueHandle<void*, NullIsNone<void*, CoTaskMemFree>>;
using UniqueLocalMem = UniqueHandle<HLOCAL, NullIsNone<HLOCAL, LocalFree>>;
using UniqueInternet = UniqueHandle<HINTERNET, NullIsNone<HINTERNET, InternetCloseHandle>>;
using UniqueFont = UniqueHandle<HFONT, NullIsNone<HFONT, DeleteObject>>;
using UniqueBrush = UniqueHandle<HBRUSH, NullIsNone<HBRUSH, DeleteObject>>;
using UniqueWindow = UniqueHandle<HWND, NullIsNone<HWND, DestroyWindow>>;
using UniqueHook = UniqueHandle<HHOOK, NullIsNone<HHOOK, UnhookWindowsHookEx>>;
using UniqueEventSource = UniqueHandle<HANDLE, NullIsNone<HANDLE, DeregisterEventSource>>;

struct HeapMemoryTraits {
    static void* Invalid() { return nullptr; }
    static void Close(void* p) { HeapFree(GetProcessHeap(), 0, p); }
};
using UniqueHeapMemory = UniqueHandle<void*, HeapMemoryTraits>;

// A window's device context (GetDC), released to that window.
class UniqueWindowDc {
public:
    explicit UniqueWindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    UniqueWindowDc(UniqueWindowDc&& other) noexcept : window_(other.window_), dc_(std::exchange(other.dc_, nullptr)) {}
    UniqueWindowDc& operator=(UniqueWindowDc&&) = delete;
    UniqueWindowDc(const UniqueWindowDc&) = delete;
    UniqueWindowDc& operator=(const UniqueWindowDc&) = delete;
    ~UniqueWindowDc() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// `object` selected into `dc` for as long as this lives; then the object it
// replaced is selected again, so the DC never ends holding an object that its
// owner is about to delete. Declare it after the owner of `object`.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), replaced_(SelectObject(dc, object)) {}
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;
    ~SelectedObject() {
        if (replaced_) SelectObject(dc_, replaced_);  // nullptr: the selection failed
    }

private:
    HDC dc_;
    HGDIOBJ replaced_;
};

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) reset(std::exchange(other.p_, nullptr));
        return *this;
    }
    ~ComPtr() { reset(); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    void reset(T* p = nullptr) {
        if (p_) p_->Release();
        p_ = p;
    }

    template <typename U>
    ComPtr<U> query() const {
        ComPtr<U> out;
        if (p_) p_->QueryInterface(__uuidof(U), out.put_void());
        return out;
    }

private:
    T* p_ = nullptr;
};

class UniqueBstr {
public:
    UniqueBstr() = default;
    explicit UniqueBstr(std::wstring_view text) : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    UniqueBstr(UniqueBstr&& other) noexcept : b_(std::exchange(other.b_, nullptr)) {}
    UniqueBstr& operator=(UniqueBstr&& other) noexcept {
        if (this != &other) {
            SysFreeString(b_);
            b_ = std::exchange(other.b_, nullptr);
        }
        return *this;
    }
    ~UniqueBstr() { SysFreeString(b_); }

    BSTR get() const { return b_; }
    BSTR* put() {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }
    std::wstring str() const { return b_ ? std::wstring(b_, SysStringLen(b_)) : std::wstring(); }

private:
    BSTR b_ = nullptr;
};

// A VARIANT made only by the named factories, so that a string can never
// turn into a VT_BOOL through the pointer-to-bool conversion.
class UniqueVariant {
public:
    UniqueVariant() { VariantInit(&v_); }
    static UniqueVariant Text(std::wstring_view text) {
        UniqueVariant v;
        v.v_.vt = VT_BSTR;
        v.v_.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return v;
    }
    static UniqueVariant Bool(bool value) {
        UniqueVariant v;
        v.v_.vt = VT_BOOL;
        v.v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        return v;
    }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    UniqueVariant(UniqueVariant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
    UniqueVariant& operator=(UniqueVariant&& other) noexcept {
        if (this != &other) {
            VariantClear(&v_);
            v_ = other.v_;
            VariantInit(&other.v_);
        }
        return *this;
    }
    ~UniqueVariant() { VariantClear(&v_); }

    VARIANT& get() { return v_; }
    const VARIANT& get() const { return v_; }
    VARIANT* put() {
        VariantClear(&v_);
        return &v_;
    }

private:
    VARIANT v_;
};
static_assert(!std::is_constructible_v<UniqueVariant, const wchar_t*>, "a string must not become a VT_BOOL");
static_assert(!std::is_constructible_v<UniqueVariant, bool>, "a VARIANT is made by its named factories");
static_assert(!std::is_constructible_v<UniqueVariant, std::wstring_view>, "a VARIANT is made by its named factories");

// COM on the calling thread for as long as this object lives. Declare it
// before every COM object it guards: they are destroyed first, so none is
// released after COM has ended. When COM cannot begin on the thread (another
// apartment model is already set, or COM itself fails), throws Error:
// "<what> (fel 0x80010106)."
class ScopedComInit {
public:
    ScopedComInit(DWORD model, std::wstring_view what) : result_(CoInitializeEx(nullptr, model)) {
        ThrowIfFailed(result_, what);
    }
    ScopedComInit(const ScopedComInit&) = delete;
    ScopedComInit& operator=(const ScopedComInit&) = delete;
    ~ScopedComInit() { CoUninitialize(); }
    // S_OK, or S_FALSE when COM already ran on the thread in the same model.
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

}  // namespace tolmar::win
