#include <gtest/gtest.h>

#include "tools/db/provider_list.h"
#include "tools/text.h"

using namespace tolmar;
using namespace tolmar::db;

TEST(DbProviderList, DefaultNameIsTheFilePartOfTheSetting) {
    EXPECT_EQ(DefaultProviderName(L"C:\\Program Files\\Common Files\\System\\Ole DB\\Data Links\\Klinik.UDL"),
              L"Klinik.UDL");
    EXPECT_EQ(DefaultProviderName(L"klinik.udl"), L"klinik.udl");
    EXPECT_EQ(DefaultProviderName(L"D:klinik.udl"), L"klinik.udl");
    EXPECT_EQ(DefaultProviderName(L"C:\\links\\"), L"");
    // a missing setting reads "ERROR", which names no row
    EXPECT_EQ(DefaultProviderName(L"ERROR"), L"ERROR");
}

TEST(DbProviderList, RowsMatchWithoutRegardToCase) {
    const std::vector<std::wstring> rows = {L"a.udl", L"Årsta.udl", L"Klinik.udl", L"klinik.UDL"};
    struct Case {
        const wchar_t* setting;
        std::optional<size_t> row;
    };
    const Case cases[] = {
        // a full path whose file part differs from a row only in letter case
        {L"C:\\Common\\Data Links\\KLINIK.udl", 2},  // the first equal row wins
        {L"årsta.UDL", 1},                       // non-ASCII letters fold too
        {L"ERROR", std::nullopt},
        {L"", std::nullopt},
        {L"klinik", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.setting));
        EXPECT_EQ(FindProviderRow(rows, DefaultProviderName(c.setting)), c.row);
    }
    EXPECT_TRUE(SameProviderName(L"Klinik.udl", L"KLINIK.UDL"));
    EXPECT_FALSE(SameProviderName(L"Klinik.udl", L"Klinik.udl "));
}

TEST(DbProviderList, RowPaintTable) {
    const Rgb listText = MakeRgb(1, 2, 3), highlightText = MakeRgb(250, 251, 252);
    struct Case {
        bool selected, isDefault;
        RowPaint paint;
    };
    const Case cases[] = {
        {true, true, {MakeRgb(0, 128, 0), MakeRgb(192, 192, 192)}},   // selected default: green on silver
        {true, false, {highlightText, MakeRgb(192, 192, 192)}},        // selected other: highlight text on silver
        {false, true, {MakeRgb(0, 128, 0), MakeRgb(255, 255, 255)}},  // default: green on white
        {false, false, {listText, MakeRgb(255, 255, 255)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "selected=" << c.selected << " default=" << c.isDefault);
        EXPECT_EQ(PaintForRow(c.selected, c.isDefault, listText, highlightText), c.paint);
    }
    EXPECT_EQ(kDefaultRowText, 0x008000u);  // COLORREF layout: 0x00BBGGRR
}

TEST(DbProviderList, NewFileNames) {
    for (const wchar_t* ok : {L"", L"Klinik", L"klinik 2", L"Årsta vårdcentral", L"a.b", L"CONSOLE",
                              L"COM10", L"LPT10", L".hidden", L"x."}) {
        EXPECT_EQ(ProviderNameProblem(ok), std::nullopt) << ToUtf8(ok);
    }
    for (const wchar_t* bad : {L"a/b", L"a\\b", L"c:x", L"what?", L"star*", L"\"q\"", L"<x>", L"pipe|", L"tab\there",
                               L"CON", L"con", L"Nul", L"aux.old", L"PRN ", L"com1", L"LPT9", L"COM0", L"lpt\u00b2"}) {
        EXPECT_NE(ProviderNameProblem(bad), std::nullopt) << ToUtf8(bad);
    }
    EXPECT_EQ(*ProviderNameProblem(L"a?b"),
              L"Namnet \"a?b\" kan inte bli ett filnamn: det får inte innehålla något av tecknen "
              L"\\ / : * ? \" < > | eller styrtecken.");
    EXPECT_NE(ProviderNameProblem(L"CON")->find(L"reserverade"), std::wstring::npos);
    // the file name, extension included, may have 255 characters
    EXPECT_EQ(ProviderNameProblem(std::wstring(251, L'x')), std::nullopt);
    ASSERT_NE(ProviderNameProblem(std::wstring(252, L'x')), std::nullopt);
    EXPECT_NE(ProviderNameProblem(std::wstring(252, L'x'))->find(L"högst 251 tecken"), std::wstring::npos);
}
