#include "db_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "text.h"
#include "tools/error.h"
#include "tools/text.h"
#include "tools/win/unique.h"

namespace tolmar::test {
namespace {

UiDriver* g_driver = nullptr;

// A message to a window of the test thread, waiting at most 10 s.
LRESULT SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, 10000, &result))
        throw std::runtime_error("the window does not answer");
    return static_cast<LRESULT>(result);
}

}  // namespace

std::wstring SqliteConnectionString(const std::wstring& databaseFile) {
    return L"Driver={SQLite3};Database=" + DriverPath(databaseFile) + L";Timeout=2000";
}

std::wstring PostgresConnectionString() { return EnvironmentValue(L"TOLMAR_PG_ODBC"); }
std::wstring PostgresDsn() { return EnvironmentValue(L"TOLMAR_PG_DSN"); }

void RunSqlScript(const win::odbc::Connection& connection, const std::wstring& scriptName) {
    for (const std::wstring& statement : SqlScript(scriptName)) {
        win::odbc::Statement s(connection);
        s.ExecuteDirect(statement);
    }
}

void Execute(const win::odbc::Connection& connection, const std::wstring& sql) {
    win::odbc::Statement s(connection);
    s.ExecuteDirect(sql);
}

std::optional<std::wstring> QueryText(const win::odbc::Connection& connection, const std::wstring& sql) {
    win::odbc::Statement s(connection);
    s.ExecuteDirect(sql);
    if (!s.Fetch()) return std::nullopt;
    return s.Text(1);
}

// ---- UiDriver ----------------------------------------------------------------

UiDriver::UiDriver() : modalThread_(GetCurrentThreadId()) {
    owner_.reset(CreateWindowExW(0, L"Static", L"tolmar test owner", WS_POPUP | WS_VISIBLE, 0, 0, 40, 40, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr));
    g_driver = this;
    marker_ = RegisterWindowMessageW(L"tolmar test: all handled up to here");
    hook_.reset(SetWindowsHookExW(WH_CBT, CbtHook, nullptr, modalThread_));
    messageHook_.reset(SetWindowsHookExW(WH_GETMESSAGE, GetMessageHook, nullptr, modalThread_));
    if (!hook_ || !messageHook_) throw std::runtime_error("cannot hook the test thread's windows");
}

UiDriver::~UiDriver() {
    owner_.reset();
    messageHook_.reset();
    hook_.reset();
    g_driver = nullptr;
}

LRESULT CALLBACK UiDriver::CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if ((code == HCBT_ACTIVATE || code == HCBT_DESTROYWND) && g_driver) {
        std::lock_guard lock(g_driver->mutex_);
        auto& list = code == HCBT_ACTIVATE ? g_driver->windows_ : g_driver->destroyed_;
        list.push_back(reinterpret_cast<HWND>(wParam));
        g_driver->changed_.notify_all();
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK UiDriver::GetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    const auto* msg = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && g_driver && msg->message == g_driver->marker_) {
        std::lock_guard lock(g_driver->mutex_);
        g_driver->markersSeen_ = std::max(g_driver->markersSeen_, static_cast<unsigned>(msg->wParam));
        g_driver->changed_.notify_all();
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void UiDriver::Run(const std::function<void()>& modal, const std::function<void(UiDriver&)>& script) {
    win::UniqueKernelHandle modalDone(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::string failure, modalFailure;
    std::thread player([&] {
        try {
            script(*this);
        } catch (const std::exception& e) {
            failure = std::string("the user's script failed: ") + e.what();
        }
        // The modal part should end now; if it does not, close what is open.
        if (WaitForSingleObject(modalDone.get(), 5000) == WAIT_OBJECT_0) return;
        if (failure.empty()) failure = "the modal window did not close when the script ended";
        for (int attempt = 0; attempt < 20; ++attempt) {
            CloseEverything();
            if (WaitForSingleObject(modalDone.get(), 500) == WAIT_OBJECT_0) return;
        }
    });
    try {
        modal();
    } catch (const std::exception& e) {
        modalFailure = std::string("the modal part threw: ") + e.what();
    }
    SetEvent(modalDone.get());
    player.join();
    if (!failure.empty()) ADD_FAILURE() << failure;
    if (!modalFailure.empty()) ADD_FAILURE() << modalFailure;
}

HWND UiDriver::WaitForWindow(const std::wstring& caption, DWORD timeoutMs) {
    std::unique_lock lock(mutex_);
    HWND found = nullptr;
    const bool ok = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (auto it = windows_.begin(); it != windows_.end(); ++it) {
            if (IsWindow(*it) && Text(*it) == caption) {
                found = *it;
                windows_.erase(windows_.begin(), it + 1);
                return true;
            }
        }
        return false;
    });
    if (!ok) throw std::runtime_error("no window \"" + ToUtf8(caption) + "\" became active in time");
    lock.unlock();
    Settle(found);
    return found;
}

void UiDriver::Settle(HWND window) {
    // Messages are taken in order: once the marker posted now is taken, every
    // message before it has been handled (or its handler waits in a window).
    std::unique_lock lock(mutex_);
    const unsigned marker = ++markersPosted_;
    PostMessageW(window, marker_, marker, 0);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(10000), [&] { return markersSeen_ >= marker; }))
        throw std::runtime_error("the window's thread does not take its messages");
}

void UiDriver::Click(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void UiDriver::Type(HWND dialog, int id, const std::wstring& text) {
    SendBounded(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring UiDriver::Text(HWND window) {
    // Read without sending: the window's thread may be busy.
    wchar_t text[1024] = {};
    InternalGetWindowText(window, text, 1024);
    return text;
}

void UiDriver::WaitForClose(HWND window, DWORD timeoutMs) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            return std::find(destroyed_.begin(), destroyed_.end(), window) != destroyed_.end();
        }))
        throw std::runtime_error("the window \"" + ToUtf8(Text(window)) + "\" did not close in time");
}

void UiDriver::Answer(HWND box, int button) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    WaitForClose(box);
}

std::vector<std::wstring> UiDriver::Rows(HWND list) {
    std::vector<std::wstring> rows;
    const auto count = static_cast<int>(SendBounded(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t text[512] = {};
        SendBounded(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        rows.emplace_back(text);
    }
    return rows;
}

int UiDriver::Selection(HWND list) { return static_cast<int>(SendBounded(list, LB_GETCURSEL, 0, 0)); }

void UiDriver::Select(HWND list, int row) {
    SendBounded(list, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
    PostMessageW(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
    Settle(list);
}

void UiDriver::CloseEverything() {
    EnumThreadWindows(
        modalThread_,
        [](HWND window, LPARAM) -> BOOL {
            if (IsWindowVisible(window)) PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return TRUE;
        },
        0);
}

}  // namespace tolmar::test
