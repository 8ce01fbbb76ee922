// "UPDATE_ALL": the real program refreshes KUNDER in SQLite and in
// PostgreSQL from the register simulator, through a data-link file named on
// the command line, and leaves its errors file in the working folder.
#include <algorithm>
#include <filesystem>
#include <functional>

#include "harness.h"
#include "update_all_support.h"

namespace {

using namespace e2e;
using namespace e2e::upd;

constexpr Ms kSmallRun{30000};

std::wstring Upper(std::wstring text) {
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// Personal numbers whose lookups the fixture answers with its own fault.
const std::wstring kNotFound = L"190001010000";
const std::wstring kFaultWithHeader = L"190002020000";
const Line kFaultWithHeaderLine = Text(
    L"Ett fel uppstod vid sökning av personnummer 190002020000; Fel: -400, "
    L"Registret är inte tillgängligt\r\nFel i PopmWs.GetPerson: Databasen svarar inte");

// ---- the rows and the errors file of an ordinary run -----------------------------

class UpdateAllRows : public ::testing::TestWithParam<Engine> {};

TEST_P(UpdateAllRows, RowsTakeTheRegistersDataAndTheErrorsFileNamesEveryOtherOutcome) {
    Clinic s(GetParam());
    // Two persons only the injected documents know: a five-digit post
    // number, and a person with a middle name but no first name.
    s.reg.Inject(L"result | pnr=198502020202 | text=" +
                 PoDocument({{L"PO_FNAME", L"Britt Marie"}, {L"PO_NAME", L"Britt"}, {L"PO_DNAME", L"1"},
                             {L"PO_LNAME", L"Ål"}, {L"PO_FO_ADDR1", L"3"}, {L"PO_FO_ADDR2", L"Ängsvägen"},
                             {L"PO_FO_ZCODE", L"90325"}, {L"PO_FO_CITY", L"UMEÅ"}, {L"PO_SEX", L"K"},
                             {L"PO_SECRET", L"N"}}));
    s.reg.Inject(L"result | pnr=198503030303 | text=" +
                 PoDocument({{L"PO_FNAME", L""}, {L"PO_NAME", L""}, {L"PO_DNAME", L""}, {L"PO_MNAME", L"Mellan"},
                             {L"PO_LNAME", L"Nilsson"}, {L"PO_FO_ZCODE", L"1234"}, {L"PO_FO_CITY", L"BYN"},
                             {L"PO_SEX", L"M"}, {L"PO_SECRET", L"N"}}));

    const std::vector<Row> before = {
        // cn family, one hyphen in the stored number; the stored first name
        // is one of the register's and stays.
        Patient(1, L"19450101-1234",
                {{L"F_RNAMN", L"Maria"}, {L"EFTERNAMN", L"Lindqvist"}, {L"ADRESS", L"Storgatan 12"},
                 {L"POSTNR", L"90325"}, {L"ORT", L"UMEÅ"}, {L"TEL1", L"090-123 45"}, {L"EPOST", L"a@b.se"}}),
        // deceased
        Patient(2, L"193212129876",
                {{L"F_RNAMN", L"Karl"}, {L"EFTERNAMN", L"Öberg"}, {L"ADRESS", L"Kyrkvägen 4"}, {L"COADRESS", L""},
                 {L"POSTNR", L"931 31"}, {L"ORT", L"SKELLEFTEÅ"}, {L"KON", L"M"}, {L"AKTIV", L"T"}}),
        // deceased and protected: the secrecy text, and inactive all the same
        Patient(3, L"192808085555",
                {{L"F_RNAMN", L"Elsa"}, {L"EFTERNAMN", L"Berg"}, {L"ADRESS", L"Ringvägen 2"}, {L"POSTNR", L"903 30"},
                 {L"ORT", L"UMEÅ"}, {L"KON", L"K"}}),
        // protected
        Patient(4, L"199002023333",
                {{L"F_RNAMN", L"Maja"}, {L"EFTERNAMN", L"Håkansson"}, {L"ADRESS", L"Björkvägen 9"},
                 {L"COADRESS", L""}, {L"POSTNR", L"852 30"}, {L"ORT", L"SUNDSVALL"}, {L"KON", L"K"}}),
        // emigrated
        Patient(5, L"198006061212",
                {{L"F_RNAMN", L"Sara"}, {L"EFTERNAMN", L"Ekström"}, {L"ADRESS", L"Skolgatan 7"},
                 {L"POSTNR", L"831 30"}, {L"ORT", L"ÖSTERSUND"}, {L"KON", L"K"}}),
        // PO family: a first name the register does not have is replaced
        Patient(6, L"197503034567",
                {{L"F_RNAMN", L"Mia"}, {L"EFTERNAMN", L"Johansson"}, {L"ADRESS", L"Västra Esplanaden 12"},
                 {L"COADRESS", L""}, {L"POSTNR", L"903 26"}, {L"ORT", L"UMEÅ"}, {L"KON", L"K"}}),
        // a blank first name differs and is replaced; the rest is equal
        Patient(7, L"198811115555",
                {{L"F_RNAMN", L"  "}, {L"EFTERNAMN", L"Forsberg"}, {L"ADRESS", L"Norra Strandgatan 21"},
                 {L"COADRESS", L""}, {L"POSTNR", L"931 33"}, {L"ORT", L"SKELLEFTEÅ"}, {L"KON", L"K"}}),
        // the register's "&amp;" arrives as it stands
        Patient(8, L"197007071010",
                {{L"F_RNAMN", L"Bo"}, {L"EFTERNAMN", L"Ek & Son"}, {L"ADRESS", L"Torget 6"}, {L"COADRESS", L""},
                 {L"POSTNR", L"903 27"}, {L"ORT", L"UMEÅ"}, {L"KON", L"M"}}),
        // equal to the register (NULL reads as ""): not written at all
        Patient(9, L"200101019090",
                {{L"F_RNAMN", L"Ida"}, {L"EFTERNAMN", L"Sjöberg"}, {L"ADRESS", L""}, {L"POSTNR", L""},
                 {L"ORT", L"SEKRETESS MÄRKT"}, {L"KON", L"K"}}),
        // differs only in the post number's space
        Patient(10, L"198502020202",
                {{L"F_RNAMN", L"Britt"}, {L"EFTERNAMN", L"Ål"}, {L"ADRESS", L"Ängsvägen 3"}, {L"COADRESS", L""},
                 {L"POSTNR", L"90325"}, {L"ORT", L"UMEÅ"}, {L"KON", L"K"}}),
        // no first name in the register: the middle name takes its place
        Patient(11, L"198503030303", {{L"F_RNAMN", L"Okänd"}, {L"EFTERNAMN", L"Nilsson"}, {L"ORT", L"BYN"}}),
        // not found, a failing lookup, two numbers of the wrong form, no number
        Patient(12, kNotFound, {{L"F_RNAMN", L"Okänd"}, {L"EFTERNAMN", L"Person"}}),
        Patient(13, kFaultWithHeader, {{L"F_RNAMN", L"Fel"}, {L"EFTERNAMN", L"Svar"}}),
        Patient(14, L"1955-1212-7777", {{L"F_RNAMN", L"Nils"}, {L"EFTERNAMN", L"Bindestreck"}}),
        Patient(15, L"6003038888", {{L"F_RNAMN", L"Tio"}, {L"EFTERNAMN", L"Siffror"}}),
    };
    s.table.Insert(before);

    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));

