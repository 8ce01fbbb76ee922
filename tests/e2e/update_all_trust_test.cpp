// "UPDATE_ALL" as an administrator schedules and checks it: the change
// journal of every committed change, a preview that writes nothing, an undo
// from a journal, unattended runs without a box, and the exit codes.
#include <algorithm>
#include <stdexcept>
#include <set>
#include <sstream>
#include <tuple>

#include "app/journal.h"
#include "tools/db/odbc_connection_string.h"

#include "harness.h"
#include "program_texts.h"
#include "update_all_support.h"

namespace {

using namespace e2e;
using namespace e2e::upd;

constexpr Ms kSmallRun{30000};

// Patients of the register's fixture, each out of date in several columns.
std::vector<Row> OutOfDate() {
    const Row old = {{L"F_RNAMN", L"Gammal"}, {L"EFTERNAMN", L"Gammal, \"Gamle\""}, {L"ADRESS", L"Gammal väg 1"},
                     {L"POSTNR", L"111 11"},  {L"ORT", L"GAMLESTAD"},              {L"KON", L"K"}};
    return {Patient(1, L"19450101-1234", old), Patient(2, L"193212129876", old), Patient(3, L"197503034567", old),
            Patient(4, L"199002023333", old), Patient(5, L"198811115555", With(old, {{L"COADRESS", std::nullopt}}))};
}

class UpdateAllTrust : public ::testing::TestWithParam<Engine> {};

// A preview changes nothing and lists exactly what the run then changes and
// journals; an undo of that journal brings every row back byte for byte,
// except one edited in between, which keeps the edit and gets a line, and
// the address of one the register now protects, which stays as the run left it.
TEST_P(UpdateAllTrust, PreviewRunAndUndo) {
    Clinic s(GetParam());
    const std::vector<Row> before = OutOfDate();
    s.table.Insert(before);

    ProgramRun preview(UpdateAll(s, {L"/Preview"}));
    ASSERT_TRUE(Start(preview, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(preview, kSmallRun, 0));
    EXPECT_TRUE(SameRows(s.table.Rows(), before));
    EXPECT_TRUE(ErrorsFileHolds(RunLogLines(preview.folder()),
                                {Text(L"Förhandsgranskning: 5 poster skulle redigeras. Inget har ändrats i databasen.")}));
    const auto previewed = preview.folder().ReadFile(InNewestRun(preview.folder(), kPreview));
    ASSERT_TRUE(previewed) << "no preview file";
    EXPECT_FALSE(preview.folder().Exists(InNewestRun(preview.folder(), kChanges))) << "a preview wrote a change journal";

    // The real run, in the same working folder as a scheduled task would be.
    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun, 0));
    const auto journal = run.folder().ReadFile(InNewestRun(run.folder(), kChanges));
    ASSERT_TRUE(journal) << "no change journal";
    ASSERT_EQ(journal->substr(0, kJournalHead.size()), kJournalHead);
    EXPECT_EQ(RowsWithoutTime(*journal), RowsWithoutTime(*previewed));
    // Quoting as RFC 4180 has it, and NULL as an empty field without quotes.
    EXPECT_NE(journal->find("\"1\",\"194501011234\",\"EFTERNAMN\",\"Gammal, \"\"Gamle\"\"\",\"Lindqvist\",\"2\"\r\n"),
              std::string::npos)
        << *journal;
    EXPECT_NE(journal->find("\"5\",\"198811115555\",\"KONTROLLNR\",,\"5555\",\"2\"\r\n"), std::string::npos) << *journal;
    const auto afterRun = s.table.Rows();
    ASSERT_FALSE(SameRows(afterRun, before));

