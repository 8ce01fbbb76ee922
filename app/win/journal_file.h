// The change journal and the preview's file on disk, beside the errors file.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/journal.h"
#include "app/update_run.h"
#include "tools/win/unique.h"

namespace tolmar::win {

class FileJournal final : public ChangeJournal {
public:
    enum class Kind {
        Append,   // the change journal: a second run of the day adds to it
        Replace,  // a preview: each preview writes its file anew
    };
    FileJournal(std::wstring path, Kind kind) : path_(std::move(path)), kind_(kind) {}
    // A journal that this run created and never wrote a record to is removed.
    ~FileJournal() override;
    FileJournal(const FileJournal&) = delete;
    FileJournal& operator=(const FileJournal&) = delete;

    std::wstring Name() const override;
    // Opens (or creates) the file and writes the byte-order mark and the
    // header into an empty one. An existing file that is not a journal is
    // refused, never added to.
    void Open() override;
    // Writes the records and flushes them to the disk.
    void Append(const std::vector<JournalRecord>& records) override;

private:
    void Write(const std::string& bytes);

    std::wstring path_;
    Kind kind_;
    UniqueFile file_;
    bool created_ = false, written_ = false;
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
