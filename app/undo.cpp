#include "app/undo.h"

#include <algorithm>
#include <exception>

#include "app/row_rules.h"
#include "register/person_answer.h"
#include "register/personal_number.h"
#include "tools/text.h"

namespace tolmar {
namespace {

bool SameSave(const UndoGroup& group, const JournalRecord& record) {
    return group.key == record.patientKey && group.time == record.time;
}

// The row as the undo's save sees it: each journal column read as the
// journal's new value (what the database has just found the row holding),
// and saved only where the database still finds it so.
class HeldRow final : public PatientRow {
public:
    HeldRow(PatientRow& row, std::vector<ColumnValue> held) : row_(row), held_(std::move(held)) {}
    bool HasColumn(std::wstring_view column) const override { return row_.HasColumn(column); }
    std::wstring Text(std::wstring_view column) const override { return Value(column).value_or(L""); }
    std::optional<std::wstring> Value(std::wstring_view column) const override {
        for (const auto& [name, value] : held_)
            if (name == column) return value;
        return row_.Value(column);
    }
    bool Holds(const std::vector<ColumnValue>& values) override { return row_.Holds(values); }
    void SaveValues(const std::vector<ColumnValue>& changes) override { row_.SaveValuesWhere(changes, held_); }
    void SaveValuesWhere(const std::vector<ColumnValue>& changes, const std::vector<ColumnValue>& held) override {
        row_.SaveValuesWhere(changes, held);
    }

private:
    PatientRow& row_;
    std::vector<ColumnValue> held_;
};

// Whether the save is of a protected person: the journal hid the address,
// or the save (or the row now) carries the register's secrecy mark.
bool IsProtectedSave(const UndoGroup& group, const PatientRow& row) {
    for (const JournalRecord& r : group.records) {
        if (IsAddressColumn(r.column) && r.oldValue == kHiddenAddressText) return true;
        if (r.column == L"ORT" && r.newValue && Trim(*r.newValue) == kSecretTown) return true;
    }
    return row.HasColumn(L"ORT") && Trim(row.Text(L"ORT")) == kSecretTown;
}

void Restore(RunBatches& batches, UpdateRunView& view, PatientDatabase& database, const UndoGroup& group) {
    const std::wstring who = L"PATIENTNR " + group.key + L" (" + group.number + L")";
    const std::wstring failed = L"Det gick inte att återställa " + who;
    view.SetCaption(L"Återställer " + group.number);
    std::unique_ptr<PatientRow> row;
    try {
        row = database.OpenPatient(group.key);
    } catch (const DuplicateKeyError& e) {
        batches.Problem(failed + L"! Fel: " + e.message());
        ++batches.Counts().sharedKeys;
        return;
    }
    if (!row) {
        batches.Problem(failed + L": raden finns inte längre.");
        ++batches.Counts().notRestored;
        return;
    }
    // The key may name another person's row by now (a key used anew, a
    // journal of another register of patients): nothing of it is touched.
    if (WithoutFirstHyphen(row->Text(L"PERSONNR")) != group.number) {
        batches.Problem(failed + L": raden har ett annat personnummer än ändringsloggens. Raden lämnas som den är.");
        ++batches.Counts().notRestored;
        return;
    }
    std::vector<const JournalRecord*> records;
    for (const JournalRecord& r : group.records) records.push_back(&r);
    if (IsProtectedSave(group, *row)) {
        std::erase_if(records, [](const JournalRecord* r) { return IsAddressColumn(r->column); });
        view.AddLine(who + L" har skyddad identitet: adressen lämnas som den är" +
                     (records.empty() ? L"." : L", övriga kolumner återställs."));
        if (records.empty()) return;
    }
    std::vector<ColumnValue> held, changes;
    for (const JournalRecord* r : records) {
        if (!row->HasColumn(r->column)) {
            batches.Problem(failed + L": kolumnen " + r->column + L" finns inte längre. Raden lämnas som den är.");
            ++batches.Counts().notRestored;
            return;
        }
        held.emplace_back(r->column, r->newValue);
        changes.emplace_back(r->column, r->oldValue);
    }
    // The database compares: a padded CHAR(n) column or a date read back in
    // another form still holds what the journal wrote.
    if (!row->Holds(held)) {
        std::wstring what = L"raden";
        for (const ColumnValue& h : held)
            if (!row->Holds({h})) {
                what = L"kolumnen " + h.first;
                break;
            }
        batches.Problem(failed + L": " + what + L" har ändrats sedan " + group.time + L". Raden lämnas som den är.");
        ++batches.Counts().notRestored;
        return;
    }
    HeldRow saved(*row, std::move(held));
    batches.Save(saved, group.key, group.number, changes, failed, RunBatches::Refused::Fails);
}

}  // namespace

UndoJournal::UndoJournal(std::unique_ptr<JournalSource> source) : source_(std::move(source)) {
    reader_.emplace(*source_);
    std::optional<UndoGroup> save;
    while (std::optional<JournalRecord> record = reader_->Next()) {
        const std::wstring where = L"rad " + std::to_wstring(reader_->Place().row) + L": ";
        if (!save || !SameSave(*save, *record)) {
            if (saves_ % kSavesPerPlace == 0) places_.push_back(reader_->Place());
            ++saves_;
            save = UndoGroup{record->patientKey, record->personalNumber, record->time, {}};
        } else {
            if (record->personalNumber != save->number)
                throw Error(where + L"PATIENTNR " + save->key + L" har två personnummer i samma sparande (" +
                            save->time + L").");
            for (const JournalRecord& earlier : save->records)
                if (earlier.column == record->column)
                    throw Error(where + L"kolumnen " + record->column + L" står två gånger för PATIENTNR " + save->key +
                                L" i samma sparande (" + save->time + L").");
        }
        // Only the columns are kept: a save holds at most one record per column.
        save->records.push_back({{}, {}, {}, record->column, std::nullopt, std::nullopt});
    }
}

UndoGroup UndoJournal::ReadSave(const JournalPlace& place) {
    reader_->Return(place);
    std::optional<JournalRecord> record = reader_->Next();
    if (!record) throw Error(L"Ändringsloggen har ändrats medan den lästes.");
    UndoGroup group{record->patientKey, record->personalNumber, record->time, {}};
    do {
        group.records.push_back(std::move(*record));
        record = reader_->Next();
    } while (record && SameSave(group, *record) && group.records.size() <= RefreshedColumns().size());
    return group;
}

UndoGroup UndoJournal::NewestFirst(std::size_t i) {
    if (i >= saves_) throw Error(L"Ändringsloggen har inte så många sparanden.");
    const std::size_t oldestFirst = saves_ - 1 - i;
    const std::size_t block = oldestFirst / kSavesPerPlace;
    if (block_ != block) {
        // The first record of every save of the block, read forward from its place.
        starts_.clear();
        reader_->Return(places_[block]);
        std::optional<UndoGroup> save;
        while (std::optional<JournalRecord> record = reader_->Next()) {
            if (save && SameSave(*save, *record)) continue;
            if (starts_.size() == kSavesPerPlace) break;
            starts_.push_back(reader_->Place());
            save = UndoGroup{record->patientKey, record->personalNumber, record->time, {}};
        }
        block_ = block;
    }
    const std::size_t inBlock = oldestFirst % kSavesPerPlace;
    if (inBlock >= starts_.size()) throw Error(L"Ändringsloggen har ändrats medan den lästes.");
    return ReadSave(starts_[inBlock]);
}

std::wstring UndoOfAnotherDatabaseText(std::wstring_view journalDatabase, std::wstring_view targetDatabase) {
    return L"Ändringsloggen kommer från en körning mot databasen " + std::wstring(journalDatabase) +
           L", inte mot den här (" + std::wstring(targetDatabase) + L"). Återställningen avbryts; inget har ändrats.";
}

namespace {

// The saves' places 0 .. n-1, as the batches go through rows. (Not
// std::views::iota: its size_t form does not compile with every standard
// library and compiler the program is built with.)
struct SaveIndices {
    struct Iterator {
        std::size_t i;
        std::size_t operator*() const { return i; }
        Iterator& operator++() {
            ++i;
            return *this;
        }
        bool operator!=(const Iterator& other) const { return i != other.i; }
    };
    std::size_t n;
    Iterator begin() const { return {0}; }
    Iterator end() const { return {n}; }
    std::size_t size() const { return n; }
};

}  // namespace

void Undo(RunBatches& batches, UpdateRunView& view, PatientDatabase& database, UndoJournal& journal) {
    size_t done = 0;
    batches.ForEachRow(
        SaveIndices{journal.size()},
        [&](std::size_t i) {
            UndoGroup group;
            try {
                group = journal.NewestFirst(i);
            } catch (const std::exception& e) {
                batches.Stop(L"Det gick inte att läsa ändringsloggen! Fel: " + MessageOf(e));
                return;
            }
            Restore(batches, view, database, group);
        },
        [&done] { return ++done; });
}

}  // namespace tolmar