    // Someone edits patient 3 after the run; the undo leaves that row alone.
    s.table.sql().Execute(L"UPDATE KUNDER SET ADRESS = 'Ändrad för hand' WHERE PATIENTNR = 3");
    ProgramRun undo({.args = {L"UPDATE_ALL", s.dataLink, L"/undo:" + run.folder().path() + L"\\" +
                                                             InNewestRun(run.folder(), kChanges)}});
    ASSERT_TRUE(Start(undo, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(undo, kSmallRun, 1));
    EXPECT_TRUE(ErrorsFileHolds(RunLogLines(undo.folder()),
                                {Text(L"PATIENTNR 4 (199002023333) har skyddad identitet: adressen lämnas som den är, "
                                      L"övriga kolumner återställs."),
                                 {Lit(L"Det gick inte att återställa PATIENTNR 3 (197503034567): kolumnen ADRESS har "
                                      L"ändrats sedan "),
                                  Any(), Lit(L". Raden lämnas som den är.")},
                                 Text(L"Antal poster återställda: 4")}));
    std::vector<Row> expected = before;
    expected[2] = With(afterRun.at(3), {{L"ADRESS", L"Ändrad för hand"}});
    Row kept;  // patient 4, now protected
    for (const wchar_t* column : {L"ADRESS", L"COADRESS", L"POSTNR", L"ORT"}) kept[column] = afterRun.at(4).at(column);
    expected[3] = With(before[3], kept);
    EXPECT_TRUE(SameRows(s.table.Rows(), expected));
    EXPECT_EQ(s.reg.RequestCount(), 10) << "the undo asked the register";
    // The undo keeps a journal of its own, so that it can be undone too.
    const auto undoJournal = undo.folder().ReadFile(InNewestRun(undo.folder(), kChanges));
    ASSERT_TRUE(undoJournal);
    EXPECT_NE(undoJournal->find("\"1\",\"194501011234\",\"EFTERNAMN\",\"Lindqvist\",\"Gammal, \"\"Gamle\"\"\",\"2\"\r\n"),
              std::string::npos)
        << *undoJournal;
}

INSTANTIATE_TEST_SUITE_P(UpdateAll, UpdateAllTrust, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const ::testing::TestParamInfo<Engine>& test) { return EngineName(test.param); });

// A run killed in the middle leaves a journal that holds exactly the
// committed rows: the first batch of 101, nothing of the second.
TEST(UpdateAllJournal, AKilledRunLeavesExactlyTheCommittedBatchesInTheJournal) {
    Clinic s(Engine::Sqlite);
    std::vector<Row> patients;
    for (int i = 1; i <= 104; ++i)
        patients.push_back(Patient(i, i == 104 ? L"196003038888" : L"194501011234", {{L"EFTERNAMN", L"Gammal"}}));
    s.table.Insert(patients);
    s.reg.Inject(L"ok | delay=20000 | pnr=196003038888");
    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(WaitUntil([&] { return s.reg.RequestCount() >= 104 || !run.process().Running(); }, Ms(60000)));
    ASSERT_TRUE(run.process().Running()) << run.log().Dump();
    ASSERT_TRUE(run.process().Kill());

    const auto saved = s.table.sql().Query(L"SELECT PATIENTNR FROM KUNDER WHERE EFTERNAMN <> 'Gammal' ORDER BY PATIENTNR");
    EXPECT_EQ(saved.size(), 101u);
    const auto journal = run.folder().ReadFile(InNewestRun(run.folder(), kChanges));
    ASSERT_TRUE(journal) << "no change journal";
    std::set<std::wstring> journalled;
    for (const std::string& row : RowsWithoutTime(*journal)) {
        const size_t end = row.find("\",");
        journalled.insert(std::wstring(row.begin() + 1, row.begin() + static_cast<std::ptrdiff_t>(end)));
    }
    std::set<std::wstring> committed;
    for (const auto& r : saved) committed.insert(*r[0]);
    EXPECT_EQ(journalled, committed);
}

// ---- one journal per run, holding what the database holds ----------------------------------------

// The journal of the newest run folder, read as the undo reads it.
std::vector<tolmar::JournalRecord> JournalOf(const TempFolder& folder, const std::wstring& name = kChanges) {
    const auto bytes = folder.ReadFile(InNewestRun(folder, name));
    if (!bytes) throw std::runtime_error("no " + Utf8(name) + " in the newest run folder");
    return tolmar::ReadJournal(*bytes);
}

// The summary of the newest run folder.
std::string SummaryOf(const TempFolder& folder) {
    const auto summary = folder.ReadFile(InNewestRun(folder, L"summary.json"));
    if (!summary) throw std::runtime_error("no summary.json in the newest run folder");
    return *summary;
}

