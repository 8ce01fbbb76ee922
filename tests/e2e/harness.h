// End-to-end harness: runs the real tolmar07.exe the way the clinic suite and
// a user do, and watches what it shows and sends.
//
//   e2e::ProgramRun run({.args = {L"TEST_MODEX"}, .progress = e2e::ProgressMode::Responsive});
//   ASSERT_TRUE(run.Start());
//   const e2e::Outcome out = run.Finish();   // answers every box with OK
//   EXPECT_TRUE(e2e::MatchesSequence(run.log(), {e2e::expect::Progress(run.ApplicationWindow(), 0),
//                                                e2e::expect::Box(L"Information", help), ...}));
//
// Every wait has a deadline and pumps this thread's messages while it waits.
// A program still running when its ProgramRun ends is killed and the test fails.
// Working folders and the registry keys of the run are removed at its end,
// also when the test fails.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fake_window.h"
#include "register_sim.h"
#include "registry_keys.h"
#include "temp_folder.h"
#include "text.h"

namespace e2e {

using tolmar::test::Printable;
using tolmar::test::RegisterSim;
using tolmar::test::SimRequest;
using tolmar::test::SimulatorSession;
using tolmar::test::TempFolder;
using tolmar::test::Utf8;

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// Bounds used when a test gives none. A run of the program takes about a
// second under Wine once a wineserver is up; these leave room for a busy machine.
inline constexpr Ms kBoxTimeout{15000};
inline constexpr Ms kExitTimeout{15000};
inline constexpr Ms kCloseTimeout{5000};

// ---- texts -----------------------------------------------------------------

// EXPECT_PRED_FORMAT2(e2e::SameText, actual, expected): on failure prints both
// texts escaped and the first position where they differ.
::testing::AssertionResult SameText(const char* actualExpr, const char* expectedExpr,
                                    std::wstring_view actual, std::wstring_view expected);

// ---- waiting ---------------------------------------------------------------

// Pumps this thread's messages until done() holds or the timeout passes;
// the last answer of done(). `wake` handles (a process, an event) end a
// slice early when they are signalled.
bool WaitUntil(const std::function<bool()>& done, Ms timeout, std::vector<HANDLE> wake = {});

// ---- windows of other processes -------------------------------------------

std::wstring ClassOf(HWND hwnd);
// WM_GETTEXT, sent with a time-out so that a hung window cannot stall a test.
std::optional<std::wstring> TextOf(HWND hwnd);
// Top-level windows (owned ones included) of a process, optionally of one class.
std::vector<HWND> TopLevelWindows(DWORD pid, std::wstring_view className = {});

// Ids of message-box controls as the platform's box lays them out.
inline constexpr int kBoxTextId = 0xFFFF;

// A message box as the harness saw it.
struct Box {
    HWND hwnd = nullptr;
    HWND owner = nullptr;
    std::wstring caption;
    std::wstring text;            // the static text, "\r" kept
    std::vector<int> buttons;     // IDOK, IDCANCEL, IDYES, IDNO ... present
    Clock::time_point seen{};     // when the harness first saw it
    bool HasButton(int id) const;
};
void PrintTo(const Box& box, std::ostream* os);

// Reads a "#32770" window as a message box: one with the box's static text
// control and at least one of the standard buttons. nullopt for any other
// dialog (such as the program's own forms).
std::optional<Box> ReadBox(HWND hwnd);

// A dialog window of the program that is not a message box (a form).
struct Form {
    HWND hwnd = nullptr;
    HWND owner = nullptr;
    std::wstring caption;
    Clock::time_point seen{};
};

// ---- event log ---------------------------------------------------------------

enum class EventKind {
    ProgressMessage,  // NV_INACTIVATE_PROGRESSAPP reached a fake progress window
    ProgressOther,    // any other application message reached a fake progress window
    BoxShown,
    FormShown,
    Closed,           // a box or form closed by a button the harness pressed
    Exited,
};

struct Event {
    EventKind kind{};
    unsigned seq = 0;              // 1, 2, ... in the order recorded
    Clock::time_point at{};
    HWND hwnd = nullptr;           // receiving progress window / the box or form
    UINT message = 0;              // progress events
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    bool sent = false;             // progress events: sent (not posted)
    std::wstring caption, text;    // boxes (forms: caption only)
    HWND owner = nullptr;          // boxes and forms
    int button = 0;                // Closed: the button pressed
    DWORD exitCode = 0;            // Exited
    // "#2 box ... " with the time since `origin` when one is given.
    std::string Describe(Clock::time_point origin = {}) const;
};

// Thread-safe, ordered record of what happened during a run.
class EventLog {
public:
    unsigned Add(Event event);
    std::vector<Event> Events() const;
    std::vector<Event> Events(EventKind kind) const;
    std::string Dump() const;
    // Times in Dump() count from here (the program's start).
    void SetOrigin(Clock::time_point origin);

private:
    mutable std::mutex mutex_;
    Clock::time_point origin_{};
    std::vector<Event> events_;
};

// One expected entry of a sequence. Unset fields are not compared.
struct Expected {
    EventKind kind{};
    std::optional<WPARAM> wParam;
    std::optional<LPARAM> lParam;
    std::optional<std::wstring> caption;
    std::optional<std::wstring> text;
    bool textIsPrefix = false;
    std::optional<HWND> owner;
    std::optional<int> button;
    std::optional<DWORD> exitCode;
};

namespace expect {
Expected Progress(HWND applicationWindow, LPARAM lParam = 0);
Expected Box(std::wstring caption, std::wstring text);
Expected BoxStartingWith(std::wstring caption, std::wstring prefix);
Expected Form();
Expected Closed(int button = IDOK);
Expected Exit(DWORD code = 0);
}  // namespace expect

// Compares the log with the expected entries one by one, and their number;
// on failure prints the first mismatch with the actual values and the whole
// recorded sequence, as Wine's ok_sequence does.
::testing::AssertionResult MatchesSequence(const EventLog& log, const std::vector<Expected>& expected);

// ---- the suite's progress application ---------------------------------------

enum class ProgressMode {
    None,        // no progress window at all
    Responsive,  // a window of class "TProgressFormG4" that handles its messages
    Hung,        // such a window whose thread has stopped handling messages
};

// A window standing in for the suite's progress application, on its own
// thread. Records every NV_INACTIVATE_PROGRESSAPP (and any other application
// message) it receives in the log.
class ProgressApp {
public:
    static constexpr const wchar_t* kClassName = L"TProgressFormG4";

