#include "harness.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <system_error>

namespace e2e {
namespace {

// Longest slice of one wait: short enough that a condition polled across
// processes (a window appearing) is seen promptly.
constexpr DWORD kPollSliceMs = 15;
constexpr UINT kTextTimeoutMs = 2000;

std::string Hex(std::uintptr_t value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
    return buffer;
}

std::string HwndText(HWND hwnd) { return Hex(reinterpret_cast<std::uintptr_t>(hwnd)); }

// "0x1234 "caption"" for failure messages.
std::string WindowText(HWND hwnd);

void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

const char* ButtonName(int id) {
    switch (id) {
        case IDOK: return "IDOK";
        case IDCANCEL: return "IDCANCEL";
        case IDABORT: return "IDABORT";
        case IDRETRY: return "IDRETRY";
        case IDIGNORE: return "IDIGNORE";
        case IDYES: return "IDYES";
        case IDNO: return "IDNO";
        default: return "?";
    }
}

const char* KindName(EventKind kind) {
    switch (kind) {
        case EventKind::ProgressMessage: return "progress message";
        case EventKind::ProgressOther: return "other message to the progress window";
        case EventKind::BoxShown: return "box";
        case EventKind::FormShown: return "form";
        case EventKind::Closed: return "closed";
        case EventKind::Exited: return "exit";
    }
    return "?";
}

}  // namespace

// ---- texts -------------------------------------------------------------------

::testing::AssertionResult SameText(const char* actualExpr, const char* expectedExpr, std::wstring_view actual,
                                    std::wstring_view expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    const auto diff = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    const size_t at = static_cast<size_t>(diff.first - actual.begin());
    return ::testing::AssertionFailure()
           << actualExpr << " is not " << expectedExpr << "\n  actual:   " << Printable(actual)
           << "\n  expected: " << Printable(expected) << "\n  first difference at character " << at + 1
           << " (actual " << actual.size() << " characters, expected " << expected.size() << ")";
}

// ---- waiting -----------------------------------------------------------------

bool WaitUntil(const std::function<bool()>& done, Ms timeout, std::vector<HANDLE> wake) {
    const auto deadline = Clock::now() + timeout;
    wake.erase(std::remove(wake.begin(), wake.end(), nullptr), wake.end());
    for (;;) {
        PumpMessages();
        if (done()) return true;
        const auto now = Clock::now();
        if (now >= deadline) return false;
        const auto left = std::chrono::duration_cast<Ms>(deadline - now).count();
        const DWORD slice = static_cast<DWORD>(std::min<long long>(left + 1, kPollSliceMs));
        const DWORD count = static_cast<DWORD>(wake.size());
        const DWORD rc = MsgWaitForMultipleObjectsEx(count, wake.empty() ? nullptr : wake.data(), slice,
                                                     QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        // A signalled handle stays signalled: stop waiting on it so that the
        // loop does not spin. After a failed wait the slices are timed only.
        if (rc < WAIT_OBJECT_0 + count) wake.erase(wake.begin() + (rc - WAIT_OBJECT_0));
        if (rc == WAIT_FAILED) wake.clear();
    }
}

// ---- windows -----------------------------------------------------------------

std::wstring ClassOf(HWND hwnd) {
    wchar_t buffer[256] = {};
    const int n = GetClassNameW(hwnd, buffer, 256);
    return std::wstring(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

std::optional<std::wstring> TextOf(HWND hwnd) {
    if (!hwnd) return std::nullopt;
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, kTextTimeoutMs, &length))
        return std::nullopt;
    std::wstring text(length + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG | SMTO_BLOCK, kTextTimeoutMs, &got))
        return std::nullopt;
    text.resize(std::min<size_t>(got, length));
    return text;
}

std::vector<HWND> TopLevelWindows(DWORD pid, std::wstring_view className) {
    struct Query {
        DWORD pid;
        std::wstring_view className;
        std::vector<HWND> found;
    } query{pid, className, {}};
    EnumWindows(
        [](HWND hwnd, LPARAM param) -> BOOL {
            auto* q = reinterpret_cast<Query*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            if (owner == q->pid && (q->className.empty() || ClassOf(hwnd) == q->className))
                q->found.push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&query));
    return query.found;
}

bool Box::HasButton(int id) const { return std::find(buttons.begin(), buttons.end(), id) != buttons.end(); }

void PrintTo(const Box& box, std::ostream* os) {
    *os << "box " << HwndText(box.hwnd) << " " << Printable(box.caption) << ": " << Printable(box.text)
        << " buttons:";
    for (int id : box.buttons) *os << " " << ButtonName(id);
}

std::optional<Box> ReadBox(HWND hwnd) {
    HWND textControl = GetDlgItem(hwnd, kBoxTextId);
    if (!textControl || ClassOf(textControl) != L"Static") return std::nullopt;
    Box box;
    for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
        HWND button = GetDlgItem(hwnd, id);
        if (button && IsWindowVisible(button)) box.buttons.push_back(id);
    }
    if (box.buttons.empty()) return std::nullopt;
    const auto caption = TextOf(hwnd);
    const auto text = TextOf(textControl);
    if (!caption || !text) return std::nullopt;
    box.hwnd = hwnd;
    box.owner = GetWindow(hwnd, GW_OWNER);
    box.caption = *caption;
    box.text = *text;
    return box;
}

