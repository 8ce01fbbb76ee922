// The row rules of the update run: which columns of a patient row the
// register refreshes, how each takes the register's value, and whether a
// stored row differs from the register. One table of refreshed columns
// drives the comparison, the save, the change journal's column check and
// the undo: a new refreshed column is one row of it.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/patient_database.h"
#include "register/person_record.h"

namespace tolmar {

// What a column's value is taken from: the row as stored, the register's
// record and the personal number the run looked up.
struct RowInput {
    const PatientRow& row;
    const PersonRecord& person;
    std::wstring_view number;
};

// How a stored value is held against the register's.
enum class Comparison {
    Equal,               // the stored text must equal the register's value
    FirstNameOccurs,     // the stored first name must occur among the register's names
    EqualWhereTableHasIt, // as Equal, only where the table has the column
    WrittenAlong,        // never compared: written only with a row that differs
};

struct RefreshedColumn {
    std::wstring_view name;
    // The register's value for the column; nullopt: nothing to write (the
    // stored value stands, or the table or the number cannot take one).
    std::optional<std::wstring> (*take)(const RowInput&);
    // The register may be silent on it (a blank value): its silence must
    // not erase what the clinic recorded, so the column is then left alone.
    bool registerMayBeSilent;
    Comparison comparison;
    // Derived from the personal number: when the database refuses the
    // value, the row is saved without it (the rest of the row does not need it).
    bool fromPersonalNumber;
};

// The refreshed columns, in the order they are compared and set.
std::span<const RefreshedColumn> RefreshedColumns();

// Whether the update run writes the column (and so a journal may name it).
bool IsRefreshedColumn(std::wstring_view column);
// Whether the column's value is derived from the personal number.
bool IsFromPersonalNumber(std::wstring_view column);

// Compare and save, the decisions only: the column changes for a patient
// row and the register's record, empty when the row equals the register.
// `row` answers column reads (required columns missing: Error).
struct RowDecision {
    bool differs = false;
    std::vector<std::pair<std::wstring, std::wstring>> changes;  // in the order they are set
};
RowDecision DecideRowUpdate(const PatientRow& row, const PersonRecord& person, std::wstring_view number);

// Whether year, month and day (as digits, "1932", "12", "12") form a date of
// the calendar: a coordination number's day (real day + 60) does not.
bool IsCalendarDate(std::wstring_view year, std::wstring_view month, std::wstring_view day);

// Whether a database's diagnostics ("[SQLSTATE] message" lines) say that a
// value was refused (data exception, constraint), rather than that the
// statement could not run (a lock, a lost connection).
bool IsRefusedValue(std::wstring_view diagnostics);

// A protected identity: the register marks the person with its secrecy
// text in place of the town, and the address goes with it. The journal
// (and a preview's file) keeps none of the address the row held: each
// address column's former value is recorded as kHiddenAddressText, and an
// undo leaves those columns as they are.
bool IsProtectedIdentity(const PersonRecord& person);
bool IsAddressColumn(std::wstring_view column);
inline constexpr std::wstring_view kHiddenAddressText = L"<skyddad adress>";

// The row as a protected person's save is to be recorded: every other
// column as `row` reads it, an address column that the save changes read as
// kHiddenAddressText. Saving goes to `row` unchanged (its check of what it
// read included).
class AddressHiddenRow final : public PatientRow {
public:
    AddressHiddenRow(PatientRow& row, const std::vector<std::pair<std::wstring, std::wstring>>& changes)
        : row_(row), changes_(changes) {}
    bool HasColumn(std::wstring_view column) const override { return row_.HasColumn(column); }
    std::wstring Text(std::wstring_view column) const override { return Value(column).value_or(L""); }
    std::optional<std::wstring> Value(std::wstring_view column) const override;
    bool Holds(const std::vector<ColumnValue>& values) override { return row_.Holds(values); }
    void SaveValues(const std::vector<ColumnValue>& changes) override { row_.SaveValues(changes); }
    void SaveValuesWhere(const std::vector<ColumnValue>& changes, const std::vector<ColumnValue>& held) override {
        row_.SaveValuesWhere(changes, held);
    }

private:
    PatientRow& row_;
    const std::vector<std::pair<std::wstring, std::wstring>>& changes_;
};

// "12345" -> "123 45"; any other length unchanged.
std::wstring PostNumberWithSpace(std::wstring_view postNumber);

}  // namespace tolmar
