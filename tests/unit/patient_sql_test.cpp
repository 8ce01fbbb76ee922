// The statements sent to the patient database, for each kind of database.
#include <gtest/gtest.h>

#include "app/patient_sql.h"
#include "tools/text.h"

using namespace tolmar;

TEST(PatientSql, DialectFromTheDriversDbmsName) {
    EXPECT_EQ(DialectOfDbms(L"Microsoft SQL Server"), SqlDialect::SqlServer);
    EXPECT_EQ(DialectOfDbms(L"PostgreSQL"), SqlDialect::PostgreSql);
    EXPECT_EQ(DialectOfDbms(L"SQLite"), SqlDialect::Sqlite);
    EXPECT_EQ(DialectOfDbms(L"Oracle"), SqlDialect::Generic);
    EXPECT_EQ(DialectOfDbms(L""), SqlDialect::Generic);
}

// The save finds the row by its key alone and only while every changed
// column holds what was read; SQL Server compares its legacy long-text
// columns only through a cast.
TEST(PatientSql, OptimisticUpdateForEachDialect) {
    const std::vector<ChangedColumn> columns = {
        {L"EFTERNAMN", false, false}, {L"TEL3NOT", true, false}, {L"KON", false, true}};
    const std::wstring common = L"UPDATE KUNDER SET \"EFTERNAMN\" = ?, \"TEL3NOT\" = ?, \"KON\" = ? WHERE "
                                L"\"PATIENTNR\" = ? AND (SELECT COUNT(*) FROM KUNDER WHERE \"PATIENTNR\" = ?) = 1 AND "
                                L"\"EFTERNAMN\" = ? AND ";
    const struct {
        SqlDialect dialect;
        std::wstring longTextTest;
    } cases[] = {
        {SqlDialect::SqlServer, L"CAST(\"TEL3NOT\" AS NVARCHAR(MAX)) = CAST(? AS NVARCHAR(MAX))"},
        {SqlDialect::PostgreSql, L"\"TEL3NOT\" = ?"},
        {SqlDialect::Sqlite, L"\"TEL3NOT\" = ?"},
        {SqlDialect::Generic, L"\"TEL3NOT\" = ?"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToUtf8(OptimisticUpdateSql(columns, L"PATIENTNR", L"\"", c.dialect)),
                  ToUtf8(common + c.longTextTest + L" AND \"KON\" IS NULL"));
        // The undo asks with the save's own conditions before it saves.
        EXPECT_EQ(ToUtf8(HoldsSql(columns, L"PATIENTNR", L"\"", c.dialect)),
                  ToUtf8(L"SELECT COUNT(*) FROM KUNDER" + common.substr(common.find(L" WHERE ")) + c.longTextTest +
                         L" AND \"KON\" IS NULL"));
    }
}

TEST(PatientSql, IdentifiersInTheDriversQuotes) {
    EXPECT_EQ(QuotedIdentifier(L"ORT", L""), L"ORT");
    EXPECT_EQ(QuotedIdentifier(L"ORT", L"`"), L"`ORT`");
    EXPECT_EQ(QuotedIdentifier(L"A\"B", L"\""), L"\"A\"\"B\"");
    EXPECT_EQ(KeyCountSql(L"PATIENTNR", L""), L"SELECT COUNT(*) FROM KUNDER WHERE PATIENTNR = ?");
}

TEST(PatientSql, BoundedLockWaitForEachDialect) {
    using std::chrono::seconds;
    EXPECT_EQ(LockTimeoutSql(SqlDialect::SqlServer, seconds(30)), L"SET LOCK_TIMEOUT 30000");
    EXPECT_EQ(LockTimeoutSql(SqlDialect::PostgreSql, seconds(30)), L"SET lock_timeout = 30000");
    EXPECT_EQ(LockTimeoutSql(SqlDialect::Sqlite, seconds(2)), L"");
    EXPECT_EQ(LockTimeoutSql(SqlDialect::Generic, seconds(30)), L"");
}

TEST(PatientSql, SqliteBusyWaitBoundedInTheConnectionString) {
    using std::chrono::seconds;
    const struct {
        const wchar_t* given;
        const wchar_t* bounded;
    } cases[] = {
        {L"Driver={SQLite3};Database=C:\\k.db", L"Driver=SQLite3;Database=C:\\k.db;Timeout=30000"},
        {L"DRIVER=SQLite3 ODBC Driver;Timeout=100000;Database=/k.db",
         L"DRIVER=SQLite3 ODBC Driver;Database=/k.db;Timeout=30000"},
        {L"Driver={SQLite3};timeout=2000;Database={a;b.db}", L"Driver=SQLite3;Database={a;b.db};Timeout=2000"},
        {L"Driver={SQLite3};Timeout=x;Database=k.db", L"Driver=SQLite3;Database=k.db;Timeout=30000"},
        {L"Driver={PostgreSQL Unicode};Server=h;Timeout=100000", L"Driver={PostgreSQL Unicode};Server=h;Timeout=100000"},
        {L"DSN=klinik", L"DSN=klinik"},
    };
    for (const auto& c : cases) EXPECT_EQ(ToUtf8(WithBoundedBusyWait(c.given, seconds(30))), ToUtf8(c.bounded));
}
