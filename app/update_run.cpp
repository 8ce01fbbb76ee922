#include "app/update_run.h"

#include <exception>

#include "app/patient_sql.h"
#include "app/undo.h"
#include "register/personal_number.h"
#include "tools/messages.h"
#include "tools/text.h"

namespace tolmar {
namespace {

// The line of a row whose personal number cannot be looked up. A number
// that is there but malformed names the row well enough; a row without one
// (its PERSONNR empty, or the row gone or unreachable because it has no key)
// is named by its place in the patient list and its key.
// A key is the database's text, a failure may hold the register's: shown short.
std::wstring Short(const std::wstring& text, std::size_t most) {
    return text.size() <= most ? text : text.substr(0, most) + L"...";
}
constexpr std::size_t kShownKey = 100;

std::wstring BadNumberLine(const std::wstring& number, const std::wstring& key, std::size_t index) {
    std::wstring line = L"Felaktigt personnummer: " + number;
    if (!number.empty()) return line;
    line += L"saknas (rad " + std::to_wstring(index + 1) + L" i patientlistan, ";
    if (IsBlank(key))
        line += L"saknar PATIENTNR)";
    else
        line += L"PATIENTNR " + Short(key, kShownKey) + L")";
    return line;
}

// "45 s", "3 min 5 s", "2 min": whole seconds, rounded up.
std::wstring SpanText(std::chrono::milliseconds span) {
    const long long seconds = (span.count() + 999) / 1000;
    if (seconds < 60) return std::to_wstring(seconds) + L" s";
    std::wstring text = std::to_wstring(seconds / 60) + L" min";
    if (seconds % 60) text += L" " + std::to_wstring(seconds % 60) + L" s";
    return text;
}

// One run's state and steps: connect, claim, list, then each patient (or
// each save of the journal to undo) in the batches, and close.
class UpdateRun {
public:
    explicit UpdateRun(UpdateRunContext& ctx)
        : ctx_(ctx),
          view_(ctx.view),
          db_(ctx.database),
          batches_(ctx.view, ctx.database, ctx.journal, ctx.mode == RunMode::Preview, ctx.now) {
        batches_.SetReport(ctx.report);
    }

    RunOutcome Run() {
        view_.ClearLines();
        if (ctx_.mode == RunMode::Undo && !ReadUndoJournal()) return batches_.Outcome();
        const std::optional<PreparedConnection> connection = ctx_.prepareConnection();
        if (!connection) {
            view_.SetHourglass(false);
            RunOutcome outcome;
            outcome.stopped = true;
            return outcome;
        }
        if (!Connect(*connection)) return batches_.Outcome();
        if (!Claim()) return batches_.Outcome();
        // From here on the closing always runs.
        const bool started = batches_.Begin() && ListPatients() && batches_.OpenJournal() && StartLookups();
        if (started) {
            view_.SetHourglass(true);
            view_.SetCaption(L"Inloggad...");
            view_.SetHourglass(false);
            if (ctx_.mode == RunMode::Undo)
                Undo(batches_, view_, db_, *undo_);
            else
                Loop();
        }
        RecordOutages();
        // The count once the last batch is committed (or lost).
        batches_.Close();
        CountNotLookedUp();
        if (started) view_.AddLine(CountLine());
        // Lookups still in flight end here, their answers unused.
        lookups_.reset();
        return batches_.Outcome();
    }

private:
    // The rows the run did not look up for none of the reasons counted
    // (it stopped before them, or at them).
    void CountNotLookedUp() {
        RunCounts& c = batches_.Counts();
        if (ctx_.mode == RunMode::Undo) {
            c.restored = c.saved;
            return;
        }
        c.notLookedUp = c.patients - c.lookedUp - c.malformedNumbers - c.sharedKeys;
    }

