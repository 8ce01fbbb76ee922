// "UPDATE_ALL" against answers and databases that would lose or corrupt a
// patient's row if taken at their word: an answer that names no one, a
// commit that fails, values a column refuses, a key on two rows, an
// unreadable list setting, a long data-link line, a second run on the same
// database and a lock held by someone else.
#include <algorithm>

#include "harness.h"
#include "update_all_support.h"

namespace {

using namespace e2e;
using namespace e2e::upd;

constexpr Ms kSmallRun{30000};

const Row kOutdated = {{L"F_RNAMN", L"Gammal"}, {L"EFTERNAMN", L"Gammal"}, {L"ADRESS", L"Gammal väg 1"},
                       {L"POSTNR", L"111 11"}, {L"ORT", L"GAMLESTAD"}, {L"KON", L"K"}};

const std::vector<std::pair<std::wstring, std::wstring>> kNewPerson = {
    {L"PO_FNAME", L"Ny"},         {L"PO_NAME", L"Ny"},        {L"PO_DNAME", L"1"}, {L"PO_LNAME", L"Person"},
    {L"PO_FO_ADDR2", L"Nya väg"}, {L"PO_FO_ADDR1", L"2"},     {L"PO_FO_ZCODE", L"90325"},
    {L"PO_FO_CITY", L"UMEÅ"},     {L"PO_SEX", L"K"},          {L"PO_SECRET", L"N"}};

// ---- an answer that names no one -----------------------------------------------------------------

// A reply with an empty person element (or none, only a longer name that
// holds the word) is a failed lookup: the row keeps every value.
TEST(UpdateAllSafety, AnAnswerThatNamesNoOneNeverOverwritesARow) {
    Clinic s(Engine::Sqlite);
    s.reg.Inject(L"result | pnr=194501011234 | text=<PopulationManager><PersonInfo/></PopulationManager>");
    s.reg.Inject(L"result | pnr=197503034567 | text=<PopulationManager><PersonInfoX><PO_LNAME>X</PO_LNAME>"
                 L"</PersonInfoX></PopulationManager>");
    const std::vector<Row> before = {Patient(1, L"194501011234", kOutdated), Patient(2, L"197503034567", kOutdated)};
    s.table.Insert(before);

    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));
    EXPECT_TRUE(SameRows(s.table.Rows(), before));
    const std::wstring noPerson =
        L"; Fel: -400, Registrets svar innehöll ingen person: elementet PersonInfo saknar både efternamn och "
        L"förnamn.\r\nFel i ";
    EXPECT_TRUE(ErrorsFileHolds(
        ErrorsFile(run), {{Lit(L"Ett fel uppstod vid sökning av personnummer 194501011234" + noPerson), AnyOrNone()},
                          {Lit(L"Ett fel uppstod vid sökning av personnummer 197503034567" + noPerson), AnyOrNone()},
                          Text(L"Antal poster redigerade: 0")}));
}

// ---- an answer about another person ----------------------------------------------------------------

std::wstring PersonElement(const std::vector<std::pair<std::wstring, std::wstring>>& tags) {
    std::wstring element = L"<PersonInfo>";
    for (const auto& [tag, text] : tags) element += L"<" + tag + L">" + text + L"</" + tag + L">";
    return element + L"</PersonInfo>";
}

std::wstring CnAnswer(const std::wstring& number, const std::wstring& status) {
    return L"<PopulationManager>" +
           PersonElement({{L"cn_pnr", number}, {L"cn_fname", L"Ny"}, {L"cn_lname", L"Person"},
                          {L"cn_fo_addr2", L"Nya väg"}, {L"cn_fo_addr1", L"2"}, {L"cn_fo_zcode", L"90325"},
                          {L"cn_fo_city", L"UMEÅ"}, {L"cn_su_code", status}}) +
           L"</PopulationManager>";
}

