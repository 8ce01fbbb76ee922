// The undo of a change journal: the values its saves replaced are put back,
// newest save first, each row only while it still holds what the journal
// wrote.
#pragma once

#include <string>
#include <vector>

#include "app/journal.h"
#include "app/run_batches.h"

namespace tolmar {

// One save of the journal: a row's changed columns.
struct UndoGroup {
    std::wstring key, number, time;
    std::vector<const JournalRecord*> records;
};

// The journal's saves, newest first; they point into `records`.
std::vector<UndoGroup> UndoGroups(const std::vector<JournalRecord>& records);

// Puts the groups back, in the batches of `batches`.
void Undo(RunBatches& batches, UpdateRunView& view, PatientDatabase& database, const std::vector<UndoGroup>& groups);

}  // namespace tolmar
