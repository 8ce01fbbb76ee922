// tolmar07: links the clinic suite's patient records to the population
// register. One start parameter selects one job; the program then ends.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <string>

#include "app/dispatch.h"
#include "app/win/main_form.h"
#include "register/win/person_lookup.h"
#include "tools/win/messages_win.h"

namespace {

constexpr const wchar_t* kApplicationClass = L"TolmarApplication";

// The hidden top-level window that owns the program's windows and carries
// the application's title.
HWND CreateApplicationWindow(HINSTANCE instance) {
    WNDCLASSEXW wc{sizeof(wc)};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = instance;
    wc.lpszClassName = kApplicationClass;
    if (!RegisterClassExW(&wc)) return nullptr;
    const std::wstring title(tolmar::kApplicationTitle);
    return CreateWindowExW(0, kApplicationClass, title.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           instance, nullptr);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    tolmar::SetApplicationWindow(CreateApplicationWindow(instance));

    int exitCode = 0;
    {
        tolmar::win::TolmarForm form;
        if (!form.Create(tolmar::ApplicationWindow())) {
            MessageBoxW(nullptr, L"Huvudf\u00f6nstret kunde inte skapas.", std::wstring(tolmar::kApplicationTitle).c_str(),
                        MB_OK | MB_ICONERROR);
            exitCode = 1;
        } else {
            form.Show();
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
                HWND dialog = GetActiveWindow();
                if (dialog && IsDialogMessageW(dialog, &msg)) continue;
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            form.FormDestroy();
            exitCode = form.ExitCode();
        }
    }

    if (HWND app = tolmar::ApplicationWindow()) DestroyWindow(app);
    tolmar::win::ReleaseLookupDocuments();
    if (SUCCEEDED(com)) CoUninitialize();
    return exitCode;
}
