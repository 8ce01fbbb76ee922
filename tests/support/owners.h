// Owners for the handle kinds the tests hold beyond those of the program
// (tools/win/unique.h), on the same template: one move-only type per kind.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <sql.h>
#include <wininet.h>

#include <utility>

#include "tools/win/unique.h"

namespace tolmar::test {

using win::UniqueFile;
using win::UniqueFind;
using win::UniqueGlobalAtom;
using win::UniqueHkey;
using win::UniqueKernelHandle;

struct InternetHandleTraits {
    static HINTERNET Invalid() { return nullptr; }
    static void Close(HINTERNET h) { InternetCloseHandle(h); }
};
using UniqueInternetHandle = win::UniqueHandle<HINTERNET, InternetHandleTraits>;

struct WindowTraits {
    static HWND Invalid() { return nullptr; }
    static void Close(HWND h) { DestroyWindow(h); }
};
// Only for windows of the calling thread (DestroyWindow's rule).
using UniqueWindow = win::UniqueHandle<HWND, WindowTraits>;

// A window's device context (GetDC), released to that window.
class UniqueWindowDc {
public:
    explicit UniqueWindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    UniqueWindowDc(UniqueWindowDc&& other) noexcept
        : window_(other.window_), dc_(std::exchange(other.dc_, nullptr)) {}
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

struct HookTraits {
    static HHOOK Invalid() { return nullptr; }
    static void Close(HHOOK h) { UnhookWindowsHookEx(h); }
};
using UniqueHook = win::UniqueHandle<HHOOK, HookTraits>;

struct LocalMemoryTraits {
    static HLOCAL Invalid() { return nullptr; }
    static void Close(HLOCAL p) { LocalFree(p); }
};
using UniqueLocalMemory = win::UniqueHandle<HLOCAL, LocalMemoryTraits>;

// Memory of the process heap, as Wine's path conversions hand it out.
struct ProcessHeapTraits {
    static void* Invalid() { return nullptr; }
    static void Close(void* p) { HeapFree(GetProcessHeap(), 0, p); }
};
using UniqueProcessHeapMemory = win::UniqueHandle<void*, ProcessHeapTraits>;

struct SocketTraits {
    static SOCKET Invalid() { return INVALID_SOCKET; }
    static void Close(SOCKET s) { closesocket(s); }
};
using UniqueSocket = win::UniqueHandle<SOCKET, SocketTraits>;

template <SQLSMALLINT Type>
struct SqlHandleTraits {
    static SQLHANDLE Invalid() { return SQL_NULL_HANDLE; }
    static void Close(SQLHANDLE h) { SQLFreeHandle(Type, h); }
};
using UniqueSqlEnvironment = win::UniqueHandle<SQLHANDLE, SqlHandleTraits<SQL_HANDLE_ENV>>;
using UniqueSqlConnection = win::UniqueHandle<SQLHANDLE, SqlHandleTraits<SQL_HANDLE_DBC>>;
using UniqueSqlStatement = win::UniqueHandle<SQLHANDLE, SqlHandleTraits<SQL_HANDLE_STMT>>;

}  // namespace tolmar::test