// Every record's new value is what the database holds; the journalled rows
// are exactly those the database changed, and the summary's count is theirs.
void ExpectJournalIsTheDatabase(const PatientTable& table, const TempFolder& folder, const std::wstring& changedSql) {
    const std::vector<tolmar::JournalRecord> records = JournalOf(folder);
    std::set<std::wstring> journalled;
    for (const tolmar::JournalRecord& r : records) {
        journalled.insert(r.patientKey);
        // The reader takes only the refreshed columns' names and keys of digits.
        ASSERT_TRUE(std::all_of(r.patientKey.begin(), r.patientKey.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
            << Utf8(r.patientKey);
        EXPECT_EQ(table.sql().Scalar(L"SELECT " + r.column + L" FROM KUNDER WHERE PATIENTNR = " + r.patientKey),
                  r.newValue)
            << "patient " << Utf8(r.patientKey) << ", " << Utf8(r.column);
    }
    std::set<std::wstring> changed;
    for (const auto& row : table.sql().Query(changedSql)) changed.insert(row.at(0).value_or(L""));
    EXPECT_EQ(journalled, changed);
    EXPECT_NE(SummaryOf(folder).find("\"saved\": " + std::to_string(changed.size()) + ","), std::string::npos)
        << SummaryOf(folder);
}

class UpdateAllJournalPerRun : public ::testing::TestWithParam<Engine> {};

// Two runs on one day, in one working folder, each keep their own journal
// in their own run folder: the second leaves the first's as it was, and
// holds only its own changes. No journal is written beside the errors file.
TEST_P(UpdateAllJournalPerRun, TwoRunsOnOneDayKeepTwoJournals) {
    Clinic s(GetParam());
    s.table.Insert(OutOfDate());
    ProgramRun first(UpdateAll(s));
    ASSERT_TRUE(Start(first, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(first, kSmallRun, 0));
    const std::wstring firstJournal = InNewestRun(first.folder(), kChanges);
    const auto firstBytes = first.folder().ReadFile(firstJournal);
    ASSERT_TRUE(firstBytes) << "no journal in the first run's folder";
    ExpectJournalIsTheDatabase(s.table, first.folder(), L"SELECT PATIENTNR FROM KUNDER WHERE F_RNAMN <> 'Gammal'");
    EXPECT_NE(SummaryOf(first.folder()).find("\"journal\": \"changes.csv\""), std::string::npos);

    // Someone puts one surname back; the second run changes only that.
    s.table.sql().Execute(L"UPDATE KUNDER SET EFTERNAMN = 'Gammal' WHERE PATIENTNR = 2");
    ProgramRun second(UpdateAll(s));
    ASSERT_TRUE(second.Start(first.folder().path()));
    ASSERT_TRUE(EndsWithoutBoxes(second, kSmallRun, 0));
    ASSERT_EQ(RunFolders(first.folder()).size(), 2u);
    EXPECT_EQ(first.folder().ReadFile(firstJournal), firstBytes) << "the second run changed the first's journal";
    const std::vector<tolmar::JournalRecord> secondRecords = JournalOf(first.folder());
    ASSERT_EQ(secondRecords.size(), 1u);
    EXPECT_EQ(secondRecords[0].patientKey, L"2");
    EXPECT_EQ(secondRecords[0].column, L"EFTERNAMN");
    EXPECT_EQ(secondRecords[0].oldValue, L"Gammal");
    EXPECT_NE(SummaryOf(first.folder()).find("\"saved\": 1,"), std::string::npos) << SummaryOf(first.folder());
    for (const std::wstring& name : first.folder().Entries())
        EXPECT_FALSE(name.ends_with(L".csv")) << Utf8(name) << " beside the errors file";
}

// A preview that stops part-way lists exactly what the run on the same rows
// saves before the same stop: the full batch and the part of the next one.
// (A preview tries no save, so the stop is one both meet before saving: a
// patient who has died, in a table without AKTIV to mark that in.)
TEST_P(UpdateAllJournalPerRun, AStoppedPreviewListsWhatTheStoppedRunSaves) {
    Clinic s(GetParam());
    s.table.sql().Execute(L"ALTER TABLE KUNDER DROP COLUMN AKTIV");
    std::vector<Row> patients;
    for (int i = 1; i <= 104; ++i) patients.push_back(Patient(i, L"194501011234", {{L"EFTERNAMN", L"Gammal"}}));
    patients.push_back(Patient(105, L"199002023333", {{L"EFTERNAMN", L"Gammal"}}));  // the last in the list
    s.table.Insert(patients);
    s.reg.Inject(L"result | pnr=199002023333 | text=" +
                 PoDocument({{L"PO_FNAME", L"Ny"}, {L"PO_LNAME", L"Person"}, {L"PO_FO_CITY", L"AVLIDEN"}}));
    const Line stop = Text(L"Det gick inte att öppna tabellen Kunder! Fel: KUNDER saknar fältet AKTIV");

    ProgramRun preview(UpdateAll(s, {L"/preview"}));
    ASSERT_TRUE(Start(preview, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(preview, Ms(60000), 2));
    EXPECT_TRUE(ErrorsFileHolds(
        RunLogLines(preview.folder()),
        {stop, Text(L"Förhandsgranskning: 104 poster skulle redigeras. Inget har ändrats i databasen.")}));
    EXPECT_EQ(s.table.sql().Scalar(L"SELECT COUNT(*) FROM KUNDER WHERE EFTERNAMN <> 'Gammal'"), L"0");

    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, Ms(60000), 2));
    EXPECT_TRUE(ErrorsFileHolds(RunLogLines(run.folder()), {stop, Text(L"Antal poster redigerade: 104")}));
    ExpectJournalIsTheDatabase(s.table, run.folder(), L"SELECT PATIENTNR FROM KUNDER WHERE EFTERNAMN <> 'Gammal'");

    // The same records (their times aside), in the order of a list whose
    // rows share one personal number: compared as sets of rows.
    const auto rows = [](std::vector<tolmar::JournalRecord> records) {
        for (tolmar::JournalRecord& r : records) r.time.clear();
        std::sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
            return std::tie(a.patientKey, a.column) < std::tie(b.patientKey, b.column);
        });
        return records;
    };
    const std::vector<tolmar::JournalRecord> previewed = rows(JournalOf(preview.folder(), kPreview));
    EXPECT_EQ(previewed.size(), rows(JournalOf(run.folder())).size());
    EXPECT_TRUE(previewed == rows(JournalOf(run.folder()))) << "the preview's records differ from the run's";
}

