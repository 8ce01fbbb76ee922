// The statements the update run sends to the patient database, built as
// text so that every database's form can be checked without that database.
#pragma once

#include <chrono>
#include <optional>
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

// The statements that set, once a connection is made, what the save path
// relies on, in order:
//  - how long any later statement waits for a lock held by someone else
//    (SQLite: the driver's settings do it, WithBoundedBusyWait);
//  - SQL Server: XACT_ABORT OFF, so that an error ends only its statement
//    and not the whole transaction with the batch's saves already counted;
//    NOCOUNT OFF, so that an UPDATE reports the rows it changed (with
//    NOCOUNT ON the driver reports 0, and every save would read as a row
//    changed since it was read). A login's or server's defaults may set
//    either the other way.
std::vector<std::wstring> SessionSettingsSql(SqlDialect dialect, std::chrono::seconds limit);

// The ODBC connection string with the SQLite driver's busy time-out bounded:
// that driver waits for a locked database as its "Timeout" attribute says
// (100 s unless given), and a busy time-out set by a statement does not
// change it. For a SQLite driver the attribute is set to `limit`, or kept
// where it is already shorter; any other string is returned as it is.
std::wstring WithBoundedBusyWait(std::wstring_view odbcString, std::chrono::seconds limit);

// True when the ODBC connection string names the PostgreSQL driver
// (psqlODBC: "PostgreSQL Unicode", "PostgreSQL ANSI", "psqlodbc...").
bool NamesPostgreSqlDriver(std::wstring_view odbcString);

// The PostgreSQL driver's connection string with what the save path relies
// on set (psqlODBC takes the last of a name given twice, and a connection
// string's attributes over a data source's):
//  - "Protocol=7.4-2", the driver's statement-level rollback: a statement
//    that fails is undone alone (the driver sets a savepoint before it), and
//    the rest of the transaction stands. The refused-save and retry paths and
//    the counts rely on that. Level 1 rolls the whole transaction back on
//    any error, so that rows already counted as saved are silently lost;
//    level 0 leaves the transaction aborted, and its COMMIT then ends in a
//    rollback that the driver reports as done. A level the data link asks
//    for ("Protocol", or its short form "A1") is replaced.
//  - "UseServerSidePrepare=0" unless the data link sets it ("C8" too):
//    with server-side prepare the driver sends its savepoint as a round trip
//    of its own before every statement; without it, the savepoint goes in
//    the statement's own message.
inline constexpr std::wstring_view kStatementRollbackLevel = L"7.4-2";
struct PinnedConnectionString {
    std::wstring connectionString;
    std::vector<std::wstring> added;            // "Name=value" set by the program, in order
    std::optional<std::wstring> replacedLevel;  // the data link's own Protocol value, when replaced
};
PinnedConnectionString PinnedForPostgreSql(std::wstring_view odbcString);

// The connection-string setting that WithBoundedBusyWait leaves in
// `bounded` ("Timeout=N"), or empty when it left the string as it was.
std::wstring BoundedBusyWaitSetting(std::wstring_view bounded);

// An identifier in the driver's quotes (quotes inside it doubled).
std::wstring QuotedIdentifier(std::wstring_view name, std::wstring_view quote);

}  // namespace tolmar