    const auto& b = before;
    const std::vector<Row> after = {
        // The cn family says nothing of sex: the stored sex stays.
        With(b[0], {{L"ADRESS", L"Storgatan 12 B"}, {L"COADRESS", L"c/o Berg 2019-04-01"}, {L"POSTNR", L"903 25"},
                    {L"TEL3NOT", L""}, {L"KONTROLLNR", L"1234"}, {L"FODELSEDAG", L"1945-01-01"}}),
        With(b[1], {{L"ADRESS", L""}, {L"POSTNR", L""}, {L"ORT", L"AVLIDEN"}, {L"TEL3NOT", L"AV"},
                    {L"KONTROLLNR", L"9876"}, {L"FODELSEDAG", L"1932-12-12"}, {L"AKTIV", L"F"}}),
        With(b[2], {{L"ADRESS", L""}, {L"COADRESS", L""}, {L"POSTNR", L""}, {L"ORT", L"SEKRETESS MÄRKT"},
                    {L"TEL3NOT", L"AV"}, {L"KONTROLLNR", L"5555"}, {L"FODELSEDAG", L"1928-08-08"}, {L"AKTIV", L"F"}}),
        With(b[3], {{L"ADRESS", L""}, {L"POSTNR", L""}, {L"ORT", L"SEKRETESS MÄRKT"},
                    {L"TEL3NOT", L""}, {L"KONTROLLNR", L"3333"}, {L"FODELSEDAG", L"1990-02-02"}}),
        With(b[4], {{L"COADRESS", L""}, {L"ORT", L"UTVANDRAD"}, {L"TEL3NOT", L"UV"},
                    {L"KONTROLLNR", L"1212"}, {L"FODELSEDAG", L"1980-06-06"}}),
        With(b[5], {{L"F_RNAMN", L"Maria"}, {L"EFTERNAMN", L"Johansson Persson"},
                    {L"ADRESS", L"Västra Esplanaden 14"}, {L"COADRESS", L"c/o Nilsson"}, {L"TEL3NOT", L""},
                    {L"KONTROLLNR", L"4567"}, {L"FODELSEDAG", L"1975-03-03"}}),
        With(b[6], {{L"F_RNAMN", L"Anna Karin"}, {L"TEL3NOT", L""}, {L"KONTROLLNR", L"5555"},
                    {L"FODELSEDAG", L"1988-11-11"}}),
        With(b[7], {{L"EFTERNAMN", L"Ek &amp; Son"}, {L"TEL3NOT", L""}, {L"KONTROLLNR", L"1010"},
                    {L"FODELSEDAG", L"1970-07-07"}}),
        b[8],
        With(b[9], {{L"POSTNR", L"903 25"}, {L"TEL3NOT", L""}, {L"KONTROLLNR", L"0202"},
                    {L"FODELSEDAG", L"1985-02-02"}}),
        With(b[10], {{L"F_RNAMN", L"Mellan"}, {L"EFTERNAMN", L"Nilsson Mellan"}, {L"ADRESS", L""}, {L"COADRESS", L""},
                     {L"POSTNR", L"1234"}, {L"KON", L"M"}, {L"TEL3NOT", L""}, {L"KONTROLLNR", L"0303"},
                     {L"FODELSEDAG", L"1985-03-03"}}),
        b[11], b[12], b[13], b[14],  // as they were
    };
    EXPECT_TRUE(SameRows(s.table.Rows(), after));

