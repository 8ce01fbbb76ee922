// The update run against an in-memory patient table, register and window.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "app/undo.h"
#include "app/update_run.h"
#include "update_run_fakes.h"

using namespace tolmar;
using namespace tolmar::test;
using namespace std::chrono_literals;

TEST(UpdateRunDecision, CompareAndSaveTable) {
    struct Case {
        const char* name;
        Columns row;
        PersonRecord person;
        bool differs;
        std::vector<std::pair<std::wstring, std::wstring>> expectSome;  // changes that must be there
        std::vector<std::wstring> absent;                               // columns that must not change
    };
    Columns noOptional = Row(L"194501011234", L"Lisa", L"Berg", L"Storgatan 1", L"903 25", L"UMEÅ");
    noOptional.erase(L"KONTROLLNR");
    noOptional.erase(L"FODELSEDAG");
    Columns onlyCheck = noOptional;
    onlyCheck[L"KONTROLLNR"] = L"";
    PersonRecord dead = Person(L"Karl", L"Öberg", L"", L"", L"AVLIDEN", L"M");
    dead.Status = L"AV";
    PersonRecord deadProtected = Person(L"Karl", L"Öberg", L"", L"", L"SEKRETESS MÄRKT", L"M");
    deadProtected.Status = L"AV";
    PersonRecord middleOnly = Person(L" ", L"Berg", L"Storgatan 1", L"90325", L"UMEÅ");
    middleOnly.MiddleName = L"Kim";
    const Case cases[] = {
        {"equal row: nothing written", Row(L"194501011234", L"Anna", L"Berg", L"Storgatan 1", L"903 25", L"UMEÅ"),
         Person(L"Anna", L"Berg", L"Storgatan 1", L"90325", L"UMEÅ"), false, {}, {}},
        {"stored name is the second given name: kept, the rest updated",
         Row(L"194501011234", L"Maria", L"Berg", L"Storgatan 1", L"903 25", L"UMEÅ"),
         Person(L"Anna Maria", L"Lind", L"Storgatan 1", L"90325", L"UMEÅ"), true,
         {{L"EFTERNAMN", L"Lind"}, {L"POSTNR", L"903 25"}}, {L"F_RNAMN"}},
        {"stored name not among the given names: replaced",
         Row(L"194501011234", L"Lisa", L"Berg", L"Storgatan 1", L"903 25", L"UMEÅ"),
         Person(L"Anna Maria", L"Berg", L"Storgatan 1", L"90325", L"UMEÅ"), true,
         {{L"F_RNAMN", L"Anna Maria"}}, {}},
        {"blank register first name: the middle name is taken",
         Row(L"194501011234", L"Lisa", L"Berg", L"Storgatan 1", L"903 25", L"UMEÅ"), middleOnly, true,
         {{L"F_RNAMN", L"Kim"}}, {}},
        {"trailing blank in the stored name counts as a difference but the name stays",
         Row(L"194501011234", L"Anna ", L"Berg", L"Storgatan 1", L"903 25", L"UMEÅ"),
         Person(L"Anna", L"Berg", L"Storgatan 1", L"90325", L"UMEÅ"), true, {{L"EFTERNAMN", L"Berg"}},
         {L"F_RNAMN"}},
        {"empty stored first name: a difference, and filled",
         Row(L"194501011234", L"", L"Berg", L"Storgatan 1", L"903 25", L"UMEÅ"),
         Person(L"Anna", L"Berg", L"Storgatan 1", L"90325", L"UMEÅ"), true, {{L"F_RNAMN", L"Anna"}}, {}},
        {"a four-character post number is compared and stored unchanged",
         Row(L"194501011234", L"Anna", L"Berg", L"Storgatan 1", L"903 25", L"UMEÅ"),
         Person(L"Anna", L"Berg", L"Storgatan 1", L"9032", L"UMEÅ"), true, {{L"POSTNR", L"9032"}}, {}},
        {"deceased: address emptied, ORT AVLIDEN, AKTIV F, status kept in TEL3NOT",
         Row(L"193212129876", L"Karl", L"Öberg", L"Kyrkvägen 4", L"931 31", L"SKELLEFTEÅ", L"M"), dead,
         true,
         {{L"ADRESS", L""}, {L"COADRESS", L""}, {L"POSTNR", L""}, {L"ORT", L"AVLIDEN"}, {L"AKTIV", L"F"},
          {L"TEL3NOT", L"AV"}, {L"KONTROLLNR", L"9876"}, {L"FODELSEDAG", L"1932-12-12"}},
         {}},
        {"no check-digit or birth-date columns: neither set", noOptional,
         Person(L"Anna", L"Berg", L"Storgatan 1", L"90325", L"UMEÅ"), true, {{L"F_RNAMN", L"Anna"}},
         {L"KONTROLLNR", L"FODELSEDAG", L"AKTIV"}},
        {"check digits but no birth date", onlyCheck, Person(L"Anna", L"Berg", L"Storgatan 1", L"90325", L"UMEÅ"),
         true, {{L"KONTROLLNR", L"1234"}}, {L"FODELSEDAG"}},
        {"sex differs", Row(L"194501011234", L"Anna", L"Berg", L"Storgatan 1", L"903 25", L"UMEÅ", L"M"),
         Person(L"Anna", L"Berg", L"Storgatan 1", L"90325", L"UMEÅ", L"K"), true, {{L"KON", L"K"}}, {}},
        // The register's silence on sex keeps the stored sex: not compared, not written.
        {"register without sex: no difference", Row(L"194501011234", L"Anna", L"Berg", L"Storgatan 1", L"903 25",
                                                      L"UMEÅ", L"K"),
         Person(L"Anna", L"Berg", L"Storgatan 1", L"90325", L"UMEÅ", L""), false, {}, {}},
        {"register without sex: the rest saved, KON left", Row(L"194501011234", L"Anna", L"Berg", L"Storgatan 1",
                                                                L"903 25", L"UMEÅ", L"K"),
         Person(L"Anna", L"Berg", L"Storgatan 9", L"90325", L"UMEÅ", L" "), true, {{L"ADRESS", L"Storgatan 9"}},
         {L"KON"}},
        // Deceased is the register's status, whatever the town text shows.
        {"deceased with protected identity: AKTIV F", Row(L"193212129876", L"Karl", L"Öberg", L"", L"",
                                                           L"SEKRETESS MÄRKT", L"M"),
         deadProtected, true, {{L"AKTIV", L"F"}, {L"ORT", L"SEKRETESS MÄRKT"}}, {}},
        {"deceased, protected, already inactive: nothing to write",
         [] { auto r = Row(L"193212129876", L"Karl", L"Öberg", L"", L"", L"SEKRETESS MÄRKT", L"M");
              r[L"AKTIV"] = L"F"; return r; }(),
         deadProtected, false, {}, {}},
        // A coordination number (day + 60) or an impossible date has no birth date.
        {"coordination number: check digits, no birth date",
         Row(L"194501611234", L"Lisa", L"Berg", L"Storgatan 1", L"903 25", L"UMEÅ"),
         Person(L"Anna", L"Berg", L"Storgatan 1", L"90325", L"UMEÅ"), true, {{L"KONTROLLNR", L"1234"}},
         {L"FODELSEDAG"}},
        {"29 February of a leap year is a date",
         Row(L"200002291234", L"Lisa", L"Berg", L"Storgatan 1", L"903 25", L"UMEÅ"),
         Person(L"Anna", L"Berg", L"Storgatan 1", L"90325", L"UMEÅ"), true, {{L"FODELSEDAG", L"2000-02-29"}},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTable table;
        table.rows[L"1"] = c.row;
        FakeRow row(table, L"1");
        const std::wstring number = Trim(c.row.at(L"PERSONNR"));
        const RowDecision d = DecideRowUpdate(row, c.person, number);
        EXPECT_EQ(d.differs, c.differs);
        for (const auto& want : c.expectSome)
            EXPECT_NE(std::find(d.changes.begin(), d.changes.end(), want), d.changes.end())
                << ToUtf8(want.first) << "=" << ToUtf8(want.second);
        for (const auto& column : c.absent)
            EXPECT_TRUE(std::none_of(d.changes.begin(), d.changes.end(),
                                     [&](const auto& ch) { return ch.first == column; }))
                << ToUtf8(column);
    }
}

TEST(UpdateRun, CommitsEvery101SavedRowsAndReportsTheCount) {
    Harness h;
    h.AddPatients(250);
    h.Run();
    EXPECT_EQ(h.view.lines, std::vector<std::wstring>{L"Antal poster redigerade: 250"});
    // begin, 101 saves, commit, begin, 101 saves, commit, begin, 48 saves, commit
    std::vector<size_t> commits;
    int saves = 0;
    for (const auto& e : h.table.events) {
        if (e.rfind(L"save:", 0) == 0) ++saves;
        if (e == L"commit") commits.push_back(static_cast<size_t>(saves));
    }
    EXPECT_EQ(commits, (std::vector<size_t>{101, 202, 250}));
    EXPECT_EQ(h.table.Count(L"begin"), 3);
    EXPECT_EQ(h.table.Count(L"rollback"), 0);
    EXPECT_EQ(h.view.maximum, 250u);
    EXPECT_EQ(h.view.position, 250u);
    EXPECT_EQ(h.view.counts, L"250/250");
    EXPECT_EQ(h.db.connection, L"Driver=X;Provider=X");
    EXPECT_EQ(h.table.rows[L"7"][L"ADRESS"], L"Nya vägen 2");
}

TEST(UpdateRun, NothingSavedRollsBack) {
    Harness h;
    h.AddPatients(3, /*differ=*/false);
    h.Run();
    EXPECT_EQ(h.view.lines, std::vector<std::wstring>{L"Antal poster redigerade: 0"});
    EXPECT_EQ(h.table.events, (std::vector<std::wstring>{L"begin", L"rollback"}));
}

TEST(UpdateRun, LookupOutcomesAndBadNumbersNeverStopTheRun) {
    Harness h;
    h.table.Add(L"1", Row(L"19121212-1212", L"Tolvan", L"Tolvansson", L"Gatan 1", L"123 45", L"STAN"));
    h.table.Add(L"2", Row(L"1912-1212-1212", L"X", L"Y", L"", L"", L""));
    h.table.Add(L"3", Row(L"1912121212", L"X", L"Y", L"", L"", L""));
    h.table.Add(L"4", Row(L"190001019999", L"X", L"Y", L"", L"", L""));
    h.table.Add(L"5", Row(L"194501011234", L"X", L"Y", L"", L"", L""));
    h.table.Add(L"6", Row(L"195001011111", L"Anna", L"Berg", L"Gatan 2", L"123 45", L"STAN"));
    h.lookup.answers[L"191212121212"].person = Person(L"Tolvan", L"Tolvansson", L"Gatan 9", L"12345", L"STAN");
    h.lookup.answers[L"194501011234"] = {-400, {}, L"Not Found (404) - 'http://x'\r\nFel i .: "};
    h.lookup.answers[L"195001011111"].person = Person(L"Anna", L"Berg", L"Gatan 3", L"12345", L"STAN");
    h.Run();
    EXPECT_EQ(h.view.lines,
              (std::vector<std::wstring>{
                  L"Felaktigt personnummer: 19121212-1212",
                  L"Felaktigt personnummer: 1912121212",
                  L"Kunde inte hitta någon person med personnummer 190001019999!",
                  L"Ett fel uppstod vid sökning av personnummer 194501011234; Fel: -400, Not Found (404) - "
                  L"'http://x'\r\nFel i .: ",
                  L"Antal poster redigerade: 2"}));
    // Only the numbers that passed the length test were looked up, hyphen removed.
    EXPECT_EQ(h.lookup.asked, (std::vector<std::wstring>{L"191212121212", L"190001019999", L"194501011234",
                                                          L"195001011111"}));
    EXPECT_EQ(h.view.counts, L"6/4");
    EXPECT_EQ(h.table.events.back(), L"commit");
    EXPECT_NE(std::find(h.view.captions.begin(), h.view.captions.end(), L"Fann inte person!"), h.view.captions.end());
    EXPECT_NE(std::find(h.view.captions.begin(), h.view.captions.end(), L"Fel: -400"), h.view.captions.end());
}

// A row with no personal number at all is named by its place in the list
// and its key, so that someone can find it; a malformed number names itself.
TEST(UpdateRun, ARowWithoutANumberOrKeyIsNamedByItsPlace) {
    Harness h;
    h.table.Add(L"5", Row(L"", L"X", L"Y", L"", L"", L""));
    h.table.order.push_back(L"");    // PATIENTNR NULL in a table without a key
    h.table.order.push_back(L"77");  // deleted since the list was read
    h.table.Add(L"8", Row(L"1950", L"X", L"Y", L"", L"", L""));
    h.table.order.push_back(std::wstring(300, L'9'));
    h.Run();
    EXPECT_EQ(h.view.lines,
              (std::vector<std::wstring>{
                  L"Felaktigt personnummer: saknas (rad 1 i patientlistan, PATIENTNR 5)",
                  L"Felaktigt personnummer: saknas (rad 2 i patientlistan, saknar PATIENTNR)",
                  L"Felaktigt personnummer: saknas (rad 3 i patientlistan, PATIENTNR 77)",
                  L"Felaktigt personnummer: 1950",
                  L"Felaktigt personnummer: saknas (rad 5 i patientlistan, PATIENTNR " + std::wstring(100, L'9') +
                      L"...)",
                  L"Antal poster redigerade: 0"}));
    EXPECT_TRUE(h.lookup.asked.empty());
}

TEST(UpdateRun, TheEleventhFailedSaveStopsTheRun) {
    for (int failures : {10, 11}) {
        SCOPED_TRACE(failures);
        Harness h;
        h.AddPatients(15);
        for (int i = 1; i <= failures; ++i) h.table.conflictOnSave.insert(std::to_wstring(i + 2));  // rows 3..
        h.Run();
        const int saved = 15 - failures - (failures == 11 ? 2 : 0);  // the stop leaves rows 14 and 15 untouched
        ASSERT_GE(h.view.lines.size(), 2u);
        EXPECT_EQ(h.view.lines.back(), L"Antal poster redigerade: " + std::to_wstring(saved));
        const std::wstring failLine = L"Det gick inte att uppdatera 195000021234! Fel: " + std::wstring(kRowNotLocatedText);
        EXPECT_EQ(h.view.lines.front(), failLine);
        const bool stopped = std::find(h.view.lines.begin(), h.view.lines.end(),
                                       L"Antal felaktiga poster större än 10. Avbryter uppdatering!") !=
                             h.view.lines.end();
        EXPECT_EQ(stopped, failures == 11);
        EXPECT_EQ(h.view.lines.size(), static_cast<size_t>(failures + 1 + (stopped ? 1 : 0)));
        EXPECT_EQ(h.table.events.back(), L"commit");  // the rows saved before the stop are kept
    }
}

TEST(UpdateRun, ListQueryFromTheSetting) {
    Harness h;
    h.AddPatients(1);
    h.Run();
    // Empty setting: written from the design-time SQL, which is what ran.
    EXPECT_EQ(h.settings.Read(L"Tolmar", L"KunderSQL"), L" SELECT PATIENTNR, PERSONNR FROM KUNDER ORDER BY PERSONNR");
    EXPECT_EQ(h.table.listSql, L"SELECT PATIENTNR, PERSONNR FROM KUNDER\r\nORDER BY PERSONNR");

    Harness custom;
    custom.AddPatients(1);
    custom.settings.Write(L"Tolmar", L"KunderSQL", L"SELECT PATIENTNR FROM KUNDER WHERE AKTIV = 'T'");
    custom.Run();
    EXPECT_EQ(custom.table.listSql, L"SELECT PATIENTNR FROM KUNDER WHERE AKTIV = 'T'");
}

TEST(UpdateRun, StopsAndTheirLines) {
    {
        Harness h;  // no connection string could be prepared: no line at all
        h.prepared = false;
        h.AddPatients(1);
        h.Run();
        EXPECT_TRUE(h.view.lines.empty());
        EXPECT_TRUE(h.table.events.empty());
    }
    {
        Harness h;
        h.table.failConnect = true;
        h.Run();
        EXPECT_EQ(h.view.lines, std::vector<std::wstring>{L"Det gick inte att ansluta till databasen SRV: Kliniken med "
                                                          L"användarnamnet sa\r\r[08001] server not found"});
        EXPECT_TRUE(h.table.events.empty());
    }
    {
        Harness h;  // a connection string the database cannot take is a failure to connect
        h.unknownProvider = true;
        h.Run();
        EXPECT_EQ(h.view.lines, std::vector<std::wstring>{L"Det gick inte att ansluta till databasen SRV: Kliniken med "
                                                          L"användarnamnet sa\r\runknown provider in Provider=X"});
        EXPECT_EQ(h.db.connection, L"");
    }
    {
        Harness h;
        h.table.failList = true;
        h.Run();
        EXPECT_EQ(h.view.lines,
                  std::vector<std::wstring>{L"Det gick inte att öppna tabellen KunderAll! Fel: [42S02] no such table"});
        EXPECT_EQ(h.table.events, (std::vector<std::wstring>{L"begin", L"rollback"}));
    }
    {
        Harness h;  // the intermediate commit fails: its rows are lost and the run stops there
        h.AddPatients(105);
        h.table.failCommit = true;
        h.Run();
        EXPECT_EQ(h.view.lines, (std::vector<std::wstring>{L"Det gick inte att spara transactionen! Fel: [08S01] link "
                                                           L"lost 101 rader sparade sedan förra sparandet av "
                                                           L"transaktionen finns varken i databasen eller i "
                                                           L"ändringsloggen. Avbryter uppdatering!",
                                                           L"Antal poster redigerade: 0"}));
        EXPECT_EQ(h.table.commitAttempts, 1);
    }
    {
        Harness h;  // a deceased person in a table without AKTIV stops the run
        h.AddPatients(2);
        h.table.rows[L"1"].erase(L"AKTIV");
        h.lookup.answers[L"195000001234"].person.PostTown = L"AVLIDEN";
        h.Run();
        ASSERT_EQ(h.view.lines.size(), 2u);
        EXPECT_EQ(h.view.lines[0].rfind(L"Det gick inte att öppna tabellen Kunder! Fel: ", 0), 0u)
            << ToUtf8(h.view.lines[0]);
        EXPECT_EQ(h.view.lines[1], L"Antal poster redigerade: 0");
        EXPECT_EQ(h.table.events.back(), L"rollback");
    }
}

TEST(UpdateRun, AFailedClosingCommitIsReported) {
    Harness h;
    h.AddPatients(3);
    h.table.failFinalCommitOnly = true;
    h.Run();
    EXPECT_EQ(h.view.lines, (std::vector<std::wstring>{L"Det gick inte att spara transactionen! Fel: [40001] "
                                                       L"serialization failure 3 rader sparade sedan förra sparandet "
                                                       L"av transaktionen finns varken i databasen eller i "
                                                       L"ändringsloggen. Avbryter uppdatering!",
                                                       L"Antal poster redigerade: 0"}));
    EXPECT_EQ(h.table.Count(L"commit"), 0);
}

TEST(UpdateRunDecision, CalendarDates) {
    const struct {
        const wchar_t *y, *m, *d;
        bool date;
    } cases[] = {
        {L"1932", L"12", L"12", true},  {L"2000", L"02", L"29", true},  {L"1900", L"02", L"29", false},
        {L"2024", L"02", L"29", true},  {L"2023", L"02", L"29", false}, {L"1945", L"01", L"61", false},
        {L"1945", L"04", L"31", false}, {L"1945", L"13", L"01", false}, {L"1945", L"00", L"10", false},
        {L"1945", L"01", L"00", false}, {L"19a5", L"01", L"01", false}, {L"1945", L"1-", L"01", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsCalendarDate(c.y, c.m, c.d), c.date) << ToUtf8(c.y) << "-" << ToUtf8(c.m) << "-" << ToUtf8(c.d);
}

// A value the database refuses in a column derived from the personal number
// does not keep the names and address stale: the row is saved without it.
TEST(UpdateRun, ARefusedDerivedColumnIsLeftOutAndTheRowSaved) {
    Harness h;
    h.AddPatients(2);
    h.table.refusedColumns = {L"FODELSEDAG"};
    h.table.rows[L"2"][L"PERSONNR"] = L"194501011234";
    h.lookup.answers[L"194501011234"].person = Person(L"Anna", L"Berg", L"Nya vägen 2", L"90325", L"UMEÅ");
    h.Run();
    EXPECT_EQ(h.view.lines, std::vector<std::wstring>{L"Antal poster redigerade: 2"});
    EXPECT_EQ(h.table.rows[L"2"][L"ADRESS"], L"Nya vägen 2");
    EXPECT_EQ(h.table.rows[L"2"][L"KONTROLLNR"], L"");  // left out with the birth date
    EXPECT_EQ(h.table.rows[L"2"][L"FODELSEDAG"], L"");
    EXPECT_EQ(h.table.rows[L"1"][L"ADRESS"], L"Nya vägen 2");  // no valid birth date: one save
    EXPECT_EQ(h.table.saveCalls, 3);
}

// The one table of refreshed columns is what a save writes, in its order,
// and what a journal (and so an undo) may name.
TEST(UpdateRunDecision, TheRefreshedColumnsAreWhatIsSavedAndJournalled) {
    FakeTable table;
    table.Add(L"1", Row(L"195001011234", L"Eva", L"Berg", L"Gamla vägen 1", L"903 25", L"UMEÅ"));
    const FakeRow row(table, L"1");
    PersonRecord person = Person(L"Anna", L"Lund", L"Nya vägen 2", L"90325", L"UMEÅ");
    person.Status = L"AV";
    const RowDecision d = DecideRowUpdate(row, person, L"195001011234");
    ASSERT_TRUE(d.differs);
    std::vector<std::wstring> saved, refreshed;
    for (const auto& change : d.changes) saved.push_back(change.first);
    for (const RefreshedColumn& c : RefreshedColumns()) {
        refreshed.emplace_back(c.name);
        EXPECT_TRUE(IsJournalColumn(c.name)) << ToUtf8(c.name);
        EXPECT_EQ(IsFromPersonalNumber(c.name), c.name == L"KONTROLLNR" || c.name == L"FODELSEDAG") << ToUtf8(c.name);
    }
    EXPECT_EQ(saved, refreshed);
    for (const wchar_t* other : {L"PATIENTNR", L"PERSONNR", L"f_rnamn", L""}) EXPECT_FALSE(IsJournalColumn(other));
}

TEST(UpdateRunDecision, RefusedValuesAreToldFromOtherFailures) {
    EXPECT_TRUE(IsRefusedValue(L"[22007] invalid input syntax for type date"));
    EXPECT_TRUE(IsRefusedValue(L"[01004] warning\r[22001] value too long for type character varying(4)"));
    EXPECT_TRUE(IsRefusedValue(L"[23514] new row violates check constraint"));
    EXPECT_TRUE(IsRefusedValue(L"[HY000] CHECK constraint failed: FODELSEDAG >= '1900-01-01' (19)"));
    EXPECT_FALSE(IsRefusedValue(L"[55P03] canceling statement due to lock timeout"));
    EXPECT_FALSE(IsRefusedValue(L"[HY000] database is locked (5)"));
    EXPECT_FALSE(IsRefusedValue(L"[HYT00] Lock request time out period exceeded."));
    EXPECT_FALSE(IsRefusedValue(kRowNotLocatedText));
}

TEST(UpdateRun, FailedSavesThatTheDerivedColumnsDoNotExplainAreNotRetriedInVain) {
    Harness h;
    h.AddPatients(3);
    h.table.conflictOnSave = {L"1"};
    h.table.failAlways = {L"2"};
    h.table.duplicatedOnSave = {L"3"};
    h.Run();
    EXPECT_EQ(h.view.lines,
              (std::vector<std::wstring>{
                  L"Det gick inte att uppdatera 195000001234! Fel: " + std::wstring(kRowNotLocatedText),
                  L"Det gick inte att uppdatera 195000011234! Fel: [HY000] disk I/O error",
                  L"Det gick inte att uppdatera 195000021234! Fel: PATIENTNR 3 finns på flera rader i KUNDER; "
                  L"ingen av dem ändras.",
                  L"Antal poster redigerade: 0"}));
    // None of these says a value was refused: each save is tried once.
    EXPECT_EQ(h.table.saveCalls, 3);
    EXPECT_EQ(h.table.events.back(), L"rollback");
}

// A key on more than one row: no lookup, nothing written, a line, and the
// run goes on without counting it as a failed save.
TEST(UpdateRun, ADuplicatedKeyIsLeftAlone) {
    Harness h;
    h.AddPatients(13);
    for (int i = 1; i <= 11; ++i) h.table.duplicated.insert(std::to_wstring(i));
    h.Run();
    ASSERT_EQ(h.view.lines.size(), 12u);
    EXPECT_EQ(h.view.lines[0], L"Det gick inte att uppdatera! Fel: PATIENTNR 1 finns på flera rader i KUNDER; "
                               L"ingen av dem ändras.");
    EXPECT_EQ(h.view.lines[11], L"Antal poster redigerade: 2");
    EXPECT_EQ(h.lookup.asked, (std::vector<std::wstring>{L"195000111234", L"195000121234"}));
    EXPECT_EQ(h.table.rows[L"1"][L"ADRESS"], L"Gamla vägen 1");
}

// A stored list SQL that cannot be read is never replaced by "every patient".
TEST(UpdateRun, AnUnreadableListSettingStopsTheRunAndIsKept) {
    Harness h;
    h.AddPatients(2);
    const std::wstring path = h.settings.KeyPath(L"Tolmar");
    const std::wstring tooLong = L"SELECT PATIENTNR FROM KUNDER WHERE " + std::wstring(1100, L'x');
    h.registry.values[{RegRoot::CurrentUser, path, L"KunderSQL"}] = tooLong;
    h.Run();
    ASSERT_EQ(h.view.lines.size(), 1u);
    EXPECT_EQ(h.view.lines[0].rfind(L"Det gick inte att öppna tabellen KunderAll! Fel: Inställningen KunderSQL", 0),
              0u)
        << ToUtf8(h.view.lines[0]);
    EXPECT_EQ(h.table.listSql, L"");
    EXPECT_EQ(h.table.saveCalls, 0);
    EXPECT_EQ((h.registry.values[{RegRoot::CurrentUser, path, L"KunderSQL"}]), tooLong);
    EXPECT_EQ(h.registry.values.count({RegRoot::LocalMachine, path, L"KunderSQL"}), 0u);
    EXPECT_EQ(h.table.events, (std::vector<std::wstring>{L"begin", L"rollback"}));
}

TEST(UpdateRun, OneRunAtATimeForADatabase) {
    Harness h;
    h.AddPatients(2);
    h.claimGranted = false;
    h.Run();
    EXPECT_EQ(h.view.lines, std::vector<std::wstring>{std::wstring(kAnotherRunText)});
    EXPECT_EQ(h.claimedFor, L"Driver=X;Provider=X");  // the database as the driver names it
    EXPECT_TRUE(h.table.events.empty());
    EXPECT_TRUE(h.lookup.asked.empty());

    Harness granted;
    granted.AddPatients(2);
    granted.claimGranted = true;
    granted.Run();
    EXPECT_EQ(granted.view.lines, std::vector<std::wstring>{L"Antal poster redigerade: 2"});
}

// ---- the change journal, preview, undo and exit codes ------------------------------------------

// Every saved row leaves one record per changed column; a batch's records
// reach the journal only after its commit.
TEST(UpdateRunJournal, CommittedBatchesAreJournalledColumnByColumn) {
    Harness h;
    h.AddPatients(250);
    h.Run();
    ASSERT_EQ(h.journal.appends.size(), 3u);
    // ADRESS and KONTROLLNR change on every row, FODELSEDAG where the number holds a date.
    auto records = [](int from, int to) {
        size_t n = 0;
        for (int i = from; i < to; ++i) {
            wchar_t pnr[16];
            swprintf(pnr, 16, L"1950%04d1234", i);
            const std::wstring number = pnr;
            n += IsCalendarDate(number.substr(0, 4), number.substr(4, 2), number.substr(6, 2)) ? 3u : 2u;
        }
        return n;
    };
    EXPECT_EQ(h.journal.appends[0].size(), records(0, 101));
    EXPECT_EQ(h.journal.appends[1].size(), records(101, 202));
    EXPECT_EQ(h.journal.appends[2].size(), records(202, 250));
    EXPECT_GT(records(101, 202), 202u);
    EXPECT_EQ(h.journal.appends[0][0], (JournalRecord{L"2026-12-10 06:41:07", L"1", L"195000001234", L"ADRESS",
                                                      L"Gamla vägen 1", L"Nya vägen 2"}));
    EXPECT_EQ(h.journal.appends[0][1].column, L"KONTROLLNR");
    EXPECT_EQ(ExitCodeOf(h.outcome), 0);
}

TEST(UpdateRunJournal, UncommittedChangesAreNeverJournalled) {
    Harness h;
    h.AddPatients(105);
    h.table.failCommit = true;  // the commit after 101 rows fails, and so does the closing one
    h.Run();
    EXPECT_TRUE(h.journal.appends.empty());
    EXPECT_EQ(ExitCodeOf(h.outcome), 2);

    Harness last;
    last.AddPatients(3);
    last.table.failFinalCommitOnly = true;
    last.Run();
    EXPECT_TRUE(last.journal.appends.empty());
    EXPECT_EQ(ExitCodeOf(last.outcome), 2);
}

// A batch reaches the journal only after its own commit; a commit that
// fails loses its batch (out of the journal, out of the saved rows, counted
// as failed saves), ends the transaction, and stops the run: nothing is
// saved, committed or begun after it.
TEST(UpdateRunJournal, ABatchIsJournalledAndCountedOnlyAfterItsOwnCommit) {
    const struct {
        const char* name;
        int patients, failingCommit;  // 0: none fails
        int saved, lost;
        std::vector<int> commitsAtAppend;
    } cases[] = {
        {"every commit succeeds", 250, 0, 250, 0, {1, 2, 3}},
        {"the first batch's commit fails", 250, 1, 0, 101, {}},
        {"the second batch's commit fails", 250, 2, 101, 101, {1}},
        {"the closing commit fails", 105, 2, 101, 4, {1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.AddPatients(c.patients);
        h.table.failCommitAttempt = c.failingCommit;
        h.Run();
        EXPECT_EQ(h.journal.commitsAtAppend, c.commitsAtAppend);
        std::set<std::wstring> journalled;
        for (const JournalRecord& r : h.journal.All()) journalled.insert(r.patientKey);
        std::set<std::wstring> committed;
        for (int key = 1; key <= c.saved; ++key) committed.insert(std::to_wstring(key));
        EXPECT_EQ(journalled, committed);
        const RunCounts& counts = h.outcome.counts;
        EXPECT_EQ(counts.saved, c.saved);
        EXPECT_EQ(counts.failedSaves, c.lost);
        EXPECT_EQ(counts.lookedUp, counts.saved + counts.failedSaves);
        ASSERT_FALSE(h.view.lines.empty());
        EXPECT_EQ(h.view.lines.back(), L"Antal poster redigerade: " + std::to_wstring(c.saved));
        EXPECT_FALSE(h.table.inTransaction);
        if (!c.lost) {
            EXPECT_EQ(ExitCodeOf(h.outcome), 0);
            continue;
        }
        ASSERT_EQ(h.view.lines.size(), 2u);
        EXPECT_EQ(h.view.lines[0], L"Det gick inte att spara transactionen! Fel: [23514] deferred check violated " +
                                       std::to_wstring(c.lost) +
                                       L" rader sparade sedan förra sparandet av transaktionen finns varken i "
                                       L"databasen eller i ändringsloggen. Avbryter uppdatering!");
        EXPECT_EQ(h.outcome.reason, h.view.lines[0]);
        EXPECT_EQ(ExitCodeOf(h.outcome), 2);
        EXPECT_EQ(h.table.saveCalls, std::min(c.patients, kRowsPerBatch * c.failingCommit));
        EXPECT_EQ(h.table.commitAttempts, c.failingCommit);
        EXPECT_EQ(h.table.Count(L"begin"), c.failingCommit);
        EXPECT_EQ(h.table.Count(L"rollback"), 0);
    }
}

TEST(UpdateRunJournal, AJournalThatCannotBeWrittenStopsTheRunBeforeAnySave) {
    Harness h;
    h.AddPatients(3);
    h.journal.failOpen = true;
    h.Run();
    EXPECT_EQ(h.view.lines, std::vector<std::wstring>{L"Det gick inte att skriva ändringsloggen changes 20261210.csv! "
                                                      L"Fel: Access is denied. Inget har sparats."});
    EXPECT_EQ(h.table.saveCalls, 0);
    EXPECT_TRUE(h.lookup.asked.empty());
    EXPECT_EQ(h.table.events.back(), L"rollback");
    EXPECT_EQ(ExitCodeOf(h.outcome), 2);

    Harness full;  // the journal fills up after the first batch: the run stops there
    full.AddPatients(105);
    full.journal.failAppend = true;
    full.Run();
    ASSERT_GE(full.view.lines.size(), 1u);
    EXPECT_EQ(full.view.lines[0].rfind(L"Det gick inte att skriva ändringsloggen changes 20261210.csv! Fel: The disk "
                                       L"is full.",
                                       0),
              0u);
    EXPECT_EQ(full.table.saveCalls, 101);
    EXPECT_EQ(ExitCodeOf(full.outcome), 2);
}

// A preview decides as the run does and writes nothing; its records are
// exactly what the real run then saves and journals.
TEST(UpdateRunPreview, ThePreviewListsWhatTheRunThenDoes) {
    Harness h;
    h.AddPatients(110);
    h.table.Add(L"500", Row(L"193212129876", L"Karl", L"Öberg", L"Kyrkvägen 4", L"931 31", L"ORT", L"M"));
    h.lookup.answers[L"193212129876"].person = Person(L"Karl", L"Öberg", L"", L"", L"AVLIDEN", L"");
    h.lookup.answers[L"193212129876"].person.Status = L"AV";
    const auto before = h.table.rows;
    h.mode = RunMode::Preview;
    h.Run();
    EXPECT_EQ(h.table.saveCalls, 0);
    EXPECT_EQ(h.table.rows, before);
    EXPECT_EQ(h.table.Count(L"commit"), 0);
    EXPECT_EQ(h.view.lines, std::vector<std::wstring>{L"Förhandsgranskning: 111 poster skulle redigeras. Inget har "
                                                      L"ändrats i databasen."});
    const std::vector<JournalRecord> previewed = h.journal.All();

    h.mode = RunMode::Update;
    h.journal.appends.clear();
    h.Run();
    EXPECT_EQ(h.view.lines, std::vector<std::wstring>{L"Antal poster redigerade: 111"});
    EXPECT_EQ(h.journal.All(), previewed);
    // The deceased: ADRESS, POSTNR, ORT, TEL3NOT, KONTROLLNR, FODELSEDAG, AKTIV.
    const auto deceased = std::count_if(previewed.begin(), previewed.end(),
                                        [](const JournalRecord& r) { return r.patientKey == L"500"; });
    EXPECT_EQ(deceased, 7);
}

// A preview that stops part-way lists what the run on the same rows saves
// before the same stop, its last batch (not a full one) too.
TEST(UpdateRunPreview, AStoppedPreviewListsWhatTheStoppedRunSaves) {
    Harness h;
    h.AddPatients(110);
    // Patient 104 has died, and the table has no AKTIV for that: both stop there.
    h.table.rows[L"104"].erase(L"AKTIV");
    h.lookup.answers[L"195001031234"].person.PostTown = L"AVLIDEN";
    h.mode = RunMode::Preview;
    h.Run();
    ASSERT_EQ(h.view.lines.size(), 2u);
    EXPECT_EQ(h.view.lines[0], L"Det gick inte att öppna tabellen Kunder! Fel: KUNDER saknar fältet AKTIV");
    EXPECT_EQ(h.view.lines[1], L"Förhandsgranskning: 103 poster skulle redigeras. Inget har ändrats i databasen.");
    EXPECT_EQ(h.outcome.counts.saved, 103);
    const std::vector<JournalRecord> previewed = h.journal.All();
    ASSERT_FALSE(previewed.empty());
    EXPECT_EQ(previewed.back().patientKey, L"103");

    h.mode = RunMode::Update;
    h.journal.appends.clear();
    h.Run();
    EXPECT_EQ(h.view.lines.back(), L"Antal poster redigerade: 103");
    EXPECT_EQ(h.outcome.counts.saved, 103);
    EXPECT_EQ(h.journal.All(), previewed);
}

// An undo puts back the old values, newest first, only where the row still
// holds what the journal wrote; it journals its own changes.
TEST(UpdateRunUndo, TheJournalIsPutBackExceptWhereTheRowChangedSince) {
    Harness h;
    h.AddPatients(4);
    const auto before = h.table.rows;
    h.Run();
    const std::vector<JournalRecord> journal = h.journal.All();
    ASSERT_EQ(journal.size(), 8u);
    h.table.rows[L"3"][L"ADRESS"] = L"Redigerad efteråt";  // someone edits row 3 in between

    h.mode = RunMode::Undo;
    h.undo = journal;
    h.journal.appends.clear();
    h.Run();
    for (const char* key : {"1", "2", "4"}) EXPECT_EQ(h.table.rows[FromUtf8(key)], before.at(FromUtf8(key))) << key;
    EXPECT_EQ(h.table.rows[L"3"][L"ADRESS"], L"Redigerad efteråt");
    EXPECT_EQ(h.view.lines, (std::vector<std::wstring>{
                                L"Det gick inte att återställa PATIENTNR 3 (195000021234): kolumnen ADRESS har "
                                L"ändrats sedan 2026-12-10 06:41:07. Raden lämnas som den är.",
                                L"Antal poster återställda: 3"}));
    // Newest first, and a journal of its own that an undo can undo again.
    const std::vector<JournalRecord> undone = h.journal.All();
    ASSERT_EQ(undone.size(), 6u);
    EXPECT_EQ(undone[0].patientKey, L"4");
    EXPECT_EQ(undone[0].oldValue, journal[6].newValue);
    EXPECT_EQ(undone[0].newValue, journal[6].oldValue);
    EXPECT_EQ(ExitCodeOf(h.outcome), 1);
}

TEST(UpdateRunUndo, AJournalThatCannotBeReadChangesNothing) {
    Harness h;
    h.AddPatients(2);
    h.mode = RunMode::Undo;
    UpdateRunContext ctx{h.view, h.db, h.lookup, h.settings, [] { return std::optional<PreparedConnection>(); }, {}};
    ctx.mode = RunMode::Undo;
    ctx.openUndoJournal = []() -> std::unique_ptr<JournalSource> { throw Error(L"Filen är ingen ändringslogg."); };
    const RunOutcome outcome = RunUpdateAll(ctx);
    EXPECT_EQ(h.view.lines, std::vector<std::wstring>{L"Det gick inte att återställa från "
                                                      L"ändringsloggen! Fel: Filen är ingen ändringslogg. "
                                                      L"Inget har ändrats."});
    EXPECT_TRUE(h.table.events.empty());
    EXPECT_EQ(ExitCodeOf(outcome), 2);
}

TEST(UpdateRunExitCodes, EachKindOfEnding) {
    Harness clean;
    clean.AddPatients(2);
    clean.Run();
    EXPECT_EQ(ExitCodeOf(clean.outcome), 0);

    Harness someFailed;
    someFailed.AddPatients(2);
    someFailed.table.Add(L"9", Row(L"1234", L"X", L"Y", L"", L"", L""));  // a bad number
    someFailed.Run();
    EXPECT_EQ(ExitCodeOf(someFailed.outcome), 1);

    Harness notFound;
    notFound.AddPatients(1);
    notFound.lookup.answers.clear();
    notFound.Run();
    EXPECT_EQ(ExitCodeOf(notFound.outcome), 1);

    Harness eleven;
    eleven.AddPatients(12);
    for (int i = 1; i <= 11; ++i) eleven.table.conflictOnSave.insert(std::to_wstring(i));
    eleven.Run();
    EXPECT_EQ(ExitCodeOf(eleven.outcome), 2);

    for (auto setUp : std::vector<std::function<void(Harness&)>>{
             [](Harness& h) { h.prepared = false; }, [](Harness& h) { h.table.failConnect = true; },
             [](Harness& h) { h.table.failList = true; }, [](Harness& h) { h.claimGranted = false; }}) {
        Harness h;
        h.AddPatients(1);
        setUp(h);
        h.Run();
        EXPECT_EQ(ExitCodeOf(h.outcome), 2);
    }
}

// The same table and register, run with every lookup in turn and with eight
// lookups ahead on worker threads: the same lines, saves, commits, rows and
// journal, whether the list query gives the personal numbers (the lookups
// ahead are made by them: each row is read once, at its turn) or not (each
// row is read ahead for its number too).
class UpdateRunAheadByList : public testing::TestWithParam<bool> {};

TEST_P(UpdateRunAheadByList, LookupsAheadLeaveWhatLookupsInTurnLeave) {
    const bool numbersListed = GetParam();
    auto scenario = [](Harness& h) {
        h.AddPatients(260);
        h.lookup.answers.erase(L"195000051234");  // not found
        h.lookup.answers[L"195000091234"] = {-400, {}, L"Service Unavailable (503) - 'http://x'\r\nFel i .: "};
        h.table.rows[L"12"][L"PERSONNR"] = L"19500012";  // a bad number
        h.table.conflictOnSave = {L"20", L"40"};           // saves that fail
        h.table.duplicated = {L"30"};
        h.table.rows.erase(L"33");                          // gone since the list was read
        // Saving row 50 renumbers row 52 to a person the register knows otherwise.
        h.table.renumberOnSave[L"50"] = {L"52", L"194501011234"};
        h.lookup.answers[L"194501011234"].person = Person(L"Lisa", L"Holm", L"Torget 1", L"90325", L"UMEÅ");
        // ... and saving row 60 spoils the number of row 62, already looked up ahead.
        h.table.renumberOnSave[L"60"] = {L"62", L"1950"};
    };
    Harness inTurn, ahead;
    scenario(inTurn);
    scenario(ahead);
    ahead.workers = 8;
    ahead.table.listWithoutNumbers = !numbersListed;
    inTurn.Run();
    ahead.Run();

    EXPECT_EQ(ahead.view.lines, inTurn.view.lines);
    EXPECT_EQ(ahead.table.events, inTurn.table.events);
    EXPECT_EQ(ahead.table.rows, inTurn.table.rows);
    EXPECT_EQ(ahead.journal.appends.size(), inTurn.journal.appends.size());
    const std::vector<JournalRecord> aheadRecords = ahead.journal.All(), inTurnRecords = inTurn.journal.All();
    EXPECT_EQ(aheadRecords.size(), inTurnRecords.size());
    for (size_t i = 0; i < std::min(aheadRecords.size(), inTurnRecords.size()); ++i) {
        const JournalRecord& a = aheadRecords[i];
        const JournalRecord& b = inTurnRecords[i];
        EXPECT_TRUE(a.patientKey == b.patientKey && a.column == b.column && a.oldValue == b.oldValue &&
                    a.newValue == b.newValue)
            << "journal record " << i;
    }
    EXPECT_EQ(ahead.lookup.asked, inTurn.lookup.asked);
    EXPECT_EQ(ahead.view.counts, inTurn.view.counts);
    EXPECT_EQ(ExitCodeOf(ahead.outcome), ExitCodeOf(inTurn.outcome));
    // The renumbered row was looked up again under its new number, and saved with it.
    EXPECT_EQ(ahead.table.rows[L"52"][L"EFTERNAMN"], L"Holm");
    EXPECT_NE(std::find(ahead.view.lines.begin(), ahead.view.lines.end(), L"Felaktigt personnummer: 1950"),
              ahead.view.lines.end());
    // The lookups were made on the workers, several of them.
    EXPECT_FALSE(ahead.lookup.callers.count(std::this_thread::get_id()));
    EXPECT_GT(ahead.lookup.callers.size(), 1u);
    EXPECT_TRUE(inTurn.lookup.callers.empty());
    const size_t readsOfEachRow = numbersListed ? 1 : 2;
    for (const std::wstring& key : ahead.table.order)
        EXPECT_EQ(static_cast<size_t>(std::count(ahead.table.opened.begin(), ahead.table.opened.end(), key)),
                  readsOfEachRow)
            << ToUtf8(key);
    EXPECT_EQ(ahead.table.opened.size(), readsOfEachRow * ahead.table.order.size());
}

INSTANTIATE_TEST_SUITE_P(UpdateRunAhead, UpdateRunAheadByList, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& p) {
                             return std::string(p.param ? "NumbersListed" : "NoNumbersListed");
                         });

TEST(UpdateRunAhead, TheEleventhFailedSaveStopsAtTheSamePatientAndNothingAfterItIsSaved) {
    Harness inTurn, ahead;
    for (Harness* h : {&inTurn, &ahead}) {
        h->AddPatients(60);
        for (int i = 1; i <= 11; ++i) h->table.conflictOnSave.insert(std::to_wstring(i * 2));  // rows 2, 4, ..., 22
    }
    ahead.workers = 8;
    inTurn.Run();
    ahead.Run();
    ASSERT_FALSE(inTurn.view.lines.empty());
    EXPECT_EQ(inTurn.view.lines[inTurn.view.lines.size() - 2],
              L"Antal felaktiga poster större än 10. Avbryter uppdatering!");
    EXPECT_EQ(ahead.view.lines, inTurn.view.lines);
    EXPECT_EQ(ahead.table.events, inTurn.table.events);
    EXPECT_EQ(ahead.table.rows, inTurn.table.rows);
    EXPECT_EQ(ahead.table.rows[L"23"][L"ADRESS"], L"Gamla vägen 1");  // after the stop: untouched
    // Lookups beyond the stop may have been made; their answers were not used.
    EXPECT_EQ(ahead.lookup.asked, inTurn.lookup.asked);
    EXPECT_GE(ahead.lookup.called.size(), inTurn.lookup.called.size());
}

// The rows change after the list is read: each patient is looked up by the
// number on its row at its turn, as in turn, and a lookup made ahead by a
// listed number the row no longer has is not used. The first patient's list
// number is missing: its lookup, made at its turn, starts after all those
// queued ahead, so that these have been made by the end of the run.
TEST(UpdateRunAhead, ANumberChangedSinceTheListIsLookedUpAnew) {
    struct Case {
        const wchar_t* key;
        const wchar_t* listed;         // as the list query gave it
        const wchar_t* onRow;          // at the patient's turn
        const wchar_t* lookedUpAhead;  // by the listed number; nullptr: none
        const wchar_t* usedAtTurn;     // the lookup taken at its turn; nullptr: none
    };
    const Case cases[] = {
        {L"1", L"", L"195000001234", nullptr, L"195000001234"},                       // filled in since
        {L"2", L"195000981234", L"195000011234", L"195000981234", L"195000011234"},   // another number then
        {L"3", L"19500097-1234", L"195000021234", L"195000971234", L"195000021234"},  // ... with a hyphen
        {L"4", L"195000031234", L"1950", L"195000031234", nullptr},                   // spoilt since
        {L"5", L"1950000412345", L"19500004-1234", nullptr, L"195000041234"},         // a bad number then
        {L"6", L"19500005-1234", L"195000051234", L"195000051234", L"195000051234"},  // the same
    };
    auto scenario = [&cases](Harness& h) {
        h.AddPatients(10);
        for (const Case& c : cases) h.table.rows[c.key][L"PERSONNR"] = c.onRow;
        // Had the answer for a number no longer on the row been taken, the row would show it.
        for (const wchar_t* stale : {L"195000981234", L"195000971234"})
            h.lookup.answers[stale].person = Person(L"Fel", L"Person", L"Fel väg 9", L"11111", L"FELBY");
    };
    Harness inTurn, ahead;
    scenario(inTurn);
    scenario(ahead);
    for (const Case& c : cases) ahead.table.listed[c.key] = c.listed;
    ahead.workers = 8;
    inTurn.Run();
    ahead.Run();

    EXPECT_EQ(ahead.view.lines, inTurn.view.lines);
    EXPECT_EQ(ahead.table.events, inTurn.table.events);
    EXPECT_EQ(ahead.table.rows, inTurn.table.rows);
    EXPECT_EQ(ahead.lookup.asked, inTurn.lookup.asked);
    EXPECT_EQ(ahead.table.opened, ahead.table.order);  // each row read once, at its turn
    auto calls = [&ahead](const wchar_t* number) {
        return std::count(ahead.lookup.called.begin(), ahead.lookup.called.end(), std::wstring(number));
    };
    size_t unused = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.key));
        // Each number looked up once: a lookup made ahead is taken when the row still has its number.
        if (c.lookedUpAhead) {
            EXPECT_EQ(calls(c.lookedUpAhead), 1);
        }
        if (c.usedAtTurn) {
            EXPECT_EQ(calls(c.usedAtTurn), 1);
        }
        // A listed text that is no number as it stands never reaches the register.
        if (!c.lookedUpAhead || c.listed != std::wstring(c.lookedUpAhead)) {
            EXPECT_EQ(calls(c.listed), 0);
        }
        if (c.lookedUpAhead && (!c.usedAtTurn || std::wstring(c.lookedUpAhead) != c.usedAtTurn)) ++unused;
    }
    EXPECT_EQ(ahead.lookup.called.size(), inTurn.lookup.called.size() + unused);
    for (const auto& [key, row] : ahead.table.rows) EXPECT_NE(row.at(L"EFTERNAMN"), L"Person") << ToUtf8(key);
}

