// A hidden top-level window of a given class on a thread of its own in the
// test process, standing in for a window of another program (the suite's
// progress window, its journal hosts). Every application message (WM_USER
// and above) it receives goes to the handler, on the window's thread, while
// the sender waits. A hung window's thread makes the window and then stops
// looking at its messages until Release() (or the end of the object).
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "tools/win/unique.h"

namespace tolmar::test {

class FakeWindow {
public:
    using Handler = std::function<void(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)>;

    FakeWindow(std::wstring className, std::wstring caption, bool hung, Handler onMessage);
    ~FakeWindow();
    FakeWindow(const FakeWindow&) = delete;
    FakeWindow& operator=(const FakeWindow&) = delete;

    bool ok() const { return hwnd_ != nullptr; }
    HWND hwnd() const { return hwnd_; }
    const std::wstring& className() const { return className_; }
    // When the window's thread last looked at its messages (a hung window's:
    // when it stopped).
    std::chrono::steady_clock::time_point hungSince() const { return hungSince_; }
    // Lets a hung window's thread go back to handling messages.
    void Release();

private:
    static DWORD WINAPI ThreadMain(void* self);
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    const std::wstring className_;
    const std::wstring caption_;
    const bool hung_;
    const Handler onMessage_;
    win::UniqueKernelHandle ready_;
    win::UniqueKernelHandle release_;
    win::UniqueKernelHandle thread_;
    DWORD threadId_ = 0;
    std::chrono::steady_clock::time_point hungSince_{};
    std::atomic<HWND> hwnd_{nullptr};
};

}  // namespace tolmar::test
