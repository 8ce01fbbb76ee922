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

TEST(PatientSql, SessionSettingsForEachDialect) {
    using std::chrono::seconds;
    using Sql = std::vector<std::wstring>;
    EXPECT_EQ(SessionSettingsSql(SqlDialect::SqlServer, seconds(30)),
              (Sql{L"SET LOCK_TIMEOUT 30000", L"SET XACT_ABORT OFF", L"SET NOCOUNT OFF"}));
    EXPECT_EQ(SessionSettingsSql(SqlDialect::PostgreSql, seconds(30)), (Sql{L"SET lock_timeout = 30000"}));
    EXPECT_EQ(SessionSettingsSql(SqlDialect::Sqlite, seconds(2)), Sql{});
    EXPECT_EQ(SessionSettingsSql(SqlDialect::Generic, seconds(30)), Sql{});
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

TEST(PatientSql, PostgreSqlDriverGetsStatementRollbackAndOneRoundTripPerStatement) {
    const struct {
        const wchar_t* given;
        const wchar_t* pinned;
        std::vector<std::wstring> added;
        std::optional<std::wstring> replaced;
    } cases[] = {
        {L"Driver={PostgreSQL Unicode};Server=h;Database=d",
         L"Driver=PostgreSQL Unicode;Server=h;Database=d;UseServerSidePrepare=0;Protocol=7.4-2",
         {L"UseServerSidePrepare=0", L"Protocol=7.4-2"}, std::nullopt},
        // A level the data link asks for is replaced, whatever its spelling;
        // the last one given is the one the driver would have taken.
        {L"Driver={PostgreSQL Unicode};protocol=7.4-1;Server=h",
         L"Driver=PostgreSQL Unicode;Server=h;UseServerSidePrepare=0;Protocol=7.4-2",
         {L"UseServerSidePrepare=0", L"Protocol=7.4-2"}, L"7.4-1"},
        {L"Driver={PostgreSQL Unicode};Protocol=7.4-2;A1= 7.4-0 ",
         L"Driver=PostgreSQL Unicode;UseServerSidePrepare=0;Protocol=7.4-2",
         {L"UseServerSidePrepare=0", L"Protocol=7.4-2"}, L"7.4-0"},
        {L"Driver={PostgreSQL Unicode};Protocol=7.4", L"Driver=PostgreSQL Unicode;UseServerSidePrepare=0;Protocol=7.4-2",
         {L"UseServerSidePrepare=0", L"Protocol=7.4-2"}, L"7.4"},
        // The data link's own level 2 and its own prepare setting stand.
        {L"Driver={PostgreSQL Unicode};Protocol=7.4-2;UseServerSidePrepare=1;Pwd={a;b}",
         L"Driver=PostgreSQL Unicode;UseServerSidePrepare=1;Pwd={a;b};Protocol=7.4-2", {}, std::nullopt},
        {L"DSN=klinik;c8=1", L"DSN=klinik;c8=1;Protocol=7.4-2", {L"Protocol=7.4-2"}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.given));
        const PinnedConnectionString pinned = PinnedForPostgreSql(c.given);
        EXPECT_EQ(ToUtf8(pinned.connectionString), ToUtf8(c.pinned));
        EXPECT_EQ(pinned.added, c.added);
        EXPECT_EQ(pinned.replacedLevel, c.replaced);
    }
    EXPECT_TRUE(NamesPostgreSqlDriver(L"Driver={PostgreSQL Unicode(x64)};Server=h"));
    EXPECT_TRUE(NamesPostgreSqlDriver(L"DRIVER=C:\\odbc\\psqlodbc35w.dll"));
    EXPECT_FALSE(NamesPostgreSqlDriver(L"DSN=postgres"));
    EXPECT_FALSE(NamesPostgreSqlDriver(L"Driver={SQLite3};Database=postgres.db"));
    EXPECT_EQ(BoundedBusyWaitSetting(WithBoundedBusyWait(L"Driver={SQLite3};Database=k.db", std::chrono::seconds(30))),
              L"Timeout=30000");
    EXPECT_EQ(BoundedBusyWaitSetting(L"Driver={PostgreSQL Unicode};Timeout=5"), L"");
}
