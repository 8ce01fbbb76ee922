// tolmar07: links the clinic suite's patient records to the population
// register. One start parameter selects one job; the program then ends.
#include <windows.h>
#include <commctrl.h>

#include <optional>
#include <string>

#include "app/dispatch.h"
#include "app/options.h"
#include "app/run_event.h"
#include "app/win/event_log.h"
#include "app/win/main_form.h"
#include "app/win/session.h"
#include "tools/error.h"
#include "tools/win/messages_win.h"
#include "tools/win/system_text.h"
#include "tools/win/unique.h"

namespace {

constexpr const wchar_t* kApplicationClass = L"TolmarApplication";
constexpr UINT kActivateUsersWindow = WM_APP + 1;

// The application window: the program's one task-bar entry, titled with the
// application's title, and the owner of every other window of the program
// (which therefore get no entries of their own). It is visible but has no
// size, so nothing of it shows on the screen. Chosen on the task bar, it
// hands the activation on to the window the user works in.
LRESULT CALLBACK ApplicationWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE) PostMessageW(hwnd, kActivateUsersWindow, 0, 0);
            return 0;
        case kActivateUsersWindow: {
            HWND popup = GetLastActivePopup(hwnd);
            if (GetActiveWindow() == hwnd && popup && popup != hwnd && IsWindowVisible(popup) && IsWindowEnabled(popup))
                SetActiveWindow(popup);
            return 0;
        }
        case WM_CLOSE:
            return 0;  // the program ends when its job is done, not from the task bar
        default:
            return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

HWND CreateApplicationWindow(HINSTANCE instance) {
    WNDCLASSEXW wc{sizeof(wc)};
    wc.lpfnWndProc = ApplicationWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kApplicationClass;
    if (!RegisterClassExW(&wc)) return nullptr;
    const std::wstring title(tolmar::kApplicationTitle);
    return CreateWindowExW(0, kApplicationClass, title.c_str(), WS_POPUP, GetSystemMetrics(SM_CXSCREEN) / 2,
                           GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, nullptr, nullptr, instance, nullptr);
}

// Whether /unattended stands anywhere among the start parameters.
bool StartIsUnattended() {
    try {
        return tolmar::ReadStartPlan(tolmar::win::StartParameters()).unattended;
    } catch (...) {
        return false;  // the parameters cannot even be read: the dispatcher says so
    }
}

// The program could not start its job: a box, or in an unattended start
// (nobody at the screen) an event in the event log; the exit code.
int StartFailed(tolmar::UserMessages& messages, bool unattended, std::wstring_view text) {
    if (unattended) {
        tolmar::win::RunEventLog().Report(tolmar::RunEndedEvent({.exitCode = 2, .reason = std::wstring(text)}));
        return 2;
    }
    messages.ShowCaptioned(tolmar::kApplicationTitle, text, MB_ICONERROR);
    return 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);
    // COM for the whole run. The objects declared after it are destroyed
    // before it, in reverse order: the application window, then the session
    // (its lookup documents are COM objects, which must go before COM ends).
    const bool unattended = StartIsUnattended();
    std::optional<tolmar::win::ScopedComInit> com;
    try {
        com.emplace(COINIT_APARTMENTTHREADED, L"COM kunde inte startas");
    } catch (const tolmar::Error& e) {
        tolmar::UserMessages messages;
        return StartFailed(messages, unattended, e.message());
    }
    tolmar::win::Session session;
    const tolmar::win::UniqueWindow application(CreateApplicationWindow(instance));
    session.messages.SetApplicationWindow(application.get());

    int exitCode = 0;
    {
        tolmar::win::TolmarForm form(session);
        if (!form.Create(application.get())) {
            exitCode = StartFailed(session.messages, unattended, L"Huvudfönstret kunde inte skapas.");
        } else {
            // The task-bar entry, shown without taking the activation from the form.
            ShowWindow(application.get(), SW_SHOWNA);
            form.Show();
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
                HWND dialog = GetActiveWindow();
                if (dialog && IsDialogMessageW(dialog, &msg)) continue;
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            form.OnExit();
            exitCode = form.ExitCode();
        }
    }
    return exitCode;
}