// An answer whose person element names another personal number, or that
// holds two persons, is a failed lookup: the row keeps every value. An old
// number answered with the person's new one (status GN) is taken, its town
// text saying so.
TEST(UpdateAllSafety, AnAnswerAboutAnotherPersonNeverOverwritesARow) {
    Clinic s(Engine::Sqlite);
    s.reg.Inject(L"result | pnr=194501011234 | text=" + CnAnswer(L"195505055555", L""));
    s.reg.Inject(L"result | pnr=197503034567 | text=<PopulationManager>" + PersonElement(kNewPerson) +
                 PersonElement(kNewPerson) + L"</PopulationManager>");
    s.reg.Inject(L"result | pnr=198811115555 | text=" + CnAnswer(L"198811116666", L"GN"));
    const std::vector<Row> before = {Patient(1, L"194501011234", kOutdated), Patient(2, L"197503034567", kOutdated),
                                     Patient(3, L"198811115555", kOutdated)};
    s.table.Insert(before);

    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));
    EXPECT_TRUE(ErrorsFileHolds(
        ErrorsFile(run),
        {{Lit(L"Ett fel uppstod vid sökning av personnummer 194501011234; Fel: -400, Registrets svar gäller en annan "
              L"person (personnummer 195505055555) än den som efterfrågades.\r\nFel i "),
          AnyOrNone()},
         {Lit(L"Ett fel uppstod vid sökning av personnummer 197503034567; Fel: -400, Registrets svar gäller mer än en "
              L"person (2 element PersonInfo) och tas inte emot.\r\nFel i "),
          AnyOrNone()},
         Text(L"Antal poster redigerade: 1")}));
    const auto rows = s.table.Rows();
    EXPECT_TRUE(SameRows({{1, rows.at(1)}, {2, rows.at(2)}}, {before[0], before[1]}));
    EXPECT_EQ(rows.at(3).at(L"EFTERNAMN"), L"Person");
    EXPECT_EQ(rows.at(3).at(L"ORT"), L"GAMMALT PERSSONUMMER");
    EXPECT_EQ(rows.at(3).at(L"PERSONNR"), L"198811115555") << "the row's own number is never changed";
}

// A list row without a key, and a row without a personal number, are named
// by their place in the patient list, on either database.
class UpdateAllRowsWithoutANumber : public ::testing::TestWithParam<Engine> {};

TEST_P(UpdateAllRowsWithoutANumber, AreNamedByTheirPlaceInTheList) {
    Clinic s(GetParam());
    s.table.Insert({Patient(1, L"194501011234", kOutdated),
                    With(Patient(2, L"197503034567", kOutdated), {{L"PERSONNR", std::nullopt}})});
    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(reg::WriteString(HKEY_CURRENT_USER, run.registry().KeyPath(L"Tolmar"), L"KunderSQL",
                                 L"SELECT PATIENTNR FROM (SELECT NULL AS PATIENTNR, 0 AS O UNION ALL SELECT "
                                 L"PATIENTNR, 1 AS O FROM KUNDER) T ORDER BY O, PATIENTNR"));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));
    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run),
                                {Text(L"Felaktigt personnummer: saknas (rad 1 i patientlistan, saknar PATIENTNR)"),
                                 Text(L"Felaktigt personnummer: saknas (rad 3 i patientlistan, PATIENTNR 2)"),
                                 Text(L"Antal poster redigerade: 1")}));
    EXPECT_EQ(s.reg.LookedUpNumbers(), (std::vector<std::wstring>{L"194501011234"}));
}

INSTANTIATE_TEST_SUITE_P(UpdateAll, UpdateAllRowsWithoutANumber, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const ::testing::TestParamInfo<Engine>& test) { return EngineName(test.param); });

// ---- a commit that fails -------------------------------------------------------------------------

