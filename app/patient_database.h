// The patient database as the update run sees it: a connection with
// transactions, the list of patients to refresh, and one patient row at a
// time that can be saved back. The ODBC implementation lives in
// app/win/db/odbc_patient_database.*; tests use an in-memory one.
//
// Every failure is thrown as tolmar::Error carrying the driver's diagnostic
// text (SQLSTATE and message); a save that finds the row changed by someone
// else since it was read throws Error(kRowNotLocatedText) exactly.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/error.h"

namespace tolmar {

// More than one row of KUNDER has the patient's key: nothing may be written
// to any of them, for a save by that key would overwrite another patient.
class DuplicateKeyError : public Error {
public:
    explicit DuplicateKeyError(std::wstring_view key)
        : Error(L"PATIENTNR " + std::wstring(key) +
                L" finns på flera rader i KUNDER; ingen av dem ändras.") {}
};

// A column and the value to write into it (nullopt: NULL).
using ColumnValue = std::pair<std::wstring, std::optional<std::wstring>>;

// One row of KUNDER, read by its PATIENTNR. Columns are read and written as
// text; a NULL column reads as "".
class PatientRow {
public:
    virtual ~PatientRow() = default;
    // Whether the row's result has the column (names without regard to case).
    virtual bool HasColumn(std::wstring_view column) const = 0;
    // The column's text; throws Error when the column does not exist.
    virtual std::wstring Text(std::wstring_view column) const = 0;
    // The column's value, nullopt for NULL; throws Error when the column
    // does not exist.
    virtual std::optional<std::wstring> Value(std::wstring_view column) const = 0;
    // Writes the changed columns of this row in one UPDATE by primary key,
    // which also requires each changed column to still hold the value that
    // was read (optimistic concurrency) and the key to be on this row alone.
    // No row matched: throws Error(kRowNotLocatedText); the key on more than
    // one row: throws DuplicateKeyError and writes nothing. A column the row
    // does not have: throws Error.
    virtual void SaveValues(const std::vector<ColumnValue>& changes) = 0;
    // Whether the row (its key on it alone) holds each of `values` as the
    // database compares them (a NULL: IS NULL), not as they read back: a
    // CHAR(n) column's padding or a date's form does not count.
    virtual bool Holds(const std::vector<ColumnValue>& values) = 0;
    // As SaveValues, but what each changed column must still hold is given
    // in `held` (the same columns, compared as Holds does) instead of the
    // value that was read.
    virtual void SaveValuesWhere(const std::vector<ColumnValue>& changes, const std::vector<ColumnValue>& held) = 0;
    void Save(const std::vector<std::pair<std::wstring, std::wstring>>& changes) {
        SaveValues(std::vector<ColumnValue>(changes.begin(), changes.end()));
    }
};

// What a connection was given beyond its data link: the settings the
// program added to the connection string ("Name=value"), and the data
// link's own rollback level when the program replaced it.
struct ConnectionAdditions {
    std::vector<std::wstring> settings;
    std::optional<std::wstring> replacedLevel;
};

// The patients a run goes through: each PATIENTNR of the list query, in
// result order ("" for NULL), and the PERSONNR the query gave on the same
// row when it has that column.
struct PatientList {
    // A listed PERSONNR longer than this is kept as "": no personal number
    // is that long, and the list holds every patient at once.
    static constexpr size_t kMostNumberChars = 32;

    std::vector<std::wstring> keys;
    // One for each key ("" for NULL); none when the query has no PERSONNR.
    std::optional<std::vector<std::wstring>> numbers;
};

class PatientDatabase {
public:
    virtual ~PatientDatabase() = default;
    // Connects with an ODBC connection string (closing an earlier connection).
    virtual void Connect(const std::wstring& connectionString) = 0;
    // What the last Connect added to its connection string.
    virtual ConnectionAdditions Additions() const { return {}; }
    virtual void BeginTransaction() = 0;
    // Throws Error when the database refuses the commit or cannot be
    // reached; the transaction has then ended all the same, nothing of it
    // kept, and InTransaction() is false.
    virtual void Commit() = 0;
    virtual void Rollback() = 0;
    virtual bool InTransaction() const = 0;
    // Runs the list query and returns its PATIENTNR values in result order,
    // and its PERSONNR values when it has them (columns named without regard
    // to case), as text, read with a forward-only cursor: nothing else of
    // the rows is kept. Throws Error when it has no PATIENTNR.
    virtual PatientList PatientKeys(const std::wstring& listSql) = 0;
    // "SELECT * FROM KUNDER WHERE PATIENTNR = ?" with the key; nullptr when
    // no row has it; throws DuplicateKeyError when more than one row has it.
    virtual std::unique_ptr<PatientRow> OpenPatient(const std::wstring& patientKey) = 0;
};

}  // namespace tolmar