    void RecordOutages() {
        if (!lookups_) return;
        for (const auto& outage : lookups_->Outages()) {
            auto& span = batches_.Counts().outages.emplace_back();
            span.from = ctx_.clock->WallTimeOf(outage.from);
            if (outage.to) span.to = ctx_.clock->WallTimeOf(*outage.to);
        }
    }

    // What the lookups tell of the register: a line when it stops answering
    // and when it answers again, the caption meanwhile.
    void Tell(const OutageNews& news) {
        switch (news.change) {
            case OutageChange::Began:
                view_.AddLine(RegisterRestingText(news.pause));
                view_.SetCaption(RegisterRestingText(news.pause));
                break;
            case OutageChange::Retried:
                view_.SetCaption(RegisterRestingText(news.pause));
                break;
            case OutageChange::Ended:
                view_.AddLine(RegisterBackText(news.length));
                view_.SetCaption(RegisterBackText(news.length));
                break;
            case OutageChange::GaveUp:
                lastRegisterFailure_ = news.failure;
                break;
            case OutageChange::None:
                break;
        }
    }

    std::wstring CountLine() const {
        const std::wstring n = std::to_wstring(batches_.SavedInRun());
        switch (ctx_.mode) {
            case RunMode::Preview:
                return L"Förhandsgranskning: " + n + L" poster skulle redigeras. Inget har ändrats i databasen.";
            case RunMode::Undo:
                return L"Antal poster återställda: " + n;
            case RunMode::Update:
                break;
        }
        return L"Antal poster redigerade: " + n;
    }

    bool ReadUndoJournal() {
        try {
            undo_.emplace(ctx_.openUndoJournal());
            return true;
        } catch (const std::exception& e) {
            view_.SetHourglass(false);
            batches_.Stop(L"Det gick inte att återställa från ändringsloggen! Fel: " + MessageOf(e) +
                          L" Inget har ändrats.");
            return false;
        }
    }

    bool Connect(const PreparedConnection& connection) {
        try {
            driverString_ = ctx_.driverConnectionString ? ctx_.driverConnectionString(connection.connectionString)
                                                        : connection.connectionString;
            db_.Connect(driverString_);
            if (const std::optional<std::wstring> level = db_.Additions().replacedLevel)
                view_.AddLine(ReplacedRollbackLevelText(*level));
            return true;
        } catch (const std::exception& e) {
            view_.SetHourglass(false);
            batches_.Stop(L"Det gick inte att ansluta till databasen " + connection.serverName + L": " +
                          connection.databaseName + L" med användarnamnet " + connection.userName + L"\r\r" +
                          MessageOf(e));
            return false;
        }
    }

    // Only one run at a time for a database: two would wait on each other's
    // locks, and each would overwrite what the other had read.
    bool Claim() {
        try {
            if (!ctx_.claimDatabase || ctx_.claimDatabase(driverString_)) return true;
            batches_.RefusedForAnotherRun();
            batches_.Stop(kAnotherRunText);
        } catch (const std::exception& e) {
            batches_.Stop(MessageOf(e));
        }
        view_.SetHourglass(false);
        return false;
    }

    // The patient list: the "KunderSQL" setting, or the design-time SQL
    // (stored as the setting) when it is empty. An undo needs no list: its
    // rows are the journal's.
    bool ListPatients() {
        if (ctx_.mode == RunMode::Undo) {
            view_.StartProgress(undo_->size());
            batches_.Counts().patients = static_cast<int>(undo_->size());
            return true;
        }
        try {
            // A stored list that cannot be read is an error, never "every patient".
            std::wstring sql = ctx_.settings.ReadDefaultStrict(kTolmarSection, kKunderSqlKey, L"");
            if (sql.empty()) {
                ctx_.settings.Write(kTolmarSection, kKunderSqlKey, JoinTrimmedLines(kKunderAllDesignSql));
                sql = kKunderAllDesignSql[0] + L"\r\n" + kKunderAllDesignSql[1];
            }
            patients_ = db_.PatientKeys(sql);
            view_.StartProgress(patients_.keys.size());
            batches_.Counts().patients = static_cast<int>(patients_.keys.size());
            return true;
        } catch (const std::exception& e) {
            view_.SetHourglass(false);
            batches_.Stop(L"Det gick inte att öppna tabellen KunderAll! Fel: " + MessageOf(e));
            return false;
        }
    }

