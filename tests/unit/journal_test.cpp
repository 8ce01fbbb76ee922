// The change journal's file: written as any CSV reader reads it, and read
// back strictly.
#include <gtest/gtest.h>

#include "app/journal.h"
#include "tools/error.h"
#include "tools/text.h"

using namespace tolmar;

namespace {

std::string File(const std::vector<JournalRecord>& records) {
    return std::string(kUtf8Bom) + JournalHeader() + JournalRows(records);
}

std::string Refusal(const std::string& bytes) {
    try {
        ReadJournal(bytes);
    } catch (const Error& e) {
        return ToUtf8(e.message());
    }
    return "(read)";
}

}  // namespace

TEST(Journal, RowsAreQuotedAsRfc4180) {
    EXPECT_EQ(JournalHeader(), "Tid,PATIENTNR,PERSONNR,Kolumn,Gammalt v\xC3\xA4rde,Nytt v\xC3\xA4rde,Format\r\n");
    const std::vector<JournalRecord> records = {
        {L"2026-12-10 06:41:07", L"7", L"194501011234", L"EFTERNAMN", L"Ek, \"Bo\"", L"Ek\r\nSon"},
        {L"2026-12-10 06:41:07", L"7", L"194501011234", L"COADRESS", std::nullopt, L""},
    };
    EXPECT_EQ(JournalRows(records),
              "\"2026-12-10 06:41:07\",\"7\",\"194501011234\",\"EFTERNAMN\",\"Ek, \"\"Bo\"\"\",\"Ek\r\nSon\",\"2\"\r\n"
              "\"2026-12-10 06:41:07\",\"7\",\"194501011234\",\"COADRESS\",,\"\",\"2\"\r\n");
}

TEST(Journal, WhatIsWrittenIsReadBack) {
    const std::vector<JournalRecord> records = {
        {L"2026-12-10 06:41:07", L"7", L"194501011234", L"EFTERNAMN", L"Ek, \"Bo\"", L"Ek\r\nSon\n"},
        {L"2026-12-10 06:41:07", L"7", L"194501011234", L"COADRESS", std::nullopt, L""},
        {L"2026-12-10 06:41:08", L"8", L"193212129876", L"ORT", L"\u0141\u00f3d\u017a \u6771\u4eac \U0001F600", L"AVLIDEN"},
    };
    EXPECT_EQ(ReadJournal(File(records)), records);
    EXPECT_TRUE(ReadJournal(File({})).empty());
    // Line feeds alone end rows too (a file saved by another editor).
    EXPECT_EQ(ReadJournal(std::string(kUtf8Bom) +
                          "Tid,PATIENTNR,PERSONNR,Kolumn,Gammalt v\xC3\xA4rde,Nytt v\xC3\xA4rde\n\"t\",\"1\",\"p\",\"KON\",\"K\",\"M\"\n")
                  .size(),
              1u);
}

TEST(Journal, AnythingElseIsRefusedWithItsReason) {
    const std::string header = std::string(kUtf8Bom) + JournalHeader();
    const struct {
        std::string bytes;
        const char* reason;
    } cases[] = {
        {JournalHeader(), "UTF-8-m\xC3\xA4rket"},
        {std::string(kUtf8Bom) + "Name,Value\r\n", "rubrikraden"},
        {std::string(kUtf8Bom), "rubrikraden"},
        {header + "\"t\",\"1\",\"p\",\"KON\",\"K\"\r\n", "rad 2: den har 5 f\xC3\xA4lt"},
        {header + "\"t\",\"1\",\"p\",\"KON\",\"K\",\"M\"\r\n", "rad 2: den har 6 f\xC3\xA4lt, inte 7"},
        {header + "\"t\",\"1\",\"p\",\"KON\",\"K\",\"M\",\"3\"\r\n", "formatet"},
        // A value as a spreadsheet would read it, or a mark before one that needs none.
        {header + "\"t\",\"1\",\"p\",\"KON\",\"=1+1\",\"M\",\"2\"\r\n", "rad 2: ett v\xC3\xA4rde"},
        {header + "\"t\",\"1\",\"p\",\"KON\",\"\tK\",\"M\",\"2\"\r\n", "rad 2: ett v\xC3\xA4rde"},
        {header + "\"t\",\"1\",\"p\",\"KON\",\"'K\",\"M\",\"2\"\r\n", "rad 2: ett v\xC3\xA4rde"},
        {header + "\"t\",\"'1\",\"p\",\"KON\",\"K\",\"M\",\"2\"\r\n", "rad 2: ett v\xC3\xA4rde"},
        {header + "\"t\",\"1\",\"p\",\"KON\",\"" + std::string(kMaxJournalRowBytes, 'K') + "\",\"M\",\"2\"\r\n",
         "l\xC3\xA4ngre \xC3\xA4n 1 MB"},
        {header + "\"t\",\"1\",\"p\",\"KON\",\"K\",\"M\r\n", "citattecken avslutas aldrig"},
        {header + "\"t\",\"1\",\"p\",\"KON\",\"K\"x,\"M\",\"2\"\r\n", "efter ett avslutande citattecken"},
        {header + "\"t\",\"1\",\"p\",\"PASSWORD\",\"K\",\"M\",\"2\"\r\n", "kolumnen \"PASSWORD\""},
        {header + "\"t\",\"\",\"p\",\"KON\",\"K\",\"M\",\"2\"\r\n", "PATIENTNR saknas"},
        {header + "\"t\",\"1\",\"p\",\"KON\",\"\xC5\",\"M\",\"2\"\r\n", "inte \xC3\xA4r UTF-8"},
    };
    for (const auto& c : cases) {
        const std::string refusal = Refusal(c.bytes);
        EXPECT_NE(refusal.find("Filen \xC3\xA4r ingen \xC3\xA4ndringslogg"), std::string::npos) << refusal;
        EXPECT_NE(refusal.find(c.reason), std::string::npos) << refusal;
    }
}

