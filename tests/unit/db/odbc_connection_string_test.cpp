#include <gtest/gtest.h>

#include "tools/db/odbc_connection_string.h"
#include "tools/error.h"
#include "tools/text.h"

using namespace tolmar;
using namespace tolmar::db;

namespace {

const std::vector<std::wstring> kTypicalDrivers = {
    L"SQL Server", L"ODBC Driver 17 for SQL Server", L"SQL Server Native Client 11.0", L"ODBC Driver 18 for SQL Server",
    L"PostgreSQL Unicode"};

std::wstring ErrorOf(std::wstring_view oleDb, const std::vector<std::wstring>& drivers) {
    try {
        OdbcConnectionString(oleDb, drivers);
    } catch (const Error& e) {
        return e.message();
    }
    return L"<no error>";
}

}  // namespace

TEST(DbOleDbParse, PairsQuotesAndBlanks) {
    EXPECT_EQ(ParseOleDbString(L" Provider = SQLOLEDB.1 ;Password=\"a;b\"\"c\" ;User ID='o''k';;junk;Data Source=S"),
              (std::vector<ConnectionPair>{{L"Provider", L"SQLOLEDB.1"},
                                           {L"Password", L"a;b\"c"},
                                           {L"User ID", L"o'k"},
                                           {L"Data Source", L"S"}}));
    EXPECT_EQ(ParseOleDbString(L"Provider="), (std::vector<ConnectionPair>{{L"Provider", L""}}));
    EXPECT_EQ(ParseOleDbString(L"Password=\"unterminated;x"),
              (std::vector<ConnectionPair>{{L"Password", L"unterminated;x"}}));
    EXPECT_TRUE(ParseOleDbString(L"").empty());
}

TEST(DbOleDbParse, OdbcBracesAndFirstValueWins) {
    const auto pairs = ParseOdbcString(L"Driver={SQLite3};Database={C:\\a;b}}c};uid=x;UID=y");
    EXPECT_EQ(pairs, (std::vector<ConnectionPair>{
                         {L"Driver", L"SQLite3"}, {L"Database", L"C:\\a;b}c"}, {L"uid", L"x"}, {L"UID", L"y"}}));
    ASSERT_NE(FindValue(pairs, L"UID"), nullptr);
    EXPECT_EQ(*FindValue(pairs, L"UID"), L"x");
    EXPECT_EQ(FindValue(pairs, L"PWD"), nullptr);
}

TEST(DbOleDbParse, OdbcValueBracesOnlyWhenNeeded) {
    EXPECT_EQ(OdbcValue(L"plain value"), L"plain value");
    EXPECT_EQ(OdbcValue(L"a;b"), L"{a;b}");
    EXPECT_EQ(OdbcValue(L"p}w{"), L"{p}}w{}");
    EXPECT_EQ(OdbcValue(L" padded "), L"{ padded }");
    EXPECT_EQ(OdbcValue(L""), L"");
    // a braced value reads back as it was
    EXPECT_EQ(*FindValue(ParseOdbcString(L"PWD=" + OdbcValue(L"x;}y ")), L"PWD"), L"x;}y ");
}

struct DriverCase {
    std::vector<std::wstring> installed;
    const wchar_t* chosen;
};

TEST(DbOdbcDriverChoice, NewestSqlServerDriverByRule) {
    const DriverCase cases[] = {
        {kTypicalDrivers, L"ODBC Driver 18 for SQL Server"},
        // numbers compare as numbers, not as text
        {{L"ODBC Driver 9 for SQL Server", L"ODBC Driver 13 for SQL Server"}, L"ODBC Driver 13 for SQL Server"},
        {{L"odbc driver 17 for sql server"}, L"odbc driver 17 for sql server"},
        {{L"SQL Server", L"SQL Server Native Client 10.0", L"SQL Server Native Client 11.0"},
         L"SQL Server Native Client 11.0"},
        {{L"SQL Server Native Client 9.0", L"SQL Server Native Client 10.0"}, L"SQL Server Native Client 10.0"},
        {{L"PostgreSQL Unicode", L"SQL Server"}, L"SQL Server"},
        // look-alikes are not SQL Server drivers
        {{L"ODBC Driver X for SQL Server", L"ODBC Driver 18 for SQL Server Express", L"SQL Server Native Client",
          L"SQL Server 2"},
         L""},
        {{}, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "first=" << (c.installed.empty() ? "" : ToUtf8(c.installed[0])));
        EXPECT_EQ(ChooseSqlServerDriver(c.installed), c.chosen);
    }
}