    // Lookups ahead of the run when asked for, else in turn; an undo makes none.
    bool StartLookups() {
        if (ctx_.mode == RunMode::Undo) return true;
        const SchedulerSettings& s = ctx_.scheduling;
        try {
            if (!ctx_.clock) throw Error(L"Uppslagningarna i registret saknar en klocka.");
            auto tell = [this](const OutageNews& news) { Tell(news); };
            if (!ctx_.concurrentLookup || !ctx_.waiter || (s.workers <= 1 && s.ratePerSecond == 0))
                lookups_ = LookupsInTurn(ctx_.lookup, s.outage, *ctx_.clock, tell);
            else
                lookups_ = LookupsAhead(s, *ctx_.concurrentLookup, *ctx_.waiter, *ctx_.clock, db_, patients_, tell);
            return true;
        } catch (const std::exception& e) {
            view_.SetHourglass(false);
            batches_.Stop(MessageOf(e));
            return false;
        }
    }

    void Loop() {
        size_t index = 0;
        batches_.ForEachRow(
            patients_.keys, [this, &index](const std::wstring& key) { HandlePatient(key, index++); },
            [this] { return lookupsStarted_; });
    }

    void HandlePatient(const std::wstring& key, size_t index) {
        lookups_->Reached(index);
        // A row deleted since the list was read has no personal number.
        // A list row without a key (PATIENTNR NULL) names no row of KUNDER:
        // "PATIENTNR = NULL" holds for none, and some databases refuse an
        // empty key for a number column.
        std::unique_ptr<PatientRow> row;
        try {
            if (!key.empty()) row = db_.OpenPatient(key);
        } catch (const DuplicateKeyError& e) {
            // Neither row can be saved by its key: no lookup, no save, and no
            // failed save either, for nothing was tried.
            batches_.Problem(L"Det gick inte att uppdatera! Fel: " + e.message());
            ++batches_.Counts().sharedKeys;
            Failed(FailureKind::SharedKey, L"", key, L"");  // the key names it: one group for all
            lookups_->Drop(index);
            return;
        }
        const std::wstring number = row ? WithoutFirstHyphen(row->Text(L"PERSONNR")) : std::wstring();
        if (number.size() != kPersonalNumberLengthForRun) {
            batches_.Problem(BadNumberLine(number, key, index));
            ++batches_.Counts().malformedNumbers;
            Failed(FailureKind::MalformedNumber, number.empty() ? L"Personnummer saknas" : L"", key, number);
            lookups_->Drop(index);
            return;
        }
        ++lookupsStarted_;
        person_.PersonalNumber = number;
        view_.SetCaption(L"Söker efter " + number);
        std::int32_t code = ReturnCode::Failure;
        std::wstring errms;
        if (!lookups_->Take(index, person_, code, errms)) {
            view_.SetHourglass(false);
            batches_.StopForRegister(RegisterGivenUpText(ctx_.scheduling.outage.stopAfter, index, patients_.keys.size(),
                                                         key, lastRegisterFailure_));
            return;
        }
        view_.SetHourglass(false);
        RunCounts& counts = batches_.Counts();
        ++counts.lookedUp;
        if (code == ReturnCode::NotFound) {
            ++counts.notFound;
            view_.SetCaption(L"Fann inte person!");
            batches_.Problem(L"Kunde inte hitta någon person med personnummer " + number + L"!");
            Failed(FailureKind::NotFound, L"", key, number);
        } else if (code != ReturnCode::Found) {
            ++counts.failedLookups;
            view_.SetCaption(L"Fel: " + std::to_wstring(code));
            batches_.Problem(L"Ett fel uppstod vid sökning av personnummer " + number + L"; Fel: " +
                             std::to_wstring(code) + L", " + errms);
            Failed(FailureKind::FailedLookup, L"Fel: " + std::to_wstring(code) + L", " + errms, key, number);
        } else {
            view_.SetCaption(L"Person funnen, sparar data...");
            CompareAndSave(*row, key, number);
        }
    }