    // In the order of PERSONNR as stored.
    EXPECT_TRUE(ErrorsFileHolds(
        ErrorsFile(run), {Text(L"Kunde inte hitta någon person med personnummer 190001010000!"), kFaultWithHeaderLine,
                          Text(L"Felaktigt personnummer: 19551212-7777"), Text(L"Felaktigt personnummer: 6003038888"),
                          Text(L"Antal poster redigerade: 10")}));
    EXPECT_EQ(ErrorsFiles(run.folder()), std::vector<std::wstring>{ErrorsFileName()});

    // With no list query of its own, the run stores the built-in one and
    // looks the patients up in its order.
    const auto listSql = reg::Read(HKEY_CURRENT_USER, run.registry().KeyPath(L"Tolmar"), L"KunderSQL");
    ASSERT_TRUE(listSql) << "no setting KunderSQL";
    EXPECT_PRED_FORMAT2(SameText, listSql->text, L" SELECT PATIENTNR, PERSONNR FROM KUNDER ORDER BY PERSONNR");
    std::vector<std::wstring> ordered;
    for (const Row& row : before) {
        std::wstring number = *row.at(L"PERSONNR");
        if (const size_t hyphen = number.find(L'-'); hyphen != std::wstring::npos) number.erase(hyphen, 1);
        if (number.size() == 12) ordered.push_back(*row.at(L"PERSONNR"));
    }
    std::sort(ordered.begin(), ordered.end());
    for (auto& number : ordered) number.erase(std::remove(number.begin(), number.end(), L'-'), number.end());
    EXPECT_EQ(s.reg.LookedUpNumbers(), ordered);
}

INSTANTIATE_TEST_SUITE_P(UpdateAll, UpdateAllRows, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const ::testing::TestParamInfo<Engine>& test) { return EngineName(test.param); });

// ---- batches of 101 saved rows ------------------------------------------------------------

// 250 patients, every one out of date. Three of them have a personal number
// of their own whose lookup the register holds back for a while, so that
// the test can look at the table from its own connection while the program
// waits: before the 101st lookup nothing is committed, at the 102nd and the
// 203rd the batches of 101 and 202 rows are.
class UpdateAllBatches : public ::testing::TestWithParam<Engine> {};

TEST_P(UpdateAllBatches, TwoHundredFiftySavedRowsAreCommittedAfterRows101And202AndAtTheEnd) {
    Clinic s(GetParam());
    struct Group {
        std::wstring number;
        int patients;
        bool heldBack;
    };
    const Group groups[] = {{L"194501011234", 100, false}, {L"195512127777", 1, true},  // patient 101
                            {L"196003038888", 1, true},                                 // patient 102
                            {L"196507076666", 100, false}, {L"197504045678", 1, true},  // patient 203
                            {L"198811115555", 47, false}};
    std::vector<Row> patients;
    for (const Group& g : groups) {
        for (int i = 0; i < g.patients; ++i)
            patients.push_back(Patient(static_cast<int>(patients.size()) + 1, g.number,
                                       {{L"F_RNAMN", L"Gammal"}, {L"EFTERNAMN", L"Gammal"}}));
        if (g.heldBack) s.reg.Inject(L"ok | delay=1500 | pnr=" + g.number);
    }
    ASSERT_EQ(patients.size(), 250u);
    s.table.Insert(patients);

    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    auto committed = [&] {
        return std::stoi(
            s.table.sql().Scalar(L"SELECT COUNT(*) FROM KUNDER WHERE KONTROLLNR IS NOT NULL").value_or(L"-1"));
    };
    for (const auto& [lookups, rows] : {std::pair{101, 0}, std::pair{102, 101}, std::pair{203, 202}}) {
        ASSERT_TRUE(WaitUntil([&] { return s.reg.RequestCount() >= lookups || !run.process().Running(); }, Ms(60000)))
            << "the program did not reach lookup " << lookups << " in time";
        ASSERT_TRUE(run.process().Running()) << "the program ended before lookup " << lookups << "\n"
                                             << run.log().Dump();
        EXPECT_EQ(committed(), rows) << "committed rows while lookup " << lookups << " is under way";
        EXPECT_EQ(s.reg.RequestCount(), lookups) << "the register answered a held-back lookup too soon";
    }
    ASSERT_TRUE(EndsWithoutBoxes(run, Ms(120000)));
    EXPECT_EQ(committed(), 250);
    EXPECT_EQ(s.reg.RequestCount(), 250);
    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run), {Text(L"Antal poster redigerade: 250")}));
}

