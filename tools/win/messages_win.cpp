#include "tools/win/messages_win.h"

#include <string>
#include <vector>

#include "tools/messages.h"

namespace tolmar {
namespace {

// Registered once, while the program loads, before any window exists.
const UINT g_inactivateProgressMessage = static_cast<WORD>(
    RegisterWindowMessageW(std::wstring(kInactivateProgressMessageName).c_str()));

HWND g_applicationWindow = nullptr;
std::function<void(std::wstring_view)> g_unattendedSink;

// Disables every enabled top-level window of this thread but `keep`, and
// enables them again at its end: what a task-modal box does.
class ThreadWindowsDisabled {
public:
    explicit ThreadWindowsDisabled(HWND keep) : keep_(keep) {
        EnumThreadWindows(GetCurrentThreadId(), &Disable, reinterpret_cast<LPARAM>(this));
    }
    ~ThreadWindowsDisabled() {
        for (HWND hwnd : disabled_)
            if (IsWindow(hwnd)) EnableWindow(hwnd, TRUE);
    }
    ThreadWindowsDisabled(const ThreadWindowsDisabled&) = delete;
    ThreadWindowsDisabled& operator=(const ThreadWindowsDisabled&) = delete;

private:
    static BOOL CALLBACK Disable(HWND hwnd, LPARAM self) {
        auto* me = reinterpret_cast<ThreadWindowsDisabled*>(self);
        if (hwnd != me->keep_ && IsWindowEnabled(hwnd)) {
            EnableWindow(hwnd, FALSE);
            me->disabled_.push_back(hwnd);
        }
        return TRUE;
    }

    HWND keep_;
    std::vector<HWND> disabled_;
};

int ShowBox(BoxKind kind, std::wstring_view text) {
    UINT style = MB_SETFOREGROUND;
    switch (kind) {
        case BoxKind::Information: style |= MB_OK | MB_ICONINFORMATION; break;
        case BoxKind::Warning: style |= MB_OK | MB_ICONWARNING; break;
        case BoxKind::Confirmation: style |= MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1; break;
    }
    const std::wstring shown(text), caption(BoxCaption(kind));
    HWND previous = GetActiveWindow();
    int answer;
    if (HWND owner = g_applicationWindow; owner && IsWindow(owner)) {
        // Owned by the application window, the box shares the program's one
        // task-bar entry; it is task-modal all the same: every other window
        // of the program waits for it.
        ThreadWindowsDisabled others(owner);
        answer = MessageBoxW(owner, shown.c_str(), caption.c_str(), style | MB_APPLMODAL);
    } else {
        answer = MessageBoxW(nullptr, shown.c_str(), caption.c_str(), style | MB_TASKMODAL);
    }
    // Give the activation back to the window that had it (a dialog relies on
    // being activated again), as not every platform does it.
    if (previous && IsWindow(previous) && IsWindowVisible(previous)) SetActiveWindow(previous);
    return answer;
}

}  // namespace

UINT InactivateProgressMessage() { return g_inactivateProgressMessage; }

void SetApplicationWindow(HWND window) { g_applicationWindow = window; }
HWND ApplicationWindow() { return g_applicationWindow; }

void InactivateProgressApp() {
    const std::wstring cls(kProgressWindowClass);
    HWND progress = FindWindowW(cls.c_str(), nullptr);
    if (!progress) return;
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(progress, g_inactivateProgressMessage,
                        reinterpret_cast<WPARAM>(g_applicationWindow), 0,
                        SMTO_NORMAL | SMTO_ABORTIFHUNG, kProgressSendTimeoutMs, &ignored);
}

void SetUnattendedSink(std::function<void(std::wstring_view)> sink) { g_unattendedSink = std::move(sink); }
bool Unattended() { return static_cast<bool>(g_unattendedSink); }
bool TellUnattended(std::wstring_view text) {
    if (!g_unattendedSink) return false;
    g_unattendedSink(text);
    return true;
}

void ShowInfo(std::wstring_view text) {
    if (TellUnattended(text)) return;
    InactivateProgressApp();
    ShowBox(BoxKind::Information, text);
}

void ShowError(std::wstring_view text) {
    const BoxContent box = ComposeErrorBox(text);
    if (TellUnattended(box.text)) return;
    InactivateProgressApp();
    ShowBox(box.kind, box.text);
}

int AskYesNo(std::wstring_view text) {
    if (TellUnattended(text)) return IDNO;
    InactivateProgressApp();
    return ShowBox(BoxKind::Confirmation, text) == IDYES ? IDYES : IDNO;
}

}  // namespace tolmar
