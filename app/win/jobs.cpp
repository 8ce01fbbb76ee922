#include "app/win/jobs.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <sddl.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>

#include "tolmar_version.h"

#include "app/notification.h"
#include "app/run_event.h"
#include "app/run_record.h"
#include "app/run_report.h"
#include "app/undo.h"
#include "app/update_run.h"
#include "app/win/db/odbc_patient_database.h"
#include "app/win/errors_file.h"
#include "app/win/event_log.h"
#include "app/win/journal_file.h"
#include "app/win/run_folder.h"
#include "app/win/host_notification.h"
#include "app/win/main_form.h"
#include "app/win/session.h"
#include "app/win/test_form.h"
#include "register/endpoint_text.h"
#include "register/person_record.h"
#include "register/soap_request.h"
#include "register/win/http_transport.h"
#include "register/win/person_lookup.h"
#include "register/win/register_session.h"
#include "tools/environment.h"
#include "tools/error.h"
#include "tools/db/database_identity.h"
#include "tools/settings.h"
#include "tools/win/db/connect_database_win.h"
#include "tools/win/files.h"
#include "tools/win/registry.h"
#include "tools/win/messages_win.h"
#include "tools/win/system_text.h"
#include "tools/win/unique.h"

namespace tolmar::win {

int LookUpPersonForHost(Session& session, TolmarForm& form, const std::wstring& number) {
    PersonRecord person;
    person.PersonalNumber = number;
    std::int32_t returnCode = ReturnCode::Failure;
    std::wstring errms;
    LookUpPerson(session.lookups, person, returnCode, errms);
    if (returnCode == ReturnCode::NotFound) {
        session.messages.ShowInfo(NotFoundText(number));
        return 1;
    }
    if (returnCode != ReturnCode::Found) {
        session.messages.ShowInfo(LookupFailedText(returnCode, errms));
        return 2;
    }
    form.SetCaption(L"Uppdaterar...");
    const UINT message = RegisterWindowMessageW(std::wstring(kUpdateActivePatientMessage).c_str());
    if (message == 0) {
        session.messages.ShowInfo(kNoRegisteredMessageText);
        return 2;
    }
    return NotifyHostApplication(session.messages, session.journalHost, 3, static_cast<WORD>(message), 0,
                                 NotificationRecord(number, person))
               ? 0
               : 2;
}

void RunTestMode(Session& session) { ShowTestForm(session.messages, session.lookups); }

namespace {

// The main window as the update run uses it. The caption, the counts and
// the progress bar follow the run, but are painted at most every
// kRepaintIntervalMs (and once more at the end): painting them for every
// patient, or even ten times a second, cost more than a fast register's
// lookups.
class WindowRunView final : public UpdateRunView {
public:
    WindowRunView(TolmarForm& form, std::function<void()> rowDone) : form_(form), rowDone_(std::move(rowDone)) {}
    ~WindowRunView() override { Show(); }
    WindowRunView(const WindowRunView&) = delete;
    WindowRunView& operator=(const WindowRunView&) = delete;

    void ClearLines() override { form_.ClearProgressList(); }
    void AddLine(std::wstring_view line) override { form_.AddProgressLine(line); }
    void SetCaption(std::wstring_view caption) override {
        caption_ = caption;
        ShowWhenDue();
    }
    void StartProgress(size_t maximum) override {
        position_ = 0;
        SendMessageW(form_.ProgressBar(), PBM_SETRANGE32, 0, static_cast<LPARAM>(maximum));
        SendMessageW(form_.ProgressBar(), PBM_SETPOS, 0, 0);
    }
    void StepProgress() override {
        ++position_;
        rowDone_();
        ShowWhenDue();
    }
    void SetCounts(std::wstring_view text) override {
        counts_ = text;
        ShowWhenDue();
    }
    // The queue is emptied at most every kPumpIntervalMs: looking into an
    // empty one for every patient cost more than the patient's own work, and
    // the window answers as promptly at this pace.
    void ProcessPendingMessages() override {
        const ULONGLONG now = GetTickCount64();
        if (pumped_ && now - pumped_ < kPumpIntervalMs) return;
        pumped_ = now;
        win::ProcessPendingMessages();
    }
    // The cursor is set only when the hourglass comes or goes.
    void SetHourglass(bool on) override {
        if (hourglass_ == on) return;
        hourglass_ = on;
        SetCursor(LoadCursorW(nullptr, on ? IDC_WAIT : IDC_ARROW));
    }

private:
    static constexpr ULONGLONG kRepaintIntervalMs = 500;
    static constexpr ULONGLONG kPumpIntervalMs = 20;