INSTANTIATE_TEST_SUITE_P(UpdateAll, UpdateAllBatches, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const ::testing::TestParamInfo<Engine>& test) { return EngineName(test.param); });

// ---- failed saves ----------------------------------------------------------------------------

struct FailedSavesCase {
    Engine engine;
    int refused;  // rows the database refuses to update
};

void PrintTo(const FailedSavesCase& c, std::ostream* os) { *os << EngineName(c.engine) << " " << c.refused; }

class UpdateAllFailedSaves : public ::testing::TestWithParam<FailedSavesCase> {};

// A trigger refuses the updates of some rows. Ten refusals leave the run
// going; the eleventh stops it after its line, with what was saved before
// it committed.
TEST_P(UpdateAllFailedSaves, TenFailedSavesAreToleratedTheEleventhStopsTheRun) {
    const FailedSavesCase& c = GetParam();
    Clinic s(c.engine);
    const std::wstring refusal = L"Patienten är låst för ändringar";
    s.table.RefuseUpdatesWhereEpost(L"låst", refusal);
    const Row out = {{L"F_RNAMN", L"Gammal"}, {L"EFTERNAMN", L"Gammal"}};
    std::vector<Row> patients = {Patient(1, L"194501011234", out)};
    for (int i = 0; i < c.refused; ++i)
        patients.push_back(Patient(2 + i, L"197503034567", With(out, {{L"EPOST", L"låst"}})));
    patients.push_back(Patient(2 + c.refused, L"199002023333", out));
    s.table.Insert(patients);

    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));

    const bool stops = c.refused > 10;
    std::vector<Line> lines(
        static_cast<size_t>(c.refused),
        Line{Lit(L"Det gick inte att uppdatera 197503034567! Fel: "), AnyOrNone(), Lit(refusal), AnyOrNone()});
    if (stops) lines.push_back(Text(L"Antal felaktiga poster större än 10. Avbryter uppdatering!"));
    lines.push_back(Text(L"Antal poster redigerade: " + std::wstring(stops ? L"1" : L"2")));
    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run), lines));

    const auto rows = s.table.Rows();
    EXPECT_EQ(rows.at(1).at(L"EFTERNAMN"), L"Lindqvist") << "the row saved before the stop is committed";
    for (int i = 0; i < c.refused; ++i) EXPECT_EQ(rows.at(2 + i).at(L"EFTERNAMN"), L"Gammal");
    EXPECT_EQ(rows.at(2 + c.refused).at(L"EFTERNAMN"), stops ? L"Gammal" : L"Håkansson");
    // After the stop no further patient is looked up.
    EXPECT_EQ(s.reg.RequestCount(), c.refused + (stops ? 1 : 2));
}

INSTANTIATE_TEST_SUITE_P(UpdateAll, UpdateAllFailedSaves,
                         ::testing::Values(FailedSavesCase{Engine::Sqlite, 10}, FailedSavesCase{Engine::Sqlite, 11},
                                           FailedSavesCase{Engine::Postgres, 10},
                                           FailedSavesCase{Engine::Postgres, 11}),
                         [](const ::testing::TestParamInfo<FailedSavesCase>& test) {
                             return EngineName(test.param.engine) + std::to_string(test.param.refused);
                         });

// ---- lookups that find nothing ------------------------------------------------------------

// Eleven persons the register does not know and eleven failing lookups are
// more than the failed saves allowed, yet none of them stops the run; with
// nothing saved the run ends with the count 0 and the table as it was.
TEST(UpdateAllLookups, NotFoundAndFailedLookupsNeverStopTheRunAndNothingSavedCountsZero) {
    Clinic s(Engine::Sqlite);
    std::vector<Row> patients;
    std::vector<Line> lines;
    for (int i = 1; i <= 11; ++i) {
        const std::wstring number = L"1800010100" + std::wstring(i < 10 ? L"0" : L"") + std::to_wstring(i);
        patients.push_back(Patient(i, number, {{L"EFTERNAMN", L"Okänd"}}));
        lines.push_back(Text(L"Kunde inte hitta någon person med personnummer " + number + L"!"));
    }
    // The fixture's fault carries the register's error header; the 404 after
    // it has none of its own, so its line repeats that header's texts.
    for (int i = 0; i < 6; ++i) {
        patients.push_back(Patient(12 + i, kFaultWithHeader, {{L"EFTERNAMN", L"Fel"}}));
        lines.push_back(kFaultWithHeaderLine);
    }
    // A 404 is the register out of reach: each such lookup is made again
    // until the register is seen answering (after a rest of a second, the
    // last number it answered), then made once more, and fails as the
    // patient's own: the first of them five times in a row before the rest,
    // each next one four (the streak already begun), and once after it.
    for (int i = 0; i < 5; ++i) {
        patients.push_back(Patient(18 + i, L"190003030000", {{L"EFTERNAMN", L"Fel"}}));
        lines.push_back(Text(L"Registret svarar inte; nytt försök om 1 s."));
        lines.push_back({Lit(L"Registret svarar igen efter "), Any(), Lit(L" s; uppslagningarna fortsätter.")});
        lines.push_back(
            Text(L"Ett fel uppstod vid sökning av personnummer 190003030000; Fel: -400, Not Found (404) - '" +
                 s.reg.Endpoint() + L"'\r\nFel i PopmWs.GetPerson: Databasen svarar inte"));
    }
    // Last, a patient equal to the register: looked up, not written.
    patients.push_back(
        Patient(23, L"200101019090",
                {{L"F_RNAMN", L"Ida"}, {L"EFTERNAMN", L"Sjöberg"}, {L"ORT", L"SEKRETESS MÄRKT"}, {L"KON", L"K"}}));
    lines.push_back(Text(L"Antal poster redigerade: 0"));
    s.table.Insert(patients);

    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));
    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run), lines));
    EXPECT_TRUE(SameRows(s.table.Rows(), patients));
    EXPECT_EQ(s.reg.RequestCount(), 11 + 6 + (5 + 2) + 4 * (4 + 2) + 1);
}

