// InitEnvironment, FindFiles and the errors file against the real platform.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>

#include "app/win/errors_file.h"
#include "tools/environment.h"
#include "tools/error.h"
#include "tools/text.h"
#include "tools/win/environment_win.h"
#include "tools/win/files.h"
#include "tools/win/messages_win.h"
#include "tools/win/registry.h"
#include "tools/win/unique.h"
#include "win_test_support.h"

using namespace tolmar;
using namespace tolmar::win;
using tolmar::test::CurrentDirectory;
using tolmar::test::TempFolder;

namespace {

// An environment to fill, and the removal of the settings its working
// folder leads to.
class EnvironmentScope {
public:
    EnvironmentScope() = default;
    EnvironmentScope(const EnvironmentScope&) = delete;
    EnvironmentScope& operator=(const EnvironmentScope&) = delete;
    ~EnvironmentScope() {
        for (const auto& key : keys_) {
            std::wstring path = std::wstring(kSettingsRoot) + key;
            path.pop_back();
            test::reg::DeleteTree(HKEY_CURRENT_USER, path);
            test::reg::DeleteTree(HKEY_LOCAL_MACHINE, path);
        }
    }
    void Forget(const std::wstring& appKey) { keys_.push_back(appKey); }

    Environment env;

private:
    std::vector<std::wstring> keys_;
};

}  // namespace

