// The main window `TTolmarForm`: a small progress window that lives for the
// whole run. 500 ms after it is first shown its timer runs the dispatcher,
// which does exactly one job and closes the window, ending the program.
#pragma once

#include <windows.h>

#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "app/options.h"
#include "app/run_lines.h"
#include "tools/win/layout.h"
#include "tools/win/unique.h"

namespace tolmar::win {

struct Session;

class TolmarForm {
public:
    // The window works for `session`, which outlives it.
    explicit TolmarForm(Session& session) : session_(session) {}
    // Takes back the unattended sink it may have given the session's boxes.
    ~TolmarForm();
    TolmarForm(const TolmarForm&) = delete;
    TolmarForm& operator=(const TolmarForm&) = delete;

    // The window class the suite and the tests find the progress window by.
    static constexpr const wchar_t* kClassName = L"TTolmarForm";
    // The timer that runs the job once the window has first been shown.
    static constexpr UINT_PTR kStartTimer = 1;
    static constexpr UINT kStartDelayMs = 500;

    // Registers the window class (unless it is registered) and creates the
    // window, which runs OnCreate. False when the window could not be made.
    bool Create(HWND owner);
    void Show();
    HWND hwnd() const { return hwnd_; }

    // Appends a line of the run, shown in the progress list and selected.
    void AddProgressLine(std::wstring_view text);
    // Empties the run's lines and the list that shows them.
    void ClearProgressList();

    void SetCaption(std::wstring_view caption);
    // The text under the caption: the version, during a run its counts.
    void SetStatusText(std::wstring_view text);
    HWND ProgressBar() const;

    // Runs when the program ends: removes "*.err" from AppPath.
    void OnExit();

    // The process's exit code, as the job left it: 0 done, 1 done with some
    // failures, 2 stopped or could not start.
    int ExitCode() const { return exitCode_; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void OnCreate();
    // At `dpi`, centred on the screen or with its top left at `*topLeft`.
    void LayOut(UINT dpi, const POINT* topLeft = nullptr);
    void OnFirstShow();
    void OnStartTimer();
    void Dispatch();
    int PersonLookup(const std::wstring& number, bool numberValid);
    void Close();
    // In an unattended run every box becomes a line of the errors file.
    void TellLine(std::wstring_view text);

    Session& session_;
    HWND hwnd_ = nullptr;
    UniqueFont font_;  // the window's font at its DPI
    bool firstShow_ = false;
    int exitCode_ = 0;
    StartPlan start_;
    std::exception_ptr startFailure_;  // the start parameters could not be read
    RunLines lines_;  // the errors file's lines; the progress list shows the run's
    bool linesToList_ = false;
};

// Registers the progress window's class (IDD_PROGRESS_WINDOW names it)
// unless it is registered; false when it cannot be.
bool RegisterProgressWindowClass();
// Sets the progress window's texts: the searching text and the version.
void SetProgressWindowTexts(HWND window);

// The progress window's font, as its dialog template names it.
inline constexpr DialogFont kProgressWindowFont{L"MS Shell Dlg", 8};

// Places the progress window's controls and sizes it for `dpi`, with `font`
// (made for that DPI): its 96-DPI layout scaled, and widened where a text
// needs it. Centred on the screen, or with its top left at `*topLeft`.
void LayOutProgressWindow(HWND window, HFONT font, UINT dpi, const POINT* topLeft = nullptr);

// Handles every window message waiting in the queue, so windows repaint
// during long work on this thread. A WM_QUIT seen here is put back.
void ProcessPendingMessages();

}  // namespace tolmar::win
