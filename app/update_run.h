// The "UPDATE_ALL" run: every patient of KUNDER looked up in the register
// and the row saved when it differs, in transactions committed every 101
// saved rows. Every notable event becomes a line of the progress list.
// Plain C++: the window, the database, the register and the settings come
// in through the interfaces below.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/journal.h"
#include "app/lookup_scheduler.h"
#include "app/patient_database.h"
#include "register/person_record.h"
#include "tools/settings.h"

namespace tolmar {

// The progress window as the run uses it.
class UpdateRunView {
public:
    virtual ~UpdateRunView() = default;
    // Empties the run's lines (the errors file is written from them).
    virtual void ClearLines() = 0;
    // Appends one line of the run: an event that becomes a line of the errors file.
    virtual void AddLine(std::wstring_view line) = 0;
    virtual void SetCaption(std::wstring_view caption) = 0;   // and repaint
    virtual void StartProgress(size_t maximum) = 0;           // position 0
    virtual void StepProgress() = 0;
    // Shows the running counts in the status text under the caption, repainted at once.
    virtual void SetCounts(std::wstring_view text) = 0;
    virtual void ProcessPendingMessages() = 0;
    virtual void SetHourglass(bool on) = 0;
};

class PersonLookup {
public:
    virtual ~PersonLookup() = default;
    // Fills the output fields of `person` from its PersonalNumber; returnCode
    // 0 found, -359 not found, other: failure with errms.
    virtual void LookUp(PersonRecord& person, std::int32_t& returnCode, std::wstring& errms) = 0;
};

// Lookups made ahead on worker threads (see LookupScheduler): the workers
// make the attempts, and Finish takes each into the run's thread in patient
// order, as LookUp would have left it (return code, errms, the last-error
// strings).
class ConcurrentLookup {
public:
    virtual ~ConcurrentLookup() = default;
    // Called on the worker thread that will use it.
    virtual std::unique_ptr<LookupWorker> NewWorker() = 0;
    virtual void Finish(LookupAttempt& attempt, PersonRecord& person, std::int32_t& returnCode,
                        std::wstring& errms) = 0;
};

// A prepared connection: the connection string (as the data-link file and
// the login make it) and the login it describes (for the connection-failure
// line).
struct PreparedConnection {
    std::wstring connectionString;
    std::wstring serverName;
    std::wstring databaseName;
    std::wstring userName;
};

enum class RunMode {
    Update,   // look up, compare, save, journal
    Preview,  // look up and compare; nothing reaches the database; the journal of what would change
    Undo,     // put back the old values of a change journal
};

// Where the run leaves the records of its changes: the change journal (a
// preview's file, for a preview).
class ChangeJournal {
public:
    virtual ~ChangeJournal() = default;
    virtual std::wstring Name() const = 0;  // for the lines
    // Makes sure the records can be written; throws Error when not.
    virtual void Open() = 0;
    // Adds the records for good; throws Error when they cannot be written.
    virtual void Append(const std::vector<JournalRecord>& records) = 0;
};

// How a run ended, for the exit code.
struct RunOutcome {
    bool stopped = false;   // it could not start, or stopped before the end
    bool problems = false;  // it went to the end, but some patients failed or were passed over
};
// 0: done with no failure line; 1: done, some patients failed; 2: stopped
// early or could not start.
int ExitCodeOf(const RunOutcome& outcome);

struct UpdateRunContext {
    UpdateRunView& view;
    PatientDatabase& database;
    PersonLookup& lookup;
    Settings& settings;
    // ConnectDatabase with an empty user and password: nullopt when no
    // connection string could be prepared (the user has been told).
    std::function<std::optional<PreparedConnection>()> prepareConnection;
    // Turns the prepared string into the one the database takes; a failure
    // here is a failure to connect. Empty: the string is taken as it is.
    std::function<std::wstring(const std::wstring&)> driverConnectionString;
    // Claims the database, named by the connection string the database
    // takes, for this run until the process ends: false when another run
    // holds it. Empty: nothing is claimed.
    std::function<bool(const std::wstring&)> claimDatabase;
    RunMode mode = RunMode::Update;
    // The change journal (or the preview's file); none: no records kept.
    ChangeJournal* journal = nullptr;
    // Undo: the records to put back, read before anything else; throws
    // Error when the file is not a journal.
    std::function<std::vector<JournalRecord>()> readUndoJournal;
    // The local date and time for the journal's records.
    std::function<std::wstring()> now;
    // Lookups ahead of the run: used when `concurrentLookup` and `waiter`
    // are given and the settings ask for more than one worker or a rate cap;
    // otherwise every lookup is made in turn through `lookup`.
    ConcurrentLookup* concurrentLookup = nullptr;
    Waiter* waiter = nullptr;
    SchedulerSettings scheduling;
};

inline constexpr std::wstring_view kAnotherRunText =
    L"En annan uppdatering av samma databas pågår redan. Den här uppdateringen avbryts utan att "
    L"något har ändrats; försök igen när den andra är klar.";

// The run stops when the register has failed every lookup for the scheduler's giveUpAfter.
std::wstring RegisterGivenUpText(std::chrono::milliseconds giveUpAfter);

// The list query's design-time SQL, used (and stored as "KunderSQL") when
// the setting is empty.
inline const std::vector<std::wstring> kKunderAllDesignSql = {L"SELECT PATIENTNR, PERSONNR FROM KUNDER",
                                                               L"ORDER BY PERSONNR"};

// Commits come after this many saved rows have gone past it (101 rows a batch).
inline constexpr int kRowsPerCommit = 100;
// The run stops after the failed save that takes the count past this.
inline constexpr int kMaxFailedSaves = 10;

inline constexpr size_t kPersonalNumberLengthForRun = 12;

RunOutcome RunUpdateAll(UpdateRunContext& context);

// Compare and save, the decisions only: the column changes for a patient
// row and the register's record, empty when the row equals the register.
// `row` answers column reads (required columns missing: Error).
struct RowDecision {
    bool differs = false;
    std::vector<std::pair<std::wstring, std::wstring>> changes;  // in the order they are set
};
RowDecision DecideRowUpdate(const PatientRow& row, const PersonRecord& person, std::wstring_view number);

// Whether year, month and day (as digits, "1932", "12", "12") form a date of
// the calendar: a coordination number's day (real day + 60) does not.
bool IsCalendarDate(std::wstring_view year, std::wstring_view month, std::wstring_view day);

// Whether a database's diagnostics ("[SQLSTATE] message" lines) say that a
// value was refused (data exception, constraint), rather than that the
// statement could not run (a lock, a lost connection).
bool IsRefusedValue(std::wstring_view diagnostics);

// Columns that a save leaves out when the database refuses them: values
// derived from the personal number, which the rest of the row does not need.
inline constexpr std::wstring_view kDerivedColumns[] = {L"KONTROLLNR", L"FODELSEDAG"};

// "12345" -> "123 45"; any other length unchanged.
std::wstring PostNumberWithSpace(std::wstring_view postNumber);

}  // namespace tolmar
