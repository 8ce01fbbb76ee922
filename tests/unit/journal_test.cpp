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
    EXPECT_EQ(JournalHeader(), "Tid,PATIENTNR,PERSONNR,Kolumn,Gammalt v\xC3\xA4rde,Nytt v\xC3\xA4rde\r\n");
    const std::vector<JournalRecord> records = {
        {L"2026-12-10 06:41:07", L"7", L"194501011234", L"EFTERNAMN", L"Ek, \"Bo\"", L"Ek\r\nSon"},
        {L"2026-12-10 06:41:07", L"7", L"194501011234", L"COADRESS", std::nullopt, L""},
    };
    EXPECT_EQ(JournalRows(records),
              "\"2026-12-10 06:41:07\",\"7\",\"194501011234\",\"EFTERNAMN\",\"Ek, \"\"Bo\"\"\",\"Ek\r\nSon\"\r\n"
              "\"2026-12-10 06:41:07\",\"7\",\"194501011234\",\"COADRESS\",,\"\"\r\n");
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
        {header + "\"t\",\"1\",\"p\",\"KON\",\"K\",\"M\r\n", "citattecken avslutas aldrig"},
        {header + "\"t\",\"1\",\"p\",\"KON\",\"K\"x,\"M\"\r\n", "efter ett avslutande citattecken"},
        {header + "\"t\",\"1\",\"p\",\"PASSWORD\",\"K\",\"M\"\r\n", "kolumnen \"PASSWORD\""},
        {header + "\"t\",\"\",\"p\",\"KON\",\"K\",\"M\"\r\n", "PATIENTNR saknas"},
        {header + "\"t\",\"1\",\"p\",\"KON\",\"\xC5\",\"M\"\r\n", "inte \xC3\xA4r UTF-8"},
    };
    for (const auto& c : cases) {
        const std::string refusal = Refusal(c.bytes);
        EXPECT_NE(refusal.find("Filen \xC3\xA4r ingen \xC3\xA4ndringslogg"), std::string::npos) << refusal;
        EXPECT_NE(refusal.find(c.reason), std::string::npos) << refusal;
    }
}

