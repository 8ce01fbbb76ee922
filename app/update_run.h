// The "UPDATE_ALL" run: every patient of KUNDER looked up in the register
// and the row saved when it differs (app/row_rules.h), in the batches of
// app/run_batches.h; its preview, and the undo of its journal (app/undo.h).
// Every notable event becomes a line of the progress list. Plain C++: the
// window, the database, the register and the settings come in through the
// interfaces below.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/journal.h"
#include "app/lookups.h"
#include "app/patient_database.h"
#include "app/row_rules.h"
#include "app/run_batches.h"
#include "app/run_report.h"
#include "tools/settings.h"

namespace tolmar {

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
    // Undo: the journal to put back, opened before anything else; throws
    // Error when it cannot be opened.
    std::function<std::unique_ptr<JournalSource>()> openUndoJournal;
    // The local date and time for the journal's records.
    std::function<std::wstring()> now;
    // Lookups ahead of the run: used when `concurrentLookup` and `waiter`
    // are given and the settings ask for more than one worker or a rate cap;
    // otherwise every lookup is made in turn through `lookup`.
    ConcurrentLookup* concurrentLookup = nullptr;
    Waiter* waiter = nullptr;
    SchedulerSettings scheduling;
    // Where the run's report is collected; none: no report.
    RunReportRecorder* report = nullptr;
    // The time the register's outages are measured and waited out in;
    // needed by every run that looks patients up.
    OutageClock* clock = nullptr;
};

inline constexpr std::wstring_view kAnotherRunText =
    L"En annan uppdatering av samma databas pågår redan. Den här uppdateringen avbryts utan att "
    L"något har ändrats; försök igen när den andra är klar.";

// The lines of the register's outages: when the run starts waiting for
// it, and when it answers again.
std::wstring RegisterRestingText(std::chrono::milliseconds pause);
std::wstring RegisterBackText(std::chrono::milliseconds length);
// The line that stops the run when the register has not answered for
// `stopAfter`: the patient it had reached (its place in the list of
// `patients`, its key) and why the last lookup failed.
std::wstring RegisterGivenUpText(std::chrono::milliseconds stopAfter, size_t index, size_t patients,
                                 const std::wstring& key, const std::wstring& failure);

// The line of a run whose data link asked the database driver for another
// rollback level than the one the run relies on (`given`: the data link's).
std::wstring ReplacedRollbackLevelText(const std::wstring& given);

// The list query's design-time SQL, used (and stored as "KunderSQL") when
// the setting is empty.
inline const std::vector<std::wstring> kKunderAllDesignSql = {L"SELECT PATIENTNR, PERSONNR FROM KUNDER",
                                                               L"ORDER BY PERSONNR"};

inline constexpr size_t kPersonalNumberLengthForRun = 12;

RunOutcome RunUpdateAll(UpdateRunContext& context);

}  // namespace tolmar