// ---- the list query ----------------------------------------------------------------------------

// "KunderSQL" names the patients and their order; a list query that cannot
// be run is the run's one line, without a count.
TEST(UpdateAllListQuery, TheSettingChoosesThePatientsAndTheirOrder) {
    Clinic s(Engine::Sqlite);
    const Row out = {{L"F_RNAMN", L"Gammal"}, {L"EFTERNAMN", L"Gammal"}, {L"KON", L"K"}};
    s.table.Insert({Patient(1, L"194501011234", out), Patient(2, L"197503034567", out),
                    Patient(3, L"198811115555", With(out, {{L"KON", L"M"}})), Patient(4, L"199002023333", out)});
    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(reg::WriteString(HKEY_CURRENT_USER, run.registry().KeyPath(L"Tolmar"), L"KunderSQL",
                                 L"SELECT PATIENTNR FROM KUNDER WHERE KON = 'K' ORDER BY PATIENTNR DESC"));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));
    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run), {Text(L"Antal poster redigerade: 3")}));
    EXPECT_EQ(s.reg.LookedUpNumbers(), (std::vector<std::wstring>{L"199002023333", L"197503034567", L"194501011234"}));
    EXPECT_EQ(s.table.Rows().at(3).at(L"EFTERNAMN"), L"Gammal");
}

TEST(UpdateAllListQuery, AListQueryThatFailsIsTheOnlyLine) {
    Clinic s(Engine::Sqlite);
    s.table.Insert({Patient(1, L"194501011234", {{L"EFTERNAMN", L"Gammal"}})});
    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(reg::WriteString(HKEY_CURRENT_USER, run.registry().KeyPath(L"Tolmar"), L"KunderSQL",
                                 L"SELECT PATIENTNR FROM PATIENTER_SAKNAS"));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));
    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run), {{Lit(L"Det gick inte att öppna tabellen KunderAll! Fel: "),
                                                   AnyOrNone(), Lit(L"PATIENTER_SAKNAS"), AnyOrNone()}}));
    EXPECT_EQ(s.reg.RequestCount(), 0);
    EXPECT_EQ(s.table.Rows().at(1).at(L"EFTERNAMN"), L"Gammal");
}

// ---- the shape of KUNDER ------------------------------------------------------------------

// An older table without KONTROLLNR and FODELSEDAG is updated all the same.
TEST(UpdateAllTableShape, WithoutTheOptionalColumnsRowsAreStillSaved) {
    Clinic s(Engine::Sqlite, L"schema_without_optional.sql");
    const std::vector<Row> before = {
        Patient(1, L"193212129876", {{L"F_RNAMN", L"Karl"}, {L"EFTERNAMN", L"Öberg"}, {L"ADRESS", L"Kyrkvägen 4"}}),
        Patient(2, L"197503034567", {{L"F_RNAMN", L"Maria"}, {L"EFTERNAMN", L"Johansson"}})};
    s.table.Insert(before);

    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));
    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run), {Text(L"Antal poster redigerade: 2")}));
    const std::vector<Row> after = {
        With(before[0], {{L"ADRESS", L""}, {L"COADRESS", L""}, {L"POSTNR", L""}, {L"ORT", L"AVLIDEN"},
                         {L"TEL3NOT", L"AV"}, {L"AKTIV", L"F"}}),
        With(before[1], {{L"EFTERNAMN", L"Johansson Persson"}, {L"ADRESS", L"Västra Esplanaden 14"},
                         {L"COADRESS", L"c/o Nilsson"}, {L"POSTNR", L"903 26"}, {L"ORT", L"UMEÅ"}, {L"KON", L"K"},
                         {L"TEL3NOT", L""}})};
    EXPECT_TRUE(SameRows(s.table.Rows(ComparedColumnsWithoutOptional()), after));
}

