// The undo as an administrator must be able to trust it: a protected
// person's former address never reaches a file and never comes back, values
// a spreadsheet would take for formulas come back byte for byte, a journal
// of another database or of another person's row changes nothing, an
// ambiguous journal is refused whole, and the database decides whether a
// row still holds what the run wrote.
#include <windows.h>

#include "harness.h"
#include "update_all_support.h"

namespace {

using namespace e2e;
using namespace e2e::upd;
using tolmar::test::ReadWholeFile;

constexpr Ms kSmallRun{30000};

// Every file under `folder`, by its full path.
std::vector<std::wstring> FilesUnder(const std::wstring& folder) {
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return files;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for (std::wstring& inner : FilesUnder(path)) files.push_back(std::move(inner));
        } else {
            files.push_back(path);
        }
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return files;
}

// The newest run folder of a start, its full path.
std::wstring NewestRunFolder(ProgramRun& run) {
    const std::vector<std::wstring> names = RunFolders(run.folder());
    return names.empty() ? std::wstring() : run.folder() / (L"runs\\" + names.back());
}

// The run's change journal, in its run folder.
std::wstring JournalOf(ProgramRun& run) { return NewestRunFolder(run) + L"\\" + kChanges; }

std::vector<Row> AsList(const std::map<int, Row>& rows) {
    std::vector<Row> list;
    for (const auto& [nr, row] : rows) list.push_back(row);
    return list;
}

// The parts of the protected patient's address (ASCII, so found in any of
// the files' encodings but UTF-16).
const char* const kSecretParts[] = {"Hemlig gata 7", "c/o Dold", "999 99", "NGTBORTA"};

class UpdateAllUndoTrust : public ::testing::TestWithParam<Engine> {};

// A preview, a run and an undo: the protected patient's former address is in
// no file any of them leaves, and stays out of the row; the formula-like
// values of another patient come back byte for byte.
TEST_P(UpdateAllUndoTrust, ProtectedAddressesStayHiddenAndFormulasComeBackExactly) {
    Clinic s(GetParam());
    const std::vector<Row> before = {
        Patient(1, L"194501011234",
                {{L"F_RNAMN", L"+46 90"},
                 {L"EFTERNAMN", L"=1+1"},
                 {L"ADRESS", L"@SUM(A1)"},
                 {L"COADRESS", L"\t=1+1"},
                 {L"POSTNR", L"-903"},
                 {L"ORT", L"'UME\u00c5"},
                 {L"KON", L"K"}}),
        Patient(4, L"199002023333",
                {{L"F_RNAMN", L"Maja"},
                 {L"EFTERNAMN", L"Gammal"},
                 {L"ADRESS", L"Hemlig gata 7"},
                 {L"COADRESS", L"c/o Dold"},
                 {L"POSTNR", L"999 99"},
                 {L"ORT", L"L\u00c5NGTBORTA"},
                 {L"KON", L"K"}}),
    };
    s.table.Insert(before);

    ProgramRun preview(UpdateAll(s, {L"/preview"}));
    ASSERT_TRUE(Start(preview, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(preview, kSmallRun, 0));
    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun, 0));
    const auto afterRun = s.table.Rows();
    ASSERT_EQ(afterRun.at(4).at(L"ORT"), L"SEKRETESS M\u00c4RKT");
    const auto journal = ReadWholeFile(JournalOf(run));
    ASSERT_TRUE(journal) << "no change journal";
    EXPECT_NE(journal->find("\"4\",\"199002023333\",\"ADRESS\",\"<skyddad adress>\",\"\",\"2\"\r\n"), std::string::npos)
        << *journal;
    // Each formula-like value behind one quote, so a spreadsheet shows it as text.
    for (const char* marked : {"\"'=1+1\"", "\"'\t=1+1\"", "\"'+46 90\"", "\"'@SUM(A1)\"", "\"'-903\"", "\"''UME"})
        EXPECT_NE(journal->find(marked), std::string::npos) << marked << "\n" << *journal;

    ProgramRun undo(UpdateAll(s, {L"/undo:" + JournalOf(run)}));
    ASSERT_TRUE(Start(undo, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(undo, kSmallRun, 0));
    EXPECT_TRUE(ErrorsFileHolds(RunLogLines(undo.folder()),
                                {Text(L"PATIENTNR 4 (199002023333) har skyddad identitet: adressen lämnas som den är, "
                                      L"övriga kolumner återställs."),
                                 Text(L"Antal poster återställda: 2")}));
    Row address;
    for (const wchar_t* column : {L"ADRESS", L"COADRESS", L"POSTNR", L"ORT"})
        address[column] = afterRun.at(4).at(column);
    EXPECT_TRUE(SameRows(s.table.Rows(), {before[0], With(before[1], address)}));

    for (ProgramRun* start : {&preview, &run, &undo})
        for (const std::wstring& file : FilesUnder(start->folder().path())) {
            const auto bytes = ReadWholeFile(file);
            ASSERT_TRUE(bytes) << Utf8(file);
            for (const char* part : kSecretParts)
                EXPECT_EQ(bytes->find(part), std::string::npos) << part << " in " << Utf8(file);
        }
}

INSTANTIATE_TEST_SUITE_P(UpdateAll, UpdateAllUndoTrust, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const ::testing::TestParamInfo<Engine>& test) { return EngineName(test.param); });