// ---- the counts of the run's summary ------------------------------------------------------------

// Each patient is counted once, where the run decides about it; the counts
// add up to the list and agree with the lines.
TEST(UpdateRunCounts, EachPatientIsCountedWhereTheRunDecides) {
    Harness h;
    h.table.Add(L"1", Row(L"19121212-1212", L"Tolvan", L"Tolvansson", L"Gatan 1", L"123 45", L"STAN"));
    h.table.Add(L"2", Row(L"1912121212", L"X", L"Y", L"", L"", L""));                  // malformed
    h.table.Add(L"3", Row(L"190001019999", L"X", L"Y", L"", L"", L""));                // not found
    h.table.Add(L"4", Row(L"194501011234", L"X", L"Y", L"", L"", L""));                // failed lookup
    h.table.Add(L"5", Row(L"195001011111", L"Anna", L"Berg", L"Gatan 2", L"123 45", L"STAN"));  // unchanged
    h.table.Add(L"6", Row(L"196001011111", L"Per", L"Ek", L"Gatan 3", L"123 45", L"STAN"));     // failed save
    h.table.Add(L"7", Row(L"197001011111", L"Eva", L"Ek", L"Gatan 4", L"123 45", L"STAN"));     // shared key
    h.lookup.answers[L"191212121212"].person = Person(L"Tolvan", L"Tolvansson", L"Gatan 9", L"12345", L"STAN");
    h.lookup.answers[L"194501011234"] = {-400, {}, L"Not Found (404)"};
    h.lookup.answers[L"195001011111"].person = Person(L"Anna", L"Berg", L"Gatan 2", L"12345", L"STAN");
    h.lookup.answers[L"196001011111"].person = Person(L"Per", L"Ek", L"Gatan 30", L"12345", L"STAN");
    h.table.conflictOnSave.insert(L"6");
    h.table.duplicated.insert(L"7");
    h.Run();
    const RunCounts& c = h.outcome.counts;
    EXPECT_EQ(c.patients, 7);
    EXPECT_EQ(c.lookedUp, 5);
    EXPECT_EQ(c.saved, 1);
    EXPECT_EQ(c.unchanged, 1);
    EXPECT_EQ(c.notFound, 1);
    EXPECT_EQ(c.failedLookups, 1);
    EXPECT_EQ(c.failedSaves, 1);
    EXPECT_EQ(c.malformedNumbers, 1);
    EXPECT_EQ(c.sharedKeys, 1);
    EXPECT_EQ(c.notLookedUp, 0);
    EXPECT_EQ(c.lookedUp, c.saved + c.unchanged + c.notFound + c.failedLookups + c.failedSaves);
    EXPECT_EQ(h.outcome.reason, L"");
    EXPECT_EQ(h.view.lines.back(), L"Antal poster redigerade: " + std::to_wstring(c.saved));
}