    void ShowWhenDue() {
        const ULONGLONG now = GetTickCount64();
        if (shown_ && now - shown_ < kRepaintIntervalMs) return;
        shown_ = now;
        Show();
    }
    void Show() {
        if (!caption_.empty()) form_.SetCaption(caption_);
        if (!counts_.empty()) form_.SetStatusText(counts_);
        SendMessageW(form_.ProgressBar(), PBM_SETPOS, static_cast<WPARAM>(position_), 0);
    }

    TolmarForm& form_;
    std::function<void()> rowDone_;
    std::wstring caption_, counts_;
    size_t position_ = 0;
    ULONGLONG shown_ = 0, pumped_ = 0;  // GetTickCount64() values; 0: never
    std::optional<bool> hourglass_;     // unknown until first set
};

std::chrono::milliseconds MillisecondsSince(std::chrono::steady_clock::time_point started) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
}

// The lookups of one worker thread: its own COM apartment (multithreaded:
// the thread has no window to pump) and its own XML documents, released
// before the apartment ends; the rest of the session is shared.
class RegisterLookupWorker final : public LookupWorker {
public:
    RegisterLookupWorker(RegisterSession& session, RunReportRecorder& report) : session_(session), report_(report) {}
    LookupAttempt Attempt(const std::wstring& personalNumber) override {
        const auto started = std::chrono::steady_clock::now();
        LookupAttempt attempt = AttemptLookup(session_, documents_, personalNumber);
        report_.LookupTook(MillisecondsSince(started));
        return attempt;
    }

private:
    RegisterSession& session_;
    RunReportRecorder& report_;
    // The apartment first: the documents end before it does.
    ScopedComInit com_{COINIT_MULTITHREADED, L"COM kunde inte startas för uppslagningarna i registret"};
    LookupDocuments documents_;
};

class RegisterLookup final : public PersonLookup, public ConcurrentLookup {
public:
    RegisterLookup(RegisterSession& session, RunReportRecorder& report) : session_(session), report_(report) {}
    LookupAttempt Attempt(const std::wstring& personalNumber) override {
        const auto started = std::chrono::steady_clock::now();
        LookupAttempt attempt = AttemptLookup(session_, session_.documents(), personalNumber);
        report_.LookupTook(MillisecondsSince(started));
        return attempt;
    }
    std::unique_ptr<LookupWorker> NewWorker() override {
        return std::make_unique<RegisterLookupWorker>(session_, report_);
    }
    void Finish(LookupAttempt& attempt, PersonRecord& person, std::int32_t& returnCode, std::wstring& errms) override {
        FinishLookup(session_, attempt, person, returnCode, errms);
    }

private:
    RegisterSession& session_;
    RunReportRecorder& report_;
};

// The run's thread waits for the lookups ahead with its window answering:
// woken by an attempt that is ready or by a message for the window.
class MessageWaiter final : public Waiter {
public:
    MessageWaiter() : ready_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
        ThrowLastErrorCodeIf(!ready_, L"Det gick inte att skapa en händelse");
    }
    void Notify() override { SetEvent(ready_.get()); }
    void Wait() override {
        const HANDLE ready = ready_.get();
        if (MsgWaitForMultipleObjectsEx(1, &ready, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0 + 1)
            win::ProcessPendingMessages();
    }

private:
    UniqueKernelHandle ready_;
};

// The register's outages on the steady clock; the run's own thread waits
// with its window answering.
class WindowOutageClock final : public SteadyOutageClock {
public:
    using SteadyOutageClock::WaitUntil;
    void WaitUntil(TimePoint until) override {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Now()).count();
        if (left <= 0) return;
        const auto wait = static_cast<DWORD>(std::min<long long>(left, 60'000));
        if (MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0)
            win::ProcessPendingMessages();
    }
};

// One update run at a time for a database: a named mutex that the run
// holds until it ends (the system frees it with the process, also when the
// process is killed). It is named after the database's identity (what the
// connection string reaches, not how it is spelt: tools/db/database_identity.h),
// hashed, so the name holds no path or password. It lives in the global
// namespace, so that the runs of every session and account meet there, with
// an access list that lets every authenticated user open and wait on it
// (whoever created it). A mutex that can be neither created nor opened
// refuses the run: it never runs beside another on a lock of its own.
class DatabaseClaim {
public:
    bool Claim(const std::wstring& connectionString) {
        const std::wstring identity =
            db::DatabaseIdentity(connectionString, [](std::wstring_view path) { return FinalPathOf(path); });
        const std::wstring name = L"Global\\tolmar07.UPDATE_ALL." + db::IdentityHash(identity);
        // SYSTEM and Administrators: all; authenticated users: open, wait and release.
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ThrowLastErrorCodeIf(
            !ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;AU)",
                                                                  SDDL_REVISION_1, &descriptor, nullptr),
            kClaimFailed, kNothingChanged);
        const UniqueLocalMem ownedDescriptor(descriptor);
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
        SetLastError(ERROR_SUCCESS);
        mutex_.reset(
            CreateMutexExW(&attributes, name.c_str(), CREATE_MUTEX_INITIAL_OWNER, SYNCHRONIZE | MUTEX_MODIFY_STATE));
        ThrowLastErrorCodeIf(!mutex_, kClaimFailed, kNothingChanged);
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            mutex_.reset();
            return false;
        }
        return true;
    }