namespace {
std::string WindowText(HWND hwnd) {
    const auto text = TextOf(hwnd);
    return HwndText(hwnd) + " " + (text ? Printable(*text) : std::string("(text unreadable)"));
}
}  // namespace

// ---- event log -----------------------------------------------------------------

std::string Event::Describe(Clock::time_point origin) const {
    std::ostringstream os;
    os << "#" << seq;
    if (origin != Clock::time_point{})
        os << " +" << std::chrono::duration_cast<Ms>(at - origin).count() << "ms";
    os << " " << KindName(kind);
    switch (kind) {
        case EventKind::ProgressMessage:
        case EventKind::ProgressOther:
            os << " msg=" << Hex(message) << " wParam=" << Hex(wParam) << " lParam=" << Hex(static_cast<std::uintptr_t>(lParam))
               << (sent ? " (sent)" : " (posted)");
            break;
        case EventKind::BoxShown:
            os << " " << HwndText(hwnd) << " owner=" << HwndText(owner) << " " << Printable(caption) << ": "
               << Printable(text);
            break;
        case EventKind::FormShown:
            os << " " << HwndText(hwnd) << " owner=" << HwndText(owner) << " " << Printable(caption);
            break;
        case EventKind::Closed:
            os << " " << HwndText(hwnd) << " with " << ButtonName(button);
            break;
        case EventKind::Exited:
            os << " code " << exitCode << " (" << Hex(exitCode) << ")";
            break;
    }
    return os.str();
}

unsigned EventLog::Add(Event event) {
    std::lock_guard<std::mutex> lock(mutex_);
    event.seq = static_cast<unsigned>(events_.size() + 1);
    if (event.at == Clock::time_point{}) event.at = Clock::now();
    events_.push_back(std::move(event));
    return events_.back().seq;
}

std::vector<Event> EventLog::Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::vector<Event> EventLog::Events(EventKind kind) const {
    std::vector<Event> out;
    for (auto& e : Events())
        if (e.kind == kind) out.push_back(e);
    return out;
}

void EventLog::SetOrigin(Clock::time_point origin) {
    std::lock_guard<std::mutex> lock(mutex_);
    origin_ = origin;
}

std::string EventLog::Dump() const {
    Clock::time_point origin;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        origin = origin_;
    }
    std::string out;
    for (const auto& e : Events()) out += "    " + e.Describe(origin) + "\n";
    if (out.empty()) out = "    (nothing recorded)\n";
    return out;
}

