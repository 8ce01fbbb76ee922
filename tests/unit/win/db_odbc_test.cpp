// The patient database over ODBC against the real engines: SQLite (the
// embedded default) and the PostgreSQL server that scripts/test starts.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <regex>

#include "app/win/db/odbc_patient_database.h"
#include "db_test_support.h"
#include "tools/error.h"
#include "tools/messages.h"
#include "tools/text.h"
#include "win_test_support.h"

using namespace tolmar;
using namespace tolmar::test;
using tolmar::win::OdbcPatientDatabase;
namespace odbc = tolmar::win::odbc;

namespace {

enum class Engine { Sqlite, Postgres };

std::string EngineName(const testing::TestParamInfo<Engine>& test) {
    return test.param == Engine::Sqlite ? "Sqlite" : "Postgres";
}

void PrintTo(Engine engine, std::ostream* os) { *os << (engine == Engine::Sqlite ? "SQLite" : "PostgreSQL"); }

// "[SQLSTATE] message": the driver's own diagnostics.
bool IsDiagnostic(const std::wstring& text) {
    return std::regex_search(ToUtf8(text), std::regex(R"(^\[[0-9A-Z]{5}\] \S)"));
}

// A fresh KUNDER with the sample patients, and a second connection of the
// test's own that plays "someone else".
class DbEngine : public testing::TestWithParam<Engine> {
protected:
    void SetUp() override {
        if (GetParam() == Engine::Postgres) {
            connectionString_ = PostgresConnectionString();
            ASSERT_FALSE(connectionString_.empty()) << kNoPostgres;
        } else {
            folder_ = std::make_unique<TempFolder>();
            connectionString_ = SqliteConnectionString((*folder_ / L"klinik.db"));
        }
        other_ = odbc::Connection::Open(connectionString_);
        RunSqlScript(other_, SchemaScript());
        RunSqlScript(other_, L"sample_data.sql");
        database_.Connect(connectionString_);
    }

    virtual std::wstring SchemaScript() const { return L"schema.sql"; }

    std::optional<std::wstring> Stored(int patient, const std::wstring& column) {
        return QueryText(other_, L"SELECT " + column + L" FROM KUNDER WHERE PATIENTNR = " + std::to_wstring(patient));
    }

    std::unique_ptr<TempFolder> folder_;  // outlives the connections to its file
    std::wstring connectionString_;
    odbc::Connection other_;
    OdbcPatientDatabase database_;  // closed first
};

TEST_P(DbEngine, DriverDiagnosticsReachTheErrorText) {
    const std::wstring noDriver =
        ErrorText([] { odbc::Connection::Open(L"Driver={No Such Driver};Database=x"); });
    EXPECT_TRUE(IsDiagnostic(noDriver)) << ToUtf8(noDriver);
    EXPECT_NE(noDriver.find(L"No Such Driver"), std::wstring::npos) << ToUtf8(noDriver);

    const std::wstring badSql = ErrorText([&] { database_.PatientKeys(L"SELECT PATIENTNR FROM NOSUCHTABLE"); });
    EXPECT_TRUE(IsDiagnostic(badSql)) << ToUtf8(badSql);
    EXPECT_NE(UpperLocale(badSql).find(L"NOSUCHTABLE"), std::wstring::npos) << ToUtf8(badSql);
}

TEST_P(DbEngine, PatientKeysFollowTheListQuery) {
    // the query of the setting "KunderSQLOrg"
    EXPECT_EQ(database_.PatientKeys(L"SELECT PATIENTNR, PERSONNR FROM KUNDER ORDER BY PERSONNR").keys,
              (std::vector<std::wstring>{L"7", L"10", L"2", L"1", L"8", L"5", L"3", L"6", L"4", L"9"}));
    // a query of one's own: PATIENTNR found by name, in any place and case
    const std::wstring own = L"SELECT k.PERSONNR, k.patientnr FROM KUNDER k WHERE k.KON = 'K' ORDER BY k.PERSONNR DESC";
    EXPECT_EQ(database_.PatientKeys(own).keys, (std::vector<std::wstring>{L"9", L"4", L"3", L"5", L"1"}));
    EXPECT_TRUE(database_.PatientKeys(L"SELECT PATIENTNR FROM KUNDER WHERE 1 = 0").keys.empty());
    EXPECT_EQ(ErrorText([&] { database_.PatientKeys(L"SELECT PERSONNR FROM KUNDER"); }),
              L"Frågan ger ingen kolumn PATIENTNR: SELECT PERSONNR FROM KUNDER");
}

// The list keeps the PERSONNR of each of its rows when it has that column
// (found by name, in any place and case): NULL and a text longer than any
// personal number are kept as "".
TEST_P(DbEngine, TheListKeepsEachRowsPersonalNumber) {
    Execute(other_, L"UPDATE KUNDER SET PERSONNR = NULL WHERE PATIENTNR = 3");
    const struct {
        std::wstring sql;
        int copies;  // of the stored number in the listed one
    } cases[] = {
        {L"SELECT PATIENTNR, PERSONNR FROM KUNDER ORDER BY PERSONNR", 1},
        {L"SELECT k.personnr, k.PATIENTNR FROM KUNDER k ORDER BY k.PATIENTNR DESC", 1},
        // 30 characters for the ten-digit number, 39 for the others
        {L"SELECT PATIENTNR, PERSONNR || PERSONNR || PERSONNR AS Personnr FROM KUNDER", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.sql));
        const PatientList list = database_.PatientKeys(c.sql);
        ASSERT_TRUE(list.numbers);
        ASSERT_EQ(list.keys.size(), 10u);
        ASSERT_EQ(list.numbers->size(), list.keys.size());
        for (size_t i = 0; i < list.keys.size(); ++i) {
            const int patient = std::stoi(list.keys[i]);
            const std::optional<std::wstring> stored = Stored(patient, L"PERSONNR");
            ASSERT_EQ(stored.has_value(), patient != 3);
            std::wstring expected;
            for (int n = 0; stored && n < c.copies; ++n) expected += *stored;
            if (expected.size() > PatientList::kMostNumberChars) expected.clear();
            EXPECT_EQ((*list.numbers)[i], expected) << patient;
        }
    }
    const PatientList keysOnly = database_.PatientKeys(L"SELECT PATIENTNR FROM KUNDER");
    EXPECT_EQ(keysOnly.keys.size(), 10u);
    EXPECT_FALSE(keysOnly.numbers);
}

