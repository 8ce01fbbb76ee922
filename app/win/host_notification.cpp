#include "app/win/host_notification.h"

#include "app/notification.h"
#include "tools/win/messages_win.h"
#include "tools/win/unique.h"

namespace tolmar::win {
namespace {

HWND FindJournalHost(HWND& journalHost) {
    if (!journalHost) {
        for (std::wstring_view cls : kJournalHostClasses) {
            journalHost = FindWindowW(std::wstring(cls).c_str(), nullptr);
            if (journalHost) break;
        }
    }
    return journalHost;
}

// A send that gives up on a hung host instead of blocking for good.
bool Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG, kHostSendTimeoutMs,
                               &ignored) != 0;
}

}  // namespace

bool NotifyHostApplication(UserMessages& messages, HWND& journalHost, int target, UINT message, WPARAM wParam,
                           const std::wstring& text) {
    if (target != 3) return false;
    HWND host = FindJournalHost(journalHost);
    if (!host) {
        messages.ShowInfo(kNoVimlaText);
        messages.ShowInfo(kNoTorvikText);
        return false;
    }
    UniqueGlobalAtom atom;
    if (SendsAtom(text)) {
        atom.reset(GlobalAddAtomW(text.c_str()));
        if (!atom) {
            messages.ShowInfo(kNoAtomText);
            return false;
        }
    }
    // A sent message that the receiving thread has not yet taken when the
    // send is given up is taken back by the system and never delivered; one
    // sent with SMTO_ABORTIFHUNG to a thread already counted as hung is given
    // up at once. So a host hung before the send gets nothing, and is not
    // sent anything.
    if (IsHungAppWindow(host)) {
        messages.ShowInfo(kHostHungText);  // the atom is released
        return false;
    }
    const ULONGLONG sent = GetTickCount64();
    if (Deliver(host, message, wParam, static_cast<LPARAM>(atom.get()))) return true;  // the atom is released
    if (!IsWindow(host)) {
        messages.ShowInfo(kHostDidNotAnswerText);  // gone: the message will never be read
        return false;
    }
    if (GetTickCount64() - sent < kHostGivenUpAtOnceMs) {
        messages.ShowInfo(kHostHungText);  // hung by the time of the send: nothing was queued
        return false;
    }
    // The host may have taken the message and still be handling it: it then
    // reads the atom when it gets that far. Deleting the atom now would let it
    // read a deleted atom, or one reused for another text (another person):
    // the atom is left to the host, one atom per timed-out hand-over.
    atom.release();
    messages.ShowInfo(kHostTooSlowText);
    return false;
}

}  // namespace tolmar::win