    ProgressApp(EventLog& log, bool hung, std::wstring className = kClassName);

    bool ok() const { return window_.ok(); }
    HWND hwnd() const { return window_.hwnd(); }
    // Lets a hung window's thread go back to handling messages.
    void Release() { window_.Release(); }

    static UINT InactivateMessage();

private:
    tolmar::test::FakeWindow window_;
};

// ---- registry (always the 32-bit view unless said otherwise) --------------

namespace reg = tolmar::test::reg;

inline constexpr const wchar_t* kSettingsRoot = L"SOFTWARE\\Norvena\\";
inline constexpr const wchar_t* kMachineWriteErrorKey = L"SOFTWARE\\Norvena\\ERROR_WRITING_TO_LOCAL_MACHINE";

// The program's settings key for a working folder: "C:\x y\" -> "C_x_y\".
std::wstring AppKeyFor(std::wstring_view appPath);

// Removes, at its end, SOFTWARE\Norvena\<AppKey> under both roots (both views,
// in case the program wrote to the wrong one), any new key there that names
// the same folder in another spelling (a program that derives the key
// wrongly must not leave it behind), and SOFTWARE\Norvena and
// ERROR_WRITING_TO_LOCAL_MACHINE when the run created them.
class RegistrySandbox {
public:
    // `folderName`: the last part of the working folder, which is unique.
    // Without one (no folder could be made) the sandbox touches nothing.
    RegistrySandbox(std::wstring appKey, std::wstring folderName);
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    // SOFTWARE\Norvena\<AppKey> + section, without trailing "\".
    std::wstring KeyPath(std::wstring_view section = {}) const;
    bool MachineWriteErrorExistedBefore() const { return errorKeyBefore_; }

private:
    std::wstring appKey_;
    std::wstring folderName_;
    bool active_ = false;
    bool norvenaBefore_[2][2] = {};  // [root][view]
    std::vector<std::wstring> keysBefore_[2][2];
    bool errorKeyBefore_ = false;
};

// The section PopulationManager of "tolmar.ini". A key left nullopt is not
// written at all.
struct RegisterIni {
    std::optional<std::string> logId = "clinic";
    std::optional<std::string> logPwd = "secret";
    std::optional<std::string> logAddr;  // nullopt: the simulator's endpoint
    std::optional<std::string> flagOtherArchve;
    // The file's bytes (CR LF lines).
    std::string Text() const;
};

// True when this process runs under Wine.
bool RunningUnderWine();

// ---- the program -----------------------------------------------------------------

// tolmar07.exe: %TOLMAR_EXE% when set, else ..\..\tolmar07.exe from this
// test program's folder (build/windows/tests/e2e -> build/windows).
std::wstring TolmarExePath();

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
std::wstring QuoteArgument(std::wstring_view argument);

// A started tolmar07.exe. Killed at the end if still running.
class Process {
public:
    Process() = default;
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Starts exe with the arguments in workDir; "" on success, else why not.
    std::string Start(const std::wstring& exe, const std::vector<std::wstring>& args, const std::wstring& workDir);
    bool Running() const;
    HANDLE handle() const { return process_.get(); }
    DWORD pid() const { return pid_; }
    std::optional<DWORD> ExitCode() const;  // nullopt while running
    // Ends the process; true when it is gone within the bound.
    bool Kill();

private:
    tolmar::win::UniqueKernelHandle process_;
    tolmar::win::UniqueKernelHandle job_;
    DWORD pid_ = 0;
};

struct RunOptions {
    std::vector<std::wstring> args;
    ProgressMode progress = ProgressMode::None;
    std::wstring folderPrefix = L"tolmar-e2e";
};

struct Outcome {
    std::vector<Box> boxes;          // every box, in order, each answered
    std::vector<Form> forms;         // DismissUntilExit: every form, each cancelled
    std::optional<DWORD> exitCode;   // nullopt when the program did not end in time
};

// One end-to-end run: a fresh working folder, its registry keys, an optional
// fake progress application and the program. Set up files or settings, then
// Start().
class ProgramRun {
public:
    explicit ProgramRun(RunOptions options = {});
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    TempFolder& folder() { return folder_; }
    RegistrySandbox& registry() { return *registry_; }
    EventLog& log() { return log_; }
    ProgressApp* progress() { return progress_.get(); }
    Process& process() { return process_; }
    std::wstring AppPath() const { return folder_.FolderPath(); }
    std::wstring AppKey() const { return AppKeyFor(folder_.FolderPath()); }
    Clock::time_point started() const { return started_; }