TEST(EnvironmentWin, WorkingFolderGivesAppPathAndAppKey) {
    EnvironmentScope scope;
    TempFolder dir;
    dir.MakeFolder(L"Mixed Case");
    // Entered in other letter case: AppPath is spelled as the file system stores it.
    std::wstring typed = dir.FolderPath() + L"mIXED cASE";
    CurrentDirectory cd(typed);
    ASSERT_NO_THROW(InitEnvironment(scope.env));
    scope.Forget(scope.env.appKey);
    const std::wstring expectedPath = PathInStoredCase(dir.FolderPath()) + L"Mixed Case\\";
    EXPECT_EQ(scope.env.appPath, expectedPath);
    EXPECT_EQ(scope.env.appKey, AppKeyFromAppPath(expectedPath));
    EXPECT_EQ(scope.env.appKey.find(L':'), std::wstring::npos);
    EXPECT_EQ(scope.env.windowsPath.back(), L'\\');
    EXPECT_EQ(scope.env.systemPath.back(), L'\\');
    // The data-link folder is the one the suite's 32-bit programs use.
    wchar_t common86[MAX_PATH + 1] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMONX86, nullptr, 0, common86), S_OK);
    EXPECT_NE(std::wstring(common86).find(L"(x86)"), std::wstring::npos) << "not a 64-bit system";
    EXPECT_EQ(scope.env.dataLinksPath, std::wstring(common86) + L"\\System\\Ole DB\\Data Links\\");
    EXPECT_EQ(DataLinksFolder(), scope.env.dataLinksPath);
    // Nothing stored: the marker text names a file in the data-link folder.
    EXPECT_EQ(scope.env.dataProviderFile, scope.env.dataLinksPath + L"ERROR");
    EXPECT_EQ(scope.env.providerPart, L"");
    EXPECT_FALSE(scope.env.suiteDataPath.empty());
    EXPECT_NE(scope.env.suiteDataPath.find(L"\\Norvena\\Norvena Suite\\"), std::wstring::npos);
    EXPECT_NE(GetFileAttributesW(scope.env.suiteDataPath.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(EnvironmentWin, DataLinkFileFromTheSetting) {
    EnvironmentScope scope;
    TempFolder dir;
    CurrentDirectory cd(dir.FolderPath());
    struct Case {
        std::string content;
        std::wstring providerPart;
    };
    const Case cases[] = {
        {"[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
         "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=Kliniken;Data Source=SRV\r\n",
         L"Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=Kliniken;Data Source=SRV"},
        {"[oledb]\r\n; no provider line\r\n", L"Provider="},
    };
    for (const auto& c : cases) {
        dir.WriteFile(L"clinic.udl", c.content);
        ASSERT_NO_THROW(InitEnvironment(scope.env));
        scope.Forget(scope.env.appKey);
        WriteSetting(scope.env, L"DataProvider", L"DefaultDataProvider", (dir / L"clinic.udl"));
        ASSERT_NO_THROW(InitEnvironment(scope.env));
        EXPECT_EQ(scope.env.dataProviderFile, (dir / L"clinic.udl"));
        EXPECT_EQ(scope.env.providerPart, c.providerPart);
    }
    // A bare name of a file in the working folder is that file, read from there.
    dir.WriteFile(L"clinic.udl", "[oledb]\r\nProvider=MSDASQL.1;Extended Properties=\"DSN=here\"\r\n");
    WriteSetting(scope.env, L"DataProvider", L"DefaultDataProvider", L"clinic.udl");
    ASSERT_NO_THROW(InitEnvironment(scope.env));
    EXPECT_EQ(scope.env.dataProviderFile, PathInStoredCase(dir.FolderPath()) + L"clinic.udl");
    EXPECT_EQ(scope.env.providerPart, L"Provider=MSDASQL.1;Extended Properties=\"DSN=here\"");
    // A bare name that is not in the working folder is looked for in the data-link folder.
    WriteSetting(scope.env, L"DataProvider", L"DefaultDataProvider", L"elsewhere.udl");
    ASSERT_NO_THROW(InitEnvironment(scope.env));
    EXPECT_EQ(scope.env.dataProviderFile, scope.env.dataLinksPath + L"elsewhere.udl");
    EXPECT_EQ(scope.env.providerPart, L"");
}

TEST(FilesWin, FindFilesStopsAFolderAtItsFirstSuccessfulMaskSearch) {
    UserMessages messages;
    TempFolder dir;
    dir.WriteFile(L"a.udl", "");
    dir.MakeFolder(L"z");
    dir.WriteFile(L"z\\b.udl", "");
    // The rule depends on the order the file system returns entries in.
    std::vector<std::wstring> order;
    WIN32_FIND_DATAW entry;
    UniqueFind find(FindFirstFileW((dir.FolderPath() + L"*").c_str(), &entry));
    ASSERT_TRUE(find);
    do {
        if (entry.cFileName[0] != L'.') order.push_back(entry.cFileName);
    } while (FindNextFileW(find.get(), &entry));
    ASSERT_EQ(order.size(), 2u);

    const std::vector<std::wstring> found = FindFiles(messages, dir.FolderPath(), L"*.udl");
    const std::wstring folder = dir.FolderPath().substr(0, dir.FolderPath().size() - 1);
    std::vector<std::wstring> expected;
    if (order[0] == L"z") expected.push_back(folder + L"\\z\\b.udl");
    expected.push_back(folder + L"\\a.udl");
    EXPECT_EQ(found, expected);

    // An empty mask lists every file of the tree.
    std::vector<std::wstring> all = FindFiles(messages, dir.FolderPath(), L"");
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, (std::vector<std::wstring>{folder + L"\\a.udl", folder + L"\\z\\b.udl"}));
    EXPECT_TRUE(FindFiles(messages, dir.FolderPath() + L"missing", L"*.udl").empty());
}

// A wildcard search also matches 8.3 short names ("notes.error" is
// NOTES~1.ERR): only long names ending in ".udl" are data-link files.
TEST(FilesWin, FindFilesGoesByLongNames) {
    UserMessages messages;
    TempFolder dir;
    dir.WriteFile(L"clinic.udlx", "");
    dir.WriteFile(L"notes.udl.bak", "");
    EXPECT_TRUE(FindFiles(messages, dir.FolderPath(), L"*.udl").empty());
    dir.WriteFile(L"Klinik.UDL", "");
    const std::wstring folder = dir.FolderPath().substr(0, dir.FolderPath().size() - 1);
    EXPECT_EQ(FindFiles(messages, dir.FolderPath(), L"*.udl"), std::vector<std::wstring>{folder + L"\\Klinik.UDL"});
}

TEST(FilesWin, DeleteFilesByMaskRemovesMatchesOnly) {
    TempFolder dir;
    dir.WriteFile(L"one.err", "1");
    dir.WriteFile(L"two.ERR", "2");
    dir.WriteFile(L"keep.txt", "3");
    dir.WriteFile(L"keep.err.txt", "4");
    // names whose short 8.3 names end in ".ERR"
    dir.WriteFile(L"notes.error", "5");
    dir.WriteFile(L"x.errata", "6");
    dir.WriteFile(L"long-name.errors", "7");
    // A folder of such a name cannot go: said, not raised, and the rest go.
    ASSERT_TRUE(CreateDirectoryW((dir.FolderPath() + L"logs.err").c_str(), nullptr));
    UserMessages messages;
    std::vector<std::wstring> told;
    messages.SetUnattendedSink([&told](std::wstring_view text) { told.emplace_back(text); });
    DeleteFilesByMask(messages, dir.FolderPath() + L"*.err");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].rfind(L"An error occured while deleting: " + dir.FolderPath() + L"logs.err\r\n", 0), 0u)
        << ToUtf8(told[0]);
    EXPECT_TRUE(RemoveDirectoryW((dir.FolderPath() + L"logs.err").c_str()));
    EXPECT_EQ(dir.ReadFile(L"one.err"), std::nullopt);
    EXPECT_EQ(dir.ReadFile(L"two.ERR"), std::nullopt);
    EXPECT_EQ(dir.ReadFile(L"keep.txt"), "3");
    EXPECT_EQ(dir.ReadFile(L"keep.err.txt"), "4");
    EXPECT_EQ(dir.ReadFile(L"notes.error"), "5");
    EXPECT_EQ(dir.ReadFile(L"x.errata"), "6");
    EXPECT_EQ(dir.ReadFile(L"long-name.errors"), "7");
    DeleteFilesByMask(messages, dir.FolderPath() + L"*.none");  // matches nothing, says nothing
    EXPECT_EQ(told.size(), 1u);
}