// The server refuses the closing commit: the rows are not in the database,
// the errors file says so, and the count leaves them out.
TEST(UpdateAllSafety, AFailedClosingCommitIsALine) {
    Clinic s(Engine::Postgres);
    s.table.RefuseCommitWhereEpost(L"vid-commit", L"Ändringen nekas vid commit");
    s.reg.Inject(L"result | pnr=197503034567 | text=" + PoDocument(kNewPerson));
    const std::vector<Row> before = {Patient(1, L"194501011234", kOutdated),
                                     Patient(2, L"197503034567", With(kOutdated, {{L"EPOST", L"vid-commit"}}))};
    s.table.Insert(before);

    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));
    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run), {{Lit(L"Det gick inte att spara transactionen! Fel: "), AnyOrNone(),
                                                    Lit(L"Ändringen nekas vid commit"), AnyOrNone()},
                                                   Text(L"Antal poster redigerade: 0")}));
    EXPECT_TRUE(SameRows(s.table.Rows(), before));
}

// ---- values a column refuses, legacy columns, shared keys -----------------------------------------

class UpdateAllLegacyTable : public ::testing::TestWithParam<Engine> {};

// An older table: a date column for the birth date that takes real dates
// from 1900 on, a long-text TEL3NOT, and no unique key on PATIENTNR.
//  - a coordination number (day + 60) has no birth date: the rest is saved;
//  - a birth date the column refuses: the row is saved without it;
//  - a stored TEL3NOT in the long-text column is compared and overwritten;
//  - two rows with one key: neither is written, no lookup, and the run goes on.
TEST_P(UpdateAllLegacyTable, RefusedDerivedValuesAndSharedKeysLoseNothing) {
    Clinic s(GetParam(), L"schema_legacy.sql");
    for (const wchar_t* pnr : {L"194501611234", L"189912311234", L"195501011111", L"196001012222"})
        s.reg.Inject(L"result | pnr=" + std::wstring(pnr) + L" | text=" + PoDocument(kNewPerson));
    const std::vector<Row> before = {
        Patient(1, L"194501611234", kOutdated),
        Patient(2, L"189912311234", kOutdated),
        Patient(3, L"195501011111", With(kOutdated, {{L"TEL3NOT", L"gammal anteckning"}})),
        Patient(4, L"196001012222", kOutdated),
        Patient(4, L"196001012222", With(kOutdated, {{L"EFTERNAMN", L"Tvilling"}})),
    };
    s.table.Insert(before);

    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));
    const Line shared = Text(L"Det gick inte att uppdatera! Fel: PATIENTNR 4 finns på flera rader i KUNDER; ingen "
                             L"av dem ändras.");
    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run), {shared, shared, Text(L"Antal poster redigerade: 3")}));
    const auto rows = s.table.sql().Query(
        L"SELECT PATIENTNR, EFTERNAMN, ADRESS, TEL3NOT, KONTROLLNR, FODELSEDAG FROM KUNDER ORDER BY PATIENTNR, "
        L"EFTERNAMN");
    using Rows = std::vector<std::vector<Value>>;
    EXPECT_EQ(rows, (Rows{{L"1", L"Person", L"Nya väg 2", L"", L"1234", std::nullopt},
                          {L"2", L"Person", L"Nya väg 2", L"", std::nullopt, std::nullopt},
                          {L"3", L"Person", L"Nya väg 2", L"", L"1111", L"1955-01-01"},
                          {L"4", L"Gammal", L"Gammal väg 1", std::nullopt, std::nullopt, std::nullopt},
                          {L"4", L"Tvilling", L"Gammal väg 1", std::nullopt, std::nullopt, std::nullopt}}));
    // The shared key was not looked up at all.
    EXPECT_EQ(s.reg.LookedUpNumbers(),
              (std::vector<std::wstring>{L"189912311234", L"194501611234", L"195501011111"}));
}

INSTANTIATE_TEST_SUITE_P(UpdateAll, UpdateAllLegacyTable, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const ::testing::TestParamInfo<Engine>& test) { return EngineName(test.param); });

// ---- settings and files that cannot be read whole ------------------------------------------------

