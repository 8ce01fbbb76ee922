#include "app/patient_sql.h"

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

std::wstring OptimisticUpdateSql(const std::vector<ChangedColumn>& columns, std::wstring_view keyColumn,
                                 std::wstring_view identifierQuote, SqlDialect dialect) {
    const std::wstring key = QuotedIdentifier(keyColumn, identifierQuote);
    std::wstring sql = L"UPDATE KUNDER SET ";
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i) sql += L", ";
        sql += QuotedIdentifier(columns[i].name, identifierQuote) + L" = ?";
    }
    sql += L" WHERE " + key + L" = ? AND (" + KeyCountSql(keyColumn, identifierQuote) + L") = 1";
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

std::wstring LockTimeoutSql(SqlDialect dialect, std::chrono::seconds limit) {
    const std::wstring ms = std::to_wstring(std::chrono::milliseconds(limit).count());
    switch (dialect) {
        case SqlDialect::SqlServer:
            return L"SET LOCK_TIMEOUT " + ms;
        case SqlDialect::PostgreSql:
            return L"SET lock_timeout = " + ms;
        case SqlDialect::Sqlite:
            return L"PRAGMA busy_timeout = " + ms;
        case SqlDialect::Generic:
            break;
    }
    return {};
}

}  // namespace tolmar
