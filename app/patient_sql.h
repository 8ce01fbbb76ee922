// The statements the update run sends to the patient database, built as
// text so that every database's form can be checked without that database.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace tolmar {

// The database's kind, as far as the statements differ.
enum class SqlDialect { Generic, SqlServer, PostgreSql, Sqlite };

// From the driver's DBMS name (SQL_DBMS_NAME).
SqlDialect DialectOfDbms(std::wstring_view dbmsName);

// One changed column of an optimistic save.
struct ChangedColumn {
    std::wstring name;
    bool longText = false;  // SQL_LONGVARCHAR or SQL_WLONGVARCHAR as the driver describes it
    bool wasNull = false;   // the value read (or to be held) is NULL
};

// The save of one row: the changed columns set, the row found by its key
// alone (a key on more than one row matches nothing), and every changed
// column still holding the value that was read. Parameters, in order: the
// new values, the key twice, the old values of the columns that were not
// NULL. A long-text column is compared through a cast where the server
// cannot compare it with "=" (SQL Server's text and ntext).
std::wstring OptimisticUpdateSql(const std::vector<ChangedColumn>& columns, std::wstring_view keyColumn,
                                 std::wstring_view identifierQuote, SqlDialect dialect);

// How many rows have the key, on that row alone, with each column holding
// a value (wasNull: NULL), compared as the save compares them. Parameters:
// the key twice, the values that are not NULL.
std::wstring HoldsSql(const std::vector<ChangedColumn>& columns, std::wstring_view keyColumn,
                      std::wstring_view identifierQuote, SqlDialect dialect);

// How many rows have the key (one parameter: the key).
std::wstring KeyCountSql(std::wstring_view keyColumn, std::wstring_view identifierQuote);

// The statement that bounds how long any later statement of the connection
// waits for a lock held by someone else; empty where the driver's settings
// do it (SQLite) or the dialect has none.
std::wstring LockTimeoutSql(SqlDialect dialect, std::chrono::seconds limit);

// The ODBC connection string with the SQLite driver's busy time-out bounded:
// that driver waits for a locked database as its "Timeout" attribute says
// (100 s unless given), and a busy time-out set by a statement does not
// change it. For a SQLite driver the attribute is set to `limit`, or kept
// where it is already shorter; any other string is returned as it is.
std::wstring WithBoundedBusyWait(std::wstring_view odbcString, std::chrono::seconds limit);

// An identifier in the driver's quotes (quotes inside it doubled).
std::wstring QuotedIdentifier(std::wstring_view name, std::wstring_view quote);

}  // namespace tolmar