namespace expect {
Expected Progress(HWND applicationWindow, LPARAM lParam) {
    Expected e{EventKind::ProgressMessage};
    e.wParam = reinterpret_cast<WPARAM>(applicationWindow);
    e.lParam = lParam;
    return e;
}
Expected Box(std::wstring caption, std::wstring text) {
    Expected e{EventKind::BoxShown};
    e.caption = std::move(caption);
    e.text = std::move(text);
    return e;
}
Expected BoxStartingWith(std::wstring caption, std::wstring prefix) {
    Expected e = Box(std::move(caption), std::move(prefix));
    e.textIsPrefix = true;
    return e;
}
Expected Form() { return Expected{EventKind::FormShown}; }
Expected Closed(int button) {
    Expected e{EventKind::Closed};
    e.button = button;
    return e;
}
Expected Exit(DWORD code) {
    Expected e{EventKind::Exited};
    e.exitCode = code;
    return e;
}
}  // namespace expect

namespace {
// "" when the event is as expected, else what differs.
std::string Mismatch(const Event& actual, const Expected& expected) {
    std::ostringstream os;
    if (actual.kind != expected.kind) {
        os << "expected a " << KindName(expected.kind) << ", got a " << KindName(actual.kind);
        return os.str();
    }
    if (expected.wParam && actual.wParam != *expected.wParam)
        os << " wParam " << Hex(actual.wParam) << ", expected " << Hex(*expected.wParam) << ";";
    if (expected.lParam && actual.lParam != *expected.lParam)
        os << " lParam " << Hex(static_cast<std::uintptr_t>(actual.lParam)) << ", expected "
           << Hex(static_cast<std::uintptr_t>(*expected.lParam)) << ";";
    if (expected.kind == EventKind::ProgressMessage && !actual.sent) os << " posted, expected sent;";
    if (expected.caption && actual.caption != *expected.caption)
        os << " caption " << Printable(actual.caption) << ", expected " << Printable(*expected.caption) << ";";
    if (expected.text) {
        const bool same = expected.textIsPrefix ? actual.text.substr(0, expected.text->size()) == *expected.text
                                                : actual.text == *expected.text;
        if (!same) {
            const auto diff = std::mismatch(actual.text.begin(), actual.text.end(), expected.text->begin(),
                                            expected.text->end());
            os << " text " << Printable(actual.text) << ", expected " << (expected.textIsPrefix ? "a text starting with " : "")
               << Printable(*expected.text) << " (first difference at character " << (diff.first - actual.text.begin()) + 1
               << ");";
        }
    }
    if (expected.owner && actual.owner != *expected.owner)
        os << " owner " << HwndText(actual.owner) << ", expected " << HwndText(*expected.owner) << ";";
    if (expected.button && actual.button != *expected.button)
        os << " button " << ButtonName(actual.button) << ", expected " << ButtonName(*expected.button) << ";";
    if (expected.exitCode && actual.exitCode != *expected.exitCode)
        os << " exit code " << actual.exitCode << " (" << Hex(actual.exitCode) << "), expected " << *expected.exitCode
           << ";";
    return os.str();
}
}  // namespace

