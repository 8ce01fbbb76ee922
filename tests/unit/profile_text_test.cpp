#include <gtest/gtest.h>

#include "tools/profile_text.h"
#include "tools/text.h"

using namespace tolmar;

TEST(ProfileText, UnmarkedUtf8IsToldFromAnsi) {
    struct Case {
        const char* name;
        std::string bytes;
        ProfileEncoding want;
    } cases[] = {
        {"Notepad's UTF-8", "[S]\r\nLOG_PWD=hemligt\xC3\x85\xC3\x84\xC3\x96\xE2\x82\xAC\r\n", ProfileEncoding::Utf8},
        {"cp1252 with A-ring", "[S]\r\nLOG_PWD=hemligt\xC5\xC4\xD6\x80\r\n", ProfileEncoding::Ansi},
        {"cp1252 that looks like a start of UTF-8", "LOG_PWD=\xC3", ProfileEncoding::Ansi},
        {"only ASCII", "[S]\r\nLOG_ID=clinic\r\n", ProfileEncoding::Ansi},
        {"empty", "", ProfileEncoding::Ansi},
        {"UTF-8 with its mark", "\xEF\xBB\xBF[S]\r\nA=\xC3\x85\r\n", ProfileEncoding::Marked},
        {"UTF-16 LE", std::string("\xFF\xFE[\0S\0]\0", 8), ProfileEncoding::Marked},
        {"UTF-16 BE", std::string("\xFE\xFF\0[\0S\0]", 8), ProfileEncoding::Marked},
        {"an encoded surrogate is no UTF-8", "A=\xED\xA0\x80", ProfileEncoding::Ansi},
        {"an overlong form is no UTF-8", "A=\xC0\xAF", ProfileEncoding::Ansi},
    };
    for (const Case& c : cases) EXPECT_EQ(DetectProfileEncoding(c.bytes), c.want) << c.name;
}

TEST(ProfileText, ValuesFollowTheProfileRules) {
    const std::wstring text =
        L"LOG_ID=before any section\r\n"
        L"  [PopulationManager]  \r\n"
        L"  log_id  =   clinic  \r\n"
        L"LOG_ID=second, not taken\n"
        L"LOG_PWD=\"  hemligtÅÄÖ€  \"\r"
        L"LOG_ADDR='http://host/x'\r\n"
        L"Quoted1=\"\r\n"
        L"Mixed='a\"\r\n"
        L"Empty=\r\n"
        L"NoEquals\r\n"
        L"Inner=a=b ; not a comment\r\n"
        L"[Broken\r\n"
        L"Unbracketed=still the first section\r\n"
        L";LOG_UNIT=commented out\r\n"
        L"[ PopulationManager ]\r\n"
        L"Spaced=in a section whose name has blanks\r\n"
        L"[populationmanager]\r\n"
        L"Later=in the second section of that name\r\n";
    struct Case {
        const wchar_t* section;
        const wchar_t* key;
        std::optional<std::wstring> want;
    } cases[] = {
        {L"PopulationManager", L"LOG_ID", L"clinic"},
        {L" POPULATIONMANAGER ", L" Log_Id ", L"clinic"},
        {L"PopulationManager", L"LOG_PWD", L"  hemligtÅÄÖ€  "},
        {L"PopulationManager", L"LOG_ADDR", L"http://host/x"},
        {L"PopulationManager", L"Quoted1", L"\""},
        {L"PopulationManager", L"Mixed", L"'a\""},
        {L"PopulationManager", L"Empty", L""},
        {L"PopulationManager", L"NoEquals", std::nullopt},
        {L"PopulationManager", L"Inner", L"a=b ; not a comment"},
        {L"PopulationManager", L"LOG_UNIT", std::nullopt},
        {L"PopulationManager", L"Unbracketed", L"still the first section"},
        {L"PopulationManager", L"Later", std::nullopt},
        {L"PopulationManager", L"Spaced", std::nullopt},
        {L" PopulationManager ", L"Spaced", std::nullopt},
        {L"Other", L"LOG_ID", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProfileValue(text, c.section, c.key), c.want)
            << "[" << ToUtf8(c.section) << "] " << ToUtf8(c.key);
}