// A stored list query too long to read is an error of the list, not "every
// patient": nothing is looked up or written, and the setting stays.
TEST(UpdateAllSafety, AnUnreadableListSettingIsNotReplaced) {
    Clinic s(Engine::Sqlite);
    s.table.Insert({Patient(1, L"194501011234", kOutdated)});
    ProgramRun run(UpdateAll(s));
    const std::wstring path = run.registry().KeyPath(L"Tolmar");
    const std::wstring longSql = L"SELECT PATIENTNR FROM KUNDER WHERE PATIENTNR IN (" + std::wstring(1100, L' ') + L"1)";
    ASSERT_TRUE(reg::WriteString(HKEY_CURRENT_USER, path, L"KunderSQL", longSql));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));
    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run), {{Lit(L"Det gick inte att öppna tabellen KunderAll! Fel: Inställningen "
                                                       L"KunderSQL i "),
                                                   Any(), Lit(L" är längre än 1024 tecken och kan inte läsas. Rätta den "
                                                              L"eller ta bort den.")}}));
    EXPECT_EQ(s.reg.RequestCount(), 0);
    const auto stored = reg::Read(HKEY_CURRENT_USER, path, L"KunderSQL");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->text, longSql);
    EXPECT_FALSE(reg::Read(HKEY_LOCAL_MACHINE, path, L"KunderSQL")) << "the machine-wide copy was written";
}

// A data-link line longer than 255 characters is read whole: the run
// reaches the database it names, not one at a cut-off path.
TEST(UpdateAllSafety, ALongDataLinkLineIsReadWhole) {
    Clinic s(Engine::Sqlite);
    s.table.Insert({Patient(1, L"197503034567", kOutdated)});
    s.reg.Inject(L"result | pnr=197503034567 | text=" + PoDocument(kNewPerson));
    // The driver ignores attributes it does not know; this one pushes the
    // database's path past the 255th character of the line.
    const std::wstring odbc = L"Driver={SQLite3};Description=" + std::wstring(240, L'x') + L";" +
                              s.table.odbcString().substr(std::wstring(L"Driver={SQLite3};").size());
    const std::wstring link = WriteDataLink(s.data, L"lang.udl", OdbcDataLink(odbc));
    ProgramRun run({.args = {L"UPDATE_ALL", link}});
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));
    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run), {Text(L"Antal poster redigerade: 1")}));
    EXPECT_EQ(s.table.Rows().at(1).at(L"EFTERNAMN"), L"Person");
}

// ---- one run at a time, and bounded waits for locks -----------------------------------------------

// A second run on the same database while the first one is under way
// refuses to start, however its data link spells the database; the first
// one finishes as usual.
TEST(UpdateAllSafety, ASecondRunOnTheSameDatabaseRefusesToStart) {
    Clinic s(Engine::Sqlite);
    s.table.Insert({Patient(1, L"194501011234", kOutdated), Patient(2, L"197503034567", kOutdated)});
    s.reg.Inject(L"ok | delay=8000 | pnr=194501011234");
    ProgramRun first(UpdateAll(s));
    ASSERT_TRUE(Start(first, s.reg));
    ASSERT_TRUE(WaitUntil([&] { return s.reg.RequestCount() >= 1 || !first.process().Running(); }, kSmallRun));
    ASSERT_TRUE(first.process().Running()) << first.log().Dump();

    // Other working folders, other data links to the same database. (Under
    // Wine the driver is the host's and the path a host path, where letter
    // case tells files apart: the other spellings keep it.)
    const std::wstring& odbc = s.table.odbcString();
    const std::wstring database = odbc.substr(odbc.find(L"Database=") + 9, odbc.find(L";Timeout") - odbc.find(L"Database=") - 9);
    const std::size_t slash = database.find_last_of(L"\\/");
    const std::wstring throughDot = database.substr(0, slash + 1) + L"." + database.substr(slash);
    const struct {
        const char* name;
        std::wstring odbc;
    } spellings[] = {
        {"as the first", odbc},
        {"through .", L"Driver={SQLite3};Database=" + throughDot + L";Timeout=10000"},
        {"another time-out, names in capitals", L"DRIVER={SQLite3};DATABASE=" + database + L";TIMEOUT=5000"},
        {"attributes in another order, blanks", L"Database=" + database + L"; Driver={SQLite3}; "},
    };
    for (const auto& spelling : spellings) {
        SCOPED_TRACE(spelling.name);
        ProgramRun second({.args = {L"UPDATE_ALL", WriteDataLink(s.data, L"samma.udl", OdbcDataLink(spelling.odbc))}});
        ASSERT_TRUE(Start(second, s.reg));
        ASSERT_TRUE(EndsWithoutBoxes(second, kSmallRun));
        EXPECT_TRUE(ErrorsFileHolds(RunLogLines(second.folder()),
                                    {Text(L"En annan uppdatering av samma databas pågår redan. Den här uppdateringen "
                                          L"avbryts utan att något har ändrats; försök igen när den andra är klar.")}));
    }
    EXPECT_TRUE(first.process().Running()) << "the first run ended before the others were refused";

    ASSERT_TRUE(EndsWithoutBoxes(first, kSmallRun));
    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(first), {Text(L"Antal poster redigerade: 2")}));
    EXPECT_EQ(s.reg.RequestCount(), 2) << "the refused run looked patients up";
}

