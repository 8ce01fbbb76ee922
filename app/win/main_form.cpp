#include "app/win/main_form.h"

#include <commctrl.h>

#include "app/dispatch.h"
#include "app/win/errors_file.h"
#include "app/win/jobs.h"
#include "app/win/resource.h"
#include "app/win/session.h"
#include "tools/environment.h"
#include "tools/error.h"
#include "tools/text.h"
#include "tools/win/environment_win.h"
#include "tools/win/files.h"
#include "tools/win/layout.h"
#include "tools/win/messages_win.h"
#include "tools/win/registry.h"
#include "tools/win/system_text.h"

namespace tolmar::win {
namespace {

// The window's layout at 96 DPI: a text panel left of a status panel with
// the animation, and the progress bar along the bottom.
const layout::Form kLayout96 = [] {
    constexpr int width = 183, height = 107, textPanelWidth = 73, progressHeight = 18, statusTextHeight = 13;
    constexpr int top = height - progressHeight, statusWidth = width - textPanelWidth;
    return layout::Form{
        {width, height},
        {
            {IDC_TEXT_PANEL, {0, 0, textPanelWidth, top}},
            // Its two sentences stand on lines of their own; where the font
            // needs more lines than that, the window grows down for them.
            {IDC_SEARCHING_TEXT, {5, 3, 63, 83}, 0, false, 0, 0, true},
            {IDC_PROGRESS_LINES, {84, 32, 89, 41}},  // outside the text panel's width: never visible
            {IDC_STATUS_PANEL, {textPanelWidth, 0, statusWidth, top}},
            // The version, and during a run its counts: over the animation,
            // which gives up a line when the text needs two.
            {IDC_STATUS_TEXT, {textPanelWidth + 1, 1, statusWidth - 2, statusTextHeight}, 0, false,
             IDC_SEARCH_ANIMATION},
            {IDC_SEARCH_ANIMATION,
             {textPanelWidth + 1, 1 + statusTextHeight, statusWidth - 2, top - statusTextHeight - 2}},
            {IDC_PROGRESS_PANEL, {0, top, width, progressHeight}},
            {IDC_PROGRESS_BAR, {0, top, width, progressHeight}},
        }};
}();

// Twelve spaces, the first sentence, 34 spaces, the second: the spaces break
// the label into its two visual lines.
const std::wstring kSearchingText = std::wstring(12, L' ') + L"Söker efter personer i Mirell." +
                                    std::wstring(34, L' ') + L"Vänta...";
constexpr const wchar_t* kVersionCaption = L"Version: 1.00.4 Websvc";

constexpr const wchar_t* kKunderSqlOrg = L"SELECT PATIENTNR, PERSONNR FROM KUNDER ORDER BY PERSONNR";
constexpr const wchar_t* kKunderSqlAktiva =
    L"SELECT KUNDER.PATIENTNR, KUNDER.PERSONNR FROM KUNDER, PATREG, BEHUPPG WHERE KUNDER.PATIENTNR = "
    L"PATREG.PATIENTNR AND PATREG.LOPNR = BEHUPPG.BEHNR AND BEHUPPG.AVREG IS NULL ORDER BY PERSONNR";

// The shell's "searching a folder" animation.
constexpr int kFindFolderAnimation = 150;
constexpr int kAnimationStopFrame = 29;

// Restores the normal cursor however the guarded work ends.
class HourglassCursor {
public:
    HourglassCursor() : previous_(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    ~HourglassCursor() { SetCursor(previous_ ? previous_ : LoadCursorW(nullptr, IDC_ARROW)); }
    HourglassCursor(const HourglassCursor&) = delete;
    HourglassCursor& operator=(const HourglassCursor&) = delete;

private:
    HCURSOR previous_;
};

}  // namespace

void ProcessPendingMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        HWND dialog = GetActiveWindow();
        if (dialog && IsDialogMessageW(dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

TolmarForm::~TolmarForm() { session_.messages.SetUnattendedSink({}); }

bool RegisterProgressWindowClass() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW registered{sizeof(registered)};
    if (GetClassInfoExW(instance, TolmarForm::kClassName, &registered)) return true;
    WNDCLASSEXW wc{sizeof(wc)};
    wc.lpfnWndProc = DefDlgProcW;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = TolmarForm::kClassName;
    return RegisterClassExW(&wc) != 0;
}

void SetProgressWindowTexts(HWND window) {
    SetDlgItemTextW(window, IDC_SEARCHING_TEXT, kSearchingText.c_str());
    SetDlgItemTextW(window, IDC_STATUS_TEXT, kVersionCaption);
}

bool TolmarForm::Create(HWND owner) {
    if (!RegisterProgressWindowClass()) return false;
    hwnd_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS_WINDOW), owner, DialogProc,
                               reinterpret_cast<LPARAM>(this));
    return hwnd_ != nullptr;
}

void TolmarForm::Show() {
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
}

INT_PTR CALLBACK TolmarForm::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TolmarForm*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            self = reinterpret_cast<TolmarForm*>(lParam);
            SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
            self->hwnd_ = hwnd;
            SetProgressWindowTexts(hwnd);
            self->LayOut(DpiOf(hwnd));
            self->OnCreate();
            return TRUE;
        case WM_DPICHANGED:
            // Moved to a screen of another scale: laid out anew for it, at
            // the place the system suggests.
            if (self) {
                const auto* suggested = reinterpret_cast<const RECT*>(lParam);
                const POINT topLeft{suggested->left, suggested->top};
                self->LayOut(HIWORD(wParam), &topLeft);
            }
            return TRUE;
        case WM_SHOWWINDOW:
            if (self && wParam) self->OnFirstShow();
            return FALSE;
        case WM_TIMER:
            if (self && wParam == kStartTimer) self->OnStartTimer();
            return TRUE;
        case WM_CLOSE:
            // No close box; the window closes only when the dispatcher is done.
            return TRUE;
        case WM_DESTROY:
            Animate_Stop(GetDlgItem(hwnd, IDC_SEARCH_ANIMATION));
            PostQuitMessage(0);
            return TRUE;
        default:
            return FALSE;
    }
}

