#include "tools/win/db/odbc.h"

#include <algorithm>

#include "tools/error.h"
#include "tools/text.h"
#include "tools/win/db/odbc_data_sources.h"

namespace tolmar::win::odbc {
namespace {

SQLWCHAR* Sql(std::wstring& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }
SQLWCHAR* Sql(const std::wstring& text) { return reinterpret_cast<SQLWCHAR*>(const_cast<wchar_t*>(text.c_str())); }

}  // namespace

std::wstring Diagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
    std::wstring text;
    if (handle == SQL_NULL_HANDLE) return text;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        std::wstring message(512, L'\0');
        SQLSMALLINT length = 0;
        SQLRETURN r = SQLGetDiagRecW(handleType, handle, record, state, &native, Sql(message),
                                     static_cast<SQLSMALLINT>(message.size()), &length);
        if (r == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
            message.assign(static_cast<size_t>(length) + 1, L'\0');
            r = SQLGetDiagRecW(handleType, handle, record, state, &native, Sql(message),
                               static_cast<SQLSMALLINT>(message.size()), &length);
        }
        if (!SQL_SUCCEEDED(r)) break;
        message.resize(std::min(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), message.size()));
        if (!text.empty()) text += L'\r';
        text += L"[" + std::wstring(reinterpret_cast<const wchar_t*>(state)) + L"] " + Trim(message);
    }
    return text;
}

std::vector<std::wstring> DiagnosticStates(SQLSMALLINT handleType, SQLHANDLE handle) {
    std::vector<std::wstring> states;
    if (handle == SQL_NULL_HANDLE) return states;
    for (SQLSMALLINT record = 1; record <= 64; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR message[2] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN r = SQLGetDiagRecW(handleType, handle, record, state, &native, message, 2, &length);
        if (!SQL_SUCCEEDED(r)) break;
        states.emplace_back(reinterpret_cast<const wchar_t*>(state));
    }
    return states;
}

void Check(SQLRETURN result, SQLSMALLINT handleType, SQLHANDLE handle, std::string_view call) {
    if (SQL_SUCCEEDED(result)) return;
    std::wstring text = Diagnostics(handleType, handle);
    if (text.empty())
        text = L"ODBC-anropet " + FromUtf8(call) + L" misslyckades (kod " + std::to_wstring(result) + L").";
    throw Error(text);
}

Environment::Environment() {
    SQLHANDLE env = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        throw Error(L"ODBC-miljön kunde inte skapas: finns ODBC-drivrutinshanteraren på datorn?");
    env_.reset(env);
    Check(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0), SQL_HANDLE_ENV,
          env, "SQLSetEnvAttr");
}

std::vector<std::wstring> InstalledDrivers() {
    Environment env;
    std::vector<std::wstring> drivers;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (true) {
        SQLWCHAR description[512] = {};
        SQLWCHAR attributes[2] = {};
        SQLSMALLINT descriptionLength = 0, attributesLength = 0;
        const SQLRETURN r = SQLDriversW(env.get(), direction, description, 512, &descriptionLength, attributes, 2,
                                        &attributesLength);
        if (r == SQL_NO_DATA) break;
        Check(r, SQL_HANDLE_ENV, env.get(), "SQLDriversW");
        drivers.emplace_back(reinterpret_cast<const wchar_t*>(description));
        direction = SQL_FETCH_NEXT;
    }
    return drivers;
}

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        Close();
        env_ = std::move(other.env_);
        dbc_ = std::move(other.dbc_);
    }
    return *this;
}

Connection Connection::Open(const std::wstring& connectionString) {
    Connection c;
    c.env_ = std::make_unique<Environment>();
    SQLHANDLE dbc = SQL_NULL_HANDLE;
    Check(SQLAllocHandle(SQL_HANDLE_DBC, c.env_->get(), &dbc), SQL_HANDLE_ENV, c.env_->get(), "SQLAllocHandle");
    UniqueDbc owned(dbc);
    const SQLRETURN connected =
        SQLDriverConnectW(dbc, nullptr, Sql(connectionString), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(connected)) {
        // A data source of the suite's 32-bit programs that this program
        // cannot see: said plainly instead of "data source name not found".
        if (const auto text = OtherBitnessFailureText(connectionString, DiagnosticStates(SQL_HANDLE_DBC, dbc)))
            throw Error(*text);
    }
    Check(connected, SQL_HANDLE_DBC, dbc, "SQLDriverConnectW");
    c.dbc_ = std::move(owned);
    return c;
}