INSTANTIATE_TEST_SUITE_P(UpdateAll, UpdateAllJournalPerRun, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const ::testing::TestParamInfo<Engine>& test) { return EngineName(test.param); });

// A commit the server refuses (a deferred check) loses its batch: the run
// stops, and the journal and the summary hold what the database holds.
// Whether the first batch's commit or the closing one is refused.
TEST(UpdateAllJournal, ARefusedCommitLeavesItsBatchOutOfTheJournalAndTheCount) {
    const struct {
        const char* name;
        std::wstring marked;  // the personal number of the row the server refuses to commit
        int saved, lost;
    } cases[] = {
        {"the first batch", L"193212129876", 0, 101},  // first in the list
        {"the closing batch", L"199002023333", 101, 4},  // last
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Clinic s(Engine::Postgres);
        s.table.RefuseCommitWhereEpost(L"vid-commit", L"Ändringen nekas vid commit");
        std::vector<Row> patients;
        for (int i = 1; i <= 104; ++i) patients.push_back(Patient(i, L"194501011234", {{L"EFTERNAMN", L"Gammal"}}));
        patients.push_back(Patient(105, c.marked, {{L"EFTERNAMN", L"Gammal"}, {L"EPOST", L"vid-commit"}}));
        s.table.Insert(patients);
        ProgramRun run(UpdateAll(s));
        ASSERT_TRUE(Start(run, s.reg));
        ASSERT_TRUE(EndsWithoutBoxes(run, Ms(60000), 2));
        EXPECT_TRUE(ErrorsFileHolds(
            ErrorsFile(run),
            {{Lit(L"Det gick inte att spara transactionen! Fel: "), AnyOrNone(), Lit(L"Ändringen nekas vid commit"),
              AnyOrNone(),
              Lit(L" " + std::to_wstring(c.lost) +
                  L" rader sparade sedan förra sparandet av transaktionen finns varken i databasen eller i "
                  L"ändringsloggen. Avbryter uppdatering!")},
             Text(L"Antal poster redigerade: " + std::to_wstring(c.saved))}));
        EXPECT_EQ(s.table.sql().Scalar(L"SELECT COUNT(*) FROM KUNDER WHERE EFTERNAMN <> 'Gammal'"),
                  std::to_wstring(c.saved));
        ExpectJournalIsTheDatabase(s.table, run.folder(), L"SELECT PATIENTNR FROM KUNDER WHERE EFTERNAMN <> 'Gammal'");
        EXPECT_NE(SummaryOf(run.folder()).find("\"failedSaves\": " + std::to_string(c.lost) + ","), std::string::npos)
            << SummaryOf(run.folder());
    }
}

