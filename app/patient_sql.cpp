#include "app/patient_sql.h"

#include <algorithm>
#include <cwctype>

#include "tools/db/odbc_connection_string.h"
#include "tools/text.h"

namespace tolmar {

SqlDialect DialectOfDbms(std::wstring_view dbmsName) {
    const std::wstring name = UpperLocale(dbmsName);
    if (name.find(L"SQL SERVER") != std::wstring::npos) return SqlDialect::SqlServer;
    if (name.find(L"POSTGRES") != std::wstring::npos) return SqlDialect::PostgreSql;
    if (name.find(L"SQLITE") != std::wstring::npos) return SqlDialect::Sqlite;
    return SqlDialect::Generic;
}

std::wstring QuotedIdentifier(std::wstring_view name, std::wstring_view quote) {
    if (quote.empty()) return std::wstring(name);
    const std::wstring q(quote);
    return q + ReplaceAll(name, q, q + q) + q;
}

std::wstring KeyCountSql(std::wstring_view keyColumn, std::wstring_view identifierQuote) {
    return L"SELECT COUNT(*) FROM KUNDER WHERE " + QuotedIdentifier(keyColumn, identifierQuote) + L" = ?";
}

namespace {

// The row by its key alone, each column holding its value: the key twice,
// then the values of the columns that are not NULL.
std::wstring KeyAndValues(const std::vector<ChangedColumn>& columns, std::wstring_view keyColumn,
                          std::wstring_view identifierQuote, SqlDialect dialect) {
    const std::wstring key = QuotedIdentifier(keyColumn, identifierQuote);
    std::wstring sql = L" WHERE " + key + L" = ? AND (" + KeyCountSql(keyColumn, identifierQuote) + L") = 1";
    for (const ChangedColumn& c : columns) {
        const std::wstring name = QuotedIdentifier(c.name, identifierQuote);
        if (c.wasNull)
            sql += L" AND " + name + L" IS NULL";
        else if (c.longText && dialect == SqlDialect::SqlServer)
            sql += L" AND CAST(" + name + L" AS NVARCHAR(MAX)) = CAST(? AS NVARCHAR(MAX))";
        else
            sql += L" AND " + name + L" = ?";
    }
    return sql;
}

}  // namespace

std::wstring OptimisticUpdateSql(const std::vector<ChangedColumn>& columns, std::wstring_view keyColumn,
                                 std::wstring_view identifierQuote, SqlDialect dialect) {
    std::wstring sql = L"UPDATE KUNDER SET ";
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i) sql += L", ";
        sql += QuotedIdentifier(columns[i].name, identifierQuote) + L" = ?";
    }
    return sql + KeyAndValues(columns, keyColumn, identifierQuote, dialect);
}

std::wstring HoldsSql(const std::vector<ChangedColumn>& columns, std::wstring_view keyColumn,
                      std::wstring_view identifierQuote, SqlDialect dialect) {
    return L"SELECT COUNT(*) FROM KUNDER" + KeyAndValues(columns, keyColumn, identifierQuote, dialect);
}

std::wstring WithBoundedBusyWait(std::wstring_view odbcString, std::chrono::seconds limit) {
    const std::vector<db::ConnectionPair> pairs = db::ParseOdbcString(odbcString);
    const std::wstring* driver = db::FindValue(pairs, L"DRIVER");
    if (!driver || UpperLocale(*driver).find(L"SQLITE") == std::wstring::npos) return std::wstring(odbcString);
    long long ms = std::chrono::milliseconds(limit).count();
    std::wstring result;
    for (const db::ConnectionPair& pair : pairs) {
        if (UpperLocale(pair.name) == L"TIMEOUT") {
            const std::wstring given = Trim(pair.value);
            if (!given.empty() && given.size() < 10 &&
                std::all_of(given.begin(), given.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
                ms = std::min(ms, std::stoll(given));
            continue;
        }
        result += pair.name + L"=" + db::OdbcValue(pair.value) + L";";
    }
    return result + L"Timeout=" + std::to_wstring(ms);
}

bool NamesPostgreSqlDriver(std::wstring_view odbcString) {
    const std::vector<db::ConnectionPair> pairs = db::ParseOdbcString(odbcString);
    const std::wstring* driver = db::FindValue(pairs, L"DRIVER");
    if (!driver) return false;
    const std::wstring name = UpperLocale(*driver);
    return name.find(L"POSTGRES") != std::wstring::npos || name.find(L"PSQLODBC") != std::wstring::npos;
}

PinnedConnectionString PinnedForPostgreSql(std::wstring_view odbcString) {
    PinnedConnectionString pinned;
    bool ownPrepare = false, levelHeld = false;
    std::wstring rest;
    for (const db::ConnectionPair& pair : db::ParseOdbcString(odbcString)) {
        const std::wstring name = UpperLocale(Trim(pair.name));
        if (name == L"PROTOCOL" || name == L"A1") {
            // The last one given is the driver's; only it is reported.
            const std::wstring given = Trim(pair.value);
            levelHeld = given == kStatementRollbackLevel;
            pinned.replacedLevel = levelHeld ? std::nullopt : std::optional<std::wstring>(given);
            continue;
        }
        if (name == L"USESERVERSIDEPREPARE" || name == L"C8") ownPrepare = true;
        rest += pair.name + L"=" + db::OdbcValue(pair.value) + L";";
    }
    if (!ownPrepare) pinned.added.push_back(L"UseServerSidePrepare=0");
    const std::wstring level = L"Protocol=" + std::wstring(kStatementRollbackLevel);
    if (!levelHeld) pinned.added.push_back(level);
    pinned.connectionString = rest + (ownPrepare ? L"" : L"UseServerSidePrepare=0;") + level;
    return pinned;
}

std::wstring BoundedBusyWaitSetting(std::wstring_view bounded) {
    const std::vector<db::ConnectionPair> pairs = db::ParseOdbcString(bounded);
    const std::wstring* driver = db::FindValue(pairs, L"DRIVER");
    if (!driver || UpperLocale(*driver).find(L"SQLITE") == std::wstring::npos) return {};
    const std::wstring* timeout = db::FindValue(pairs, L"TIMEOUT");
    return timeout ? L"Timeout=" + *timeout : std::wstring();
}

std::vector<std::wstring> SessionSettingsSql(SqlDialect dialect, std::chrono::seconds limit) {
    const std::wstring ms = std::to_wstring(std::chrono::milliseconds(limit).count());
    switch (dialect) {
        case SqlDialect::SqlServer:
            return {L"SET LOCK_TIMEOUT " + ms, L"SET XACT_ABORT OFF", L"SET NOCOUNT OFF"};
        case SqlDialect::PostgreSql:
            return {L"SET lock_timeout = " + ms};
        case SqlDialect::Sqlite:
        case SqlDialect::Generic:
            break;
    }
    return {};
}

}  // namespace tolmar