struct TranslationCase {
    const wchar_t* oleDb;
    const wchar_t* odbc;
};

TEST(DbOdbcTranslation, SqlServerProviders) {
    const TranslationCase cases[] = {
        {L"Provider=SQLOLEDB.1;Password=pw;Persist Security Info=True;User ID=sa;Initial Catalog=Klinik;"
         L"Data Source=SRV\\SQL",
         L"Driver={ODBC Driver 18 for SQL Server};Server=SRV\\SQL;Database=Klinik;UID=sa;PWD=pw;Encrypt=no"},
        // integrated security: no login in the ODBC string
        {L"Provider=SQLNCLI11.1;Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=K;"
         L"Data Source=S;User ID=ignored",
         L"Driver={ODBC Driver 18 for SQL Server};Server=S;Database=K;Trusted_Connection=Yes;Encrypt=no"},
        {L"Provider=MSOLEDBSQL19;integrated security=true;Data Source=S",
         L"Driver={ODBC Driver 18 for SQL Server};Server=S;Trusted_Connection=Yes;Encrypt=no"},
        {L"Provider=SQLOLEDB;Integrated Security=False;User ID=u;Password=;Data Source=S",
         L"Driver={ODBC Driver 18 for SQL Server};Server=S;UID=u;PWD=;Encrypt=no"},
        // values that need braces, and a quoted OLE DB password
        {L"Provider=SQLOLEDB;User ID=u;Password=\"p;w}d\";Data Source=S",
         L"Driver={ODBC Driver 18 for SQL Server};Server=S;UID=u;PWD={p;w}}d};Encrypt=no"},
        // missing pieces are left out
        {L"Provider=SQLOLEDB", L"Driver={ODBC Driver 18 for SQL Server};Encrypt=no"},
        {L"Provider=SQLOLEDB;Initial Catalog=;Data Source=", L"Driver={ODBC Driver 18 for SQL Server};Encrypt=no"},
        // the data link's own encryption settings win
        {L"Provider=MSOLEDBSQL;Data Source=S;Use Encryption for Data=True;Trust Server Certificate=True",
         L"Driver={ODBC Driver 18 for SQL Server};Server=S;Encrypt=yes;TrustServerCertificate=yes"},
        {L"Provider=MSOLEDBSQL19;Data Source=S;Use Encryption for Data=Strict",
         L"Driver={ODBC Driver 18 for SQL Server};Server=S;Encrypt=Strict"},
        // the first occurrence of a name counts, as in the login parsing
        {L"Provider=SQLOLEDB;Data Source=first;Data Source=second",
         L"Driver={ODBC Driver 18 for SQL Server};Server=first;Encrypt=no"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.oleDb));
        EXPECT_EQ(OdbcConnectionString(c.oleDb, kTypicalDrivers), c.odbc);
    }
}

TEST(DbOdbcTranslation, OlderDriversGetNoEncryptionSetting) {
    EXPECT_EQ(OdbcConnectionString(L"Provider=SQLOLEDB;Data Source=S;User ID=u;Password=p",
                                   {L"ODBC Driver 17 for SQL Server"}),
              L"Driver={ODBC Driver 17 for SQL Server};Server=S;UID=u;PWD=p");
    EXPECT_EQ(OdbcConnectionString(L"Provider=SQLOLEDB;Data Source=S", {L"SQL Server"}),
              L"Driver={SQL Server};Server=S");
}