::testing::AssertionResult MatchesSequence(const EventLog& log, const std::vector<Expected>& expected) {
    const std::vector<Event> actual = log.Events();
    std::ostringstream problems;
    const size_t common = std::min(actual.size(), expected.size());
    for (size_t i = 0; i < common; ++i) {
        const std::string m = Mismatch(actual[i], expected[i]);
        if (!m.empty()) {
            problems << "  entry " << i + 1 << ":" << m << "\n";
            break;
        }
    }
    if (actual.size() != expected.size())
        problems << "  " << actual.size() << " events recorded, " << expected.size() << " expected\n";
    if (problems.str().empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the run's sequence differs:\n"
                                         << problems.str() << "  recorded:\n"
                                         << log.Dump();
}

// ---- progress application ------------------------------------------------------

UINT ProgressApp::InactivateMessage() {
    static const UINT message = RegisterWindowMessageW(L"NV_INACTIVATE_PROGRESSAPP");
    return message;
}

ProgressApp::ProgressApp(EventLog& log, bool hung, std::wstring className)
    : window_(std::move(className), L"Norvena progress", hung, [&log](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
          Event e;
          e.kind = message == InactivateMessage() ? EventKind::ProgressMessage : EventKind::ProgressOther;
          e.hwnd = hwnd;
          e.message = message;
          e.wParam = wParam;
          e.lParam = lParam;
          e.sent = (InSendMessageEx(nullptr) & ISMEX_SEND) != 0;
          log.Add(std::move(e));
      }) {
    InactivateMessage();
}

// ---- registry ---------------------------------------------------------------------

std::wstring AppKeyFor(std::wstring_view appPath) {
    std::wstring key(appPath);
    if (!key.empty() && key.back() == L'\\') key.pop_back();
    std::wstring out;
    for (wchar_t c : key) {
        if (c == L' ' || c == L'\\')
            out += L'_';
        else if (c != L':')
            out += c;
    }
    return out + L"\\";
}

namespace {
const HKEY kRoots[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
constexpr REGSAM kViews[] = {reg::kView32, reg::kView64};
const std::wstring kNorvena = L"SOFTWARE\\Norvena";
}  // namespace

namespace {
// The key-name form of a text: blanks as "_", upper case.
std::wstring KeyForm(std::wstring text) {
    for (wchar_t& c : text)
        if (c == L' ') c = L'_';
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}
}  // namespace

RegistrySandbox::RegistrySandbox(std::wstring appKey, std::wstring folderName)
    : appKey_(std::move(appKey)), folderName_(KeyForm(std::move(folderName))) {
    active_ = !folderName_.empty() && appKey_.size() > 1;
    if (!active_) return;
    for (int r = 0; r < 2; ++r)
        for (int v = 0; v < 2; ++v) {
            norvenaBefore_[r][v] = reg::KeyExists(kRoots[r], kNorvena, kViews[v]);
            keysBefore_[r][v] = reg::SubKeyNames(kRoots[r], kNorvena, kViews[v]);
        }
    errorKeyBefore_ = reg::KeyExists(HKEY_CURRENT_USER, kMachineWriteErrorKey);
}

std::wstring RegistrySandbox::KeyPath(std::wstring_view section) const {
    std::wstring path = kSettingsRoot + appKey_ + std::wstring(section);
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

RegistrySandbox::~RegistrySandbox() {
    if (!active_) return;
    const std::wstring own = KeyPath();
    for (int r = 0; r < 2; ++r)
        for (int v = 0; v < 2; ++v) {
            if (!reg::DeleteTree(kRoots[r], own, kViews[v]))
                ADD_FAILURE() << "could not remove " << reg::RootName(kRoots[r]) << "\\" << Utf8(own);
            const auto& before = keysBefore_[r][v];
            for (const auto& name : reg::SubKeyNames(kRoots[r], kNorvena, kViews[v])) {
                const std::wstring form = KeyForm(name);
                const bool sameFolder = form.size() >= folderName_.size() &&
                                        form.compare(form.size() - folderName_.size(), folderName_.size(), folderName_) == 0;
                if (sameFolder && std::find(before.begin(), before.end(), name) == before.end())
                    reg::DeleteTree(kRoots[r], kNorvena + L"\\" + name, kViews[v]);
            }
        }
    if (!errorKeyBefore_ && reg::KeyExists(HKEY_CURRENT_USER, kMachineWriteErrorKey))
        reg::DeleteTree(HKEY_CURRENT_USER, kMachineWriteErrorKey);
    // The parent only when this run created it and nothing else lives there.
    for (int r = 0; r < 2; ++r)
        for (int v = 0; v < 2; ++v)
            if (!norvenaBefore_[r][v] && reg::SubKeyNames(kRoots[r], kNorvena, kViews[v]).empty())
                RegDeleteKeyExW(kRoots[r], kNorvena.c_str(), kViews[v], 0);
}

// ---- the program --------------------------------------------------------------------

std::wstring TolmarExePath() {
    wchar_t configured[32768] = {};
    if (GetEnvironmentVariableW(L"TOLMAR_EXE", configured, 32768) > 0) return configured;
    wchar_t self[32768] = {};
    GetModuleFileNameW(nullptr, self, 32768);
    std::wstring folder(self);
    folder.erase(folder.find_last_of(L"\\/") + 1);
    const std::wstring relative = folder + L"..\\..\\tolmar07.exe";
    wchar_t full[32768] = {};
    return GetFullPathNameW(relative.c_str(), 32768, full, nullptr) ? full : relative;
}

std::wstring QuoteArgument(std::wstring_view argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring_view::npos)
        return std::wstring(argument);
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

Process::~Process() {
    if (Running()) Kill();
}

std::string Process::Start(const std::wstring& exe, const std::vector<std::wstring>& args, const std::wstring& workDir) {
    if (GetFileAttributesW(exe.c_str()) == INVALID_FILE_ATTRIBUTES)
        return "the program " + Utf8(exe) + " does not exist (build tolmar07 or set TOLMAR_EXE)";
    std::wstring commandLine = QuoteArgument(exe);
    for (const auto& a : args) commandLine += L" " + QuoteArgument(a);
    // The job ends the program with this test process if it dies.
    job_.reset(CreateJobObjectW(nullptr, nullptr));
    if (job_) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        workDir.c_str(), &startup, &info))
        return "CreateProcessW failed with error " + std::to_string(GetLastError()) + " for " + Utf8(commandLine);
    process_.reset(info.hProcess);
    const tolmar::win::UniqueKernelHandle thread(info.hThread);
    if (job_) AssignProcessToJobObject(job_.get(), process_.get());
    ResumeThread(thread.get());
    pid_ = info.dwProcessId;
    return {};
}

bool Process::Running() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

std::optional<DWORD> Process::ExitCode() const {
    if (!process_ || Running()) return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(process_.get(), &code)) return std::nullopt;
    return code;
}