    // Starts the program in the run's folder, or in `workDir` when given (for
    // example another spelling of that folder); a failure explains itself.
    ::testing::AssertionResult Start(std::optional<std::wstring> workDir = std::nullopt);

    // The next message box (a visible "#32770" window of the program) not
    // yet returned; nullopt when the program ends first or the time runs out.
    std::optional<Box> WaitForBox(Ms timeout = kBoxTimeout);
    // The next visible dialog of the program that is not a message box.
    std::optional<Form> WaitForForm(Ms timeout = kBoxTimeout);
    // Presses a button of a box or form (WM_COMMAND posted to it, as a click
    // sends it) and waits until the window is gone or hidden.
    ::testing::AssertionResult Press(HWND dialog, int button, Ms timeout = kCloseTimeout);
    ::testing::AssertionResult Answer(const Box& box, int button, Ms timeout = kCloseTimeout) {
        return Press(box.hwnd, button, timeout);
    }
    std::optional<DWORD> WaitForExit(Ms timeout = kExitTimeout);
    // Answers every box with `button` until the program ends, within one
    // bound; `whileOpen` looks at the program while each box is still open.
    Outcome Finish(int button = IDOK, Ms timeout = kBoxTimeout + kExitTimeout,
                   const std::function<void(const Box&)>& whileOpen = {});
    // Dismisses whatever the program shows until it ends, as a user who
    // wants out: boxes with OK (else No, else Cancel), forms with Cancel.
    Outcome DismissUntilExit(Ms timeout = kBoxTimeout + kExitTimeout);

    // The program's hidden application window ("TolmarApplication"), as last
    // seen (it is looked up whenever a box appears), and its main window
    // ("TTolmarForm"), nullptr when not there.
    HWND ApplicationWindow();
    HWND MainWindow() const;

private:
    std::vector<HWND> OpenDialogs() const;
    std::optional<HWND> NewDialog(bool messageBox);

    RunOptions options_;
    TempFolder folder_;
    std::unique_ptr<RegistrySandbox> registry_;
    EventLog log_;
    std::unique_ptr<ProgressApp> progress_;
    Process process_;
    Clock::time_point started_{};
    std::vector<HWND> seenDialogs_;
    HWND applicationWindow_ = nullptr;
    bool exitLogged_ = false;
};

}  // namespace e2e
