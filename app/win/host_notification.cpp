#include "app/win/host_notification.h"

#include "app/notification.h"
#include "tools/win/messages_win.h"
#include "tools/win/unique.h"

namespace tolmar::win {
namespace {

HWND g_journalHost = nullptr;

HWND FindJournalHost() {
    if (!g_journalHost) {
        for (std::wstring_view cls : kJournalHostClasses) {
            g_journalHost = FindWindowW(std::wstring(cls).c_str(), nullptr);
            if (g_journalHost) break;
        }
    }
    return g_journalHost;
}

// A send that gives up on a hung host instead of blocking for good.
bool Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG, kHostSendTimeoutMs,
                               &ignored) != 0;
}

}  // namespace

bool NotifyHostApplication(int target, UINT message, WPARAM wParam, const std::wstring& text) {
    if (target != 3) return false;
    HWND host = FindJournalHost();
    if (!host) {
        ShowInfo(kNoVimlaText);
        ShowInfo(kNoTorvikText);
        return false;
    }
    bool delivered;
    if (SendsAtom(text)) {
        UniqueGlobalAtom atom(GlobalAddAtomW(text.c_str()));
        if (!atom) {
            ShowInfo(kNoAtomText);
            return false;
        }
        delivered = Deliver(host, message, wParam, static_cast<LPARAM>(atom.get()));
    } else {
        delivered = Deliver(host, message, wParam, 0);
    }
    if (!delivered) ShowInfo(kHostDidNotAnswerText);
    return delivered;
}

}  // namespace tolmar::win
