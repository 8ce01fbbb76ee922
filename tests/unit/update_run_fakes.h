// The update run's fakes: an in-memory patient table and database, a
// register that answers from a map (in turn or on worker threads), the
// progress window as lines, a change journal in memory, and the harness
// that runs the update with them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "app/update_run.h"
#include "fake_outage_clock.h"
#include "fake_registry.h"
#include "tools/error.h"
#include "tools/messages.h"
#include "tools/text.h"

namespace tolmar::test {

using Columns = std::map<std::wstring, std::wstring>;

struct FakeTable {
    std::vector<std::wstring> order;            // PATIENTNR in list order
    std::map<std::wstring, Columns> rows;       // PATIENTNR -> columns
    std::set<std::wstring> conflictOnSave;      // someone else changed these rows
    std::set<std::wstring> duplicated;          // keys on more than one row, found when opened
    std::set<std::wstring> duplicatedOnSave;    // keys found shared only when saved
    std::set<std::wstring> refusedColumns;      // columns whose values the database refuses
    std::set<std::wstring> failAlways;          // rows whose every save fails
    // CHAR(10) columns: read back padded with blanks, compared by the
    // database without them.
    std::set<std::wstring> padded;
    // A save of the first key gives the row of the second key a new personal
    // number (as a trigger might).
    std::map<std::wstring, std::pair<std::wstring, std::wstring>> renumberOnSave;
    int saveCalls = 0;
    bool failFinalCommitOnly = false;
    std::vector<std::wstring> events;           // begin, commit, rollback, save:<key>
    bool inTransaction = false;
    bool failCommit = false;
    int failCommitAttempt = 0;  // this commit (counted from 1) fails; 0: none
    int commitAttempts = 0;
    bool failList = false;
    bool failConnect = false;
    std::wstring listSql;
    bool listWithoutNumbers = false;              // the list query has no PERSONNR column
    std::map<std::wstring, std::wstring> listed;  // the PERSONNR listed where the row's has changed since
    std::vector<std::wstring> opened;             // the keys of the rows read, in order

    void Add(const std::wstring& key, Columns columns) {
        order.push_back(key);
        rows[key] = std::move(columns);
    }
    int Count(const std::wstring& event) const {
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }
};

class FakeRow : public PatientRow {
public:
    FakeRow(FakeTable& table, std::wstring key) : table_(table), key_(std::move(key)), read_(table.rows[key_]) {}
    bool HasColumn(std::wstring_view c) const override { return read_.count(std::wstring(c)) > 0; }
    std::wstring Text(std::wstring_view c) const override {
        auto it = read_.find(std::wstring(c));
        if (it == read_.end()) throw Error(L"no column " + std::wstring(c));
        if (table_.padded.count(it->first) && it->second.size() < 10) return it->second + std::wstring(10 - it->second.size(), L' ');
        return it->second;
    }
    std::optional<std::wstring> Value(std::wstring_view c) const override { return Text(c); }
    void SaveValues(const std::vector<ColumnValue>& changes) override {
        ++table_.saveCalls;
        if (table_.conflictOnSave.count(key_)) throw Error(std::wstring(kRowNotLocatedText));
        if (table_.duplicatedOnSave.count(key_)) throw DuplicateKeyError(key_);
        if (table_.failAlways.count(key_)) throw Error(L"[HY000] disk I/O error");
        for (const auto& change : changes)
            if (table_.refusedColumns.count(change.first))
                throw Error(L"[22007] invalid date value for " + change.first);
        for (const auto& [column, value] : changes) table_.rows[key_][column] = value.value_or(L"");
        if (auto it = table_.renumberOnSave.find(key_); it != table_.renumberOnSave.end())
            table_.rows[it->second.first][L"PERSONNR"] = it->second.second;
        table_.events.push_back(L"save:" + key_);
    }

