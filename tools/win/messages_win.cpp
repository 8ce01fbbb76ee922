#include "tools/win/messages_win.h"

#include <optional>
#include <string>
#include <vector>

#include "tools/messages.h"

namespace tolmar {
namespace {

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

}  // namespace

UserMessages::UserMessages()
    : inactivateProgressMessage_(
          static_cast<WORD>(RegisterWindowMessageW(std::wstring(kInactivateProgressMessageName).c_str()))) {}

int UserMessages::ShowBox(BoxKind kind, std::wstring_view text) {
    UINT style = MB_SETFOREGROUND;
    switch (kind) {
        case BoxKind::Information: style |= MB_OK | MB_ICONINFORMATION; break;
        case BoxKind::Warning: style |= MB_OK | MB_ICONWARNING; break;
        case BoxKind::Confirmation: style |= MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1; break;
    }
    return ShowBox(style, BoxCaption(kind), text);
}

int UserMessages::ShowBox(UINT style, std::wstring_view caption, std::wstring_view text) {
    const std::wstring shown(text), captionText(caption);
    HWND previous = GetActiveWindow();
    // Owned by the application window, the box shares the program's one
    // task-bar entry; it is task-modal all the same: every other window of
    // the program waits for it.
    HWND owner = applicationWindow_ && IsWindow(applicationWindow_) ? applicationWindow_ : nullptr;
    std::optional<ThreadWindowsDisabled> others;
    if (owner) others.emplace(owner);
    const int answer =
        MessageBoxW(owner, shown.c_str(), captionText.c_str(), style | (owner ? MB_APPLMODAL : MB_TASKMODAL));
    others.reset();
    // Give the activation back to the window that had it (a dialog relies on
    // being activated again), as not every platform does it.
    if (previous && IsWindow(previous) && IsWindowVisible(previous)) SetActiveWindow(previous);
    return answer;
}

void UserMessages::ShowCaptioned(std::wstring_view caption, std::wstring_view text, UINT icon) {
    if (TellUnattended(text)) return;
    ShowBox(MB_OK | icon, caption, text);
}

INT_PTR UserMessages::ShowDialog(LPCWSTR dialogTemplate, HWND owner, DLGPROC procedure, LPARAM parameter,
                                 std::wstring_view unattendedText) {
    if (TellUnattended(unattendedText)) return IDCANCEL;
    return DialogBoxParamW(GetModuleHandleW(nullptr), dialogTemplate, owner, procedure, parameter);
}

void UserMessages::InactivateProgressApp() {
    const std::wstring cls(kProgressWindowClass);
    HWND progress = FindWindowW(cls.c_str(), nullptr);
    if (!progress) return;
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(progress, inactivateProgressMessage_, reinterpret_cast<WPARAM>(applicationWindow_), 0,
                        SMTO_NORMAL | SMTO_ABORTIFHUNG, kProgressSendTimeoutMs, &ignored);
}

void UserMessages::SetUnattendedSink(std::function<void(std::wstring_view)> sink) {
    unattendedSink_ = std::move(sink);
}
bool UserMessages::Unattended() const { return static_cast<bool>(unattendedSink_); }
bool UserMessages::TellUnattended(std::wstring_view text) {
    if (!unattendedSink_) return false;
    unattendedSink_(text);
    return true;
}

void UserMessages::ShowInfo(std::wstring_view text) {
    if (TellUnattended(text)) return;
    InactivateProgressApp();
    ShowBox(BoxKind::Information, text);
}

void UserMessages::ShowError(std::wstring_view text) {
    const BoxContent box = ComposeErrorBox(text);
    if (TellUnattended(box.text)) return;
    InactivateProgressApp();
    ShowBox(box.kind, box.text);
}

int UserMessages::AskYesNo(std::wstring_view text) {
    if (TellUnattended(text)) return IDNO;
    InactivateProgressApp();
    return ShowBox(BoxKind::Confirmation, text) == IDYES ? IDYES : IDNO;
}

}  // namespace tolmar