TEST(DbOdbcTranslation, OdbcProvider) {
    const TranslationCase cases[] = {
        {L"Provider=MSDASQL.1;Persist Security Info=False;Extended Properties=\"Driver={SQLite3};Database=/d/k.db\"",
         L"Driver={SQLite3};Database=/d/k.db"},
        // unquoted extended properties end at the first ";"
        {L"Provider=MSDASQL;Extended Properties=DSN=klinik", L"DSN=klinik"},
        {L"Provider=MSDASQL.1;Data Source=klinik", L"DSN=klinik"},
        {L"Provider=MSDASQL.1;Data Source=a;b", L"DSN=a"},
        // the data link's catalog and login fill what the ODBC string lacks ...
        {L"Provider=MSDASQL.1;Extended Properties=\"DSN=k;\";Initial Catalog=db;User ID=secret;Password=tulo",
         L"DSN=k;DATABASE=db;UID=secret;PWD=tulo"},
        {L"Provider=MSDASQL.1;Data Source=k;User ID=u;Password=p;w", L"DSN=k;UID=u;PWD=p"},
        // ... but never replace what it names itself
        {L"Provider=MSDASQL.1;Extended Properties=\"Driver={PostgreSQL Unicode};uid=tolmar;Pwd=x\";User ID=secret;"
         L"Password=tulo",
         L"Driver={PostgreSQL Unicode};uid=tolmar;Pwd=x"},
        // empty values add nothing
        {L"Provider=MSDASQL;Data Source=k;User ID=;Password=", L"DSN=k"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.oleDb));
        EXPECT_EQ(OdbcConnectionString(c.oleDb, {}), c.odbc);
    }
}

TEST(DbOdbcTranslation, RefusalsNameTheCause) {
    EXPECT_EQ(ErrorOf(L"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=k.mdb", kTypicalDrivers),
              L"Databasleverantören \"Microsoft.Jet.OLEDB.4.0\" i datalänkfilen kan inte användas. "
              L"Programmet når databasen med ODBC och kan använda leverantörerna för SQL Server "
              L"(SQLOLEDB, SQLNCLI, MSOLEDBSQL) och för ODBC (MSDASQL).");
    // names close to the known ones are not taken for them
    EXPECT_NE(ErrorOf(L"Provider=SQLOLEDBX", kTypicalDrivers).find(L"\"SQLOLEDBX\""), std::wstring::npos);
    EXPECT_NE(ErrorOf(L"Provider=MSDASQL.x;Data Source=k", kTypicalDrivers).find(L"\"MSDASQL.x\""),
              std::wstring::npos);
    // a chooser that was cancelled leaves "Provider=" alone
    EXPECT_EQ(ErrorOf(L"Provider=", kTypicalDrivers),
              L"Datalänkfilen anger ingen databasleverantör (Provider).");
    EXPECT_EQ(ErrorOf(L"", kTypicalDrivers), L"Datalänkfilen anger ingen databasleverantör (Provider).");
    // no SQL Server driver on the machine
    const std::wstring noDriver = ErrorOf(L"Provider=SQLOLEDB.1;Data Source=S", {L"PostgreSQL Unicode", L"SQLite3"});
    EXPECT_EQ(noDriver.rfind(L"Ingen ODBC-drivrutin för SQL Server är installerad", 0), 0u) << ToUtf8(noDriver);
    EXPECT_NE(noDriver.find(L"\"SQLOLEDB.1\""), std::wstring::npos);
    // the ODBC provider with nothing to connect to
    EXPECT_NE(ErrorOf(L"Provider=MSDASQL.1;Extended Properties=\"  \";Data Source=", {}).find(L"\"MSDASQL.1\" anger varken"),
              std::wstring::npos);
}

TEST(DbOdbcTranslation, ProviderNames) {
    for (const wchar_t* name : {L"SQLOLEDB", L"sqloledb.1", L"SQLNCLI", L"SQLNCLI10", L"SQLNCLI11.1", L"MSOLEDBSQL",
                                L"MSOLEDBSQL19"}) {
        EXPECT_TRUE(IsSqlServerProvider(name)) << ToUtf8(name);
        EXPECT_FALSE(IsOdbcProvider(name)) << ToUtf8(name);
    }
    for (const wchar_t* name : {L"MSDASQL", L"MSDASQL.1", L"msdasql.1"}) {
        EXPECT_TRUE(IsOdbcProvider(name)) << ToUtf8(name);
        EXPECT_FALSE(IsSqlServerProvider(name)) << ToUtf8(name);
    }
    for (const wchar_t* name : {L"", L"SQLOLEDB.", L"SQLOLEDBX", L"MSDASQL.", L"MSDASQLX", L"OraOLEDB.Oracle"}) {
        EXPECT_FALSE(IsSqlServerProvider(name)) << ToUtf8(name);
        EXPECT_FALSE(IsOdbcProvider(name)) << ToUtf8(name);
    }
}