private:
    static constexpr std::wstring_view kClaimFailed =
        L"Det gick inte att skapa eller öppna spärren mot samtidiga uppdateringar av databasen";
    static constexpr std::wstring_view kNothingChanged = L". Inget har ändrats.";

    UniqueKernelHandle mutex_;
};

}  // namespace

namespace {

// Local date and time of a save, as the journal shows it.
std::wstring LocalTimeText() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return text;
}

// The options as the run was started with them.
std::vector<std::wstring> OptionTexts(const StartOptions& o) {
    std::vector<std::wstring> texts;
    if (o.preview) texts.emplace_back(L"/preview");
    if (o.undoFile) texts.push_back(L"/undo:" + *o.undoFile);
    if (o.unattended) texts.emplace_back(L"/unattended");
    if (o.parallel) texts.push_back(L"/parallel:" + std::to_wstring(*o.parallel));
    if (o.ratePerSecond) texts.push_back(L"/rate:" + std::to_wstring(*o.ratePerSecond));
    if (o.outageMinutes) texts.push_back(L"/outage:" + std::to_wstring(*o.outageMinutes));
    return texts;
}

std::wstring ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? std::wstring(name, size) : L"(okänd)";
}

std::wstring AccountName() {
    wchar_t name[257] = {};
    DWORD size = 257;
    return GetUserNameW(name, &size) && size > 0 ? std::wstring(name, size - 1) : L"(okänt)";
}

// One start's record: its folder, its log (a line as it comes) and its
// summary (at the start, "running", and at the end). A record that cannot
// be made is one line of the run (so of the errors file), and the run goes on.
class RunRecord {
public:
    // `job`: the start as the log's first line and the start event name it.
    RunRecord(Session& session, const StartOptions& options, const std::wstring& job, RunLines& lines)
        : lines_(lines) {
        summary_.version = TOLMAR_VERSION_WTEXT;
        summary_.mode = options.preview ? RunKind::Preview : options.undoFile ? RunKind::Undo : RunKind::Run;
        summary_.options = OptionTexts(options);
        summary_.started = LocalTimeNow();
        const std::vector<std::wstring> before = lines.Lines();  // what the boxes said before the run
        try {
            const std::wstring runs = EnsureRunsFolder(session.environment.appPath);
            folder_ = CreateRunFolder(runs, summary_.started);
            log_.emplace(folder_ + std::wstring(kRunLogFile));
            WriteSummary();
            Log(L"Tolmar07 version " + summary_.version + L", " + job);
            Log(L"Dator " + ComputerName() + L", konto " + AccountName());
            if (summary_.mode != RunKind::Undo) LogRegister(session);
            for (const std::wstring& line : before) Log(line);
            Retention(session, runs);
        } catch (const std::exception& e) {
            log_.reset();
            failure_ = L"Körningens logg kunde inte skrivas: " + MessageOf(e);
        }
        lines_.SetObserver([this](std::wstring_view line) { Log(line); });
    }
    ~RunRecord() { lines_.SetObserver({}); }
    RunRecord(const RunRecord&) = delete;
    RunRecord& operator=(const RunRecord&) = delete;