// A run that stops counts the rows it never reached, and names its stop.
TEST(UpdateRunCounts, AStoppedRunCountsWhatItDidNotReach) {
    Harness h;
    h.AddPatients(15);
    for (int i = 3; i <= 13; ++i) h.table.conflictOnSave.insert(std::to_wstring(i));
    h.Run();
    const RunCounts& c = h.outcome.counts;
    EXPECT_EQ(c.patients, 15);
    EXPECT_EQ(c.lookedUp, 13);
    EXPECT_EQ(c.saved, 2);
    EXPECT_EQ(c.failedSaves, 11);
    EXPECT_EQ(c.notLookedUp, 2);
    EXPECT_EQ(h.outcome.reason, TooManyFailedSavesText());
    EXPECT_FALSE(h.outcome.anotherRun);

    Harness refused;
    refused.AddPatients(2);
    refused.claimGranted = false;
    refused.Run();
    EXPECT_TRUE(refused.outcome.anotherRun);
    EXPECT_EQ(refused.outcome.reason, kAnotherRunText);
    EXPECT_EQ(refused.outcome.counts.patients, 0);  // the list was never read
}

TEST(UpdateRunCounts, AnUndoCountsWhatItPutBackAndWhatItLeft) {
    Harness h;
    h.AddPatients(4);
    h.Run();
    const std::vector<JournalRecord> journal = h.journal.All();
    h.table.rows[L"3"][L"ADRESS"] = L"Redigerad efteråt";
    h.mode = RunMode::Undo;
    h.undo = journal;
    h.journal.appends.clear();
    h.Run();
    const RunCounts& c = h.outcome.counts;
    EXPECT_EQ(c.patients, 4);
    EXPECT_EQ(c.restored, 3);
    EXPECT_EQ(c.saved, 3);
    EXPECT_EQ(c.notRestored, 1);
    EXPECT_EQ(c.lookedUp, 0);
    EXPECT_EQ(c.notLookedUp, 0);
}