void Connection::Close() {
    dbc_.reset();
    env_.reset();
}

void Connection::BeginTransaction() {
    Check(SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF),
                             SQL_IS_UINTEGER),
          SQL_HANDLE_DBC, dbc_.get(), "SQLSetConnectAttrW");
}

void Connection::EndTransaction(bool commit) {
    Check(SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), commit ? SQL_COMMIT : SQL_ROLLBACK), SQL_HANDLE_DBC, dbc_.get(),
          "SQLEndTran");
    Check(SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                             SQL_IS_UINTEGER),
          SQL_HANDLE_DBC, dbc_.get(), "SQLSetConnectAttrW");
}

std::wstring Connection::IdentifierQuote() const {
    SQLWCHAR quote[8] = {};
    SQLSMALLINT length = 0;
    Check(SQLGetInfoW(dbc_.get(), SQL_IDENTIFIER_QUOTE_CHAR, quote, sizeof(quote), &length), SQL_HANDLE_DBC,
          dbc_.get(), "SQLGetInfoW");
    return Trim(reinterpret_cast<const wchar_t*>(quote));
}

std::wstring Connection::DbmsName() const {
    SQLWCHAR name[256] = {};
    SQLSMALLINT length = 0;
    Check(SQLGetInfoW(dbc_.get(), SQL_DBMS_NAME, name, sizeof(name), &length), SQL_HANDLE_DBC, dbc_.get(),
          "SQLGetInfoW");
    return reinterpret_cast<const wchar_t*>(name);
}

Statement::Statement(const Connection& connection) {
    if (!connection.connected()) throw Error(L"Ingen databasanslutning är öppen.");
    SQLHANDLE stmt = SQL_NULL_HANDLE;
    Check(SQLAllocHandle(SQL_HANDLE_STMT, connection.get(), &stmt), SQL_HANDLE_DBC, connection.get(),
          "SQLAllocHandle");
    stmt_.reset(stmt);
}

void Statement::MakeForwardOnlyReadOnly() {
    Check(SQLSetStmtAttrW(stmt_.get(), SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_FORWARD_ONLY), 0),
          SQL_HANDLE_STMT, stmt_.get(), "SQLSetStmtAttrW");
    Check(SQLSetStmtAttrW(stmt_.get(), SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_READ_ONLY), 0),
          SQL_HANDLE_STMT, stmt_.get(), "SQLSetStmtAttrW");
}

void Statement::BindText(const std::optional<std::wstring>& value, SQLSMALLINT sqlType, SQLULEN columnSize,
                         SQLSMALLINT decimalDigits) {
    std::wstring& text = texts_.emplace_back(value.value_or(std::wstring()));
    SQLLEN& length = lengths_.emplace_back(value ? static_cast<SQLLEN>(text.size() * sizeof(wchar_t)) : SQL_NULL_DATA);
    const auto number = static_cast<SQLUSMALLINT>(texts_.size());
    Check(SQLBindParameter(stmt_.get(), number, SQL_PARAM_INPUT, SQL_C_WCHAR, sqlType, std::max<SQLULEN>(columnSize, 1),
                           decimalDigits, Sql(text), static_cast<SQLLEN>((text.size() + 1) * sizeof(wchar_t)), &length),
          SQL_HANDLE_STMT, stmt_.get(), "SQLBindParameter");
}

void Statement::ExecuteDirect(const std::wstring& sql) {
    const SQLRETURN r = SQLExecDirectW(stmt_.get(), Sql(sql), SQL_NTS);
    if (r == SQL_NO_DATA) return;  // a searched UPDATE or DELETE that touched no row
    Check(r, SQL_HANDLE_STMT, stmt_.get(), "SQLExecDirectW");
}

void Statement::Prepare(const std::wstring& sql) {
    Check(SQLPrepareW(stmt_.get(), Sql(sql), SQL_NTS), SQL_HANDLE_STMT, stmt_.get(), "SQLPrepareW");
}

