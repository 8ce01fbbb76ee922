#include "app/update_run.h"

#include <algorithm>
#include <exception>
#include <map>

#include "register/personal_number.h"
#include "tools/error.h"
#include "tools/messages.h"
#include "tools/text.h"

namespace tolmar {
namespace {

// The line of a row whose personal number cannot be looked up. A number
// that is there but malformed names the row well enough; a row without one
// (its PERSONNR empty, or the row gone or unreachable because it has no key)
// is named by its place in the patient list and its key.
std::wstring BadNumberLine(const std::wstring& number, const std::wstring& key, std::size_t index) {
    std::wstring line = L"Felaktigt personnummer: " + number;
    if (!number.empty()) return line;
    constexpr std::size_t kShownKey = 100;  // a key is the database's text: shown short
    line += L"saknas (rad " + std::to_wstring(index + 1) + L" i patientlistan, ";
    if (IsBlank(key))
        line += L"saknar PATIENTNR)";
    else
        line += L"PATIENTNR " + (key.size() <= kShownKey ? key : key.substr(0, kShownKey) + L"...") + L")";
    return line;
}

bool Contains(std::wstring_view haystack, std::wstring_view needle) {
    return haystack.find(needle) != std::wstring_view::npos;
}

bool AllDigits(std::wstring_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

int Value(std::wstring_view digits) {
    int v = 0;
    for (wchar_t c : digits) v = v * 10 + (c - L'0');
    return v;
}

// The register says the person is deceased: its status code, or the town
// text the lookup puts in place of the town for that code. A protected
// person's town text hides the status, so the code is what counts.
bool IsDeceased(const PersonRecord& person) {
    return UpperLocale(Trim(person.Status.str())) == L"AV" || UpperLocale(Trim(person.PostTown.str())) == L"AVLIDEN";
}

}  // namespace

bool IsRefusedValue(std::wstring_view diagnostics) {
    // SQLSTATE classes 22 (data exception: a value too long, not a date) and
    // 23 (a constraint); SQLite words its constraint failures without them.
    return Contains(diagnostics, L"[22") || Contains(diagnostics, L"[23") ||
           Contains(LowerLocale(diagnostics), L"constraint failed");
}

bool IsCalendarDate(std::wstring_view year, std::wstring_view month, std::wstring_view day) {
    if (year.size() != 4 || !AllDigits(year) || !AllDigits(month) || !AllDigits(day)) return false;
    const int y = Value(year), m = Value(month), d = Value(day);
    if (y < 1 || m < 1 || m > 12 || d < 1) return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

std::wstring PostNumberWithSpace(std::wstring_view postNumber) {
    std::wstring pn(postNumber);
    if (pn.size() == 5) pn.insert(3, L" ");
    return pn;
}

RowDecision DecideRowUpdate(const PatientRow& row, const PersonRecord& person, std::wstring_view number) {
    RowDecision decision;
    const std::wstring pn = PostNumberWithSpace(person.PostNumber.str());
    const std::wstring firstName = row.Text(L"F_RNAMN");
    const std::wstring upperRegisterFirst = UpperLocale(person.FirstName.str());

    // The register says nothing of sex in one of its answer families: its
    // silence must not erase what the clinic recorded.
    const bool sexKnown = !IsBlank(person.Sex.str());
    const bool deceased = IsDeceased(person);

    // The tests in order; the first that holds decides. The first one uses
    // the stored first name as it is, untrimmed.
    decision.differs = !Contains(upperRegisterFirst, UpperLocale(firstName)) ||
                       row.Text(L"EFTERNAMN") != person.Surname.str() || IsBlank(firstName) ||
                       row.Text(L"ADRESS") != person.Address2.str() ||
                       row.Text(L"COADRESS") != person.Address1.str() || row.Text(L"POSTNR") != pn ||
                       row.Text(L"ORT") != person.PostTown.str() ||
                       (sexKnown && row.Text(L"KON") != person.Sex.str()) ||
                       // a deceased person whose row is still active, also
                       // when the town text shows a protected identity
                       (deceased && row.HasColumn(L"AKTIV") && row.Text(L"AKTIV") != L"F");
    if (!decision.differs) return decision;

    auto& c = decision.changes;
    // The stored first name stays when it occurs among the register's names.
    const std::wstring trimmedFirst = UpperLocale(Trim(firstName));
    const bool occurs = !trimmedFirst.empty() && Contains(upperRegisterFirst, trimmedFirst);
    if (!occurs) {
        if (!IsBlank(person.FirstName.str()))
            c.emplace_back(L"F_RNAMN", person.FirstName.str());
        else if (!IsBlank(person.MiddleName.str()))
            c.emplace_back(L"F_RNAMN", person.MiddleName.str());
    }
    c.emplace_back(L"EFTERNAMN", person.Surname.str());
    c.emplace_back(L"ADRESS", person.Address2.str());
    c.emplace_back(L"COADRESS", person.Address1.str());
    c.emplace_back(L"POSTNR", pn);
    c.emplace_back(L"ORT", person.PostTown.str());
    if (sexKnown) c.emplace_back(L"KON", person.Sex.str());
    c.emplace_back(L"TEL3NOT", person.Status.str());
    // Check digits and birth date only where the table has the columns, and
    // the birth date only when the number holds a real one (a coordination
    // number's day is the real day + 60).
    if (row.HasColumn(L"KONTROLLNR") && number.size() == 12) {
        c.emplace_back(L"KONTROLLNR", std::wstring(number.substr(8, 4)));
        if (row.HasColumn(L"FODELSEDAG") && IsCalendarDate(number.substr(0, 4), number.substr(4, 2), number.substr(6, 2)))
            c.emplace_back(L"FODELSEDAG", std::wstring(number.substr(0, 4)) + L"-" + std::wstring(number.substr(4, 2)) +
                                              L"-" + std::wstring(number.substr(6, 2)));
    }
    if (deceased) c.emplace_back(L"AKTIV", L"F");
    return decision;
}

namespace {

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

std::vector<ColumnValue> AsValues(const std::vector<std::pair<std::wstring, std::wstring>>& changes) {
    return {changes.begin(), changes.end()};
}

// One run's state and steps.
class UpdateRun {
public:
    explicit UpdateRun(UpdateRunContext& ctx) : ctx_(ctx), view_(ctx.view), db_(ctx.database) {}

    RunOutcome Run() {
        view_.ClearLines();
        if (ctx_.mode == RunMode::Undo && !ReadUndoJournal()) return outcome_;
        const std::optional<PreparedConnection> connection = ctx_.prepareConnection();
        if (!connection) {
            view_.SetHourglass(false);
            outcome_.stopped = true;
            return outcome_;
        }
        if (!Connect(*connection)) return outcome_;
        if (!Claim()) return outcome_;
        // From here on the closing always runs.
        if (Begin() && ListPatients() && OpenJournal() && StartScheduler()) {
            view_.SetHourglass(true);
            view_.SetCaption(L"Inloggad...");
            view_.SetHourglass(false);
            if (ctx_.mode == RunMode::Undo)
                UndoLoop();
            else
                Loop();
            view_.AddLine(CountLine());
        }
        Close();
        // Lookups still in flight end here, their answers unused.
        scheduler_.reset();
        return outcome_;
    }

private:
    std::wstring CountLine() const {
        const std::wstring n = std::to_wstring(savedInRun_);
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

    // A line about one patient: the run goes on, but it did not do all it was asked.
    void Problem(std::wstring_view line) {
        view_.AddLine(line);
        outcome_.problems = true;
    }
    // A line that ends the run, or keeps it from starting.
    void Stop(std::wstring_view line) {
        view_.AddLine(line);
        outcome_.stopped = true;
    }

    bool ReadUndoJournal() {
        try {
            undoRecords_ = ctx_.readUndoJournal();
            return true;
        } catch (const std::exception& e) {
            view_.SetHourglass(false);
            Stop(L"Det gick inte att återställa från ändringsloggen! Fel: " + MessageOf(e) +
                 L" Inget har ändrats.");
            return false;
        }
    }

    bool Connect(const PreparedConnection& connection) {
        try {
            driverString_ = ctx_.driverConnectionString ? ctx_.driverConnectionString(connection.connectionString)
                                                        : connection.connectionString;
            db_.Connect(driverString_);
            return true;
        } catch (const std::exception& e) {
            view_.SetHourglass(false);
            Stop(L"Det gick inte att ansluta till databasen " + connection.serverName + L": " +
                 connection.databaseName + L" med användarnamnet " + connection.userName + L"\r\r" + MessageOf(e));
            return false;
        }
    }

    // Only one run at a time for a database: two would wait on each other's
    // locks, and each would overwrite what the other had read.
    bool Claim() {
        try {
            if (!ctx_.claimDatabase || ctx_.claimDatabase(driverString_)) return true;
            Stop(kAnotherRunText);
        } catch (const std::exception& e) {
            Stop(MessageOf(e));
        }
        view_.SetHourglass(false);
        return false;
    }

    bool Begin() {
        try {
            db_.BeginTransaction();
            return true;
        } catch (const std::exception& e) {
            Stop(L"Det gick inte att spara transactionen! Fel: " + MessageOf(e));
            return false;
        }
    }

    // The patient list: the "KunderSQL" setting, or the design-time SQL
    // (stored as the setting) when it is empty. An undo needs no list: its
    // rows are the journal's.
    bool ListPatients() {
        if (ctx_.mode == RunMode::Undo) {
            view_.StartProgress(UndoGroups().size());
            return true;
        }
        try {
            // A stored list that cannot be read is an error, never "every patient".
            std::wstring sql = ctx_.settings.ReadDefaultStrict(kTolmarSection, kKunderSqlKey, L"");
            if (sql.empty()) {
                ctx_.settings.Write(kTolmarSection, kKunderSqlKey, JoinTrimmedLines(kKunderAllDesignSql));
                sql = kKunderAllDesignSql[0] + L"\r\n" + kKunderAllDesignSql[1];
            }
            keys_ = db_.PatientKeys(sql);
            view_.StartProgress(keys_.size());
            return true;
        } catch (const std::exception& e) {
            view_.SetHourglass(false);
            Stop(L"Det gick inte att öppna tabellen KunderAll! Fel: " + MessageOf(e));
            return false;
        }
    }

    // Lookups ahead of the run, when asked for.
    bool StartScheduler() {
        const SchedulerSettings& s = ctx_.scheduling;
        if (ctx_.mode == RunMode::Undo || !ctx_.concurrentLookup || !ctx_.waiter ||
            (s.workers <= 1 && s.ratePerSecond == 0))
            return true;
        try {
            scheduler_ = std::make_unique<LookupScheduler>(
                s, [this] { return ctx_.concurrentLookup->NewWorker(); }, *ctx_.waiter);
            window_ = 2 * static_cast<size_t>(std::max(1u, s.workers));
            return true;
        } catch (const std::exception& e) {
            view_.SetHourglass(false);
            Stop(MessageOf(e));
            return false;
        }
    }

    // Queues the lookups of the patients from `index` on, up to the window
    // ahead. Their numbers are read here as the rows stand now; the row is
    // read again at its turn, and a number changed meanwhile is looked up
    // anew. A row that cannot be read now waits for its turn, which says why.
    void LookAhead(size_t index) {
        for (size_t i = std::max(index, nextAhead_); i < keys_.size() && i < index + window_; ++i) {
            nextAhead_ = i + 1;
            std::wstring number;
            try {
                if (keys_[i].empty()) continue;  // no key names no row
                if (std::unique_ptr<PatientRow> row = db_.OpenPatient(keys_[i]))
                    number = WithoutFirstHyphen(row->Text(L"PERSONNR"));
            } catch (const std::exception&) {
                continue;
            }
            if (number.size() != kPersonalNumberLengthForRun) continue;
            const std::uint64_t ticket = nextTicket_++;
            scheduler_->Submit(ticket, number);
            ahead_.emplace(i, Ahead{ticket, std::move(number)});
        }
    }

    // A lookup made ahead for a patient whose row no longer wants one (gone,
    // shared, its number spoilt since): its answer is not kept.
    void DropLookupAhead(size_t index) {
        if (auto it = ahead_.find(index); it != ahead_.end()) {
            scheduler_->Forget(it->second.ticket);
            ahead_.erase(it);
        }
    }

    // The lookup of the patient at `index` made ahead, or made now when the
    // number is not the one looked up; false when the register has been
    // given up (the run stops).
    bool TakeLookup(size_t index, const std::wstring& number, std::int32_t& code, std::wstring& errms) {
        std::uint64_t ticket = 0;
        auto it = ahead_.find(index);
        if (it != ahead_.end() && it->second.number == number) {
            ticket = it->second.ticket;
        } else {
            if (it != ahead_.end()) scheduler_->Forget(it->second.ticket);
            ticket = nextTicket_++;
            scheduler_->Submit(ticket, number);
        }
        if (it != ahead_.end()) ahead_.erase(it);
        std::optional<LookupAttempt> attempt = scheduler_->Take(ticket);
        if (!attempt) {
            view_.SetHourglass(false);
            Stop(RegisterGivenUpText(ctx_.scheduling.giveUpAfter));
            return false;
        }
        ctx_.concurrentLookup->Finish(*attempt, person_, code, errms);
        return true;
    }

    // The journal must be writable before anything is saved.
    bool OpenJournal() {
        if (!ctx_.journal) return true;
        try {
            ctx_.journal->Open();
            return true;
        } catch (const std::exception& e) {
            Stop(L"Det gick inte att skriva ändringsloggen " + ctx_.journal->Name() + L"! Fel: " + MessageOf(e) +
                 L" Inget har sparats.");
            return false;
        }
    }

    // The records of a batch go to the journal once its commit has
    // succeeded (a preview's at the same points, nothing being committed).
    bool WriteJournal() {
        if (!ctx_.journal || pending_.empty()) {
            pending_.clear();
            return true;
        }
        try {
            ctx_.journal->Append(pending_);
            pending_.clear();
            return true;
        } catch (const std::exception& e) {
            pending_.clear();
            Stop(L"Det gick inte att skriva ändringsloggen " + ctx_.journal->Name() + L"! Fel: " + MessageOf(e) +
                 L" Uppdateringen avbryts; de sparade raderna finns i databasen men inte i loggen.");
            return false;
        }
    }

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
                if (!CommitBatchIfDue()) return;
                handle(item);
                if (outcome_.stopped) return;
                if (failedSaves_ > kMaxFailedSaves) {
                    Stop(L"Antal felaktiga poster större än 10. Avbryter uppdatering!");
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

    void Loop() {
        size_t index = 0;
        ForEachRow(
            keys_, [this, &index](const std::wstring& key) { HandlePatient(key, index++); },
            [this] { return lookupsStarted_; });
    }

    // After 101 rows saved since the last commit: commit and begin anew.
    bool CommitBatchIfDue() {
        if (savedSinceCommit_ <= kRowsPerCommit) return true;
        savedSinceCommit_ = 0;
        if (!db_.InTransaction()) return true;
        if (ctx_.mode == RunMode::Preview) return WriteJournal();
        try {
            db_.Commit();
        } catch (const std::exception& e) {
            Stop(L"Det gick inte att spara transactionen! Fel: " + MessageOf(e));
            return false;
        }
        if (!WriteJournal()) return false;
        try {
            db_.BeginTransaction();
            return true;
        } catch (const std::exception& e) {
            Stop(L"Det gick inte att spara transactionen! Fel: " + MessageOf(e));
            return false;
        }
    }

    void HandlePatient(const std::wstring& key, size_t index) {
        if (scheduler_) LookAhead(index);
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
            Problem(L"Det gick inte att uppdatera! Fel: " + e.message());
            DropLookupAhead(index);
            return;
        }
        const std::wstring number = row ? WithoutFirstHyphen(row->Text(L"PERSONNR")) : std::wstring();
        if (number.size() != kPersonalNumberLengthForRun) {
            Problem(BadNumberLine(number, key, index));
            DropLookupAhead(index);
            return;
        }
        ++lookupsStarted_;
        person_.PersonalNumber = number;
        view_.SetCaption(L"Söker efter " + number);
        std::int32_t code = ReturnCode::Failure;
        std::wstring errms;
        if (!scheduler_)
            ctx_.lookup.LookUp(person_, code, errms);
        else if (!TakeLookup(index, number, code, errms))
            return;
        view_.SetHourglass(false);
        if (code == ReturnCode::NotFound) {
            view_.SetCaption(L"Fann inte person!");
            Problem(L"Kunde inte hitta någon person med personnummer " + number + L"!");
        } else if (code != ReturnCode::Found) {
            view_.SetCaption(L"Fel: " + std::to_wstring(code));
            Problem(L"Ett fel uppstod vid sökning av personnummer " + number + L"; Fel: " + std::to_wstring(code) +
                    L", " + errms);
        } else {
            view_.SetCaption(L"Person funnen, sparar data...");
            CompareAndSave(*row, key, number);
        }
    }

    void CompareAndSave(PatientRow& row, const std::wstring& key, const std::wstring& number) {
        const RowDecision decision = DecideRowUpdate(row, person_, number);
        if (!decision.differs) return;
        // Setting a column the table lacks is no failed save: it stops the run.
        for (const auto& change : decision.changes)
            if (!row.HasColumn(change.first)) throw Error(L"KUNDER saknar fältet " + change.first);
        const std::vector<ColumnValue> changes = AsValues(decision.changes);
        if (ctx_.mode == RunMode::Preview) {
            // What the save would write; nothing reaches the database.
            AddRecords(pending_, Now(), key, number, row, changes);
            Saved();
            return;
        }
        try {
            const std::vector<JournalRecord> records = SaveRow(row, key, number, changes);
            pending_.insert(pending_.end(), records.begin(), records.end());
            Saved();
        } catch (const std::exception& e) {
            Problem(L"Det gick inte att uppdatera " + number + L"! Fel: " + MessageOf(e));
            ++failedSaves_;
        }
    }

    void Saved() {
        ++savedSinceCommit_;
        ++savedInRun_;
        anySaved_ = true;
    }

    std::wstring Now() const { return ctx_.now ? ctx_.now() : std::wstring(); }

    // A database may refuse a value derived from the personal number (a
    // birth date its date column does not take, check digits too long for
    // their column): the names, address and status must not stay stale for
    // it, so the row is saved once more without those columns. Only a
    // refused value is tried again: a lock that was waited for in vain, a
    // row changed by someone else or a shared key would fail the same way.
    // The journal's records of what was saved.
    std::vector<JournalRecord> SaveRow(PatientRow& row, const std::wstring& key, const std::wstring& number,
                                       const std::vector<ColumnValue>& changes) {
        std::vector<JournalRecord> records;
        const std::wstring time = Now();
        AddRecords(records, time, key, number, row, changes);  // the values as read, before the save
        try {
            row.SaveValues(changes);
            return records;
        } catch (const DuplicateKeyError&) {
            throw;
        } catch (const Error& e) {
            if (!IsRefusedValue(e.message())) throw;
            std::vector<ColumnValue> rest;
            for (const auto& change : changes)
                if (std::find(std::begin(kDerivedColumns), std::end(kDerivedColumns), change.first) ==
                    std::end(kDerivedColumns))
                    rest.push_back(change);
            if (rest.size() == changes.size()) throw;
            std::erase_if(records, [](const JournalRecord& r) {
                return std::find(std::begin(kDerivedColumns), std::end(kDerivedColumns), r.column) !=
                       std::end(kDerivedColumns);
            });
            row.SaveValues(rest);
            return records;
        }
    }

    // The journal's saves, newest first, each a row's changed columns.
    struct UndoGroup {
        std::wstring key, number, time;
        std::vector<const JournalRecord*> records;
    };
    const std::vector<UndoGroup>& UndoGroups() {
        if (!groups_.empty() || undoRecords_.empty()) return groups_;
        for (const JournalRecord& r : undoRecords_) {
            if (groups_.empty() || groups_.back().key != r.patientKey || groups_.back().time != r.time)
                groups_.push_back({r.patientKey, r.personalNumber, r.time, {}});
            groups_.back().records.push_back(&r);
        }
        std::reverse(groups_.begin(), groups_.end());
        return groups_;
    }

    // Puts back the values a journal's saves replaced, newest first, each row
    // only while it still holds what the journal wrote.
    void UndoLoop() {
        size_t done = 0;
        ForEachRow(
            UndoGroups(), [this](const UndoGroup& group) { Restore(group); }, [&done] { return ++done; });
    }

    void Restore(const UndoGroup& group) {
        const std::wstring who = L"PATIENTNR " + group.key + L" (" + group.number + L")";
        view_.SetCaption(L"Återställer " + group.number);
        std::unique_ptr<PatientRow> row;
        try {
            row = db_.OpenPatient(group.key);
        } catch (const DuplicateKeyError& e) {
            Problem(L"Det gick inte att återställa " + who + L"! Fel: " + e.message());
            return;
        }
        if (!row) {
            Problem(L"Det gick inte att återställa " + who + L": raden finns inte längre.");
            return;
        }
        std::vector<ColumnValue> changes;
        for (const JournalRecord* r : group.records) {
            if (!row->HasColumn(r->column) || row->Value(r->column) != r->newValue) {
                Problem(L"Det gick inte att återställa " + who + L": kolumnen " + r->column +
                        L" har ändrats sedan " + group.time + L". Raden lämnas som den är.");
                return;
            }
            changes.emplace_back(r->column, r->oldValue);
        }
        try {
            std::vector<JournalRecord> records;
            AddRecords(records, Now(), group.key, group.number, *row, changes);
            row->SaveValues(changes);
            pending_.insert(pending_.end(), records.begin(), records.end());
            Saved();
        } catch (const std::exception& e) {
            Problem(L"Det gick inte att återställa " + who + L"! Fel: " + MessageOf(e));
            ++failedSaves_;
        }
    }

    // Commit when anything was saved, else roll back; a preview always rolls
    // back. A failure here loses the rows saved since the last commit: it
    // gets its line, and their records stay out of the journal.
    void Close() {
        try {
            if (ctx_.mode != RunMode::Preview && anySaved_ && db_.InTransaction()) {
                db_.Commit();
                WriteJournal();
            } else {
                if (db_.InTransaction()) db_.Rollback();
                if (ctx_.mode == RunMode::Preview && !outcome_.stopped) WriteJournal();
            }
        } catch (const std::exception& e) {
            Stop(L"Det gick inte att spara transactionen! Fel: " + MessageOf(e));
        }
    }

    UpdateRunContext& ctx_;
    UpdateRunView& view_;
    PatientDatabase& db_;
    std::wstring driverString_;
    std::vector<std::wstring> keys_;
    std::vector<JournalRecord> undoRecords_;
    std::vector<UndoGroup> groups_;
    std::vector<JournalRecord> pending_;  // the records of the batch not yet committed
    PersonRecord person_;  // its buffers serve every patient
    int savedSinceCommit_ = 0, savedInRun_ = 0, failedSaves_ = 0, lookupsStarted_ = 0;
    // Lookups ahead: the patients queued, by their place in the list.
    struct Ahead {
        std::uint64_t ticket;
        std::wstring number;
    };
    std::unique_ptr<LookupScheduler> scheduler_;
    std::map<size_t, Ahead> ahead_;
    size_t window_ = 0, nextAhead_ = 0;
    std::uint64_t nextTicket_ = 1;
    bool anySaved_ = false;
    RunOutcome outcome_;
};

}  // namespace

std::wstring RegisterGivenUpText(std::chrono::milliseconds giveUpAfter) {
    const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(giveUpAfter).count();
    const std::wstring span = minutes >= 1 ? std::to_wstring(minutes) + L" minuter"
                                           : std::to_wstring(giveUpAfter.count() / 1000) + L" sekunder";
    return L"Varje uppslagning i registret har misslyckats under " + span + L". Avbryter uppdatering!";
}

int ExitCodeOf(const RunOutcome& outcome) { return outcome.stopped ? 2 : outcome.problems ? 1 : 0; }

RunOutcome RunUpdateAll(UpdateRunContext& context) { return UpdateRun(context).Run(); }

}  // namespace tolmar