// ---- the undo's guards ------------------------------------------------------------------------

namespace {

// Patient 1 whom the register now gives a protected identity (and a new
// surname); patient 2 who only moved.
void AddProtectedAndMoved(Harness& h) {
    h.table.Add(L"1", Row(L"195001011234", L"Anna", L"Berg", L"Gamla vägen 1", L"903 25", L"UMEÅ"));
    h.table.rows[L"1"][L"COADRESS"] = L"c/o Lind";
    PersonRecord secret = Person(L"Anna", L"Ek", L"", L"", L"SEKRETESS MÄRKT");
    h.lookup.answers[L"195001011234"].person = secret;
    h.table.Add(L"2", Row(L"196002021234", L"Bo", L"Ek", L"Gamla vägen 2", L"903 25", L"UMEÅ"));
    h.lookup.answers[L"196002021234"].person = Person(L"Bo", L"Ek", L"Nya vägen 2", L"90325", L"UMEÅ");
}

bool MentionsFormerAddress(const std::vector<JournalRecord>& records) {
    return std::any_of(records.begin(), records.end(), [](const JournalRecord& r) {
        for (const auto& v : {r.oldValue, r.newValue})
            if (v && (*v == L"Gamla vägen 1" || *v == L"c/o Lind" || *v == L"903 25" || *v == L"UMEÅ")) return true;
        return false;
    });
}

}  // namespace