bool Process::Kill() {
    if (!Running()) return true;
    TerminateProcess(process_.get(), 0xDEAD);
    return WaitForSingleObject(process_.get(), 10000) == WAIT_OBJECT_0;
}

// ---- one run ----------------------------------------------------------------------------

ProgramRun::ProgramRun(RunOptions options) : options_(std::move(options)), folder_(options_.folderPrefix) {
    const std::wstring& path = folder_.path();
    registry_ = std::make_unique<RegistrySandbox>(AppKey(), path.substr(path.find_last_of(L'\\') + 1));
    if (options_.progress != ProgressMode::None) {
        progress_ = std::make_unique<ProgressApp>(log_, options_.progress == ProgressMode::Hung);
        if (!progress_->ok()) ADD_FAILURE() << "the fake progress window could not be made";
    }
}

ProgramRun::~ProgramRun() {
    if (process_.Running()) {
        std::string open;
        for (HWND hwnd : OpenDialogs()) {
            const auto box = ReadBox(hwnd);
            open += "\n    " + (box ? ::testing::PrintToString(*box)
                                   : "form " + WindowText(hwnd));
        }
        const bool killed = process_.Kill();
        ADD_FAILURE() << "tolmar07 (pid " << process_.pid() << ") was still running at the end of the test; "
                      << (killed ? "killed" : "could not be killed") << ". Open dialogs:" << (open.empty() ? " none" : open)
                      << "\n  recorded:\n" << log_.Dump();
    }
}

::testing::AssertionResult ProgramRun::Start(std::optional<std::wstring> workDir) {
    if (folder_.path().empty()) return ::testing::AssertionFailure() << "no working folder";
    started_ = Clock::now();
    log_.SetOrigin(started_);
    const std::string failure = process_.Start(TolmarExePath(), options_.args, workDir.value_or(folder_.path()));
    if (!failure.empty()) return ::testing::AssertionFailure() << failure;
    return ::testing::AssertionSuccess();
}

std::vector<HWND> ProgramRun::OpenDialogs() const {
    std::vector<HWND> dialogs;
    if (!process_.pid()) return dialogs;
    for (HWND hwnd : TopLevelWindows(process_.pid(), L"#32770"))
        if (IsWindowVisible(hwnd)) dialogs.push_back(hwnd);
    return dialogs;
}

std::optional<HWND> ProgramRun::NewDialog(bool messageBox) {
    for (HWND hwnd : OpenDialogs()) {
        if (std::find(seenDialogs_.begin(), seenDialogs_.end(), hwnd) != seenDialogs_.end()) continue;
        if (ReadBox(hwnd).has_value() == messageBox) return hwnd;
    }
    return std::nullopt;
}