void LayOutProgressWindow(HWND window, HFONT font, UINT dpi, const POINT* topLeft) {
    LayOutForDpi(window, kLayout96, font, dpi, topLeft);
}

void TolmarForm::LayOut(UINT dpi, const POINT* topLeft) {
    UniqueFont font = CreateDialogFont(kProgressWindowFont, dpi);
    LayOutProgressWindow(hwnd_, font.get(), dpi, topLeft);
    font_ = std::move(font);  // the controls use the new font from here on
}

void TolmarForm::OnCreate() {
    firstShow_ = true;
    // Options come first: an unattended run shows no box from here on.
    try {
        start_ = ReadStartPlan(StartParameters());
        if (start_.unattended)
            session_.messages.SetUnattendedSink([this](std::wstring_view text) { TellLine(text); });
    } catch (...) {
        startFailure_ = std::current_exception();  // the dispatcher reports it
    }
    try {
        InitEnvironment(session_.environment);
        WriteSetting(session_.environment, kTolmarSection, kKunderSqlOrgKey, kKunderSqlOrg);
        WriteSetting(session_.environment, kTolmarSection, kKunderSqlAktivaKey, kKunderSqlAktiva);
        HWND animation = GetDlgItem(hwnd_, IDC_SEARCH_ANIMATION);
        if (Animate_OpenEx(animation, GetModuleHandleW(L"shell32.dll"), MAKEINTRESOURCEW(kFindFolderAnimation)))
            Animate_Play(animation, 0, kAnimationStopFrame - 1, -1);
    } catch (const std::exception& e) {
        session_.messages.ShowCaptioned(kApplicationTitle, MessageOf(e), MB_ICONERROR);
    }
}

void TolmarForm::OnFirstShow() {
    if (!firstShow_) return;
    firstShow_ = false;
    SetTimer(hwnd_, kStartTimer, kStartDelayMs, nullptr);
}

void TolmarForm::OnStartTimer() {
    KillTimer(hwnd_, kStartTimer);
    Dispatch();
}