// A protected person's former address is in no record of the preview or the
// run: each changed address column's former value is the fixed marker.
TEST(UpdateRunProtected, TheFormerAddressIsNeverJournalled) {
    for (RunMode mode : {RunMode::Preview, RunMode::Update}) {
        Harness h;
        AddProtectedAndMoved(h);
        h.mode = mode;
        h.Run();
        std::vector<JournalRecord> protectedRecords;
        for (const JournalRecord& r : h.journal.All())
            if (r.patientKey == L"1") protectedRecords.push_back(r);
        EXPECT_FALSE(MentionsFormerAddress(protectedRecords));
        std::map<std::wstring, std::optional<std::wstring>> former;
        for (const JournalRecord& r : protectedRecords) former[r.column] = r.oldValue;
        for (const wchar_t* column : {L"ADRESS", L"COADRESS", L"POSTNR", L"ORT"})
            EXPECT_EQ(former[column], std::wstring(kHiddenAddressText)) << column;
        EXPECT_EQ(former[L"EFTERNAMN"], L"Berg");
        // The other patient's move is journalled as it was.
        const std::vector<JournalRecord> all = h.journal.All();
        EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](const JournalRecord& r) {
            return r.patientKey == L"2" && r.column == L"ADRESS" && r.oldValue == L"Gamla vägen 2";
        }));
    }
}

