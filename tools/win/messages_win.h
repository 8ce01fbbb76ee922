// The program's message boxes. Each first asks the suite's progress window
// to step back, so that the box is not hidden behind it.
#pragma once

#include <windows.h>

#include <functional>
#include <string_view>

#include "tools/messages.h"

namespace tolmar {

inline constexpr UINT kProgressSendTimeoutMs = 3000;

// How the program tells its user something: message boxes owned by the
// application window, each after asking the suite's progress window to step
// back; in an unattended run, texts handed to a sink instead. One belongs to
// the program's session, made before any window exists.
class UserMessages {
public:
    // Registers "NV_INACTIVATE_PROGRESSAPP".
    UserMessages();
    UserMessages(const UserMessages&) = delete;
    UserMessages& operator=(const UserMessages&) = delete;

    void ShowInfo(std::wstring_view text);
    // A warning with concurrency advice when the text holds the database's
    // row-not-located sentence, otherwise an information box.
    void ShowError(std::wstring_view text);
    // IDYES (6) or IDNO (7); closing the box otherwise counts as No.
    int AskYesNo(std::wstring_view text);
    // A box of its own caption and icon (MB_ICONERROR, MB_ICONWARNING),
    // without asking the progress window to step back: what the program's
    // start and its clean-up at the end report.
    void ShowCaptioned(std::wstring_view caption, std::wstring_view text, UINT icon);
    // A modal dialog of the program's resources (DialogBoxParamW) and its
    // result; in an unattended run `unattendedText` goes to the sink instead
    // and the dialog counts as cancelled (IDCANCEL).
    INT_PTR ShowDialog(LPCWSTR dialogTemplate, HWND owner, DLGPROC procedure, LPARAM parameter,
                       std::wstring_view unattendedText);

    // Unattended runs: while a sink is set, no box is shown and the progress
    // application is not stepped back; the text of every box goes to the
    // sink instead (a question counts as answered No). An empty sink shows
    // boxes again.
    void SetUnattendedSink(std::function<void(std::wstring_view)> sink);
    bool Unattended() const;
    // Hands a text to the sink; false when no sink is set.
    bool TellUnattended(std::wstring_view text);

    // Sends NV_INACTIVATE_PROGRESSAPP to a window of class "TProgressFormG4"
    // if one exists. The send gives up on a hung window after
    // kProgressSendTimeoutMs.
    void InactivateProgressApp();
    // The number registered for "NV_INACTIVATE_PROGRESSAPP".
    UINT InactivateProgressMessage() const { return inactivateProgressMessage_; }

    // The hidden top-level window that owns the program's windows (and the
    // boxes); null until it exists.
    void SetApplicationWindow(HWND window) { applicationWindow_ = window; }
    HWND ApplicationWindow() const { return applicationWindow_; }

private:
    int ShowBox(BoxKind kind, std::wstring_view text);
    // The one place the program shows a message box.
    int ShowBox(UINT style, std::wstring_view caption, std::wstring_view text);

    UINT inactivateProgressMessage_;
    HWND applicationWindow_ = nullptr;
    std::function<void(std::wstring_view)> unattendedSink_;
};

}  // namespace tolmar