// A table without a column the run must write stops the run at the first
// patient it would save; nothing is written, nobody after it looked up.
TEST(UpdateAllTableShape, WithoutTel3notTheRunStopsAtTheFirstRowToSave) {
    Clinic s(Engine::Sqlite);
    s.table.sql().Execute(L"ALTER TABLE KUNDER DROP COLUMN TEL3NOT");
    const std::vector<Row> before = {
        // equal to the register: nothing to write, the run goes on
        Patient(1, L"197007071010",
                {{L"F_RNAMN", L"Bo"}, {L"EFTERNAMN", L"Ek &amp; Son"}, {L"ADRESS", L"Torget 6"},
                 {L"POSTNR", L"903 27"}, {L"ORT", L"UMEÅ"}, {L"KON", L"M"}}),
        Patient(2, L"197503034567", {{L"F_RNAMN", L"Maria"}, {L"EFTERNAMN", L"Johansson"}}),
        Patient(3, L"198811115555", {{L"F_RNAMN", L"Anna"}, {L"EFTERNAMN", L"Forsberg"}})};
    s.table.Insert(before);

    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));
    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run), {{Lit(L"Det gick inte att öppna tabellen Kunder! Fel: "), AnyOrNone(),
                                                   Lit(L"TEL3NOT"), AnyOrNone()},
                                                  Text(L"Antal poster redigerade: 0")}));
    std::vector<std::wstring> columns = ComparedColumns();
    std::erase(columns, L"TEL3NOT");
    EXPECT_TRUE(SameRows(s.table.Rows(columns), before));
    EXPECT_EQ(s.reg.LookedUpNumbers(), (std::vector<std::wstring>{L"197007071010", L"197503034567"}));
}

// ---- the connection ---------------------------------------------------------------------------

struct ConnectCase {
    const char* name;
    // What follows "Provider=" in the data link, given the data folder.
    std::function<std::wstring(const TempFolder&)> dataLink;
    std::wstring lineStart;  // the line up to the driver's message
};

void PrintTo(const ConnectCase& c, std::ostream* os) { *os << c.name; }

class UpdateAllConnect : public ::testing::TestWithParam<ConnectCase> {};

// A database that cannot be reached: one line naming the login of the data
// link (the default login when it has none), no lookup, nothing else.
TEST_P(UpdateAllConnect, AFailingConnectionLeavesItsOneLine) {
    const ConnectCase& c = GetParam();
    Register reg;
    TempFolder data(L"tolmar-upd");
    const std::wstring dataLink = WriteDataLink(data, L"klinik.udl", c.dataLink(data));
    ProgramRun run({.args = {L"UPDATE_ALL", dataLink}});
    ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", RegisterIniFor(reg.Endpoint())));
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));
    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run), {{Lit(c.lineStart), Any()}}));
    EXPECT_EQ(reg.RequestCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    UpdateAll, UpdateAllConnect,
    ::testing::Values(
        ConnectCase{"SqliteFileInAMissingFolderWithTheDefaultLogin",
                    [](const TempFolder& data) {
                        return OdbcDataLink(L"Driver={SQLite3};Database=" + DriverPath(data / L"saknas") +
                                            L"/klinik.db");
                    },
                    L"Det gick inte att ansluta till databasen :  med användarnamnet secret\r\r"},
        ConnectCase{"PostgresOnAClosedPortWithTheDataLinksLogin",
                    [](const TempFolder&) {
                        return L"MSDASQL.1;Password=hemligt;Persist Security Info=True;User ID=klinik;"
                               L"Initial Catalog=klinikdb;Data Source=pgserver;Extended Properties=\""
                               L"Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=9;Database=klinikdb\"";
                    },
                    L"Det gick inte att ansluta till databasen pgserver: klinikdb med användarnamnet klinik\r\r"}),
    [](const ::testing::TestParamInfo<ConnectCase>& test) { return std::string(test.param.name); });