std::optional<Box> ProgramRun::WaitForBox(Ms timeout) {
    std::optional<Box> found;
    auto newBox = [&] {
        if (const auto hwnd = NewDialog(true)) found = ReadBox(*hwnd);
        return found.has_value();
    };
    WaitUntil([&] { return newBox() || !process_.Running(); }, timeout, {process_.handle()});
    if (!found) return std::nullopt;
    found->seen = Clock::now();
    seenDialogs_.push_back(found->hwnd);
    ApplicationWindow();
    Event e;
    e.kind = EventKind::BoxShown;
    e.at = found->seen;
    e.hwnd = found->hwnd;
    e.owner = found->owner;
    e.caption = found->caption;
    e.text = found->text;
    log_.Add(std::move(e));
    return found;
}

std::optional<Form> ProgramRun::WaitForForm(Ms timeout) {
    std::optional<HWND> found;
    std::optional<std::wstring> caption;
    auto newForm = [&] {
        found = NewDialog(false);
        if (found) caption = TextOf(*found);
        return caption.has_value();
    };
    WaitUntil([&] { return newForm() || !process_.Running(); }, timeout, {process_.handle()});
    if (!found || !caption) return std::nullopt;
    Form form;
    form.hwnd = *found;
    form.owner = GetWindow(*found, GW_OWNER);
    form.caption = *caption;
    form.seen = Clock::now();
    seenDialogs_.push_back(form.hwnd);
    ApplicationWindow();
    Event e;
    e.kind = EventKind::FormShown;
    e.at = form.seen;
    e.hwnd = form.hwnd;
    e.owner = form.owner;
    e.caption = form.caption;
    log_.Add(std::move(e));
    return form;
}

::testing::AssertionResult ProgramRun::Press(HWND dialog, int button, Ms timeout) {
    HWND control = GetDlgItem(dialog, button);
    if (!control)
        return ::testing::AssertionFailure() << "the window " << WindowText(dialog) << " has no " << ButtonName(button);
    if (!PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(control)))
        return ::testing::AssertionFailure() << "WM_COMMAND could not be posted (error " << GetLastError() << ")";
    if (!WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, timeout, {process_.handle()}))
        return ::testing::AssertionFailure() << "the window " << HwndText(dialog) << " did not close within "
                                             << timeout.count() << " ms after " << ButtonName(button);
    Event e;
    e.kind = EventKind::Closed;
    e.hwnd = dialog;
    e.button = button;
    log_.Add(std::move(e));
    return ::testing::AssertionSuccess();
}

std::optional<DWORD> ProgramRun::WaitForExit(Ms timeout) {
    WaitUntil([&] { return !process_.Running(); }, timeout, {process_.handle()});
    const auto code = process_.ExitCode();
    if (code && !exitLogged_) {
        exitLogged_ = true;
        Event e;
        e.kind = EventKind::Exited;
        e.exitCode = *code;
        log_.Add(std::move(e));
    }
    return code;
}

Outcome ProgramRun::Finish(int button, Ms timeout, const std::function<void(const Box&)>& whileOpen) {
    Outcome outcome;
    const auto deadline = Clock::now() + timeout;
    auto left = [&] { return std::max(Ms(0), std::chrono::duration_cast<Ms>(deadline - Clock::now())); };
    while (process_.Running() && left() > Ms(0)) {
        auto box = WaitForBox(left());
        if (!box) break;
        outcome.boxes.push_back(*box);
        if (whileOpen) whileOpen(*box);
        if (!Answer(*box, button, std::min(left(), kCloseTimeout))) break;
    }
    outcome.exitCode = WaitForExit(left());
    return outcome;
}