TEST_P(DbEngine, OpenPatientAndSave) {
    std::unique_ptr<PatientRow> row = database_.OpenPatient(L"2");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->Text(L"PERSONNR"), L"19321212-9876");
    EXPECT_EQ(row->Text(L"efternamn"), L"Öberg");  // columns without regard to case
    EXPECT_EQ(row->Text(L"ORT"), L"SKELLEFTEÅ");
    EXPECT_EQ(row->Text(L"COADRESS"), L"");
    EXPECT_TRUE(row->HasColumn(L"Tel3Not"));
    EXPECT_FALSE(row->HasColumn(L"NOSUCH"));
    EXPECT_EQ(ErrorText([&] { row->Text(L"NOSUCH"); }), L"Tabellen KUNDER saknar kolumnen NOSUCH.");

    row->Save({{L"F_RNAMN", L"Åsa"}, {L"EFTERNAMN", L"Ängström-Berg"}, {L"ORT", L"AVLIDEN"},
               {L"AKTIV", L"F"}});
    EXPECT_EQ(Stored(2, L"F_RNAMN"), L"Åsa");
    EXPECT_EQ(Stored(2, L"EFTERNAMN"), L"Ängström-Berg");
    EXPECT_EQ(Stored(2, L"AKTIV"), L"F");
    EXPECT_EQ(Stored(2, L"ADRESS"), L"Kyrkvägen 4");  // unchanged columns stay
    EXPECT_EQ(Stored(1, L"EFTERNAMN"), L"Lindqvist");        // other rows stay
    // the row now holds what was saved, so a second save compares with it
    EXPECT_EQ(row->Text(L"ORT"), L"AVLIDEN");
    row->Save({{L"ORT", L"SKELLEFTEÅ"}});
    EXPECT_EQ(Stored(2, L"ORT"), L"SKELLEFTEÅ");

    // texts longer than one read of the driver, both ways
    std::wstring note;
    while (note.size() < 3000) note += L"Anteckning åäö " + std::to_wstring(note.size()) + L"; ";
    row->Save({{L"ANTECKNING", note}});
    std::unique_ptr<PatientRow> reread = database_.OpenPatient(L"2");
    ASSERT_NE(reread, nullptr);
    EXPECT_EQ(reread->Text(L"ANTECKNING"), note);
    reread->Save({{L"ANTECKNING", L"kort"}});  // compares the long text it read
    EXPECT_EQ(Stored(2, L"ANTECKNING"), L"kort");

    EXPECT_EQ(database_.OpenPatient(L"999"), nullptr);
}

