// Move-only owners of the Win32 handles the program uses, one type per kind,
// in the manner of WIL's unique_* types.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

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

struct HkeyTraits {
    static HKEY Invalid() { return nullptr; }
    static void Close(HKEY k) { RegCloseKey(k); }
};
using UniqueHkey = UniqueHandle<HKEY, HkeyTraits>;

struct FindTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { FindClose(h); }
};
using UniqueFind = UniqueHandle<HANDLE, FindTraits>;

struct FileTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
using UniqueFile = UniqueHandle<HANDLE, FileTraits>;

struct KernelHandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
using UniqueKernelHandle = UniqueHandle<HANDLE, KernelHandleTraits>;

struct GlobalAtomTraits {
    static ATOM Invalid() { return 0; }
    static void Close(ATOM a) { GlobalDeleteAtom(a); }
};
using UniqueGlobalAtom = UniqueHandle<ATOM, GlobalAtomTraits>;

struct PidlTraits {
    static void* Invalid() { return nullptr; }
    static void Close(void* p) { CoTaskMemFree(p); }
};
using UniqueCoTaskMem = UniqueHandle<void*, PidlTraits>;

}  // namespace tolmar::win