// A run folder's journal undoes only the database that run changed; a row
// whose key now names another person, and a journal with two records for
// one column of one save, change nothing.
TEST(UpdateAllUndo, NeverAnotherDatabaseNorAnotherPersonsRow) {
    Clinic s(Engine::Sqlite);
    const Row old = {{L"F_RNAMN", L"Gammal"}, {L"EFTERNAMN", L"Gammal"}, {L"ADRESS", L"Gammal väg 1"}};
    const std::vector<Row> before = {Patient(1, L"19450101-1234", old), Patient(2, L"193212129876", old),
                                     Patient(3, L"197503034567", old)};
    s.table.Insert(before);
    TempFolder otherData{L"tolmar-upd"};
    PatientTable other(Engine::Sqlite, otherData);
    other.Insert(before);
    const std::wstring otherLink = WriteDataLink(otherData, L"annan.udl", OdbcDataLink(other.odbcString()));

    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun, 0));
    const auto afterRun = s.table.Rows();
    const std::wstring folder = NewestRunFolder(run);
    ASSERT_FALSE(folder.empty());
    const auto journal = ReadWholeFile(JournalOf(run));
    ASSERT_TRUE(journal);
    // The run folder holds its journal beside its summary.
    if (JournalOf(run) != folder + L"\\changes.csv") {
        ASSERT_TRUE(run.folder().WriteFile(L"runs\\" + RunFolders(run.folder()).back() + L"\\changes.csv", *journal));
    }

    ProgramRun elsewhere({.args = {L"UPDATE_ALL", otherLink, L"/undo:" + folder}});
    ASSERT_TRUE(Start(elsewhere, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(elsewhere, kSmallRun, 2));
    EXPECT_TRUE(ErrorsFileHolds(RunLogLines(elsewhere.folder()),
                                {{Lit(L"Ändringsloggen kommer från en körning mot databasen fil "), Any(),
                                  Lit(L"). Återställningen avbryts; inget har ändrats.")}}));
    EXPECT_TRUE(SameRows(other.Rows(), before));

    // The same save twice in one journal: refused whole.
    const size_t lastRow = journal->rfind("\r\n", journal->size() - 3);
    ProgramRun twice(UpdateAll(s, {L"/undo:dubbel.csv"}));
    ASSERT_TRUE(twice.folder().WriteFile(L"dubbel.csv", *journal + journal->substr(lastRow + 2)));
    ASSERT_TRUE(Start(twice, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(twice, kSmallRun, 2));
    EXPECT_TRUE(ErrorsFileHolds(
        RunLogLines(twice.folder()),
        {{Lit(L"Det gick inte att återställa från ändringsloggen! Fel: rad "), Any(),
          Lit(L" står två gånger för PATIENTNR 3 i samma sparande ("), Any(), Lit(L"). Inget har ändrats.")}}));
    EXPECT_TRUE(SameRows(s.table.Rows(), AsList(afterRun)));

    // Patient 2's key now names another person: that row is left whole.
    s.table.sql().Execute(L"UPDATE KUNDER SET PERSONNR = '196003038888' WHERE PATIENTNR = 2");
    ProgramRun undo(UpdateAll(s, {L"/undo:" + folder}));
    ASSERT_TRUE(Start(undo, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(undo, kSmallRun, 1));
    EXPECT_TRUE(ErrorsFileHolds(RunLogLines(undo.folder()),
                                {Text(L"Det gick inte att återställa PATIENTNR 2 (193212129876): raden har ett annat "
                                      L"personnummer än ändringsloggens. Raden lämnas som den är."),
                                 Text(L"Antal poster återställda: 2")}));
    EXPECT_TRUE(
        SameRows(s.table.Rows(), {before[0], With(afterRun.at(2), {{L"PERSONNR", L"196003038888"}}), before[2]}));
}

// A CHAR(n) column reads back padded; the database still finds it holding
// what the run wrote, and the undo puts the row back.
TEST(UpdateAllUndo, ACharColumnIsUndone) {
    Clinic s(Engine::Postgres);
    s.table.sql().Execute(L"ALTER TABLE KUNDER ALTER COLUMN ADRESS TYPE CHAR(40)");
    s.table.sql().Execute(L"ALTER TABLE KUNDER ALTER COLUMN ORT TYPE CHAR(30)");
    const Row old = {
        {L"F_RNAMN", L"Gammal"}, {L"EFTERNAMN", L"Gammal"}, {L"ADRESS", L"Gammal väg 1"}, {L"ORT", L"GAMLESTAD"}};
    s.table.Insert({Patient(1, L"194501011234", old), Patient(3, L"197503034567", old)});
    const auto before = s.table.Rows();
    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun, 0));
    ASSERT_FALSE(SameRows(s.table.Rows(), AsList(before)));
    ProgramRun undo(UpdateAll(s, {L"/undo:" + JournalOf(run)}));
    ASSERT_TRUE(Start(undo, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(undo, kSmallRun, 0));
    EXPECT_TRUE(ErrorsFileHolds(RunLogLines(undo.folder()), {Text(L"Antal poster återställda: 2")}));
    EXPECT_TRUE(SameRows(s.table.Rows(), AsList(before)));
}

}  // namespace