    void Log(std::wstring_view line) {
        if (log_ && !log_->Write(LocalTimeNow(), line)) {
            log_.reset();  // a full disk: no half lines after it
            failure_ = L"Körningens logg kunde inte skrivas till slut.";
        }
    }
    // The database's identity line, with the settings the program added to
    // the connection string (never a password: only its own settings).
    void SetDatabase(std::wstring identity, const std::vector<std::wstring>& added) {
        std::wstring line = L"Databas: " + identity;
        for (size_t i = 0; i < added.size(); ++i) line += (i ? L", " : L"; tillagt i anslutningen: ") + added[i];
        Log(line);
        summary_.database = std::move(identity);
    }
    void SetJournal(std::wstring name) { summary_.journal = std::move(name); }
    // What the run's report collects, and its hook for a row done.
    RunReportRecorder& Report() { return report_; }
    void RowDone() { report_.RowDone(MillisecondsSince(started_)); }
    // The run's folder (ending in "\\"); "" when it could not be made.
    const std::wstring& Folder() const { return folder_; }
    // Why the record could not be kept ("" when it is): a line of the run.
    const std::wstring& Failure() const { return failure_; }
    void Finish(const RunOutcome& outcome, int exitCode) {
        lines_.SetObserver({});
        summary_.counts = outcome.counts;
        for (const auto& outage : outcome.counts.outages) {
            auto& span = summary_.outages.emplace_back();
            span.from = LocalTimeAt(outage.from);
            if (outage.to) span.to = LocalTimeAt(*outage.to);
        }
        if (!outcome.reason.empty()) summary_.reason = outcome.reason;
        summary_.ended = LocalTimeNow();
        summary_.exitCode = exitCode;
        Log(RunCountsText(outcome.counts, summary_.mode == RunKind::Undo));
        Log(L"Slut, slutkod " + std::to_wstring(exitCode));
        if (!log_) return;
        try {
            WriteSummary();
        } catch (const std::exception& e) {
            Log(MessageOf(e));
            if (failure_.empty()) failure_ = L"Körningens sammanfattning kunde inte skrivas: " + MessageOf(e);
        }
        try {
            WriteReportFile(folder_, RunReportHtml(report_.Report(summary_)));
        } catch (const std::exception& e) {
            Log(MessageOf(e));
            if (failure_.empty()) failure_ = L"Körningens rapport kunde inte skrivas: " + MessageOf(e);
        }
    }
    bool Undo() const { return summary_.mode == RunKind::Undo; }

private:
    void WriteSummary() { WriteSummaryFile(folder_, SummaryJson(summary_)); }

    // The register's address, a password in it masked.
    void LogRegister(Session& session) {
        try {
            const std::wstring address =
                session.lookups.settings().Current(session.environment.appPath + L"tolmar.ini").logAddr;
            Log(L"Registret: " + MaskedEndpoint(address.empty() ? std::wstring(kDefaultEndpoint) : address));
        } catch (const std::exception& e) {
            Log(L"Registret: " + MessageOf(e));
        }
    }

    void Retention(Session& session, const std::wstring& runs) {
        WindowsRegistry registry;
        const Settings settings(registry, session.environment.appKey);
        const std::wstring stored = settings.Read(kTolmarSection, kKeepRunsDaysKey);
        const KeepRunsDays keep = ParseKeepRunsDays(stored);
        if (keep.malformed)
            Log(L"Inställningen " + std::wstring(kKeepRunsDaysKey) + L" (\"" + stored.substr(0, 40) +
                L"\") är inget antal dagar; körningsmapparna sparas " + std::to_wstring(keep.days) + L" dagar.");
        for (const std::wstring& line : RemoveExpiredRunFolders(runs, summary_.started, keep.days)) Log(line);
    }

    RunLines& lines_;
    RunSummary summary_;
    const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    RunReportRecorder report_;
    std::wstring folder_;
    std::optional<RunLogFile> log_;
    std::wstring failure_;
};

// A path as the user gave it: absolute, or relative to the working folder.
std::wstring InWorkingFolder(const std::wstring& appPath, const std::wstring& path) {
    const bool absolute = path.size() > 1 && (path[1] == L':' || (path[0] == L'\\' && path[1] == L'\\'));
    return absolute ? path : appPath + path;
}

}  // namespace

