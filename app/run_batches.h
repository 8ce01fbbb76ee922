// The batches that the update run, its preview and its undo share: rows
// saved one at a time in a transaction that is committed every
// kRowsPerBatch saved rows, the change journal written after each commit
// that succeeded, the closing commit or rollback, and how the run ended.
// A row counts as saved only once its batch is committed: the counts and
// the journal hold what the database holds.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/journal.h"
#include "app/patient_database.h"
#include "app/run_counts.h"
#include "app/run_report.h"
#include "tools/messages.h"

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

// How a run ended, for the exit code, and what it did.
struct RunOutcome {
    bool stopped = false;   // it could not start, or stopped before the end
    bool problems = false;  // it went to the end, but some patients failed or were passed over
    std::wstring reason;    // the line that stopped it ("" when none did)
    bool anotherRun = false;  // refused: another run holds the database
    // Stopped because the register did not answer (and by nothing after that).
    bool registerUnreachable = false;
    RunCounts counts;
};
// 0: done with no failure line; 1: done, some patients failed; 2: stopped
// early or could not start; 3: stopped because the register did not answer.
int ExitCodeOf(const RunOutcome& outcome);

// A transaction is committed once this many rows have been saved in it.
inline constexpr int kRowsPerBatch = 101;
// The run stops after the failed save that takes the count past this.
inline constexpr int kMaxFailedSaves = 10;

// The line that stops a run at too many failed saves.
std::wstring TooManyFailedSavesText();

class RunBatches {
public:
    // A preview saves nothing: its records go to the journal (its file) at
    // the points where a run would commit, its last batch's at the close
    // whether or not the preview stopped, as the run commits it. `now`
    // gives the records' time.
    RunBatches(UpdateRunView& view, PatientDatabase& database, ChangeJournal* journal, bool preview,
               std::function<std::wstring()> now)
        : view_(view), db_(database), journal_(journal), preview_(preview), now_(std::move(now)) {}

    // A line about one patient: the run goes on, but it did not do all it was asked.
    void Problem(std::wstring_view line);
    // A line that ends the run, or keeps it from starting.
    void Stop(std::wstring_view line);
    // The line that ends the run because the register did not answer.
    void StopForRegister(std::wstring_view line);

    bool Begin();
    // The journal must be writable before anything is saved.
    bool OpenJournal();

    // One row at a time, each in the batch it belongs to; the run stops
    // after the 11th failed save, and at any error that is not one row's.
    // `handle` deals with one item; `counted` gives the count shown after
    // the total.
    template <class Items, class Handle, class Counted>
    void ForEachRow(const Items& items, Handle handle, Counted counted) {
        const std::wstring total = std::to_wstring(items.size());
        for (const auto& item : items) {
            try {
                view_.ProcessPendingMessages();
                if (!CommitIfDue()) return;
                handle(item);
                if (outcome_.stopped) return;
                if (failedSaves_ > kMaxFailedSaves) {
                    Stop(TooManyFailedSavesText());
                    return;
                }
            } catch (const std::exception& e) {
                view_.SetHourglass(false);
                Stop(L"Det gick inte att öppna tabellen Kunder! Fel: " + MessageOf(e));
                return;
            }
            view_.StepProgress();
            view_.SetCounts(total + L"/" + std::to_wstring(counted()));
            view_.ProcessPendingMessages();
        }
    }

    // Which columns a save may leave out when the database refuses a value.
    enum class Refused {
        Fails,                   // the save fails
        LeavesOutDerivedColumns  // saved again without the columns derived from the personal number
    };
    // The one save of a row's changes, with the journal's records of what
    // it changed; a preview only records them. A failed save is the
    // patient's line, `failure` + "! Fel: " + why, and counts as failed.
    void Save(PatientRow& row, const std::wstring& key, const std::wstring& number,
              const std::vector<ColumnValue>& changes, std::wstring_view failure, Refused refused);

    // Commit when anything was saved since the last commit, else roll back;
    // a preview always rolls back. A failed commit, here or at the end of a
    // batch, loses the rows saved since the last commit: it gets its line
    // and stops the run, their records stay out of the journal, and they
    // count as failed saves, not as saved.
    void Close();

    // The rows saved in committed batches (a preview: in batches it passed).
    int SavedInRun() const { return outcome_.counts.saved; }
    const RunOutcome& Outcome() const { return outcome_; }
    // The counts, kept where the run decides; saves and failed saves are counted here.
    RunCounts& Counts() { return outcome_.counts; }
    void RefusedForAnotherRun() { outcome_.anotherRun = true; }
    bool Stopped() const { return outcome_.stopped; }
    // Where saved rows and failed saves are reported; none: not reported.
    void SetReport(RunReportRecorder* report) { report_ = report; }

private:
    bool CommitIfDue();
    bool CommitBatch();
    bool WriteJournal();
    void Saved();
    std::vector<JournalRecord> SaveRow(PatientRow& row, const std::wstring& key, const std::wstring& number,
                                       const std::vector<ColumnValue>& changes, Refused refused);

    UpdateRunView& view_;
    PatientDatabase& db_;
    ChangeJournal* journal_;
    bool preview_;
    std::function<std::wstring()> now_;
    std::vector<JournalRecord> pending_;  // the records of the batch not yet committed
    int savedInBatch_ = 0;                // rows saved in the batch not yet committed
    int failedSaves_ = 0;
    RunOutcome outcome_;
    RunReportRecorder* report_ = nullptr;
};

}  // namespace tolmar