// An undo leaves a protected person's address as it is and restores the
// rest, from a journal of today's form and from one that still holds the
// address in clear text.
TEST(UpdateRunProtected, AnUndoLeavesTheAddressOfAProtectedPerson) {
    Harness run;
    AddProtectedAndMoved(run);
    run.Run();
    std::vector<JournalRecord> clear = run.journal.All();
    const Columns former = {{L"ADRESS", L"Gamla vägen 1"}, {L"COADRESS", L"c/o Lind"}, {L"POSTNR", L"903 25"},
                            {L"ORT", L"UMEÅ"}};
    for (JournalRecord& r : clear)  // as a journal of an earlier version held them
        if (r.patientKey == L"1" && r.oldValue == kHiddenAddressText) r.oldValue = former.at(r.column);
    for (const auto& journal : {run.journal.All(), clear}) {
        Harness h;
        AddProtectedAndMoved(h);
        h.table.rows = run.table.rows;
        h.mode = RunMode::Undo;
        h.undo = journal;
        h.Run();
        const Columns& secret = h.table.rows[L"1"];
        EXPECT_EQ(secret.at(L"ORT"), L"SEKRETESS MÄRKT");
        EXPECT_EQ(secret.at(L"ADRESS"), L"");
        EXPECT_EQ(secret.at(L"COADRESS"), L"");
        EXPECT_EQ(secret.at(L"EFTERNAMN"), L"Berg");
        EXPECT_EQ(h.table.rows[L"2"].at(L"ADRESS"), L"Gamla vägen 2");
        EXPECT_EQ(h.view.lines, (std::vector<std::wstring>{L"PATIENTNR 1 (195001011234) har skyddad identitet: "
                                                           L"adressen lämnas som den är, övriga kolumner återställs.",
                                                           L"Antal poster återställda: 2"}));
        EXPECT_FALSE(MentionsFormerAddress(h.journal.All()));
        EXPECT_EQ(ExitCodeOf(h.outcome), 0);
    }
}