namespace {

RunOutcome RunAndRecord(Session& session, TolmarForm& form, const StartOptions& options, RunRecord& record) {
    const Environment& env = session.environment;
    WindowRunView view(form, [&record] { record.RowDone(); });
    OdbcPatientDatabase database;
    RegisterLookup lookup(session.lookups, record.Report());
    WindowsRegistry registry;
    Settings settings(registry, env.appKey);
    DatabaseClaim claim;
    // An undo of a run folder's journal: the database that run changed.
    std::optional<std::wstring> undoDatabase;
    UpdateRunContext context{view,
                             database,
                             lookup,
                             settings,
                             [&session]() -> std::optional<PreparedConnection> {
                                 if (!ConnectDatabase(session.Database(), session.messages, L"", L""))
                                     return std::nullopt;
                                 const TDBConnection& login = session.login;
                                 return PreparedConnection{session.environment.providerPart, login.ServerName,
                                                           login.Databasename, login.Username};
                             },
                             [](const std::wstring& oleDb) { return OdbcConnectionString(oleDb); },
                             [&claim, &record, &undoDatabase, &database](const std::wstring& connectionString) {
                                 const std::wstring identity = db::DatabaseIdentity(
                                     connectionString, [](std::wstring_view path) { return FinalPathOf(path); });
                                 record.SetDatabase(identity, database.Additions().settings);
                                 if (undoDatabase && *undoDatabase != identity)
                                     throw Error(UndoOfAnotherDatabaseText(*undoDatabase, identity));
                                 return claim.Claim(connectionString);
                             }};
    context.report = &record.Report();
    context.mode = options.preview ? RunMode::Preview : options.undoFile ? RunMode::Undo : RunMode::Update;
    // The run's own journal in its folder: a run without a folder saves nothing.
    FileJournal journal(record.Folder(), options.preview ? kRunPreviewFile : kRunJournalFile);
    context.journal = &journal;
    if (options.undoFile) {
        const std::wstring undoPath = InWorkingFolder(env.appPath, *options.undoFile);
        context.openUndoJournal = [undoPath, &undoDatabase] {
            const UndoJournalFile located = LocateUndoJournal(undoPath);
            undoDatabase = located.database;
            return OpenJournalSource(located.path);
        };
    }
    context.now = LocalTimeText;

    // Lookups ahead on worker threads, when asked for; the register's
    // outages waited out, in turn or ahead, until /outage minutes of them.
    std::optional<MessageWaiter> waiter;
    WindowOutageClock clock;
    context.clock = &clock;
    context.scheduling.workers = options.parallel.value_or(1);
    context.scheduling.ratePerSecond = options.ratePerSecond.value_or(0);
    context.scheduling.outage.stopAfter = std::chrono::minutes(options.outageMinutes.value_or(kDefaultOutageMinutes));
    if (context.scheduling.workers > 1 || context.scheduling.ratePerSecond > 0) {
        waiter.emplace();
        context.waiter = &*waiter;
        context.concurrentLookup = &lookup;
        // Only slower, not wrong, when WinINet does not take it.
        AllowConnectionsPerServer(context.scheduling.workers);
    }
    // The summary names the journal once it is there, however the run ends.
    const auto nameJournal = [&] {
        if (journal.Created()) record.SetJournal(journal.Name());
    };
    try {
        const RunOutcome outcome = RunUpdateAll(context);
        nameJournal();
        return outcome;
    } catch (...) {
        nameJournal();
        throw;
    }
}

}  // namespace