// A value that a spreadsheet would take for a formula, or whose leading tab
// or CR it would drop, is written behind one "'" and read back byte for byte.
TEST(Journal, FormulaLikeValuesAreMarkedAndReadBackExactly) {
    const struct {
        std::wstring value;
        const char* written;
    } cases[] = {
        {L"=1+1", "\"'=1+1\""},         {L"+46 90 12", "\"'+46 90 12\""}, {L"-5", "\"'-5\""},
        {L"@SUM(A1)", "\"'@SUM(A1)\""}, {L"\t=1+1", "\"'\t=1+1\""},       {L"\r=1", "\"'\r=1\""},
        {L"'x", "\"''x\""},             {L"''", "\"'''\""},               {L"a=b", "\"a=b\""},
        {L" =1", "\" =1\""},            {L"", "\"\""},
    };
    for (const auto& c : cases) {
        const std::vector<JournalRecord> records = {{L"t", L"1", L"p", L"EFTERNAMN", c.value, L"x"}};
        const std::string rows = JournalRows(records);
        EXPECT_EQ(rows.substr(0, rows.find(",\"x\"")), std::string("\"t\",\"1\",\"p\",\"EFTERNAMN\",") + c.written);
        EXPECT_EQ(ReadJournal(File(records)), records) << ToUtf8(c.value);
    }
    // Every field is marked alike: a key or a personal number too.
    const std::vector<JournalRecord> keys = {{L"=t", L"-1", L"@p", L"ORT", std::nullopt, L"+"}};
    EXPECT_EQ(ReadJournal(File(keys)), keys);
}

// A journal of six columns was written before values were marked: it is
// read as it stands, a leading "'" kept.
TEST(Journal, AJournalOfTheEarlierFormIsReadAsItWasWritten) {
    const std::string earlier = std::string(kUtf8Bom) +
                                "Tid,PATIENTNR,PERSONNR,Kolumn,Gammalt v\xC3\xA4rde,Nytt v\xC3\xA4rde\r\n"
                                "\"t\",\"1\",\"p\",\"EFTERNAMN\",\"'=1\",\"=2\"\r\n"
                                "\"t\",\"1\",\"p\",\"COADRESS\",,\"\"\r\n";
    EXPECT_EQ(ReadJournal(earlier), (std::vector<JournalRecord>{{L"t", L"1", L"p", L"EFTERNAMN", L"'=1", L"=2"},
                                                                 {L"t", L"1", L"p", L"COADRESS", std::nullopt, L""}}));
    // A row of the later form in a journal of the earlier one is refused.
    const std::string mixed = earlier + "\"t\",\"1\",\"p\",\"KON\",\"K\",\"M\",\"2\"\r\n";
    EXPECT_NE(Refusal(mixed).find("rad 4: den har 7 f\xC3\xA4lt, inte 6"), std::string::npos) << Refusal(mixed);
}

// The reader goes back to a record's place and reads it again, its row
// number with it, across the pieces in which it reads the source.
TEST(Journal, TheReaderReturnsToARecordsPlace) {
    std::vector<JournalRecord> records;
    for (int i = 0; i < 3000; ++i)
        records.push_back({L"t" + std::to_wstring(i), std::to_wstring(i), L"p", L"ORT", L"\"A\"\r\nB", L"C"});
    MemoryJournalSource source(File(records));
    JournalReader reader(source);
    std::vector<JournalPlace> places;
    while (std::optional<JournalRecord> r = reader.Next()) places.push_back(reader.Place());
    ASSERT_EQ(places.size(), records.size());
    for (size_t i : {size_t{2999}, size_t{0}, size_t{1500}}) {
        reader.Return(places[i]);
        EXPECT_EQ(reader.Next(), records[i]);
        EXPECT_EQ(reader.Place().row, i + 2);
    }
}
