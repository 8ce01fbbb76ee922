#include "tools/win/messages_win.h"

#include <string>

#include "tools/messages.h"

namespace tolmar {
namespace {

// Registered once, while the program loads, before any window exists.
const UINT g_inactivateProgressMessage = static_cast<WORD>(
    RegisterWindowMessageW(std::wstring(kInactivateProgressMessageName).c_str()));

HWND g_applicationWindow = nullptr;
std::function<void(std::wstring_view)> g_unattendedSink;

int ShowBox(BoxKind kind, std::wstring_view text) {
    UINT style = MB_TASKMODAL | MB_SETFOREGROUND;
    switch (kind) {
        case BoxKind::Information: style |= MB_OK | MB_ICONINFORMATION; break;
        case BoxKind::Warning: style |= MB_OK | MB_ICONWARNING; break;
        case BoxKind::Confirmation: style |= MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1; break;
    }
    const std::wstring shown(text), caption(BoxCaption(kind));
    HWND previous = GetActiveWindow();
    const int answer = MessageBoxW(nullptr, shown.c_str(), caption.c_str(), style);
    // Give the activation back to the window that had it (a dialog relies on
    // being activated again), as not every platform does it for a box
    // without owner.
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