// No data link given and none in the data-link folder: the program says so,
// offers the chooser, and when the user cancels it goes on with an empty
// provider, which cannot connect: that is the run's one line.
TEST(UpdateAllConnectChooser, CancellingTheChooserEndsInTheConnectionLine) {
    Register reg;
    const std::wstring dataLinks = [] {
        wchar_t common[MAX_PATH] = {};
        GetEnvironmentVariableW(L"CommonProgramFiles(x86)", common, MAX_PATH);
        return std::wstring(common) + L"\\System\\Ole DB\\Data Links\\";
    }();
    ASSERT_GT(dataLinks.size(), 40u) << "CommonProgramFiles(x86) is not set";
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(std::filesystem::path(dataLinks), ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        ASSERT_NE(Upper(it->path().extension().wstring()), L".UDL")
            << "this test needs no data-link file below " << Utf8(dataLinks) << ", but there is "
            << Utf8(it->path().wstring());

    ProgramRun run({.args = {L"UPDATE_ALL"}});
    ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", RegisterIniFor(reg.Endpoint())));
    ASSERT_TRUE(run.Start());
    const auto box = run.WaitForBox();
    ASSERT_TRUE(box) << run.log().Dump();
    ASSERT_TRUE(run.Answer(*box, IDOK));
    const auto chooser = run.WaitForForm();
    ASSERT_TRUE(chooser) << run.log().Dump();
    ASSERT_TRUE(run.Press(chooser->hwnd, IDCANCEL));
    EXPECT_EQ(run.WaitForExit(), 2u) << "no connection: the run could not start";
    EXPECT_TRUE(MatchesSequence(
        run.log(), {expect::Box(L"Information", L"Kunde inte hitta den angivna DataProvider-filen \"" + dataLinks +
                                                    L"ERROR\"!\rKontrollera att filen finns i den aktuella katalogen "
                                                    L"och försök igen!\r\rVälj databasanslutning i nästa dialog"),
                    expect::Closed(IDOK), expect::Form(), expect::Closed(IDCANCEL), expect::Exit(2)}));
    EXPECT_EQ(run.log().Events(EventKind::FormShown).front().caption, L"DataProviders");
    EXPECT_TRUE(ErrorsFileHolds(
        ErrorsFile(run), {{Lit(L"Det gick inte att ansluta till databasen :  med användarnamnet secret\r\r"), Any()}}));
    EXPECT_EQ(reg.RequestCount(), 0);
}

// ---- two runs on one day ----------------------------------------------------------------------

TEST(UpdateAllErrorsFile, ASecondRunTheSameDayReplacesTheFileWithItsOwnLines) {
    Clinic s(Engine::Sqlite);
    s.table.Insert({Patient(1, kNotFound, {{L"EFTERNAMN", L"Okänd"}}), Patient(2, L"19450101-1234-9"),
                    Patient(3, L"197503034567", {{L"F_RNAMN", L"Maria"}, {L"EFTERNAMN", L"Gammal"}})});
    ProgramRun first(UpdateAll(s));
    ASSERT_TRUE(Start(first, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(first, kSmallRun));
    ASSERT_TRUE(ErrorsFileHolds(
        ErrorsFile(first), {Text(L"Kunde inte hitta någon person med personnummer 190001010000!"),
                            Text(L"Felaktigt personnummer: 194501011234-9"), Text(L"Antal poster redigerade: 1")}));

    // The unknown patient is gone; the saved one is now up to date.
    s.table.sql().Execute(L"DELETE FROM KUNDER WHERE PATIENTNR = 1");
    ProgramRun second(UpdateAll(s));
    ASSERT_TRUE(second.Start(first.folder().path()));
    ASSERT_TRUE(EndsWithoutBoxes(second, kSmallRun));
    EXPECT_TRUE(ErrorsFileHolds(
        ErrorsFile(first), {Text(L"Felaktigt personnummer: 194501011234-9"), Text(L"Antal poster redigerade: 0")}));
    EXPECT_EQ(ErrorsFiles(first.folder()), std::vector<std::wstring>{ErrorsFileName()});
}

// ---- the register failing in the middle of a run -----------------------------------------------

// Between patients that are saved, one lookup gets a SOAP fault (HTTP 500),
// one a plain HTTP 500, one a dropped connection: each becomes its line, the
// run goes on, and those patients' rows stay as they were. The dropped one
// is made again until the register has been seen answering another number
// (after five in a row, a rest of a second and the register's answer).
TEST(UpdateAllRegisterFaults, FaultsAndDroppedConnectionsMidRunLoseNothing) {
    Clinic s(Engine::Sqlite);
    s.reg.Inject(L"soap-fault | reason=Registret svarar inte just nu | pnr=197503034567");
    s.reg.Inject(L"drop | pnr=198811115555");
    s.reg.Inject(
        L"http | status=500 | body=<html><body>Server Error</body></html> | type=text/html | "
        L"pnr=199002023333");
    const Row out = {{L"F_RNAMN", L"Gammal"}, {L"EFTERNAMN", L"Gammal"}};
    const std::vector<Row> before = {Patient(1, L"194501011234", out), Patient(2, L"197503034567", out),
                                     Patient(3, L"198811115555", out), Patient(4, L"199002023333", out),
                                     Patient(5, L"200101019090", out)};
    s.table.Insert(before);

    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));
    // No answer in this run carried the register's error header.
    const std::wstring noHeader = L"\r\nFel i .: ";
    EXPECT_TRUE(ErrorsFileHolds(
        ErrorsFile(run),
        {Text(L"Ett fel uppstod vid sökning av personnummer 197503034567; Fel: -400, Registret svarar inte just nu" +
              noHeader),
         Text(L"Registret svarar inte; nytt försök om 1 s."),
         {Lit(L"Registret svarar igen efter "), Any(), Lit(L" s; uppslagningarna fortsätter.")},
         {Lit(L"Ett fel uppstod vid sökning av personnummer 198811115555; Fel: -400, "), Any(),
          Lit(L" - URL:" + s.reg.Endpoint() + L" - SOAPAction:" + kGetPersonAction + noHeader)},
         {Lit(L"Ett fel uppstod vid sökning av personnummer 199002023333; Fel: -400, "), Any(), Lit(noHeader)},
         Text(L"Antal poster redigerade: 2")}));
    const auto rows = s.table.Rows();
    EXPECT_EQ(rows.at(1).at(L"EFTERNAMN"), L"Lindqvist");
    for (int nr : {2, 3, 4}) EXPECT_TRUE(SameRows({{nr, rows.at(nr)}}, {before[static_cast<size_t>(nr - 1)]}));
    EXPECT_EQ(rows.at(5).at(L"EFTERNAMN"), L"Sjöberg");
    // Every request for that number was dropped (the platform's HTTP client
    // may try a dropped request once more on its own).
    const auto numbers = s.reg.LookedUpNumbers();
    const auto dropped = std::count(numbers.begin(), numbers.end(), L"198811115555");
    EXPECT_GE(dropped, 1);
    auto stats = s.reg.Stats();
    ASSERT_TRUE(stats) << "the simulator's stats cannot be read";
    EXPECT_EQ((*stats)["dropped"], dropped);
}

