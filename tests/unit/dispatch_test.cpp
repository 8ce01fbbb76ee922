#include <gtest/gtest.h>

#include "app/dispatch.h"
#include "app/run_lines.h"
#include "tools/text.h"

using namespace tolmar;

TEST(Dispatch, StartParameterTable) {
    struct Case {
        const wchar_t* parameter;
        Job job;
        const wchar_t* number;
        bool valid;
    };
    const Case cases[] = {
        {L"", Job::Help, L"", false},
        {L"PERSONNR:19121212-1212", Job::PersonLookup, L"191212121212", true},
        {L"personnr:19121212-1212", Job::PersonLookup, L"191212121212", true},
        {L"PERSONNR:1912-1212-1212", Job::PersonLookup, L"19121212-1212", false},  // only the first hyphen goes
        {L"PERSONNR:1912121212", Job::PersonLookup, L"1912121212", false},
        {L"PERSONNR:", Job::PersonLookup, L"", false},
        {L"PERSONNR:abcdefghijkl", Job::PersonLookup, L"abcdefghijkl", true},  // only the length is tested
        {L"xPERSONNR:19121212-1212", Job::PersonLookup, L"191212121212", true},
        {L"PersonNr:AbCd-efghijkl", Job::PersonLookup, L"AbCdefghijkl", true},  // number kept as typed
        // A "¤" or a control character would add or end a field of the host record.
        {L"PERSONNR:19121212-12¤2", Job::PersonLookup, L"1912121212¤2", false},
        {L"PERSONNR:19121212-1\n12", Job::PersonLookup, L"191212121\n12", false},
        {L"PERSONNR:19121212-1\t12", Job::PersonLookup, L"191212121\t12", false},
        {L"TEST_MODE", Job::TestMode, L"", false},
        {L"test_mode", Job::TestMode, L"", false},
        {L"TEST_MODEX", Job::Help, L"", false},
        {L"UPDATE_ALL", Job::UpdateAll, L"", false},
        {L"update_all", Job::UpdateAll, L"", false},
        {L" UPDATE_ALL", Job::Help, L"", false},
        {L"C:\\x\\clinic.udl", Job::Help, L"", false},
    };
    for (const auto& c : cases) {
        const StartRequest r = ParseStartParameter(c.parameter);
        SCOPED_TRACE(ToUtf8(c.parameter));
        EXPECT_EQ(r.job, c.job);
        EXPECT_EQ(r.number, c.number);
        EXPECT_EQ(r.numberValid, c.valid);
    }
}

TEST(Dispatch, ErrorsFileNameDropsSlashesOnly) {
    EXPECT_EQ(ErrorsFileName(L"C:\\Work\\", L"12/9/2026"), L"C:\\Work\\errors 1292026.txt");
    EXPECT_EQ(ErrorsFileName(L"C:\\Work\\", L"2026-12-09"), L"C:\\Work\\errors 2026-12-09.txt");
    EXPECT_EQ(ErrorsFileName(L"C:\\Work\\", L"09.12.2026"), L"C:\\Work\\errors 09.12.2026.txt");
}

TEST(Dispatch, ErrorsFileTextEndsEveryLineWithCrLf) {
    EXPECT_EQ(ErrorsFileText({L"a", L"", L"b"}), L"a\r\n\r\nb\r\n");
    EXPECT_EQ(ErrorsFileText({}), L"");
}

TEST(Dispatch, HelpTextIsExact) {
    EXPECT_EQ(std::wstring(kHelpText),
              FromUtf8("Giltiga startparametrar är:\r\rPERSONNR:########-#### - Där # är personnumret\r"
                       "UPDATE_ALL - Gör en komplett uppdatering av den valda databasen\r"
                       "TEST_MODE - Startar programmet i testläge"));
}

TEST(RunLines, TheBoxesBeforeTheRunStayWhenTheRunClearsItsLines) {
    RunLines lines;
    lines.Add(RunLines::BoxLine(L"Databasen saknas!\r\rKontrollera data-länken."));
    lines.StartRun();
    lines.Add(L"stale");
    lines.ClearRun();
    lines.Add(L"Felaktigt personnummer: 1950");
    lines.Add(L"Antal poster redigerade: 0");
    EXPECT_EQ(lines.Lines(), (std::vector<std::wstring>{L"Databasen saknas!  Kontrollera data-länken.",
                                                        L"Felaktigt personnummer: 1950",
                                                        L"Antal poster redigerade: 0"}));
    lines.ClearRun();
    EXPECT_EQ(lines.Lines().size(), 1u);
}