Outcome ProgramRun::DismissUntilExit(Ms timeout) {
    Outcome outcome;
    const auto deadline = Clock::now() + timeout;
    auto left = [&] { return std::max(Ms(0), std::chrono::duration_cast<Ms>(deadline - Clock::now())); };
    while (process_.Running() && left() > Ms(0)) {
        std::optional<HWND> box, form;
        WaitUntil([&] { return (box = NewDialog(true)) || (form = NewDialog(false)) || !process_.Running(); }, left(),
                  {process_.handle()});
        if (box) {
            const auto shown = WaitForBox(Ms(0));
            if (!shown) break;
            outcome.boxes.push_back(*shown);
            const int button = shown->HasButton(IDOK) ? IDOK : shown->HasButton(IDNO) ? IDNO : IDCANCEL;
            if (!Answer(*shown, button, std::min(left(), kCloseTimeout))) break;
        } else if (form) {
            const auto shown = WaitForForm(Ms(0));
            if (!shown) break;
            outcome.forms.push_back(*shown);
            if (!Press(shown->hwnd, IDCANCEL, std::min(left(), kCloseTimeout))) break;
        } else {
            break;
        }
    }
    outcome.exitCode = WaitForExit(left());
    return outcome;
}

HWND ProgramRun::ApplicationWindow() {
    if (process_.Running()) {
        const auto windows = TopLevelWindows(process_.pid(), L"TolmarApplication");
        if (!windows.empty()) applicationWindow_ = windows.front();
    }
    return applicationWindow_;
}

HWND ProgramRun::MainWindow() const {
    const auto windows = process_.pid() ? TopLevelWindows(process_.pid(), L"TTolmarForm") : std::vector<HWND>{};
    return windows.empty() ? nullptr : windows.front();
}

// ---- files the program reads ---------------------------------------------------

std::string RegisterIni::Text() const {
    std::string text = "[PopulationManager]\r\n";
    if (logId) text += "LOG_ID=" + *logId + "\r\n";
    if (logPwd) text += "LOG_PWD=" + *logPwd + "\r\n";
    text += "LOG_ADDR=" + (logAddr ? *logAddr : Utf8(RegisterSim::Endpoint())) + "\r\n";
    if (flagOtherArchve) text += "FlagOtherArchve=" + *flagOtherArchve + "\r\n";
    return text;
}

// ---- Wine ---------------------------------------------------------------------------

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

namespace {

// Under Wine on a bare X server (Xvfb, no window manager), hiding a managed
// window waits two seconds for a window manager that never answers, twice
// per run of the program. While the tests run, the program's windows are
// therefore left unmanaged (an application default of Wine's X11 driver);
// the setting is put back as it was afterwards.
class UnmanagedWindowsUnderWine : public ::testing::Environment {
public:
    void SetUp() override {
        if (!RunningUnderWine()) return;
        std::wstring exe = TolmarExePath();
        exe.erase(0, exe.find_last_of(L"\\/") + 1);
        const std::wstring appDefaults = L"Software\\Wine\\AppDefaults";
        keys_ = {appDefaults + L"\\" + exe + L"\\X11 Driver", appDefaults + L"\\" + exe, appDefaults};
        for (const auto& key : keys_) keyExisted_.push_back(reg::KeyExists(HKEY_CURRENT_USER, key, 0));
        previous_ = reg::Read(HKEY_CURRENT_USER, keys_[0], kValue, 0);
        active_ = reg::WriteString(HKEY_CURRENT_USER, keys_[0], kValue, L"N", 0);
        if (!active_) std::fprintf(stderr, "note: Wine's Managed=N for the program could not be set; runs are slower\n");
    }
    void TearDown() override {
        if (!active_) return;
        if (previous_) {
            reg::WriteString(HKEY_CURRENT_USER, keys_[0], kValue, previous_->text, 0);
            return;
        }
        tolmar::win::UniqueHkey key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, keys_[0].c_str(), 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS)
            RegDeleteValueW(key.get(), kValue);
        // Keys this run created, innermost first; a key with anything left in it stays.
        for (size_t i = 0; i < keys_.size(); ++i)
            if (!keyExisted_[i]) RegDeleteKeyExW(HKEY_CURRENT_USER, keys_[i].c_str(), 0, 0);
    }

private:
    static constexpr const wchar_t* kValue = L"Managed";
    std::vector<std::wstring> keys_;
    std::vector<bool> keyExisted_;
    std::optional<reg::Value> previous_;
    bool active_ = false;
};

::testing::Environment* const g_unmanagedWindows = ::testing::AddGlobalTestEnvironment(new UnmanagedWindowsUnderWine);

}  // namespace

}  // namespace e2e
