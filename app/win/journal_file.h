// The change journal and the preview's file on disk, in the run's folder.
#pragma once

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

// The records of a journal file, for an undo; throws Error when the file
// cannot be read or is not a journal.
std::vector<JournalRecord> ReadJournalFile(const std::wstring& path);

}  // namespace tolmar::win
