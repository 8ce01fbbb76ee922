#include "fake_window.h"

#include <gtest/gtest.h>

#include "text.h"

namespace tolmar::test {

FakeWindow::FakeWindow(std::wstring className, std::wstring caption, bool hung, Handler onMessage)
    : className_(std::move(className)), caption_(std::move(caption)), hung_(hung), onMessage_(std::move(onMessage)),
      ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!ready_ || !release_) return;
    thread_.reset(CreateThread(nullptr, 0, &FakeWindow::ThreadMain, this, 0, &threadId_));
    if (thread_) {
        HANDLE both[] = {ready_.get(), thread_.get()};
        WaitForMultipleObjects(2, both, FALSE, 10000);
    }
    if (!ok()) ADD_FAILURE() << "the fake window of class " << Utf8(className_) << " could not be made";
}

void FakeWindow::Release() {
    if (release_) SetEvent(release_.get());
}

FakeWindow::~FakeWindow() {
    Release();
    if (!thread_) return;
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    if (WaitForSingleObject(thread_.get(), 10000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the thread of the fake window " << Utf8(className_) << " did not end; terminated";
        TerminateThread(thread_.get(), 1);
    }
}

DWORD WINAPI FakeWindow::ThreadMain(void* param) {
    auto* self = static_cast<FakeWindow*>(param);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &FakeWindow::WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = self->className_.c_str();
    RegisterClassExW(&wc);  // an earlier test may have registered it already
    // A plain top-level window, hidden so that it takes no focus from the
    // program under test, which finds it by its class.
    win::UniqueWindow window(CreateWindowExW(0, self->className_.c_str(), self->caption_.c_str(), WS_POPUP, 0, 0, 100, 40,
                                        nullptr, nullptr, instance, self));
    // The window exists, and the queue was last read, now.
    self->hungSince_ = std::chrono::steady_clock::now();
    self->hwnd_ = window.get();
    SetEvent(self->ready_.get());
    if (!window) return 1;
    if (self->hung_) WaitForSingleObject(self->release_.get(), INFINITE);  // released by the destructor at the latest
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    self->hwnd_ = nullptr;
    if (!IsWindow(window.get())) window.release();
    return 0;
}

LRESULT CALLBACK FakeWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<FakeWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self || message < WM_USER || !self->onMessage_) return DefWindowProcW(hwnd, message, wParam, lParam);
    self->onMessage_(hwnd, message, wParam, lParam);
    return 0;
}

}  // namespace tolmar::test