namespace {

// The start as the record and the start event name it.
std::wstring RunJobText(const StartOptions& options) {
    std::wstring job(kUpdateAllParameter);
    for (const std::wstring& o : OptionTexts(options)) job += L" " + o;
    return job;
}

// The start parameters as given, for the line of a refused start: each and
// all of them bounded, since anyone who can start the program chooses them.
std::wstring GivenParametersText() {
    constexpr size_t kLongestParameter = 200, kMostParameters = 20;
    std::vector<std::wstring> given;
    try {
        given = StartParameters();
    } catch (const std::exception& e) {
        return MessageOf(e);
    }
    std::wstring text;
    for (size_t i = 0; i < given.size() && i < kMostParameters; ++i) {
        std::wstring p = given[i].substr(0, kLongestParameter);
        for (wchar_t& c : p)
            if (c < L' ') c = L' ';
        text += (i ? L" " : L"") + p + (given[i].size() > kLongestParameter ? L"..." : L"");
    }
    if (given.size() > kMostParameters) text += L" ...";
    return text.empty() ? L"(inga)" : text;
}

// The end of an unattended start: the working folder's "*.err" files go
// while the run's record is still open, so that a failure to remove one is
// a line of the run, not a box at the program's exit (TolmarForm::OnExit).
void CleanUpUnattended(Session& session) {
    try {
        DeleteFilesByMask(session.messages, session.environment.appPath + L"*.err");
    } catch (...) {
        // DeleteFilesByMask says its own failures; nothing else may escape here.
    }
}

}  // namespace

int RefuseUnattendedStart(Session& session, const StartOptions& options, RunLines& lines) {
    RunEventLog events;
    const std::wstring given = GivenParametersText();
    RunRecord record(session, options, L"startparametrar: " + given, lines);
    RunOutcome outcome;
    outcome.stopped = true;
    outcome.reason = std::wstring(kRefusedUnattendedText) + given;
    record.Log(outcome.reason);
    CleanUpUnattended(session);
    const int exitCode = ExitCodeOf(outcome);
    record.Finish(outcome, exitCode);
    events.Report(RunEndedEvent({.exitCode = exitCode,
                                 .runFolder = record.Folder(),
                                 .reason = outcome.reason,
                                 .filesFailure = record.Failure()}));
    return exitCode;
}

int UpdateAllPatients(Session& session, TolmarForm& form, const StartOptions& options, RunLines& lines) {
    UserMessages& messages = session.messages;
    RunEventLog events;
    const std::wstring job = RunJobText(options);
    RunRecord record(session, options, job, lines);
    events.Report(RunStartedEvent(job, record.Folder()));
    RunOutcome outcome;
    try {
        outcome = RunAndRecord(session, form, options, record);
    } catch (const std::exception& e) {
        outcome.stopped = true;
        outcome.reason = std::wstring(kDispatchFailurePrefix) + MessageOf(e);
        if (!options.unattended) record.Log(outcome.reason);  // unattended, the box is a line
        messages.ShowError(outcome.reason);
    } catch (...) {
        outcome.stopped = true;
        outcome.reason = std::wstring(kDispatchFailurePrefix) + L"Okänt fel.";
        if (!options.unattended) record.Log(outcome.reason);
        messages.ShowError(outcome.reason);
    }
    // A run that could not reach its database said why in its lines only:
    // the last of them is the reason its end event gives.
    const std::wstring reason =
        outcome.reason.empty() && outcome.stopped && !lines.Lines().empty() ? lines.Lines().back() : outcome.reason;
    // After the run, which empties its lines as it starts.
    if (!record.Failure().empty()) lines.Add(record.Failure());
    if (options.unattended) CleanUpUnattended(session);
    int exitCode = ExitCodeOf(outcome);
    std::wstring errorsFileFailure;
    // The errors file is a plain run's: a preview, an undo and a run that
    // another kept from the database have their lines in their own log only.
    if (!options.preview && !options.undoFile && !outcome.anotherRun) {
        try {
            if (!lines.Lines().empty()) WriteErrorsFile(session.environment.appPath, lines.Lines());
        } catch (const std::exception& e) {
            const std::wstring line = std::wstring(kDispatchFailurePrefix) + MessageOf(e);
            record.Log(line);
            messages.SetUnattendedSink({});  // nowhere else to say it
            if (!options.unattended) messages.ShowError(line);
            exitCode = 2;
            errorsFileFailure = L"Felfilen kunde inte skrivas: " + MessageOf(e);
        }
    }
    record.Finish(outcome, exitCode);
    std::wstring filesFailure = record.Failure();
    if (!errorsFileFailure.empty()) filesFailure += (filesFailure.empty() ? L"" : L"\r\n") + errorsFileFailure;
    events.Report(RunEndedEvent({.exitCode = exitCode,
                                 .counts = outcome.counts,
                                 .undo = record.Undo(),
                                 .runFolder = record.Folder(),
                                 .reason = reason,
                                 .filesFailure = filesFailure}));
    return exitCode;
}

}  // namespace tolmar::win
