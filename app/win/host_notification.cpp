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
    if (Deliver(host, message, wParam, static_cast<LPARAM>(atom.get()))) return true;  // the atom is released
    if (!IsWindow(host)) {
        messages.ShowInfo(kHostDidNotAnswerText);  // gone: the message will never be read
        return false;
    }
    // The host did not take the message in time, but it stays queued and the
    // host reads it when it recovers. Deleting the atom now would let it read
    // a deleted atom, or one reused for another text (another person): the
    // atom is left to the host, one atom per timed-out hand-over.
    atom.release();
    messages.ShowInfo(kHostTooSlowText);
    return false;
}

}  // namespace tolmar::win
