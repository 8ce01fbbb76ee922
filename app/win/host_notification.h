// Delivery of one looked-up person to the suite's running host program.
#pragma once

#include <windows.h>

#include <string>

#include "tools/win/messages_win.h"

namespace tolmar::win {

// Target 3 is the journal host: the first window of class "TPagesDlg",
// "TBokora" or "TfrmBokora" (kept in `journalHost` for the rest of the run). The text goes in
// a global atom, sent as lParam and released once the host has handled the
// message. When the host does not handle it in time (kHostSendTimeoutMs, or
// at once when it is hung) the message stays queued for it, so the atom is
// left for the host to read later and the user is told. Other targets do
// nothing. Failures are shown to the user through `messages`. True when the
// host took the message.
bool NotifyHostApplication(UserMessages& messages, HWND& journalHost, int target, UINT message, WPARAM wParam,
                           const std::wstring& text);

// How long the host may take to handle the message before the program gives
// up on it and tells the user.
inline constexpr UINT kHostSendTimeoutMs = 30000;

}  // namespace tolmar::win
