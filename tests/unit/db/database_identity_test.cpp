#include <gtest/gtest.h>

#include "tools/db/database_identity.h"
#include "tools/text.h"

using namespace tolmar;
using namespace tolmar::db;

namespace {

// The platform's final path, as a table: what the file system resolves each
// spelling to (".", "..", a link, letter case).
std::wstring FinalPath(std::wstring_view path) {
    if (path == L"C:\\db\\.\\p.db" || path == L"C:\\DB\\P.DB" || path == L"C:\\link\\p.db" ||
        path == L"C:\\db\\x\\..\\p.db" || path == L"C:\\db\\p.db")
        return L"C:\\db\\p.db";
    return std::wstring(path);
}

std::wstring Identity(std::wstring_view odbc) { return DatabaseIdentity(odbc, FinalPath); }

}  // namespace

TEST(DatabaseIdentity, OneDatabaseHasOneIdentityHoweverItIsSpelt) {
    const std::wstring file = L"fil C:\\DB\\P.DB";
    const std::wstring server = L"server SQL01\\KLINIK, databas KUNDDB";
    const std::wstring postgres = L"server 10.0.0.5, databas KLINIK";
    const struct {
        const wchar_t* odbc;
        std::wstring identity;
    } cases[] = {
        {L"Driver={SQLite3};Database=C:\\db\\p.db", file},
        {L"Driver={SQLite3};Database=C:\\db\\.\\p.db", file},
        {L"driver={SQLite3 ODBC Driver}; database = C:\\DB\\P.DB ;Timeout=5000;", file},
        {L"Driver={SQLite3};Database=C:\\link\\p.db;StepAPI=1;SyncPragma=NORMAL", file},
        {L"Database=C:\\db\\x\\..\\p.db;Driver={SQLite3}; ", file},
        {L"Driver={SQLite3};Database=C:\\db\\other.db", L"fil C:\\DB\\OTHER.DB"},
        {L"Driver={ODBC Driver 18 for SQL Server};Server=sql01\\klinik;Database=KundDB;UID=u;PWD=hemligt", server},
        {L"Driver={SQL Server};SERVER=SQL01\\Klinik;DATABASE=kunddb;Trusted_Connection=Yes", server},
        {L"Driver={PostgreSQL Unicode};Servername=10.0.0.5;Port=5432;Database=klinik;UID=a;PWD=b", postgres},
        {L"Driver={PostgreSQL Unicode};Server=10.0.0.5;Database=Klinik;UseServerSidePrepare=0", postgres},
        {L"Driver={PostgreSQL Unicode};Server=10.0.0.5;Port=5433;Database=klinik",
         L"server 10.0.0.5:5433, databas KLINIK"},
        {L"DSN=Klinik;UID=u;PWD=hemligt", L"datakälla KLINIK"},
        {L"Driver={Other};Host=h;Db=x;PWD=hemligt;Timeout=5", L"anslutning DB=X; DRIVER=OTHER; HOST=H;"},
        {L"Host=h;Driver={Other};Db=x;", L"anslutning DB=X; DRIVER=OTHER; HOST=H;"},
    };
    for (const auto& c : cases) {
        const std::wstring identity = Identity(c.odbc);
        EXPECT_EQ(ToUtf8(identity), ToUtf8(c.identity)) << ToUtf8(c.odbc);
        EXPECT_EQ(identity.find(L"HEMLIGT"), std::wstring::npos) << "a password in " << ToUtf8(identity);
    }
}

TEST(DatabaseIdentity, TheHashIsShortAndTellsIdentitiesApart) {
    const std::wstring hash = IdentityHash(L"fil C:\\DB\\P.DB");
    EXPECT_EQ(hash.size(), 16u);
    EXPECT_EQ(hash.find_first_not_of(L"0123456789abcdef"), std::wstring::npos) << ToUtf8(hash);
    EXPECT_EQ(IdentityHash(L"fil C:\\DB\\P.DB"), IdentityHash(L"fil C:\\DB\\P.DB"));
    EXPECT_NE(IdentityHash(L"fil C:\\DB\\P.DB"), IdentityHash(L"fil C:\\DB\\Q.DB"));
    EXPECT_EQ(IdentityHash(L""), L"cbf29ce484222325");  // FNV-1a's offset basis: nothing hashed
}