// A data link that asks the PostgreSQL driver to roll back the whole
// transaction on an error (level 1), or to leave it aborted (level 0, whose
// COMMIT then ends in a rollback the driver reports as done), gets the
// statement-level rollback all the same: with one save refused by a trigger
// amid a batch, the count line, the exit code, the journal and the summary
// are what the database holds. The run's log says what the connection got.
TEST(UpdateAllJournal, TheCountIsTheDatabaseWhateverRollbackLevelTheDataLinkAsksFor) {
    const std::wstring dsn = tolmar::test::EnvironmentValue(L"TOLMAR_PG_DSN");
    ASSERT_FALSE(dsn.empty()) << kNoPostgres;
    const struct {
        std::wstring level;
        bool throughDataSource;  // the data link names a data source (DSN=), no driver
    } cases[] = {{L"7.4-0", false}, {L"7.4-1", false}, {L"7.4-1", true}};
    for (const auto& [level, throughDataSource] : cases) {
        SCOPED_TRACE(Utf8(level) + (throughDataSource ? " through a data source" : ""));
        Clinic s(Engine::Postgres);
        const std::wstring refusal = L"Patienten är låst för ändringar";
        s.table.RefuseUpdatesWhereEpost(L"låst", refusal);
        std::vector<Row> patients;
        for (int i = 1; i <= 30; ++i)
            patients.push_back(Patient(i, L"194501011234",
                                       i == 21 ? Row{{L"EFTERNAMN", L"Gammal"}, {L"EPOST", L"låst"}}
                                               : Row{{L"EFTERNAMN", L"Gammal"}}));
        s.table.Insert(patients);
        const auto pairs = tolmar::db::ParseOdbcString(s.table.odbcString());
        const std::wstring* user = tolmar::db::FindValue(pairs, L"UID");
        const std::wstring* password = tolmar::db::FindValue(pairs, L"PWD");
        ASSERT_TRUE(user && password && !password->empty()) << "the test server's login has a name and a password";
        const std::wstring database =
            throughDataSource ? L"DSN=" + dsn + L";Uid=" + *user + L";Pwd=" + *password : s.table.odbcString();
        s.dataLink = WriteDataLink(s.data, L"protokoll.udl", OdbcDataLink(database + L";Protocol=" + level));
        ProgramRun run(UpdateAll(s));
        ASSERT_TRUE(Start(run, s.reg));
        ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun, 1)) << RunLog(run.folder()).value_or("(no log)");

        EXPECT_EQ(s.table.sql().Scalar(L"SELECT COUNT(*) FROM KUNDER WHERE EFTERNAMN <> 'Gammal'"), L"29");
        EXPECT_TRUE(ErrorsFileHolds(
            RunLogLines(run.folder()),
            {Text(L"Datalänken ber om Protocol=" + level +
                  L"; anslutningen får Protocol=7.4-2, så att ett fel bara ångrar sin egen sats och räkningen "
                  L"stämmer med databasen."),
             Line{Lit(L"Det gick inte att uppdatera 194501011234! Fel: "), AnyOrNone(), Lit(refusal), AnyOrNone()},
             Text(L"Antal poster redigerade: 29")}));
        ExpectJournalIsTheDatabase(s.table, run.folder(), L"SELECT PATIENTNR FROM KUNDER WHERE EFTERNAMN <> 'Gammal'");
        // The identity line names what the connection got, and no password.
        const std::optional<std::string> log = RunLog(run.folder());
        ASSERT_TRUE(log);
        EXPECT_NE(log->find(Utf8(L"; tillagt i anslutningen: UseServerSidePrepare=0, Protocol=7.4-2\r\n")),
                  std::string::npos)
            << *log;
        EXPECT_EQ(log->find(Utf8(*password)), std::string::npos) << *log;
    }
}

