// The change journal and the preview's file on disk, in the run's folder.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/journal.h"
#include "app/update_run.h"
#include "tools/win/unique.h"

namespace tolmar::win {

class FileJournal final : public ChangeJournal {
public:
    // `name` in `folder` (a path ending in "\"); an empty folder: the run has
    // none, and Open refuses.
    FileJournal(std::wstring folder, std::wstring_view name) : folder_(std::move(folder)), name_(name) {}
    FileJournal(const FileJournal&) = delete;
    FileJournal& operator=(const FileJournal&) = delete;

    std::wstring Name() const override { return name_; }
    // Creates the file, with the byte-order mark and the header. A file that
    // is there already is refused and left as it is: a journal is written by
    // one run only, and nothing is ever added to an earlier one.
    void Open() override;
    // Writes the records and flushes them to the disk.
    void Append(const std::vector<JournalRecord>& records) override;
    // Whether Open made the file (it stays, also with no record in it).
    bool Created() const { return created_; }

private:
    void Write(const std::string& bytes);

    std::wstring folder_, name_;
    UniqueFile file_;
    bool created_ = false;
};

// A run folder's journal.
inline constexpr wchar_t kRunJournalFile[] = L"changes.csv";

// The journal that an undo is given: `path` names a journal file or a run
// folder (its journal then). When a run's "summary.json" lies beside the
// journal, `database` is the identity of the database that run changed,
// and the undo is for that database only.
struct UndoJournalFile {
    std::wstring path;
    std::optional<std::wstring> database;
};
// Throws Error when the summary cannot be read or names no database.
UndoJournalFile LocateUndoJournal(const std::wstring& path);

// The journal file as the undo reads it: a piece at a time, never beyond
// the size it had when it was opened (the undo's own records may be added
// to it meanwhile). Throws Error when it cannot be opened.
std::unique_ptr<JournalSource> OpenJournalSource(const std::wstring& path);

}  // namespace tolmar::win