TEST_P(DbEngine, NullColumnsCompareAsNull) {
    std::unique_ptr<PatientRow> row = database_.OpenPatient(L"3");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->Text(L"COADRESS"), L"");  // stored NULL
    row->Save({{L"COADRESS", L""}, {L"TEL3NOT", L"UV"}});
    EXPECT_EQ(Stored(3, L"COADRESS"), L"");
    EXPECT_EQ(Stored(3, L"TEL3NOT"), L"UV");

    // NULL and "" differ: a row whose NULL someone made "" is not overwritten
    std::unique_ptr<PatientRow> other = database_.OpenPatient(L"3");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->Text(L"TEL1"), L"");
    Execute(other_, L"UPDATE KUNDER SET TEL1 = '' WHERE PATIENTNR = 3");
    EXPECT_EQ(ErrorText([&] { other->Save({{L"TEL1", L"070-1"}}); }), kRowNotLocatedText);
    EXPECT_EQ(Stored(3, L"TEL1"), L"");
}

TEST_P(DbEngine, ASaveNeverOverwritesAnotherConnectionsEdit) {
    // PostgreSQL in a transaction, as the update run works; SQLite takes a
    // database-wide lock in a transaction, so the other connection could not
    // write at all: there the row is read and saved without one.
    const bool transaction = GetParam() == Engine::Postgres;
    if (transaction) database_.BeginTransaction();
    std::unique_ptr<PatientRow> row = database_.OpenPatient(L"4");
    ASSERT_NE(row, nullptr);
    Execute(other_, L"UPDATE KUNDER SET EFTERNAMN = 'Annan' WHERE PATIENTNR = 4");
    const std::wstring refused = ErrorText([&] {
        row->Save({{L"F_RNAMN", L"Maja Lisa"}, {L"EFTERNAMN", L"Håkansson"}, {L"ADRESS", L"Ny väg 1"}});
    });
    EXPECT_EQ(refused, kRowNotLocatedText);
    if (transaction) database_.Commit();
    EXPECT_EQ(Stored(4, L"EFTERNAMN"), L"Annan");
    EXPECT_EQ(Stored(4, L"F_RNAMN"), L"Maja");
    EXPECT_EQ(Stored(4, L"ADRESS"), L"Björkvägen 9");

    // a change to a column this save does not touch is no conflict
    std::unique_ptr<PatientRow> again = database_.OpenPatient(L"4");
    ASSERT_NE(again, nullptr);
    Execute(other_, L"UPDATE KUNDER SET TEL1 = '070-2' WHERE PATIENTNR = 4");
    again->Save({{L"ADRESS", L"Ny väg 1"}});
    EXPECT_EQ(Stored(4, L"ADRESS"), L"Ny väg 1");
    EXPECT_EQ(Stored(4, L"TEL1"), L"070-2");
    EXPECT_EQ(Stored(4, L"EFTERNAMN"), L"Annan");
}

// The row SELECT and each set of changed columns' UPDATE are prepared once
// and executed again for the next row, also after a save that matched no
// row, and afresh after a commit or a rollback.
TEST_P(DbEngine, PreparedStatementsServeRowAfterRow) {
    database_.BeginTransaction();
    for (int patient = 1; patient <= 10; ++patient) {
        if (patient == 6) {
            database_.Commit();
            database_.BeginTransaction();
        }
        std::unique_ptr<PatientRow> row = database_.OpenPatient(std::to_wstring(patient));
        ASSERT_NE(row, nullptr) << patient;
        if (patient == 3) {
            // A stale copy of the row: its save matches nothing, and the same
            // statement then serves the fresh copy.
            std::unique_ptr<PatientRow> fresh = database_.OpenPatient(L"3");
            ASSERT_NE(fresh, nullptr);
            fresh->Save({{L"TEL2", L"070-3"}, {L"ADRESS", L"Väg 3"}});
            EXPECT_EQ(ErrorText([&] { row->Save({{L"TEL2", L"070-x"}, {L"ADRESS", L"Väg x"}}); }),
                      kRowNotLocatedText);
            continue;
        }
        row->Save({{L"TEL2", L"070-" + std::to_wstring(patient)}, {L"ADRESS", L"Väg " + std::to_wstring(patient)}});
    }
    database_.Rollback();  // patients 6 to 10 are not saved
    database_.BeginTransaction();
    std::unique_ptr<PatientRow> row = database_.OpenPatient(L"7");
    ASSERT_NE(row, nullptr);
    EXPECT_NE(row->Text(L"ADRESS"), L"Väg 7");
    row->Save({{L"TEL2", L"070-77"}, {L"ADRESS", L"Väg 77"}});
    database_.Commit();
    for (int patient = 1; patient <= 10; ++patient) {
        const bool saved = patient <= 5 || patient == 7;
        const std::wstring expected = patient == 7 ? L"Väg 77" : L"Väg " + std::to_wstring(patient);
        EXPECT_EQ(Stored(patient, L"ADRESS") == expected, saved) << patient;
    }
    EXPECT_EQ(Stored(3, L"TEL2"), L"070-3");
    EXPECT_EQ(Stored(7, L"TEL2"), L"070-77");
}

