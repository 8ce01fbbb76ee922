// ODBC with owners: every handle belongs to a move-only object that frees it
// on every path, and every failed call becomes tolmar::Error carrying the
// driver's diagnostics ("[SQLSTATE] message", one line per record).
#pragma once

#include <windows.h>
#include <sql.h>
#include <sqlext.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/win/unique.h"

namespace tolmar::win::odbc {

struct EnvTraits {
    static SQLHANDLE Invalid() { return SQL_NULL_HANDLE; }
    static void Close(SQLHANDLE h) { SQLFreeHandle(SQL_HANDLE_ENV, h); }
};
// A connection handle is rolled back and disconnected before it is freed: a
// driver refuses to disconnect inside a transaction.
struct DbcTraits {
    static SQLHANDLE Invalid() { return SQL_NULL_HANDLE; }
    static void Close(SQLHANDLE h) {
        SQLEndTran(SQL_HANDLE_DBC, h, SQL_ROLLBACK);
        SQLDisconnect(h);
        SQLFreeHandle(SQL_HANDLE_DBC, h);
    }
};
struct StmtTraits {
    static SQLHANDLE Invalid() { return SQL_NULL_HANDLE; }
    static void Close(SQLHANDLE h) { SQLFreeHandle(SQL_HANDLE_STMT, h); }
};
using UniqueEnv = UniqueHandle<SQLHANDLE, EnvTraits>;
using UniqueDbc = UniqueHandle<SQLHANDLE, DbcTraits>;
using UniqueStmt = UniqueHandle<SQLHANDLE, StmtTraits>;

// The diagnostic records of a handle, "[SQLSTATE] message" each, joined with
// "\r"; "" when the handle has none.
std::wstring Diagnostics(SQLSMALLINT handleType, SQLHANDLE handle);

// The SQLSTATEs of a handle's diagnostic records, in order.
std::vector<std::wstring> DiagnosticStates(SQLSMALLINT handleType, SQLHANDLE handle);

// Nothing when `result` is a success; otherwise throws Error with the
// handle's diagnostics (or, when it has none, the failed call and its code).
void Check(SQLRETURN result, SQLSMALLINT handleType, SQLHANDLE handle, std::string_view call);

// An ODBC 3 environment.
class Environment {
public:
    Environment();  // throws Error
    SQLHENV get() const { return env_.get(); }

private:
    UniqueEnv env_;
};

// The names of the ODBC drivers installed on the machine (SQLDriversW).
std::vector<std::wstring> InstalledDrivers();

struct ColumnInfo {
    std::wstring name;
    SQLSMALLINT sqlType = SQL_UNKNOWN_TYPE;
    SQLULEN size = 0;
    SQLSMALLINT decimalDigits = 0;
};

// One connection, opened without prompting. Autocommit is on until a
// transaction begins; destroying the object rolls an open transaction back.
class Connection {
public:
    Connection() = default;
    Connection(Connection&&) noexcept = default;
    // Closes this connection before taking the other's.
    Connection& operator=(Connection&& other) noexcept;
    ~Connection() { Close(); }

    // Throws Error with the driver's diagnostics when it cannot connect, or
    // with a plain explanation when the connection names a data source (or
    // its driver) that exists only for programs of the other bitness
    // (tools/db/odbc_data_sources.h).
    static Connection Open(const std::wstring& connectionString);

    bool connected() const { return static_cast<bool>(dbc_); }
    SQLHDBC get() const { return dbc_.get(); }
    void Close();

    // Autocommit off: the statements that follow form one transaction.
    void BeginTransaction();
    // Ends the transaction and turns autocommit back on. On failure the
    // transaction's state is the driver's; throws Error.
    void EndTransaction(bool commit);

    // The character the driver quotes identifiers with ("\"" for most);
    // "" when it does not quote them.
    std::wstring IdentifierQuote() const;
    // The database's product name as the driver gives it (SQL_DBMS_NAME).
    std::wstring DbmsName() const;

private:
    std::unique_ptr<Environment> env_;  // freed after the connection
    UniqueDbc dbc_;
};

// One statement on a connection, freed before the connection is. The texts
// of bound parameters are kept by the statement until it is destroyed.
class Statement {
public:
    explicit Statement(const Connection& connection);
    Statement(Statement&&) noexcept = default;
    Statement& operator=(Statement&&) noexcept = default;

    SQLHSTMT get() const { return stmt_.get(); }

    // A read-only cursor that only moves forward, set before executing.
    void MakeForwardOnlyReadOnly();

    // Binds the next parameter (1, 2, ...) as text converted by the driver to
    // `sqlType`, or as NULL.
    void BindText(const std::optional<std::wstring>& value, SQLSMALLINT sqlType, SQLULEN columnSize,
                  SQLSMALLINT decimalDigits = 0);

    void ExecuteDirect(const std::wstring& sql);
    // A statement prepared once and executed many times: Prepare, then for
    // each execution BindText its parameters anew and Execute; Reset closes
    // the last execution's cursor and forgets its parameters.
    void Prepare(const std::wstring& sql);
    void Execute();
    void Reset();
    SQLLEN RowCount();
    SQLSMALLINT ColumnCount();
    ColumnInfo Describe(SQLUSMALLINT column);
    // 1-based index of the result column named `name` (without regard to
    // case); 0 when there is none.
    SQLUSMALLINT FindColumn(std::wstring_view name);
    bool Fetch();
    // The column of the current row as text; nullopt for NULL. Columns must be
    // read in ascending order.
    std::optional<std::wstring> Text(SQLUSMALLINT column);

private:
    UniqueStmt stmt_;
    std::deque<std::wstring> texts_;
    std::deque<SQLLEN> lengths_;
};

}  // namespace tolmar::win::odbc