    // The table's present values, compared as text: the fake database's own comparison.
    bool Holds(const std::vector<ColumnValue>& values) override {
        if (table_.conflictOnSave.count(key_) || table_.duplicatedOnSave.count(key_)) return false;
        const Columns& now = table_.rows[key_];
        return std::all_of(values.begin(), values.end(), [&](const ColumnValue& v) {
            auto it = now.find(v.first);
            auto bare = [](std::wstring t) { return t.erase(t.find_last_not_of(L' ') + 1); };
            return it != now.end() && bare(it->second) == bare(v.second.value_or(L""));
        });
    }
    void SaveValuesWhere(const std::vector<ColumnValue>& changes, const std::vector<ColumnValue>& held) override {
        if (!Holds(held)) {
            ++table_.saveCalls;
            throw Error(std::wstring(kRowNotLocatedText));
        }
        SaveValues(changes);
    }

private:
    FakeTable& table_;
    std::wstring key_;
    Columns read_;
};

class FakeDatabase : public PatientDatabase {
public:
    explicit FakeDatabase(FakeTable& t) : t_(t) {}
    void Connect(const std::wstring& cs) override {
        if (t_.failConnect) throw Error(L"[08001] server not found");
        connection = cs;
    }
    void BeginTransaction() override {
        t_.inTransaction = true;
        t_.events.push_back(L"begin");
    }
    // A failed commit ends the transaction, as the database's does.
    void Commit() override {
        ++t_.commitAttempts;
        t_.inTransaction = false;
        if (t_.failCommit && t_.Count(L"commit") == 0) throw Error(L"[08S01] link lost");
        if (t_.failFinalCommitOnly && t_.Count(L"commit") == 0) throw Error(L"[40001] serialization failure");
        if (t_.commitAttempts == t_.failCommitAttempt) throw Error(L"[23514] deferred check violated");
        t_.events.push_back(L"commit");
    }
    void Rollback() override {
        t_.inTransaction = false;
        t_.events.push_back(L"rollback");
    }
    bool InTransaction() const override { return t_.inTransaction; }
    PatientList PatientKeys(const std::wstring& sql) override {
        if (t_.failList) throw Error(L"[42S02] no such table");
        t_.listSql = sql;
        PatientList list{t_.order, std::nullopt};
        if (t_.listWithoutNumbers) return list;
        list.numbers.emplace();
        for (const std::wstring& key : t_.order) list.numbers->push_back(ListedNumber(key));
        return list;
    }
    std::unique_ptr<PatientRow> OpenPatient(const std::wstring& key) override {
        t_.opened.push_back(key);
        if (!t_.rows.count(key)) return nullptr;
        if (t_.duplicated.count(key)) throw DuplicateKeyError(key);
        return std::make_unique<FakeRow>(t_, key);
    }
    std::wstring connection;

private:
    std::wstring ListedNumber(const std::wstring& key) const {
        if (const auto changed = t_.listed.find(key); changed != t_.listed.end()) return changed->second;
        const auto row = t_.rows.find(key);
        if (row == t_.rows.end()) return L"";
        const auto number = row->second.find(L"PERSONNR");
        return number == row->second.end() ? L"" : number->second;
    }

    FakeTable& t_;
};

struct Answer {
    std::int32_t code = 0;
    PersonRecord person;
    std::wstring errms;
};

class FakeLookup : public PersonLookup, public ConcurrentLookup {
public:
    std::map<std::wstring, Answer> answers;  // by number; missing: not found
    std::vector<std::wstring> asked;         // in the order the answers were taken
    std::mutex mutex;
    std::vector<std::wstring> called;        // in the order the lookups were made (any thread)
    std::set<std::thread::id> callers;
    // The register's outage: the calls from the outageFrom-th (0 the first)
    // on, outageCalls of them (-1: all), get no answer.
    int outageFrom = 0, outageCalls = 0;
    std::set<std::wstring> neverAnswered;  // numbers whose every call gets no answer

    // The call is made here (any thread); Finish gives the answer.
    LookupAttempt Attempt(const std::wstring& number) override {
        std::lock_guard lock(mutex);
        const int call = static_cast<int>(called.size());
        called.push_back(number);
        LookupAttempt a;
        a.record.PersonalNumber = number;  // Finish answers from the table
        if ((call >= outageFrom && (outageCalls < 0 || call < outageFrom + outageCalls)) ||
            neverAnswered.count(number)) {
            a.failure = L"Det gick inte att ansluta till servern - URL:http://x";
            a.registerUnreachable = true;
        }
        return a;
    }

    // Lookups ahead: the worker makes the call.
    class Worker : public LookupWorker {
    public:
        explicit Worker(FakeLookup& l) : l_(l) {}
        LookupAttempt Attempt(const std::wstring& number) override {
            {
                std::lock_guard lock(l_.mutex);
                l_.callers.insert(std::this_thread::get_id());
            }
            return l_.Attempt(number);
        }

    private:
        FakeLookup& l_;
    };
    std::unique_ptr<LookupWorker> NewWorker() override { return std::make_unique<Worker>(*this); }
    void Finish(LookupAttempt& attempt, PersonRecord& person, std::int32_t& code, std::wstring& errms) override {
        EXPECT_EQ(attempt.record.PersonalNumber.str(), person.PersonalNumber.str()) << "an answer for another patient";
        if (attempt.registerUnreachable) {  // the patient's own failure
            asked.push_back(person.PersonalNumber.str());
            code = ReturnCode::Failure;
            errms = attempt.failure;
            return;
        }
        Reply(person, code, errms);
    }

