#include <gtest/gtest.h>

#include <set>

#include "tools/environment.h"

using namespace tolmar;

TEST(Environment, AppKeyFromAppPath) {
    EXPECT_EQ(AppKeyFromAppPath(L"D:\\Apps\\Suite 2\\"), L"D_Apps_Suite_2\\");
    EXPECT_EQ(AppKeyFromAppPath(L"C:\\"), L"C\\");
    EXPECT_EQ(AppKeyFromAppPath(L"C:\\Work\\"), L"C_Work\\");
    EXPECT_EQ(AppKeyFromAppPath(L"\\\\srv\\share\\x\\"), L"__srv_share_x\\");
}

TEST(Environment, TrailingBackslash) {
    EXPECT_EQ(WithTrailingBackslash(L"C:\\Work"), L"C:\\Work\\");
    EXPECT_EQ(WithTrailingBackslash(L"C:\\Work\\"), L"C:\\Work\\");
    EXPECT_EQ(WithTrailingBackslash(L""), L"\\");
}

namespace {
FileProbe Files(std::set<std::wstring> files) {
    return [files = std::move(files)](const std::wstring& p) { return files.count(p) > 0; };
}
constexpr const wchar_t* kLinks = L"C:\\Common\\System\\Ole DB\\Data Links\\";
constexpr const wchar_t* kApp = L"C:\\Work\\";
}  // namespace

TEST(Environment, DataProviderFromSetting) {
    // nothing stored: the setting reads "ERROR", which names a file in the data-link folder
    EXPECT_EQ(DataProviderFromSetting(L"ERROR", kLinks, Files({})), std::wstring(kLinks) + L"ERROR");
    EXPECT_EQ(DataProviderFromSetting(L"ERROR", kLinks, Files({L"ERROR"})), L"ERROR");
    EXPECT_EQ(DataProviderFromSetting(L"clinic.udl", kLinks, Files({})), std::wstring(kLinks) + L"clinic.udl");
    EXPECT_EQ(DataProviderFromSetting(L"D:\\x.udl", kLinks, Files({L"D:\\x.udl"})), L"D:\\x.udl");
}

TEST(Environment, DataProviderFromParametersTable) {
    struct Case {
        std::vector<std::wstring> parameters;
        std::set<std::wstring> files;
        std::wstring expected;
    };
    const std::wstring current = L"C:\\from-setting.udl";
    const std::wstring links(kLinks), app(kApp);
    const Case cases[] = {
        {{L"UPDATE_ALL"}, {L"UPDATE_ALL"}, current},                          // no ".UDL": not looked at
        {{L"Clinic.UDL"}, {links + L"Clinic.UDL"}, links + L"Clinic.UDL"},    // only in the data-link folder
        {{L"x.udl"}, {L"x.udl", app + L"x.udl"}, L"x.udl"},                   // as given wins
        {{L"x.udl"}, {app + L"x.udl", links + L"x.udl"}, app + L"x.udl"},     // then the working folder
        {{L"gone.udl"}, {}, current},                                          // resolves nowhere
        {{L"x.udl.bak"}, {L"x.udl.bak"}, L"x.udl.bak"},                       // contains, not ends with
        {{L"a.udl", L"b.udl"}, {L"a.udl", L"b.udl"}, L"b.udl"},               // the last one wins
        {{L"a.udl", L"gone.udl"}, {L"a.udl"}, L"a.udl"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DataProviderFromParameters(current, c.parameters, app, links, Files(c.files)), c.expected);
    }
}

TEST(Environment, ProviderPartOfAFileWithoutProvider) {
    EXPECT_EQ(ProviderPartFromIni(L""), L"Provider=");
    EXPECT_EQ(ProviderPartFromIni(L"SQLOLEDB.1;Data Source=S"), L"Provider=SQLOLEDB.1;Data Source=S");
}