class UpdateAllLocks : public ::testing::TestWithParam<Engine> {};

// Someone else holds a write lock on a patient's row (on SQLite: on the
// whole database). The run waits a bounded time, writes that patient's
// failed save and goes on; it never waits for the lock without limit.
TEST_P(UpdateAllLocks, ALockHeldElsewhereIsWaitedForABoundedTime) {
    Clinic s(GetParam());
    s.reg.Inject(L"result | pnr=197503034567 | text=" + PoDocument(kNewPerson));
    s.reg.Inject(L"result | pnr=198811115555 | text=" + PoDocument(kNewPerson));
    // On SQLite the lock holds the whole database: one patient is enough.
    const bool rowLocks = GetParam() == Engine::Postgres;
    s.table.Insert({Patient(1, L"197503034567", kOutdated)});
    if (rowLocks) s.table.Insert({Patient(2, L"198811115555", kOutdated)});
    // The program's link has no busy time-out of its own (the driver's
    // default is far longer than the program's bound).
    std::wstring odbc = s.table.odbcString();
    if (const size_t timeout = odbc.find(L";Timeout="); timeout != std::wstring::npos) odbc.erase(timeout);
    const std::wstring link = WriteDataLink(s.data, L"utan-timeout.udl", OdbcDataLink(odbc));
    OdbcConnection holder(s.table.odbcString());
    holder.ExecuteAndHold(L"UPDATE KUNDER SET EPOST = 'låst' WHERE PATIENTNR = 1");

    ProgramRun run({.args = {L"UPDATE_ALL", link}});
    const auto started = Clock::now();
    ASSERT_TRUE(Start(run, s.reg));
    const bool ended = WaitUntil([&] { return !run.process().Running(); }, Ms(55000));
    const auto waited = std::chrono::duration_cast<Ms>(Clock::now() - started);
    holder.RollBack();
    ASSERT_TRUE(ended) << "the run was still waiting for the lock after " << waited.count() << " ms";
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));
    EXPECT_GE(waited.count(), 25000) << "the lock was not waited for";

    const auto rows = s.table.Rows();
    EXPECT_EQ(rows.at(1).at(L"EFTERNAMN"), L"Gammal");
    if (rowLocks) {
        // Only the locked row waited; the other one is saved.
        EXPECT_EQ(rows.at(2).at(L"EFTERNAMN"), L"Person");
        EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run), {{Lit(L"Det gick inte att uppdatera 197503034567! Fel: "), Any()},
                                                      Text(L"Antal poster redigerade: 1")}));
    } else {
        EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run), {{Lit(L"Det gick inte att uppdatera 197503034567! Fel: "), Any()},
                                                      Text(L"Antal poster redigerade: 0")}));
    }
}

INSTANTIATE_TEST_SUITE_P(UpdateAll, UpdateAllLocks, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const ::testing::TestParamInfo<Engine>& test) { return EngineName(test.param); });

}  // namespace
