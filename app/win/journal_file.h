// The change journal and the preview's file on disk, beside the errors file.
#pragma once

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

// The records of a journal file, for an undo; throws Error when the file
// cannot be read or is not a journal.
std::vector<JournalRecord> ReadJournalFile(const std::wstring& path);

}  // namespace tolmar::win