    void CompareAndSave(PatientRow& row, const std::wstring& key, const std::wstring& number) {
        const RowDecision decision = DecideRowUpdate(row, person_, number);
        if (!decision.differs) {
            ++batches_.Counts().unchanged;
            return;
        }
        // Setting a column the table lacks is no failed save: it stops the run.
        for (const auto& change : decision.changes)
            if (!row.HasColumn(change.first)) throw Error(L"KUNDER saknar fältet " + change.first);
        // A protected person's former address stays out of the journal.
        AddressHiddenRow hidden(row, decision.changes);
        PatientRow& recorded = IsProtectedIdentity(person_) ? hidden : row;
        batches_.Save(recorded, key, number, {decision.changes.begin(), decision.changes.end()},
                      L"Det gick inte att uppdatera " + number, RunBatches::Refused::LeavesOutDerivedColumns);
    }

    void Failed(FailureKind kind, std::wstring_view why, const std::wstring& key, const std::wstring& number) {
        if (ctx_.report) ctx_.report->Failed(kind, why, key, number);
    }

    UpdateRunContext& ctx_;
    UpdateRunView& view_;
    PatientDatabase& db_;
    RunBatches batches_;
    std::wstring driverString_;
    PatientList patients_;
    std::optional<UndoJournal> undo_;
    std::unique_ptr<PatientLookups> lookups_;
    PersonRecord person_;  // its buffers serve every patient
    int lookupsStarted_ = 0;
    std::wstring lastRegisterFailure_;  // why the last lookup failed when the register was given up
};

}  // namespace

std::wstring RegisterRestingText(std::chrono::milliseconds pause) {
    return L"Registret svarar inte; nytt försök om " + SpanText(pause) + L".";
}

std::wstring RegisterBackText(std::chrono::milliseconds length) {
    return L"Registret svarar igen efter " + SpanText(length) + L"; uppslagningarna fortsätter.";
}

std::wstring ReplacedRollbackLevelText(const std::wstring& given) {
    // The data link's text, bounded and printable.
    constexpr std::size_t kShown = 32;
    std::wstring shown;
    for (wchar_t c : given.substr(0, kShown)) shown += (c >= 0x20 && c < 0x7F) ? c : L'?';
    if (given.size() > kShown) shown += L"...";
    return L"Datalänken ber om Protocol=" + shown +
           L"; anslutningen får Protocol=" + std::wstring(kStatementRollbackLevel) +
           L", så att ett fel bara ångrar sin egen sats och räkningen stämmer "
           L"med databasen.";
}

std::wstring RegisterGivenUpText(std::chrono::milliseconds stopAfter, size_t index, size_t patients,
                                 const std::wstring& key, const std::wstring& failure) {
    constexpr std::size_t kShownFailure = 300;
    const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(stopAfter).count();
    std::wstring line = L"Registret har inte svarat på " + std::to_wstring(minutes) +
                        (minutes == 1 ? L" minut" : L" minuter") + L"; körningen avbröts vid patient " +
                        std::to_wstring(index + 1) + L" av " + std::to_wstring(patients) + L" (PATIENTNR " +
                        Short(key, kShownKey) + L").";
    if (!failure.empty()) line += L" Senaste felet: " + Short(failure, kShownFailure);
    return line;
}

RunOutcome RunUpdateAll(UpdateRunContext& context) { return UpdateRun(context).Run(); }

}  // namespace tolmar