    void Reply(PersonRecord& person, std::int32_t& code, std::wstring& errms) {
        asked.push_back(person.PersonalNumber.str());
        auto it = answers.find(person.PersonalNumber.str());
        if (it == answers.end()) {
            code = ReturnCode::NotFound;
            return;
        }
        code = it->second.code;
        if (code == ReturnCode::Found) {
            const auto number = person.PersonalNumber;
            person = it->second.person;
            person.PersonalNumber = number;
        } else {
            errms = it->second.errms;
        }
    }
};

class FakeView : public UpdateRunView {
public:
    std::vector<std::wstring> lines, captions;
    size_t maximum = 0, position = 0;
    std::wstring counts;
    void ClearLines() override { lines.clear(); }
    void AddLine(std::wstring_view l) override { lines.emplace_back(l); }
    void SetCaption(std::wstring_view c) override { captions.emplace_back(c); }
    void StartProgress(size_t m) override { maximum = m; position = 0; }
    void StepProgress() override { ++position; }
    void SetCounts(std::wstring_view t) override { counts = t; }
    void ProcessPendingMessages() override {}
    void SetHourglass(bool) override {}
};

inline PersonRecord Person(const wchar_t* first, const wchar_t* last, const wchar_t* street, const wchar_t* post,
                    const wchar_t* town, const wchar_t* sex = L"K") {
    PersonRecord p;
    p.FirstName = first;
    p.Surname = last;
    p.Address2 = street;
    p.PostNumber = post;
    p.PostTown = town;
    p.Sex = sex;
    return p;
}

inline Columns Row(const wchar_t* pnr, const wchar_t* first, const wchar_t* last, const wchar_t* street,
            const wchar_t* post, const wchar_t* town, const wchar_t* sex = L"K") {
    return {{L"PATIENTNR", L""}, {L"PERSONNR", pnr}, {L"F_RNAMN", first}, {L"EFTERNAMN", last},
            {L"ADRESS", street}, {L"COADRESS", L""}, {L"POSTNR", post}, {L"ORT", town},
            {L"KON", sex},       {L"TEL3NOT", L""},  {L"KONTROLLNR", L""}, {L"FODELSEDAG", L""},
            {L"AKTIV", L"T"}};
}

class FakeJournal : public ChangeJournal {
public:
    std::vector<std::vector<JournalRecord>> appends;
    // For each append, the commits the table had seen by then.
    std::vector<int> commitsAtAppend;
    const FakeTable* table = nullptr;
    bool failOpen = false, failAppend = false, opened = false;
    std::wstring Name() const override { return L"changes 20261210.csv"; }
    void Open() override {
        if (failOpen) throw Error(L"Access is denied.");
        opened = true;
    }
    void Append(const std::vector<JournalRecord>& records) override {
        if (failAppend) throw Error(L"The disk is full.");
        appends.push_back(records);
        if (table) commitsAtAppend.push_back(table->Count(L"commit"));
    }
    std::vector<JournalRecord> All() const {
        std::vector<JournalRecord> all;
        for (const auto& a : appends) all.insert(all.end(), a.begin(), a.end());
        return all;
    }
};

struct Harness {
    FakeTable table;
    FakeDatabase db{table};
    FakeLookup lookup;
    FakeView view;
    FakeRegistry registry;
    Settings settings{registry, L"C_Work\\"};
    bool prepared = true;
    bool unknownProvider = false;
    std::optional<bool> claimGranted;  // nullopt: nothing is claimed
    std::wstring claimedFor;
    RunMode mode = RunMode::Update;
    FakeJournal journal;
    std::vector<JournalRecord> undo;
    RunOutcome outcome;
    // Lookups ahead on this many workers; 0: every lookup in turn.
    unsigned workers = 0;
    CondvarWaiter waiter;
    RunReportRecorder report;
    FakeOutageClock clock;
    std::optional<unsigned> outageMinutes;  // none: the default

    void Run() {
        UpdateRunContext ctx{view, db, lookup, settings,
                             [this]() -> std::optional<PreparedConnection> {
                                 if (!prepared) return std::nullopt;
                                 return PreparedConnection{L"Provider=X", L"SRV", L"Kliniken", L"sa"};
                             },
                             [this](const std::wstring& s) {
                                 if (unknownProvider) throw Error(L"unknown provider in " + s);
                                 return L"Driver=X;" + s;
                             }};
        if (claimGranted)
            ctx.claimDatabase = [this](const std::wstring& s) {
                claimedFor = s;
                return *claimGranted;
            };
        ctx.mode = mode;
        ctx.journal = &journal;
        journal.table = &table;
        ctx.openUndoJournal = [this] {
            return std::make_unique<MemoryJournalSource>(std::string(kUtf8Bom) + JournalHeader() + JournalRows(undo));
        };
        ctx.now = [] { return std::wstring(L"2026-12-10 06:41:07"); };
        ctx.report = &report;
        ctx.clock = &clock;
        if (outageMinutes) ctx.scheduling.outage.stopAfter = std::chrono::minutes(*outageMinutes);
        if (workers) {
            ctx.concurrentLookup = &lookup;
            ctx.waiter = &waiter;
            ctx.scheduling.workers = workers;
        }
        outcome = RunUpdateAll(ctx);
    }
    // n patients whose rows all differ from the register (the street changed).
    void AddPatients(int n, bool differ = true) {
        for (int i = 0; i < n; ++i) {
            wchar_t pnr[16];
            swprintf(pnr, 16, L"1950%04d1234", i);
            const std::wstring key = std::to_wstring(i + 1);
            table.Add(key, Row(pnr, L"Anna", L"Berg", L"Gamla vägen 1", L"903 25", L"UMEÅ"));
            lookup.answers[pnr].person = Person(L"Anna", L"Berg", differ ? L"Nya vägen 2" : L"Gamla vägen 1",
                                                L"90325", L"UMEÅ");
        }
    }
};

}  // namespace tolmar::test
