#include "app/run_batches.h"

#include <algorithm>
#include <exception>

#include "app/row_rules.h"

namespace tolmar {
namespace {

const std::wstring kTransactionFailed = L"Det gick inte att spara transactionen! Fel: ";

// The record of every column a save changed: the value read and the value
// written, unchanged columns left out.
void AddRecords(std::vector<JournalRecord>& records, const std::wstring& time, const std::wstring& key,
                const std::wstring& number, const PatientRow& row, const std::vector<ColumnValue>& changes) {
    for (const auto& [column, value] : changes) {
        std::optional<std::wstring> old = row.Value(column);
        if (old == value) continue;
        records.push_back({time, key, number, column, std::move(old), value});
    }
}

}  // namespace

int ExitCodeOf(const RunOutcome& outcome) {
    if (outcome.stopped) return outcome.registerUnreachable ? 3 : 2;
    return outcome.problems ? 1 : 0;
}

std::wstring TooManyFailedSavesText() {
    return L"Antal felaktiga poster större än " + std::to_wstring(kMaxFailedSaves) + L". Avbryter uppdatering!";
}

void RunBatches::Problem(std::wstring_view line) {
    view_.AddLine(line);
    outcome_.problems = true;
}

void RunBatches::Stop(std::wstring_view line) {
    view_.AddLine(line);
    if (outcome_.reason.empty()) outcome_.reason = line;
    outcome_.stopped = true;
    outcome_.registerUnreachable = false;  // what stopped it after the register is the worse
}

void RunBatches::StopForRegister(std::wstring_view line) {
    Stop(line);
    outcome_.registerUnreachable = true;
}

bool RunBatches::Begin() {
    try {
        db_.BeginTransaction();
        return true;
    } catch (const std::exception& e) {
        Stop(kTransactionFailed + MessageOf(e));
        return false;
    }
}

bool RunBatches::OpenJournal() {
    if (!journal_) return true;
    try {
        journal_->Open();
        return true;
    } catch (const std::exception& e) {
        Stop(L"Det gick inte att skriva ändringsloggen " + journal_->Name() + L"! Fel: " + MessageOf(e) +
             L" Inget har sparats.");
        return false;
    }
}

// The records of a batch go to the journal once its commit has succeeded
// (a preview's at the same points, nothing being committed).
bool RunBatches::WriteJournal() {
    if (!journal_ || pending_.empty()) {
        pending_.clear();
        return true;
    }
    try {
        journal_->Append(pending_);
        pending_.clear();
        return true;
    } catch (const std::exception& e) {
        pending_.clear();
        Stop(L"Det gick inte att skriva ändringsloggen " + journal_->Name() + L"! Fel: " + MessageOf(e) +
             L" Uppdateringen avbryts; de sparade raderna finns i databasen men inte i loggen.");
        return false;
    }
}

// After a full batch: commit and begin anew.
bool RunBatches::CommitIfDue() {
    if (savedInBatch_ < kRowsPerBatch) return true;
    if (preview_) return CommitBatch();
    return CommitBatch() && Begin();
}

// Commits the batch; only then are its rows saved and its records
// journalled. A failed commit ends the transaction (the database keeps
// nothing of it) and stops the run: the register's answers are not wrong,
// but a database that refuses a commit would refuse the next batch's too,
// and going on would only lose more rows.
bool RunBatches::CommitBatch() {
    if (!preview_) {
        try {
            db_.Commit();
        } catch (const std::exception& e) {
            const int lost = savedInBatch_;
            savedInBatch_ = 0;
            pending_.clear();
            outcome_.counts.failedSaves += lost;
            Stop(kTransactionFailed + MessageOf(e) + L" " + std::to_wstring(lost) +
                 L" rader sparade sedan förra sparandet av transaktionen finns varken i databasen eller i "
                 L"ändringsloggen. Avbryter uppdatering!");
            return false;
        }
    }
    outcome_.counts.saved += savedInBatch_;
    savedInBatch_ = 0;
    return WriteJournal();
}

void RunBatches::Saved() { ++savedInBatch_; }

void RunBatches::Save(PatientRow& row, const std::wstring& key, const std::wstring& number,
                      const std::vector<ColumnValue>& changes, std::wstring_view failure, Refused refused) {
    if (preview_) {
        // What the save would write; nothing reaches the database.
        const size_t before = pending_.size();
        AddRecords(pending_, now_ ? now_() : std::wstring(), key, number, row, changes);
        if (report_) report_->RowSaved(std::span(pending_).subspan(before));
        Saved();
        return;
    }
    try {
        const std::vector<JournalRecord> records = SaveRow(row, key, number, changes, refused);
        pending_.insert(pending_.end(), records.begin(), records.end());
        if (report_) report_->RowSaved(records);
        Saved();
    } catch (const std::exception& e) {
        Problem(std::wstring(failure) + L"! Fel: " + MessageOf(e));
        ++failedSaves_;
        ++outcome_.counts.failedSaves;
        if (report_) report_->Failed(FailureKind::FailedSave, MessageOf(e), key, number);
    }
}

// A database may refuse a value derived from the personal number (a birth
// date its date column does not take, check digits too long for their
// column): the names, address and status must not stay stale for it, so
// the row is saved once more without those columns. Only a refused value is
// tried again: a lock that was waited for in vain, a row changed by someone
// else or a shared key would fail the same way. The journal's records of
// what was saved.
std::vector<JournalRecord> RunBatches::SaveRow(PatientRow& row, const std::wstring& key, const std::wstring& number,
                                               const std::vector<ColumnValue>& changes, Refused refused) {
    std::vector<JournalRecord> records;
    AddRecords(records, now_ ? now_() : std::wstring(), key, number, row, changes);  // the values as read
    try {
        row.SaveValues(changes);
        return records;
    } catch (const DuplicateKeyError&) {
        throw;
    } catch (const Error& e) {
        if (refused != Refused::LeavesOutDerivedColumns || !IsRefusedValue(e.message())) throw;
        std::vector<ColumnValue> rest;
        for (const auto& change : changes)
            if (!IsFromPersonalNumber(change.first)) rest.push_back(change);
        if (rest.size() == changes.size()) throw;
        std::erase_if(records, [](const JournalRecord& r) { return IsFromPersonalNumber(r.column); });
        row.SaveValues(rest);
        return records;
    }
}

void RunBatches::Close() {
    if (preview_) {
        // What the run would commit at its close, stopped or not.
        CommitBatch();
    } else if (savedInBatch_ > 0 && db_.InTransaction()) {
        CommitBatch();
        return;
    }
    try {
        if (db_.InTransaction()) db_.Rollback();
    } catch (const std::exception& e) {
        Stop(kTransactionFailed + MessageOf(e));
    }
}

}  // namespace tolmar
