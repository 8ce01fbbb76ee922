// The undo of a change journal: the values its saves replaced are put back,
// newest save first, each row only while it is still the journal's person's
// and the database finds it holding what the journal wrote.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/journal.h"
#include "app/run_batches.h"

namespace tolmar {

// One save of the journal: a row's changed columns.
struct UndoGroup {
    std::wstring key, number, time;
    std::vector<JournalRecord> records;
};

// The saves of a journal to undo, read from their source as they are
// needed: the memory held is that of a few saves and of one place in the
// file for every kSavesPerPlace saves, however large the file.
class UndoJournal {
public:
    static constexpr std::size_t kSavesPerPlace = 256;

    // Reads the whole journal once and checks it: what JournalReader
    // refuses, and a save (a row's records of one time) that names a column
    // twice or two personal numbers. Throws Error; nothing is undone then.
    explicit UndoJournal(std::unique_ptr<JournalSource> source);
    UndoJournal(const UndoJournal&) = delete;
    UndoJournal& operator=(const UndoJournal&) = delete;

    // How many saves the journal holds.
    std::size_t size() const { return saves_; }
    // The save `i` counted from the newest (0: the newest). Throws Error
    // when the source can no longer be read as it was.
    UndoGroup NewestFirst(std::size_t i);

private:
    // The save that begins at `place`; the reader is left after it.
    UndoGroup ReadSave(const JournalPlace& place);

    std::unique_ptr<JournalSource> source_;
    std::optional<JournalReader> reader_;
    std::size_t saves_ = 0;
    std::vector<JournalPlace> places_;  // the first record of every kSavesPerPlace-th save
    std::optional<std::size_t> block_;  // which places' saves `starts_` holds
    std::vector<JournalPlace> starts_;  // the first record of each save of that block
};

// The line that refuses an undo of a run folder's journal for another
// database than the run changed.
std::wstring UndoOfAnotherDatabaseText(std::wstring_view journalDatabase, std::wstring_view targetDatabase);

// Puts the journal's saves back, newest first, in the batches of `batches`.
// A protected person's address columns are left as they are (the line says
// so); a row whose personal number is not the journal's is left whole.
void Undo(RunBatches& batches, UpdateRunView& view, PatientDatabase& database, UndoJournal& journal);

}  // namespace tolmar