TEST_P(DbEngine, CommitIsSeenAndRollbackIsNotSeenByAnotherConnection) {
    EXPECT_FALSE(database_.InTransaction());
    database_.BeginTransaction();
    EXPECT_TRUE(database_.InTransaction());
    database_.OpenPatient(L"5")->Save({{L"ORT", L"VÄNNÄS"}});
    EXPECT_EQ(Stored(5, L"ORT"), L"UMEÅ");  // not yet committed
    database_.Commit();
    EXPECT_FALSE(database_.InTransaction());
    EXPECT_EQ(Stored(5, L"ORT"), L"VÄNNÄS");

    database_.BeginTransaction();
    database_.OpenPatient(L"5")->Save({{L"ORT", L"BYGDEÅ"}});
    database_.OpenPatient(L"6")->Save({{L"ORT", L"BYGDEÅ"}});
    database_.Rollback();
    EXPECT_FALSE(database_.InTransaction());
    EXPECT_EQ(Stored(5, L"ORT"), L"VÄNNÄS");
    EXPECT_EQ(Stored(6, L"ORT"), L"ORTEN");

    // after a transaction, saves are committed at once again
    database_.OpenPatient(L"6")->Save({{L"ORT", L"HOLMÖN"}});
    EXPECT_EQ(Stored(6, L"ORT"), L"HOLMÖN");
    EXPECT_EQ(ErrorText([&] { database_.Commit(); }), L"Ingen transaktion är pågående.");
}

TEST_P(DbEngine, ReconnectingEndsTheOldRowsAndTransaction) {
    database_.BeginTransaction();
    std::unique_ptr<PatientRow> row = database_.OpenPatient(L"1");
    row->Save({{L"ORT", L"X"}});
    database_.Connect(connectionString_);  // the open transaction is rolled back
    EXPECT_FALSE(database_.InTransaction());
    EXPECT_EQ(Stored(1, L"ORT"), L"UME");
    EXPECT_EQ(ErrorText([&] { row->Save({{L"ORT", L"Y"}}); }),
              L"Anslutningen till databasen är stängd; raden kan inte sparas.");
    EXPECT_EQ(database_.OpenPatient(L"1")->Text(L"ORT"), L"UME");
}

INSTANTIATE_TEST_SUITE_P(Db, DbEngine, testing::Values(Engine::Sqlite, Engine::Postgres), EngineName);

// An older KUNDER without KONTROLLNR and FODELSEDAG.
class DbEngineWithoutOptionalColumns : public DbEngine {
protected:
    std::wstring SchemaScript() const override { return L"schema_without_optional.sql"; }
};

TEST_P(DbEngineWithoutOptionalColumns, MissingColumnsAreReportedAndTheRestIsSaved) {
    std::unique_ptr<PatientRow> row = database_.OpenPatient(L"1");
    ASSERT_NE(row, nullptr);
    EXPECT_FALSE(row->HasColumn(L"KONTROLLNR"));
    EXPECT_FALSE(row->HasColumn(L"FODELSEDAG"));
    EXPECT_TRUE(row->HasColumn(L"AKTIV"));
    // a save naming a missing column writes nothing at all
    EXPECT_EQ(ErrorText([&] { row->Save({{L"EFTERNAMN", L"Ny"}, {L"KONTROLLNR", L"1234"}}); }),
              L"Tabellen KUNDER saknar kolumnen KONTROLLNR.");
    EXPECT_EQ(Stored(1, L"EFTERNAMN"), L"Lindqvist");
    row->Save({{L"EFTERNAMN", L"Ny"}, {L"POSTNR", L"903 25"}});
    EXPECT_EQ(Stored(1, L"EFTERNAMN"), L"Ny");
    EXPECT_EQ(Stored(1, L"POSTNR"), L"903 25");
}

INSTANTIATE_TEST_SUITE_P(Db, DbEngineWithoutOptionalColumns, testing::Values(Engine::Sqlite, Engine::Postgres),
                         EngineName);