TEST(ErrorsFileWin, AnsiTextWithCrLfOverwritingAnEarlierRun) {
    TempFolder dir;
    const std::wstring date = ShortDateToday();
    std::wstring expectedName = L"errors " + ReplaceAll(date, L"/", L"") + L".txt";
    dir.WriteFile(expectedName, "an earlier run's much longer content\r\n");
    const std::wstring path = WriteErrorsFile(dir.FolderPath(), {L"Personen 19121212-1212 hittades inte", L"Åsa är här"});
    EXPECT_EQ(path, (dir / expectedName));
    EXPECT_EQ(path.find(L'/'), std::wstring::npos);
    // Swedish letters in the ANSI code page (1252 here), no byte-order mark.
    EXPECT_EQ(dir.ReadFile(expectedName), "Personen 19121212-1212 hittades inte\r\n\xc5sa \xe4r h\xe4r\r\n");
}

TEST(ErrorsFileWin, UnwritableFileIsAnError) {
    TempFolder dir;
    const std::wstring name = L"errors " + ReplaceAll(ShortDateToday(), L"/", L"") + L".txt";
    dir.MakeFolder(name);  // a folder where the file should go
    EXPECT_THROW(WriteErrorsFile(dir.FolderPath(), {L"x"}), Error);
}

namespace {
// Sets the user's short date format for the test and puts the old one back.
class ShortDateFormat {
public:
    explicit ShortDateFormat(const wchar_t* format) {
        wchar_t saved[100] = {};
        GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, saved, 100);
        saved_ = saved;
        SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, format);
    }
    ~ShortDateFormat() { SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, saved_.c_str()); }

private:
    std::wstring saved_;
};
}  // namespace

TEST(ErrorsFileWin, NameFollowsTheUsersShortDateFormat) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    auto two = [](int v) { return (v < 10 ? L"0" : L"") + std::to_wstring(v); };
    const std::wstring y = std::to_wstring(now.wYear), m = std::to_wstring(now.wMonth), d = std::to_wstring(now.wDay);
    struct Case {
        const wchar_t* format;
        std::wstring name;
    };
    const Case cases[] = {
        {L"M/d/yyyy", L"errors " + m + d + y + L".txt"},
        {L"yyyy-MM-dd", L"errors " + y + L"-" + two(now.wMonth) + L"-" + two(now.wDay) + L".txt"},
        {L"dd/MM/yy", L"errors " + two(now.wDay) + two(now.wMonth) + y.substr(2) + L".txt"},
    };
    TempFolder dir;
    for (const auto& c : cases) {
        ShortDateFormat format(c.format);
        EXPECT_EQ(WriteErrorsFile(dir.FolderPath(), {L"x"}), (dir / c.name)) << ToUtf8(c.format);
        EXPECT_EQ(dir.ReadFile(c.name), "x\r\n");
    }
}

// Every spelling of one file leads to one final path, and so to one database
// identity; another file has another.
TEST(FilesWin, FinalPathOfResolvesEverySpellingOfOneFile) {
    TempFolder dir;
    ASSERT_TRUE(CreateDirectoryW((dir / L"sub").c_str(), nullptr));
    dir.WriteFile(L"p.db", "x");
    dir.WriteFile(L"q.db", "y");
    const std::wstring final = FinalPathOf(dir / L"p.db");
    EXPECT_EQ(UpperLocale(final), UpperLocale(dir / L"p.db"));
    test::CurrentDirectory cd(dir.FolderPath());
    for (const std::wstring& spelling : {dir.path() + L"\\.\\p.db", dir.path() + L"\\sub\\..\\p.db",
                                         UpperLocale(dir / L"p.db"), std::wstring(L"p.db"), std::wstring(L".\\sub\\..\\P.DB")})
        EXPECT_EQ(UpperLocale(FinalPathOf(spelling)), UpperLocale(final)) << ToUtf8(spelling);
    EXPECT_NE(UpperLocale(FinalPathOf(dir / L"q.db")), UpperLocale(final));
    // A file that is not there yet keeps its full path.
    EXPECT_EQ(FinalPathOf(L".\\sub\\..\\new.db"), dir / L"new.db");
}