// ---- PostgreSQL: the server going away, someone else's edit --------------------------------------

// The program's session is ended by the server while the run is past its
// first commit: the 101 committed rows stay, the three saved after them are
// rolled back with the session, the save under way fails, the next patient
// cannot be read, and the closing commit is found to have nothing left to
// commit: the count is the 101 rows the database holds, not the 104 saved.
TEST(UpdateAllPostgres, TheServerEndingTheSessionMidRunKeepsTheCommittedBatch) {
    Clinic s(Engine::Postgres);
    std::vector<Row> patients;
    auto add = [&](const std::wstring& number, int count) {
        for (int i = 0; i < count; ++i)
            patients.push_back(Patient(static_cast<int>(patients.size()) + 1, number,
                                       {{L"F_RNAMN", L"Gammal"}, {L"EFTERNAMN", L"Gammal"}}));
    };
    add(L"194501011234", 101);
    add(L"195512127777", 3);
    add(L"196003038888", 1);  // patient 105, held back by the register
    add(L"198811115555", 5);
    s.table.Insert(patients);
    s.reg.Inject(L"ok | delay=2000 | pnr=196003038888");

    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(WaitUntil([&] { return s.reg.RequestCount() >= 105 || !run.process().Running(); }, Ms(60000)));
    ASSERT_TRUE(run.process().Running()) << run.log().Dump();
    ASSERT_EQ(s.table.TerminateOtherSessions(), 1) << "the program's session was not found";
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));

    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run), {{Lit(L"Det gick inte att uppdatera 196003038888! Fel: "), Any()},
                                                  {Lit(L"Det gick inte att öppna tabellen Kunder! Fel: "), Any()},
                                                  {Lit(L"Det gick inte att spara transactionen! Fel: "), Any(),
                                                   Lit(L" Transaktionen hade redan avbrutits i databasen och kan inte "
                                                       L"sparas. 3 rader sparade sedan förra sparandet av transaktionen finns "
                                                       L"varken i databasen eller i ändringsloggen. Avbryter "
                                                       L"uppdatering!")},
                                                  Text(L"Antal poster redigerade: 101")}));
    const auto rows = s.table.Rows();
    for (const auto& [nr, row] : rows)
        EXPECT_EQ(row.at(L"EFTERNAMN"), nr <= 101 ? L"Lindqvist" : L"Gammal") << "patient " << nr;
    EXPECT_EQ(s.reg.RequestCount(), 105);
}

// Someone edits a patient's row after the program read it and before it
// saves: that edit stays, and the program's save is a failed one.
TEST(UpdateAllPostgres, AnotherUsersEditDuringTheRunIsNotOverwritten) {
    Clinic s(Engine::Postgres);
    const Row out = {{L"F_RNAMN", L"Gammal"}, {L"EFTERNAMN", L"Gammal"}};
    const std::vector<Row> before = {Patient(1, L"194501011234", out), Patient(2, L"195512127777", out),
                                     Patient(3, L"198811115555", out)};
    s.table.Insert(before);
    s.reg.Inject(L"ok | delay=1500 | pnr=195512127777");

    ProgramRun run(UpdateAll(s));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(WaitUntil([&] { return s.reg.RequestCount() >= 2 || !run.process().Running(); }, kSmallRun));
    ASSERT_TRUE(run.process().Running()) << run.log().Dump();
    s.table.sql().Execute(L"UPDATE KUNDER SET EFTERNAMN = 'Holm-Åkesson', TEL1 = '070-111 22' WHERE PATIENTNR = 2");
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));

    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run),
                                {Text(L"Det gick inte att uppdatera 195512127777! Fel: Row cannot be located for "
                                      L"updating. Some values may have been changed since it was last read"),
                                 Text(L"Antal poster redigerade: 2")}));
    const auto rows = s.table.Rows();
    EXPECT_EQ(rows.at(1).at(L"EFTERNAMN"), L"Lindqvist");
    EXPECT_TRUE(
        SameRows({{2, rows.at(2)}}, {With(before[1], {{L"EFTERNAMN", L"Holm-Åkesson"}, {L"TEL1", L"070-111 22"}})}));
    EXPECT_EQ(rows.at(3).at(L"EFTERNAMN"), L"Forsberg");
}

}  // namespace