// Unattended: no box and no dialog, the reasons in the errors file, and the
// exit code says the run could not start.
TEST(UpdateAllUnattended, WithoutADataLinkFileNothingIsShownAndTheExitCodeIsTwo) {
    Register reg;
    ProgramRun run({.args = {L"UPDATE_ALL", L"/unattended"}});
    ASSERT_TRUE(Start(run, reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun, 2));
    const auto errors = run.folder().ReadFile(ErrorsFileName());
    ASSERT_TRUE(errors) << "no errors file";
    EXPECT_NE(errors->find("i obevakat l\xE4ge visas ingen dialog"), std::string::npos) << *errors;
    EXPECT_EQ(reg.RequestCount(), 0);
}

TEST(UpdateAllOptions, UnknownOrMisplacedOptionsGetTheHelpAndExitTwo) {
    for (const std::vector<std::wstring>& args : std::vector<std::vector<std::wstring>>{
             {L"UPDATE_ALL", L"/dry-run"}, {L"UPDATE_ALL", L"/preview", L"/undo:x.csv"}, {L"TEST_MODE", L"/preview"}}) {
        ProgramRun run({.args = args});
        ASSERT_TRUE(run.Start());
        const Outcome out = run.Finish(IDOK);
        ASSERT_EQ(out.boxes.size(), 1u) << run.log().Dump();
        EXPECT_EQ(out.boxes[0].text.rfind(texts::kHelp, 0), 0u) << Utf8(out.boxes[0].text);
        EXPECT_NE(out.boxes[0].text.find(L"/unattended"), std::wstring::npos) << Utf8(out.boxes[0].text);
        EXPECT_EQ(out.exitCode, 2u);
    }
}

// An undo refuses a file that is not a journal, changes nothing, and says why.
TEST(UpdateAllUndo, AFileThatIsNotAJournalIsRefused) {
    Clinic s(Engine::Sqlite);
    const std::vector<Row> before = OutOfDate();
    s.table.Insert(before);
    ProgramRun run(UpdateAll(s, {L"/UNDO:annan.csv"}));
    ASSERT_TRUE(run.folder().WriteFile(L"annan.csv", kJournalHead + "\"t\",\"1\",\"p\",\"LOSENORD\",\"a\",\"b\",\"2\"\r\n"));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun, 2));
    EXPECT_TRUE(ErrorsFileHolds(RunLogLines(run.folder()),
                                {{Lit(L"Det gick inte att återställa från ändringsloggen! Fel: Filen är ingen "
                                      L"ändringslogg från tolmar07: rad 2: kolumnen \"LOSENORD\""),
                                  Any(), Lit(L"Inget har ändrats.")}}));
    EXPECT_TRUE(SameRows(s.table.Rows(), before));
    // Its report: stopped, and why, the file's text escaped.
    const auto report = run.folder().ReadFile(L"runs\\" + RunFolders(run.folder()).back() + L"\\report.html");
    const std::string banner = Utf8(L"<div class=\"banner stopped\" id=\"outcome\"><p class=\"title\">Körningen "
                                    L"avbröts</p><p>Det gick inte att återställa från ändringsloggen! Fel: Filen är "
                                    L"ingen ändringslogg från tolmar07: rad 2: kolumnen &quot;LOSENORD&quot;");
    EXPECT_TRUE(report && report->find(banner) != std::string::npos) << report.value_or("(no report)");
}

}  // namespace

