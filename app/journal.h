// The change journal of the update run: one record for every column that a
// saved row changed, as a CSV file that Excel and any CSV reader open (UTF-8
// with a byte-order mark, RFC 4180 quoting, CR LF, a header row). The same
// records, read back, drive the undo.
//
// A value is always written in quotes; a NULL is an empty field without
// quotes, so that a column that was NULL is put back as NULL, not as "".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolmar {

struct JournalRecord {
    std::wstring time;            // "2026-12-10 06:41:07", local time of the save
    std::wstring patientKey;      // PATIENTNR
    std::wstring personalNumber;  // as the run used it (no hyphen)
    std::wstring column;
    std::optional<std::wstring> oldValue;  // nullopt: NULL
    std::optional<std::wstring> newValue;
    bool operator==(const JournalRecord&) const = default;
};

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// The header row (UTF-8, without the byte-order mark, with its CR LF).
std::string JournalHeader();
// The records as CSV rows (UTF-8), each ending in CR LF.
std::string JournalRows(const std::vector<JournalRecord>& records);

// The columns a journal may name: those the update run writes (the
// refreshed columns of app/row_rules.h). Anything
// else in a file to undo is refused, so that an undo writes nowhere else.
bool IsJournalColumn(std::wstring_view column);

// Reads a whole journal file (byte-order mark, header, rows). Throws Error
// naming the row when the file is not a journal of this program: another
// header, a row with another number of fields, a broken quote, bytes that
// are not UTF-8, a column the run does not write, an empty key.
std::vector<JournalRecord> ReadJournal(std::string_view bytes);

// Where a run leaves the records of its changes: the change journal (a
// preview's file, for a preview).
class ChangeJournal {
public:
    virtual ~ChangeJournal() = default;
    virtual std::wstring Name() const = 0;  // for the lines
    // Makes sure the records can be written; throws Error when not.
    virtual void Open() = 0;
    // Adds the records for good; throws Error when they cannot be written.
    virtual void Append(const std::vector<JournalRecord>& records) = 0;
};

// A journal larger than this is refused before it is read.
inline constexpr std::size_t kMaxJournalBytes = 256u << 20;

}  // namespace tolmar
