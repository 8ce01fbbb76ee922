// The change journal of the update run: one record for every column that a
// saved row changed, as a CSV file that Excel and any CSV reader open (UTF-8
// with a byte-order mark, RFC 4180 quoting, CR LF, a header row). The same
// records, read back, drive the undo.
//
// A value is always written in quotes; a NULL is an empty field without
// quotes, so that a column that was NULL is put back as NULL, not as "".
//
// A spreadsheet takes a cell that begins with "=", "+", "-" or "@" for a
// formula, and some drop a leading tab or CR. The journal writes such a
// value (and one that begins with "'") behind one "'", which a spreadsheet
// shows as text, and its reader removes exactly that "'". Journals written
// so have a seventh column, "Format", holding "2" on every row; a journal
// of six columns is of the earlier form and is read as it was written, its
// values taken as they stand.
#pragma once

#include <cstddef>
#include <cstdint>
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

// Reads a whole journal held in memory (byte-order mark, header, rows).
// Throws Error naming the row when the bytes are not a journal of this
// program: another header, a row with another number of fields, a broken
// quote, bytes that are not UTF-8, a column the run does not write, an
// empty key, a value of a journal with the "Format" column that begins as
// no value is written.
std::vector<JournalRecord> ReadJournal(std::string_view bytes);

// Where a journal is read from: a file, read a piece at a time.
class JournalSource {
public:
    virtual ~JournalSource() = default;
    // Up to `size` bytes from the current place, fewer only at the end (0
    // there). Throws Error when the bytes cannot be read.
    virtual std::size_t Read(char* buffer, std::size_t size) = 0;
    // Moves to `offset` bytes from the start. Throws Error.
    virtual void Seek(std::uint64_t offset) = 0;
};

// Bytes in memory as a journal's source.
class MemoryJournalSource final : public JournalSource {
public:
    explicit MemoryJournalSource(std::string bytes) : bytes_(std::move(bytes)) {}
    std::size_t Read(char* buffer, std::size_t size) override;
    void Seek(std::uint64_t offset) override;

private:
    std::string bytes_;
    std::size_t at_ = 0;
};

// Where a record's row begins, to come back to it.
struct JournalPlace {
    std::uint64_t offset = 0;  // bytes from the file's start
    std::uint64_t row = 0;     // the row's number in the file (the header is row 1)
};

// Reads a journal one record at a time, holding one row, however large the
// file: the header is checked when it is made, each row as it is reached,
// with the same refusals as ReadJournal.
class JournalReader {
public:
    explicit JournalReader(JournalSource& source);
    // The next record, nullopt after the last.
    std::optional<JournalRecord> Next();
    // Where the record that Next returned last began.
    JournalPlace Place() const { return place_; }
    // Goes back to a place that Place gave; Next then returns its record again.
    void Return(const JournalPlace& place);

private:
    struct Field {
        std::string text;
        bool quoted = false;
    };
    int Get();
    int Peek();
    bool Row(std::vector<Field>& fields);
    [[noreturn]] void Refuse(const std::wstring& why) const;

    JournalSource& source_;
    std::string buffer_;
    std::size_t at_ = 0;
    std::uint64_t offset_ = 0;  // of buffer_[at_]
    std::uint64_t row_ = 0;     // rows read
    JournalPlace place_;
    bool escaped_ = false;  // a journal with the "Format" column
    std::vector<Field> fields_;
};

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

// A journal in memory larger than this is refused before it is read.
inline constexpr std::size_t kMaxJournalBytes = 256u << 20;
// A row of a journal larger than this is refused (a value of a patient row
// is far shorter).
inline constexpr std::size_t kMaxJournalRowBytes = 1u << 20;

}  // namespace tolmar