namespace {

using namespace e2e;
using namespace e2e::upd;

// The run folder's name for the local time `seconds` from now.
std::wstring RunFolderNameAt(long long seconds) {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart = static_cast<ULONGLONG>(static_cast<long long>(t.QuadPart) + seconds * 10000000LL);
    const FILETIME ft{t.LowPart, t.HighPart};
    SYSTEMTIME utc{}, local{};
    FileTimeToSystemTime(&ft, &utc);
    SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    wchar_t name[32];
    swprintf(name, 32, L"%04u-%02u-%02u %02u%02u%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
             local.wMinute, local.wSecond);
    return name;
}

bool Holds(const std::optional<std::string>& text, const std::string& part) {
    return text && text->find(part) != std::string::npos;
}

// Every start keeps its own record. A plain run's log and summary agree with
// the database and its exit code; a preview and an undo, started where the
// night's errors file lies, leave it byte for byte and keep their lines in
// their own log.
TEST(UpdateAllRunRecord, EachStartKeepsItsFolderAndOnlyAPlainRunWritesTheErrorsFile) {
    Clinic s(Engine::Sqlite);
    s.table.Insert(OutOfDate());
    s.table.Insert({Patient(6, L"1912121212")});  // malformed: exit code 1
    ProgramRun run(UpdateAll(s, {L"/unattended"}));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun, 1));
    ASSERT_EQ(RunFolders(run.folder()).size(), 1u);
    const auto summary = run.folder().ReadFile(L"runs\\" + RunFolders(run.folder())[0] + L"\\summary.json");
    const auto changed = s.table.sql().Query(L"SELECT COUNT(*) FROM KUNDER WHERE F_RNAMN <> 'Gammal' AND PATIENTNR < 6");
    ASSERT_EQ(changed.size(), 1u);
    const std::string saved = "\"saved\": " + Utf8(*changed[0][0]);
    for (const std::string& member :
         {std::string("\"mode\": \"run\""), std::string("\"options\": [\"/unattended\"]"),
          std::string("\"outcome\": \"problems\""), std::string("\"exitCode\": 1"), std::string("\"patients\": 6"),
          std::string("\"lookedUp\": 5"), saved, std::string("\"malformedNumbers\": 1"),
          std::string("\"notLookedUp\": 0"), std::string("\"reason\": null")})
        EXPECT_TRUE(Holds(summary, member)) << member << "\n" << summary.value_or("(no summary)");
    EXPECT_EQ(saved, "\"saved\": 5");
    const std::vector<Line> lines = {Text(L"Felaktigt personnummer: 1912121212"), Text(L"Antal poster redigerade: 5")};
    EXPECT_TRUE(ErrorsFileHolds(RunLogLines(run.folder()), lines));
    const auto night = ErrorsFile(run);
    ASSERT_TRUE(ErrorsFileHolds(night, lines));
    const auto log = RunLog(run.folder());
    EXPECT_TRUE(Holds(log, "Antal patienter 6, uppslagna 5, sparade 5")) << log.value_or("");
    EXPECT_FALSE(Holds(log, "secret")) << "a password in the log";
    // The report beside them: the outcome, the malformed number's patient, the numbers.
    const auto report = run.folder().ReadFile(L"runs\\" + RunFolders(run.folder())[0] + L"\\report.html");
    for (const std::string& part :
         {std::string("<div class=\"banner problems\" id=\"outcome\">"),
          std::string("<h3>Felaktiga personnummer</h3>"), std::string("<tr><td>6</td><td>1912121212</td></tr>"),
          std::string(">Patienter</text>"), std::string(">6</text>"), std::string(">Sparade</text>")})
        EXPECT_TRUE(Holds(report, part)) << part << "\n" << report.value_or("(no report)");

    ProgramRun preview(UpdateAll(s, {L"/preview"}));
    ProgramRun undo(UpdateAll(s, {L"/undo:" + run.folder().path() + L"\\" + InNewestRun(run.folder(), kChanges)}));
    for (ProgramRun* other : {&preview, &undo}) {
        ASSERT_TRUE(other->folder().WriteFile(ErrorsFileName(), *night));
        ASSERT_TRUE(Start(*other, s.reg));
        ASSERT_TRUE(EndsWithoutBoxes(*other, kSmallRun));
        EXPECT_EQ(other->folder().ReadFile(ErrorsFileName()), night) << "the errors file was written";
    }
    EXPECT_TRUE(ErrorsFileHolds(RunLogLines(preview.folder()),
                                {Text(L"Felaktigt personnummer: 1912121212"),
                                 Text(L"Förhandsgranskning: 0 poster skulle redigeras. Inget har ändrats i databasen.")}));
    EXPECT_TRUE(ErrorsFileHolds(RunLogLines(undo.folder()),
                                {Text(L"PATIENTNR 4 (199002023333) har skyddad identitet: adressen lämnas som den är, "
                                      L"övriga kolumner återställs."),
                                 Text(L"Antal poster återställda: 5")}));
    const auto undone = undo.folder().ReadFile(L"runs\\" + RunFolders(undo.folder()).back() + L"\\summary.json");
    EXPECT_TRUE(Holds(undone, "\"mode\": \"undo\"")) << undone.value_or("");
    EXPECT_TRUE(Holds(undone, "\"restored\": 5")) << undone.value_or("");
}