// A row whose key now names another person is not touched, nor is any row
// when the journal names one column twice in one save.
TEST(UpdateRunUndo, NeverAnotherPersonsRowNorAnAmbiguousJournal) {
    Harness h;
    h.AddPatients(3);
    h.Run();
    const std::vector<JournalRecord> journal = h.journal.All();
    const auto afterRun = h.table.rows;
    h.table.rows[L"2"][L"PERSONNR"] = L"19991231-9999";  // the key used anew for another patient
    h.mode = RunMode::Undo;
    h.undo = journal;
    h.Run();
    Columns renumbered = afterRun.at(L"2");
    renumbered[L"PERSONNR"] = L"19991231-9999";
    EXPECT_EQ(h.table.rows[L"2"], renumbered);
    EXPECT_NE(h.table.rows[L"1"], afterRun.at(L"1"));
    EXPECT_EQ(h.view.lines, (std::vector<std::wstring>{L"Det gick inte att återställa PATIENTNR 2 (195000011234): "
                                                       L"raden har ett annat personnummer än ändringsloggens. Raden "
                                                       L"lämnas som den är.",
                                                       L"Antal poster återställda: 2"}));

    const struct {
        JournalRecord added;
        const wchar_t* why;
    } ambiguous[] = {
        {{L"2026-12-10 06:41:07", L"3", L"195000021234", L"ADRESS", L"X", L"Y"}, L"kolumnen ADRESS står två gånger"},
        {{L"2026-12-10 06:41:07", L"3", L"194001011234", L"KON", L"K", L"M"}, L"har två personnummer"},
    };
    for (const auto& c : ambiguous) {
        Harness twice;
        twice.AddPatients(3);
        twice.table.rows = afterRun;
        twice.mode = RunMode::Undo;
        twice.undo = journal;
        twice.undo.push_back(c.added);
        twice.Run();
        EXPECT_EQ(twice.table.rows, afterRun);
        EXPECT_TRUE(twice.table.events.empty());
        ASSERT_EQ(twice.view.lines.size(), 1u);
        EXPECT_NE(twice.view.lines[0].find(c.why), std::wstring::npos) << ToUtf8(twice.view.lines[0]);
        EXPECT_EQ(ExitCodeOf(twice.outcome), 2);
    }
}

// "Changed since" is the database's comparison: a CHAR(n) column that reads
// back padded still holds what the run wrote.
TEST(UpdateRunUndo, TheDatabaseDecidesWhetherARowChangedSince) {
    Harness h;
    h.table.padded = {L"ADRESS"};
    h.AddPatients(2);
    const auto before = h.table.rows;
    h.Run();
    h.mode = RunMode::Undo;
    h.undo = h.journal.All();
    h.Run();
    EXPECT_EQ(h.table.rows, before);
    EXPECT_EQ(h.view.lines, std::vector<std::wstring>{L"Antal poster återställda: 2"});
}

// Many saves, read newest first from the source a block at a time.
TEST(UpdateRunUndo, ALargeJournalIsReadNewestFirst) {
    std::vector<JournalRecord> records;
    const size_t saves = UndoJournal::kSavesPerPlace * 3 + 7;
    for (size_t i = 0; i < saves; ++i)
        for (const wchar_t* column : {L"ADRESS", L"ORT"})
            records.push_back({L"t" + std::to_wstring(i), std::to_wstring(i % 5), L"195000001234", column,
                               L"old" + std::to_wstring(i), L"new" + std::to_wstring(i)});
    UndoJournal journal(
        std::make_unique<MemoryJournalSource>(std::string(kUtf8Bom) + JournalHeader() + JournalRows(records)));
    ASSERT_EQ(journal.size(), saves);
    for (size_t i = 0; i < saves; ++i) {
        const UndoGroup group = journal.NewestFirst(i);
        const size_t save = saves - 1 - i;
        ASSERT_EQ(group.records.size(), 2u) << i;
        EXPECT_EQ(group.records[0], records[2 * save]) << i;
        EXPECT_EQ(group.records[1], records[2 * save + 1]) << i;
    }
}