void Statement::Execute() {
    const SQLRETURN r = SQLExecute(stmt_.get());
    if (r == SQL_NO_DATA) return;  // a searched UPDATE or DELETE that touched no row
    Check(r, SQL_HANDLE_STMT, stmt_.get(), "SQLExecute");
}

void Statement::Reset() {
    // Closing a statement that has no open cursor is no error.
    Check(SQLFreeStmt(stmt_.get(), SQL_CLOSE), SQL_HANDLE_STMT, stmt_.get(), "SQLFreeStmt");
    Check(SQLFreeStmt(stmt_.get(), SQL_RESET_PARAMS), SQL_HANDLE_STMT, stmt_.get(), "SQLFreeStmt");
    texts_.clear();
    lengths_.clear();
}

SQLLEN Statement::RowCount() {
    SQLLEN count = 0;
    Check(SQLRowCount(stmt_.get(), &count), SQL_HANDLE_STMT, stmt_.get(), "SQLRowCount");
    return count;
}

SQLSMALLINT Statement::ColumnCount() {
    SQLSMALLINT count = 0;
    Check(SQLNumResultCols(stmt_.get(), &count), SQL_HANDLE_STMT, stmt_.get(), "SQLNumResultCols");
    return count;
}

ColumnInfo Statement::Describe(SQLUSMALLINT column) {
    ColumnInfo info;
    std::wstring name(256, L'\0');
    SQLSMALLINT nameLength = 0, nullable = 0;
    SQLRETURN r = SQLDescribeColW(stmt_.get(), column, Sql(name), static_cast<SQLSMALLINT>(name.size()), &nameLength,
                                  &info.sqlType, &info.size, &info.decimalDigits, &nullable);
    if (SQL_SUCCEEDED(r) && nameLength >= static_cast<SQLSMALLINT>(name.size())) {
        name.assign(static_cast<size_t>(nameLength) + 1, L'\0');
        r = SQLDescribeColW(stmt_.get(), column, Sql(name), static_cast<SQLSMALLINT>(name.size()), &nameLength,
                            &info.sqlType, &info.size, &info.decimalDigits, &nullable);
    }
    Check(r, SQL_HANDLE_STMT, stmt_.get(), "SQLDescribeColW");
    name.resize(std::min(static_cast<size_t>(std::max<SQLSMALLINT>(nameLength, 0)), name.size()));
    info.name = std::move(name);
    return info;
}

SQLUSMALLINT Statement::FindColumn(std::wstring_view name) {
    const std::wstring wanted = UpperLocale(name);
    const SQLSMALLINT count = ColumnCount();
    for (SQLSMALLINT i = 1; i <= count; ++i)
        if (UpperLocale(Describe(static_cast<SQLUSMALLINT>(i)).name) == wanted) return static_cast<SQLUSMALLINT>(i);
    return 0;
}

bool Statement::Fetch() {
    const SQLRETURN r = SQLFetch(stmt_.get());
    if (r == SQL_NO_DATA) return false;
    Check(r, SQL_HANDLE_STMT, stmt_.get(), "SQLFetch");
    return true;
}

std::optional<std::wstring> Statement::Text(SQLUSMALLINT column) {
    std::wstring text;
    wchar_t chunk[1024];
    constexpr size_t kChunkChars = sizeof(chunk) / sizeof(chunk[0]);
    while (true) {
        SQLLEN indicator = 0;
        const SQLRETURN r = SQLGetData(stmt_.get(), column, SQL_C_WCHAR, chunk, sizeof(chunk), &indicator);
        if (r == SQL_NO_DATA) break;  // the whole value has been read
        Check(r, SQL_HANDLE_STMT, stmt_.get(), "SQLGetData");
        if (indicator == SQL_NULL_DATA) return std::nullopt;
        // A part that filled the buffer ends with its NUL; more may follow.
        const bool partial = indicator == SQL_NO_TOTAL ||
                             static_cast<size_t>(indicator) / sizeof(wchar_t) >= kChunkChars;
        text.append(chunk, partial ? kChunkChars - 1 : static_cast<size_t>(indicator) / sizeof(wchar_t));
        if (!partial) break;
    }
    return text;
}

}  // namespace tolmar::win::odbc
