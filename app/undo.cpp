#include "app/undo.h"

#include <algorithm>

namespace tolmar {
namespace {

void Restore(RunBatches& batches, UpdateRunView& view, PatientDatabase& database, const UndoGroup& group) {
    const std::wstring who = L"PATIENTNR " + group.key + L" (" + group.number + L")";
    const std::wstring failed = L"Det gick inte att återställa " + who;
    view.SetCaption(L"Återställer " + group.number);
    std::unique_ptr<PatientRow> row;
    try {
        row = database.OpenPatient(group.key);
    } catch (const DuplicateKeyError& e) {
        batches.Problem(failed + L"! Fel: " + e.message());
        return;
    }
    if (!row) {
        batches.Problem(failed + L": raden finns inte längre.");
        return;
    }
    std::vector<ColumnValue> changes;
    for (const JournalRecord* r : group.records) {
        if (!row->HasColumn(r->column) || row->Value(r->column) != r->newValue) {
            batches.Problem(failed + L": kolumnen " + r->column + L" har ändrats sedan " + group.time +
                            L". Raden lämnas som den är.");
            return;
        }
        changes.emplace_back(r->column, r->oldValue);
    }
    batches.Save(*row, group.key, group.number, changes, failed, RunBatches::Refused::Fails);
}

}  // namespace

std::vector<UndoGroup> UndoGroups(const std::vector<JournalRecord>& records) {
    std::vector<UndoGroup> groups;
    for (const JournalRecord& r : records) {
        if (groups.empty() || groups.back().key != r.patientKey || groups.back().time != r.time)
            groups.push_back({r.patientKey, r.personalNumber, r.time, {}});
        groups.back().records.push_back(&r);
    }
    std::reverse(groups.begin(), groups.end());
    return groups;
}

void Undo(RunBatches& batches, UpdateRunView& view, PatientDatabase& database, const std::vector<UndoGroup>& groups) {
    size_t done = 0;
    batches.ForEachRow(
        groups, [&](const UndoGroup& group) { Restore(batches, view, database, group); }, [&done] { return ++done; });
}

}  // namespace tolmar