void TolmarForm::Dispatch() {
    UserMessages& messages = session_.messages;
    bool writeErrorsFile = false;
    try {
        if (startFailure_) std::rethrow_exception(startFailure_);
        const StartRequest& request = start_.request;
        writeErrorsFile = messages.Unattended();
        if (start_.RefusedUnattended()) {
            // Nobody is at the screen to read the help: its text is a line
            // of the refused start's record.
            messages.ShowInfo(std::wstring(kHelpText) + std::wstring(kOptionsHelpText));
            exitCode_ = RefuseUnattendedStart(session_, start_.options, lines_);
        } else if (!start_.optionsFit) {
            messages.ShowInfo(std::wstring(kHelpText) + std::wstring(kOptionsHelpText));
            exitCode_ = 2;
        } else {
            switch (request.job) {
                case Job::PersonLookup:
                    exitCode_ = PersonLookup(request.number, request.numberValid);
                    break;
                case Job::TestMode:
                    ShowWindow(hwnd_, SW_HIDE);
                    RunTestMode(session_);
                    break;
                case Job::UpdateAll:
                    writeErrorsFile = false;  // the run writes its own errors file and log
                    linesToList_ = true;
                    lines_.StartRun();
                    exitCode_ = UpdateAllPatients(session_, *this, start_.options, lines_);
                    break;
                case Job::Help:
                    messages.ShowInfo(kHelpText);
                    break;
            }
        }
    } catch (const std::exception& e) {
        messages.ShowError(std::wstring(kDispatchFailurePrefix) + MessageOf(e));
        exitCode_ = 2;
    } catch (...) {
        messages.ShowError(std::wstring(kDispatchFailurePrefix) + L"Okänt fel.");
        exitCode_ = 2;
    }
    if (writeErrorsFile) {
        try {
            if (!lines_.Lines().empty()) WriteErrorsFile(session_.environment.appPath, lines_.Lines());
        } catch (const std::exception& e) {
            messages.SetUnattendedSink({});  // nowhere else to say it
            if (!start_.unattended) messages.ShowError(std::wstring(kDispatchFailurePrefix) + MessageOf(e));
            exitCode_ = 2;
        }
    }
    messages.SetUnattendedSink({});
    Close();
}

void TolmarForm::TellLine(std::wstring_view text) {
    const std::wstring line = RunLines::BoxLine(text);
    if (linesToList_ && hwnd_)
        AddProgressLine(line);
    else
        lines_.Add(line);
}

int TolmarForm::PersonLookup(const std::wstring& number, bool numberValid) {
    if (!numberValid) {
        session_.messages.ShowInfo(kInvalidNumberText);
        return 2;
    }
    ProcessPendingMessages();
    HourglassCursor hourglass;
    SetCaption(L"Söker...");
    return LookUpPersonForHost(session_, *this, number);
}

void TolmarForm::Close() {
    if (hwnd_) DestroyWindow(hwnd_);
    hwnd_ = nullptr;
}

void TolmarForm::OnExit() {
    // An unattended start cleaned up while its record was open (jobs.cpp):
    // nothing of it may show a box now.
    if (start_.unattended) return;
    try {
        DeleteFilesByMask(session_.messages, session_.environment.appPath + L"*.err");
    } catch (...) {
        // DeleteFilesByMask reports its own failures; nothing else may escape here.
    }
}

void TolmarForm::AddProgressLine(std::wstring_view text) {
    lines_.Add(text);
    HWND list = GetDlgItem(hwnd_, IDC_PROGRESS_LINES);
    const std::wstring line(text);
    LRESULT index = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    if (index >= 0) SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void TolmarForm::ClearProgressList() {
    lines_.ClearRun();
    SendMessageW(GetDlgItem(hwnd_, IDC_PROGRESS_LINES), LB_RESETCONTENT, 0, 0);
}

void TolmarForm::SetCaption(std::wstring_view caption) {
    SetWindowTextW(hwnd_, std::wstring(caption).c_str());
    UpdateWindow(hwnd_);
}

void TolmarForm::SetStatusText(std::wstring_view text) {
    SetDlgItemTextW(hwnd_, IDC_STATUS_TEXT, std::wstring(text).c_str());
    UpdateWindow(GetDlgItem(hwnd_, IDC_STATUS_TEXT));
}

HWND TolmarForm::ProgressBar() const { return GetDlgItem(hwnd_, IDC_PROGRESS_BAR); }

}  // namespace tolmar::win