// A commit the server refuses (a deferred constraint) ends the transaction
// all the same: nothing of it is kept, the store says it is in none, and
// the connection commits each statement at once again, as before it began.
TEST(DbPostgres, ARefusedCommitEndsTheTransaction) {
    const std::wstring connectionString = PostgresConnectionString();
    ASSERT_FALSE(connectionString.empty()) << kNoPostgres;
    odbc::Connection admin = odbc::Connection::Open(connectionString);
    RunSqlScript(admin, L"schema.sql");
    RunSqlScript(admin, L"sample_data.sql");
    Execute(admin, L"CREATE OR REPLACE FUNCTION kunder_refused_commit() RETURNS trigger LANGUAGE plpgsql AS $$ "
                   L"BEGIN IF NEW.EPOST = 'nekas' THEN RAISE EXCEPTION 'nekas vid commit'; END IF; RETURN NEW; END $$");
    // Gone again however the test ends: the later tests' tables are made anew, the function is not.
    struct DropAtEnd {
        const odbc::Connection& admin;
        ~DropAtEnd() {
            try {
                Execute(admin, L"DROP TRIGGER IF EXISTS kunder_refused_commit ON KUNDER");
                Execute(admin, L"DROP FUNCTION IF EXISTS kunder_refused_commit()");
            } catch (const Error& e) {
                ADD_FAILURE() << ToUtf8(e.message());
            }
        }
    } dropAtEnd{admin};
    Execute(admin, L"CREATE CONSTRAINT TRIGGER kunder_refused_commit AFTER UPDATE ON KUNDER DEFERRABLE INITIALLY "
                   L"DEFERRED FOR EACH ROW EXECUTE FUNCTION kunder_refused_commit()");

    OdbcPatientDatabase database;
    database.Connect(connectionString);
    database.BeginTransaction();
    database.OpenPatient(L"1")->Save({{L"ORT", L"NEKAD"}, {L"EPOST", L"nekas"}});
    const std::wstring failure = ErrorText([&] { database.Commit(); });
    EXPECT_NE(failure.find(L"nekas vid commit"), std::wstring::npos) << ToUtf8(failure);
    EXPECT_FALSE(database.InTransaction());
    EXPECT_EQ(QueryText(admin, L"SELECT ORT FROM KUNDER WHERE PATIENTNR = 1"), L"UME");

    database.OpenPatient(L"2")->Save({{L"ORT", L"GENAST"}});
    EXPECT_EQ(QueryText(admin, L"SELECT ORT FROM KUNDER WHERE PATIENTNR = 2"), L"GENAST");
    database.BeginTransaction();
    database.OpenPatient(L"3")->Save({{L"ORT", L"SEDAN"}});
    database.Commit();
    EXPECT_EQ(QueryText(admin, L"SELECT ORT FROM KUNDER WHERE PATIENTNR = 3"), L"SEDAN");
}

// The server going away in the middle of a transaction: another connection
// ends this one's backend, which is what the client sees of a server that
// stops or a network that breaks.
TEST(DbPostgres, ServerGoingAwayMidTransactionFailsWithTheDriversText) {
    const std::wstring connectionString = PostgresConnectionString();
    ASSERT_FALSE(connectionString.empty()) << kNoPostgres;
    odbc::Connection admin = odbc::Connection::Open(connectionString);
    RunSqlScript(admin, L"schema.sql");
    RunSqlScript(admin, L"sample_data.sql");

    OdbcPatientDatabase database;
    database.Connect(connectionString);
    database.BeginTransaction();
    database.OpenPatient(L"1")->Save({{L"F_RNAMN", L"Borta"}});
    const std::optional<std::wstring> ended = QueryText(
        admin, L"SELECT COUNT(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE datname = current_database() "
               L"AND usename = current_user AND backend_type = 'client backend' AND pid <> pg_backend_pid()");
    ASSERT_EQ(ended, L"1");

    const std::wstring failure = ErrorText([&] { database.Commit(); });
    EXPECT_TRUE(IsDiagnostic(failure)) << ToUtf8(failure);
    // Found before the commit, which the driver would report as done.
    EXPECT_NE(failure.find(L" Transaktionen hade redan avbrutits i databasen"), std::wstring::npos) << ToUtf8(failure);
    EXPECT_FALSE(database.InTransaction());
    EXPECT_EQ(QueryText(admin, L"SELECT F_RNAMN FROM KUNDER WHERE PATIENTNR = 1"), L"Anna");

    // a new connection works again
    database.Connect(connectionString);
    EXPECT_EQ(database.OpenPatient(L"1")->Text(L"F_RNAMN"), L"Anna");
}

}  // namespace
