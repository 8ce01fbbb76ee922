// Delivery of one looked-up person to the suite's running host program.
#pragma once

#include <windows.h>

#include <string>

#include "tools/win/messages_win.h"

namespace tolmar::win {

// Target 3 is the journal host: the first window of class "TPagesDlg",
// "TBokora" or "TfrmBokora" (kept in `journalHost` for the rest of the run). The text goes in
// a global atom, sent as lParam and released once the host has handled the
// message. A host that the system already counts as hung is not sent the
// message (the system would give it up at once and queue nothing): the atom
// is released and the user told that the person was not handed over. So is
// a send that the system gave up well before its time-out. When the host
// took the message but did not finish it within kHostSendTimeoutMs, it may
// still be reading it: the atom is left for the host and the user is told.
// Other targets do nothing. Failures are shown to the user through
// `messages`. True when the host took the message.
bool NotifyHostApplication(UserMessages& messages, HWND& journalHost, int target, UINT message, WPARAM wParam,
                           const std::wstring& text);

// How long the host may take to handle the message before the program gives
// up on it and tells the user.
inline constexpr UINT kHostSendTimeoutMs = 30000;

// A send that fails sooner than this was given up by the system because the
// host was hung when it was sent, not because the host was slow: a host is
// counted as hung only after five seconds without looking at its messages.
inline constexpr ULONGLONG kHostGivenUpAtOnceMs = 2000;

}  // namespace tolmar::win