// Two starts in the same second get two folders: the second's name has "-2".
TEST(UpdateAllRunRecord, AStartInASecondAlreadyTakenGetsItsOwnFolder) {
    Clinic s(Engine::Sqlite);
    s.table.Insert({Patient(1, L"194501011234")});
    ProgramRun run(UpdateAll(s));
    // Every second of the next minute already has its run folder.
    ASSERT_TRUE(CreateDirectoryW((run.folder() / L"runs").c_str(), nullptr));
    std::set<std::wstring> taken;
    for (int second = -2; second < 60; ++second) {
        const std::wstring name = RunFolderNameAt(second);
        if (!taken.insert(name).second) continue;
        ASSERT_TRUE(CreateDirectoryW((run.folder() / (L"runs\\" + name)).c_str(), nullptr));
    }
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun, 0));
    std::vector<std::wstring> added;
    for (const std::wstring& name : RunFolders(run.folder()))
        if (!taken.count(name)) added.push_back(name);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_TRUE(added[0].ends_with(L"-2")) << Utf8(added[0]);
    EXPECT_TRUE(taken.count(added[0].substr(0, added[0].size() - 2))) << Utf8(added[0]);
    EXPECT_TRUE(ErrorsFileHolds(RunLogLines(run.folder()), {Text(L"Antal poster redigerade: 1")}));
}

// At its start a run removes the run folders older than KeepRunsDays
// (180 when the setting is not a number of days, which the log says; 0
// keeps them all), and only those.
TEST(UpdateAllRunRecord, OldRunFoldersGoAsKeepRunsDaysSays) {
    constexpr long long kDay = 86400;
    const struct {
        const wchar_t* stored;
        bool tenDaysOldGoes, twoYearsOldGoes, malformedLine;
    } cases[] = {{L"3", true, true, false}, {L"abc", false, true, true}, {L"0", false, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8(c.stored));
        Clinic s(Engine::Sqlite);
        ProgramRun run(UpdateAll(s));
        ASSERT_TRUE(reg::WriteString(HKEY_CURRENT_USER, run.registry().KeyPath(L"Tolmar"), L"KeepRunsDays", c.stored));
        ASSERT_TRUE(CreateDirectoryW((run.folder() / L"runs").c_str(), nullptr));
        const std::wstring young = L"runs\\" + RunFolderNameAt(-kDay), tenDays = L"runs\\" + RunFolderNameAt(-10 * kDay),
                           twoYears = L"runs\\" + RunFolderNameAt(-730 * kDay);
        for (const std::wstring& folder : {young, tenDays, twoYears}) {
            ASSERT_TRUE(CreateDirectoryW((run.folder() / folder).c_str(), nullptr));
            ASSERT_TRUE(run.folder().WriteFile(folder + L"\\log.txt", "x"));
        }
        ASSERT_TRUE(Start(run, s.reg));
        ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun, 0));
        EXPECT_TRUE(run.folder().Exists(young + L"\\log.txt"));
        EXPECT_EQ(run.folder().Exists(tenDays), !c.tenDaysOldGoes);
        EXPECT_EQ(run.folder().Exists(twoYears), !c.twoYearsOldGoes);
        const auto log = RunLog(run.folder());
        EXPECT_EQ(Holds(log, "Inst\xC3\xA4llningen KeepRunsDays"), c.malformedLine) << log.value_or("");
    }
}

// A run whose record cannot be made (a file named "runs" in its way) has
// nowhere to keep its journal: it saves nothing, and its errors file says
// why.
TEST(UpdateAllRunRecord, ARunWithoutItsFolderSaysSoInTheErrorsFile) {
    Clinic s(Engine::Sqlite);
    const std::vector<Row> before = {Patient(1, L"194501011234")};
    s.table.Insert(before);
    ProgramRun run(UpdateAll(s, {L"/unattended"}));
    ASSERT_TRUE(run.folder().WriteFile(L"runs", "not a folder"));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun, 2));
    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run),
                                {Text(L"Det gick inte att skriva ändringsloggen changes.csv! Fel: Körningens mapp kunde "
                                      L"inte skapas, så ändringsloggen har ingen plats. Inget har sparats."),
                                 {Lit(L"Körningens logg kunde inte skrivas: Mappen "), Any()}}));
    EXPECT_TRUE(SameRows(s.table.Rows(), before));
    EXPECT_EQ(s.reg.RequestCount(), 0);
    EXPECT_EQ(run.folder().ReadFile(L"runs"), "not a folder");
}

}  // namespace