// The undo's journal is a journal like the run's: undoing it puts the run
// back, a protected person's address included as the run left it.
TEST(UpdateRunUndo, UndoingAnUndoPutsTheRunBack) {
    Harness h;
    AddProtectedAndMoved(h);
    h.Run();
    const auto afterRun = h.table.rows;
    h.mode = RunMode::Undo;
    h.undo = h.journal.All();
    h.journal.appends.clear();
    h.Run();
    ASSERT_NE(h.table.rows, afterRun);
    h.undo = h.journal.All();
    h.journal.appends.clear();
    h.Run();
    EXPECT_EQ(h.table.rows, afterRun);
    EXPECT_EQ(h.view.lines, (std::vector<std::wstring>{L"PATIENTNR 1 (195001011234) har skyddad identitet: "
                                                       L"adressen lämnas som den är, övriga kolumner återställs.",
                                                       L"Antal poster återställda: 2"}));
}

// ---- the register's outages ----------------------------------------------------------------------

namespace {

std::vector<std::wstring> WithoutOutageLines(std::vector<std::wstring> lines) {
    std::erase_if(lines, [](const std::wstring& l) { return l.starts_with(L"Registret svarar "); });
    return lines;
}

// The register is down for the run's first lookups, then answers: the same
// lines (but the outage's own two), saves, rows, journal and counts as a run
// it answered all along, in turn and ahead.
TEST(UpdateRunOutage, AShortOutageLeavesWhatARunWithoutOneLeaves) {
    for (unsigned workers : {0u, 8u}) {
        SCOPED_TRACE(workers);
        auto scenario = [workers](Harness& h) {
            h.workers = workers;
            h.AddPatients(30);
            h.lookup.answers.erase(L"195000051234");                                        // not found
            h.lookup.answers[L"195000091234"] = {-400, {}, L"Tjänsten svarar inte (SOAP-fel)"};  // an answer too
        };
        Harness clean, outage;
        scenario(clean);
        scenario(outage);
        outage.lookup.outageCalls = 9;  // from the first call: five in a row, then four failed probes
        clean.Run();
        outage.Run();

        EXPECT_EQ(WithoutOutageLines(outage.view.lines), clean.view.lines);
        EXPECT_EQ(outage.table.events, clean.table.events);
        EXPECT_EQ(outage.table.rows, clean.table.rows);
        EXPECT_EQ(outage.journal.All().size(), clean.journal.All().size());
        EXPECT_EQ(outage.lookup.asked, clean.lookup.asked);
        EXPECT_EQ(outage.view.counts, clean.view.counts);
        EXPECT_EQ(ExitCodeOf(outage.outcome), ExitCodeOf(clean.outcome));
        const RunCounts &o = outage.outcome.counts, &c = clean.outcome.counts;
        EXPECT_TRUE(o.lookedUp == c.lookedUp && o.saved == c.saved && o.failedLookups == c.failedLookups &&
                    o.notFound == c.notFound && o.notLookedUp == 0 && c.failedLookups == 1);
        // One outage, told as it began and as it ended.
        ASSERT_EQ(o.outages.size(), 1u);
        ASSERT_TRUE(o.outages[0].to);
        EXPECT_TRUE(clean.outcome.counts.outages.empty());
        const std::vector<std::wstring> told = {outage.view.lines.begin(), outage.view.lines.begin() + 2};
        EXPECT_EQ(told[0], L"Registret svarar inte; nytt försök om 1 s.");
        EXPECT_TRUE(told[1].starts_with(L"Registret svarar igen efter ")) << ToUtf8(told[1]);
        if (workers == 0) {
            // In turn the times are exact: rests of 1, 2, 4, 8 and 16 s.
            EXPECT_EQ(outage.clock.Waits(), (std::vector<std::chrono::milliseconds>{1s, 2s, 4s, 8s, 16s}));
            EXPECT_EQ(told[1], L"Registret svarar igen efter 31 s; uppslagningarna fortsätter.");
            EXPECT_EQ(o.outages[0].from, FakeOutageClock::kWallStart);
            EXPECT_EQ(*o.outages[0].to, FakeOutageClock::kWallStart + 31s);
        }
    }
}

// The register stops answering after its first three calls: the run stops
// after the minutes of /outage at the first patient it did not answer, with
// exit code 3; the rows saved before stay saved, the rest are not looked up,
// none failed. In turn that is the fourth; ahead, whichever patients' calls
// came first were answered, and the run stops at the first of the others.
TEST(UpdateRunOutage, ARegisterThatDoesNotAnswerStopsTheRunWhereItWas) {
    for (unsigned workers : {0u, 4u}) {
        SCOPED_TRACE(workers);
        Harness h;
        h.workers = workers;
        h.outageMinutes = 1;
        h.AddPatients(10);
        h.lookup.outageFrom = 3;
        h.lookup.outageCalls = -1;
        h.Run();

        const RunCounts& c = h.outcome.counts;
        const int reached = c.lookedUp + 1;
        if (workers == 0) {
            EXPECT_EQ(reached, 4);
        }
        ASSERT_TRUE(reached >= 1 && reached <= 4) << reached;
        const std::wstring stop = L"Registret har inte svarat på 1 minut; körningen avbröts vid patient " +
                                  std::to_wstring(reached) + L" av 10 (PATIENTNR " + std::to_wstring(reached) +
                                  L"). Senaste felet: Det gick inte att ansluta till servern - URL:http://x";
        EXPECT_EQ(h.view.lines,
                  (std::vector<std::wstring>{L"Registret svarar inte; nytt försök om 1 s.", stop,
                                             L"Antal poster redigerade: " + std::to_wstring(c.lookedUp)}));
        EXPECT_EQ(ExitCodeOf(h.outcome), 3);
        EXPECT_TRUE(h.outcome.registerUnreachable);
        EXPECT_EQ(h.outcome.reason, stop);
        EXPECT_TRUE(c.patients == 10 && c.saved == c.lookedUp && c.failedLookups == 0 &&
                    c.notLookedUp == 10 - c.lookedUp)
            << c.lookedUp << " " << c.saved << " " << c.failedLookups << " " << c.notLookedUp;
        ASSERT_EQ(c.outages.size(), 1u);
        EXPECT_FALSE(c.outages[0].to);  // still on
        EXPECT_EQ(h.clock.Elapsed(), 1min);
        // Saved and committed before the stop; nothing after it.
        std::vector<std::wstring> events = {L"begin"};
        for (int i = 1; i < reached; ++i) events.push_back(L"save:" + std::to_wstring(i));
        events.push_back(c.saved ? L"commit" : L"rollback");
        EXPECT_EQ(h.table.events, events);
        for (int i = reached; i <= 10; ++i) EXPECT_EQ(h.table.rows[std::to_wstring(i)][L"ADRESS"], L"Gamla vägen 1");
        for (const JournalRecord& r : h.journal.All()) EXPECT_LT(std::stoi(r.patientKey), reached);
    }
}

// One number the register never answers while it answers the others: no
// outage keeps the run waiting on it; its failure is the patient's line and
// the run goes on, in turn and ahead.
TEST(UpdateRunOutage, ANumberTheRegisterNeverAnswersIsThePatientsOwnFailure) {
    for (unsigned workers : {0u, 4u}) {
        SCOPED_TRACE(workers);
        Harness h;
        h.workers = workers;
        h.outageMinutes = 1;
        h.AddPatients(10);
        h.lookup.neverAnswered = {L"195000031234"};
        h.Run();
        EXPECT_EQ(WithoutOutageLines(h.view.lines),
                  (std::vector<std::wstring>{L"Ett fel uppstod vid sökning av personnummer 195000031234; Fel: -400, "
                                             L"Det gick inte att ansluta till servern - URL:http://x",
                                             L"Antal poster redigerade: 9"}));
        EXPECT_EQ(ExitCodeOf(h.outcome), 1);
        EXPECT_EQ(h.outcome.counts.failedLookups, 1);
        EXPECT_EQ(h.outcome.counts.saved, 9);
        // Far from the minute: at most one rest of a second.
        EXPECT_LE(h.clock.Elapsed(), 1s);
    }
}

// A stop after the register's, a failed closing commit, is the worse: exit code 2.
TEST(UpdateRunOutage, AFailedCommitAfterTheRegistersStopIsExitCode2) {
    Harness h;
    h.outageMinutes = 1;
    h.AddPatients(3);
    h.lookup.outageFrom = 1;
    h.lookup.outageCalls = -1;
    h.table.failCommit = true;
    h.Run();
    EXPECT_TRUE(h.outcome.stopped);
    EXPECT_FALSE(h.outcome.registerUnreachable);
    EXPECT_EQ(ExitCodeOf(h.outcome), 2);
}

}  // namespace
