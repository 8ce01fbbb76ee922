// The run folders on disk: the access list of "runs", a folder for each
// start, and retention on real folders.
#include "app/win/run_folder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include "temp_folder.h"
#include "text.h"

#include <algorithm>
#include "tools/error.h"
#include "tools/win/unique.h"

namespace tolmar::win {
namespace {

using tolmar::test::ReadWholeFile;
using tolmar::test::TempFolder;

std::wstring DaclOf(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return L"(unreadable)";
    const UniqueLocalMem owned(descriptor);
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                              &text, nullptr))
        return L"(unconvertible)";
    const UniqueLocalMem ownedText(text);
    return text;
}

// The list as the system reads it back: protected, and exactly these four
// entries (no one else may list or read the logs).
::testing::AssertionResult IsRunsList(const std::wstring& dacl) {
    const bool ok = dacl.rfind(L"D:P", 0) == 0 && std::count(dacl.begin(), dacl.end(), L'(') == 4 &&
                    dacl.find(L"(A;OICI;FA;;;SY)") != std::wstring::npos &&
                    dacl.find(L"(A;OICI;FA;;;BA)") != std::wstring::npos &&
                    dacl.find(L"(A;OICIIO;FA;;;CO)") != std::wstring::npos &&
                    // FILE_ADD_SUBDIRECTORY (0x4), which SDDL spells as the directory service's LC
                    (dacl.find(L"(A;;0x4;;;AU)") != std::wstring::npos ||
                     dacl.find(L"(A;;LC;;;AU)") != std::wstring::npos);
    return ok ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << tolmar::test::Utf8(dacl);
}

// Whether this platform keeps a folder's access list as set (Wine keeps
// only what the Unix mode bits can say).
bool KeepsFolderLists(const TempFolder& work) {
    const std::wstring probe = work / L"probe";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;BA)", SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return false;
    const UniqueLocalMem owned(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    if (!CreateDirectoryW(probe.c_str(), &attributes)) return false;
    const bool kept = DaclOf(probe) == L"D:P(A;;FA;;;BA)";
    RemoveDirectoryW(probe.c_str());
    return kept;
}

TEST(RunFolderWin, TheListOfRunsSaysWhatItShould) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(kRunsFolderSddl, SDDL_REVISION_1, &descriptor,
                                                                     nullptr));
    const UniqueLocalMem owned(descriptor);
    wchar_t* text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &text, nullptr));
    const UniqueLocalMem ownedText(text);
    EXPECT_TRUE(IsRunsList(text));
}

TEST(RunFolderWin, RunsIsMadeWithItsProtectedAccessListAndKeptWhenThere) {
    TempFolder work(L"tolmar-runs");
    const std::wstring runs = EnsureRunsFolder(work.FolderPath());
    EXPECT_EQ(runs, work.FolderPath() + L"runs\\");
    EXPECT_EQ(EnsureRunsFolder(work.FolderPath()), runs);  // a second start finds it
    LocalTime t{2026, 12, 10, 2, 0, 3, 60};
    EXPECT_EQ(CreateRunFolder(runs, t), runs + L"2026-12-10 020003\\");
    EXPECT_EQ(CreateRunFolder(runs, t), runs + L"2026-12-10 020003-2\\");
    EXPECT_EQ(CreateRunFolder(runs, t), runs + L"2026-12-10 020003-3\\");
    if (!KeepsFolderLists(work)) GTEST_SKIP() << "this platform does not keep the access lists of folders";
    EXPECT_TRUE(IsRunsList(DaclOf(work / L"runs")));
}

TEST(RunFolderWin, TheLogAndTheSummaryAsWritten) {
    TempFolder work(L"tolmar-runs");
    const std::wstring folder = CreateRunFolder(EnsureRunsFolder(work.FolderPath()), {2026, 1, 2, 3, 4, 5, 0});
    {
        RunLogFile log(folder + L"log.txt");
        ASSERT_TRUE(log.Write({2026, 1, 2, 3, 4, 5, 0}, L"Åre\r\rx"));
        // Each line is in the file at once: a reader sees it before the next.
        const auto first = ReadWholeFile(folder + L"log.txt");
        EXPECT_EQ(first, "\xEF\xBB\xBF" "2026-01-02 03:04:05 \xC3\x85re\r\n" + std::string(20, ' ') + "\r\n" +
                             std::string(20, ' ') + "x\r\n");
        EXPECT_THROW({ RunLogFile again(folder + L"log.txt"); }, tolmar::Error);  // never appended to another's log
    }
    WriteSummaryFile(folder, "{\"a\": 1}\r\n");
    WriteSummaryFile(folder, "{\"a\": 2}\r\n");
    EXPECT_EQ(work.ReadFile(L"runs\\2026-01-02 030405\\summary.json"), "{\"a\": 2}\r\n");
    EXPECT_FALSE(work.Exists(L"runs\\2026-01-02 030405\\summary.json.tmp"));
    WriteReportFile(folder, "<p>1</p>");
    WriteReportFile(folder, "<p>\xC3\x85</p>");
    EXPECT_EQ(work.ReadFile(L"runs\\2026-01-02 030405\\report.html"), "<p>\xC3\x85</p>");
    EXPECT_FALSE(work.Exists(L"runs\\2026-01-02 030405\\report.html.tmp"));
}

TEST(RunFolderWin, RetentionRemovesOnlyOldRunFoldersOfRunFiles) {
    TempFolder work(L"tolmar-runs");
    const std::wstring runs = EnsureRunsFolder(work.FolderPath());
    const auto folder = [&](const std::wstring& name) {
        EXPECT_TRUE(CreateDirectoryW((runs + name).c_str(), nullptr));
        return L"runs\\" + name + L"\\";
    };
    const std::wstring old = folder(L"2026-01-01 000000");
    ASSERT_TRUE(work.WriteFile(old + L"log.txt", "x"));
    ASSERT_TRUE(work.WriteFile(old + L"summary.json", "{}"));
    ASSERT_TRUE(work.WriteFile(old + L"report.html", "<p>"));
    ASSERT_TRUE(work.WriteFile(old + L"report.html.tmp", "<"));
    ASSERT_TRUE(work.WriteFile(old + L"changes.csv", "x"));
    ASSERT_TRUE(work.WriteFile(old + L"preview.csv", "x"));
    const std::wstring oldEmpty = folder(L"2026-01-01 000000-2");
    const std::wstring foreign = folder(L"2026-01-02 000000");
    ASSERT_TRUE(work.WriteFile(foreign + L"log.txt", "x"));
    ASSERT_TRUE(work.WriteFile(foreign + L"notes.docx", "x"));
    const std::wstring nested = folder(L"2026-01-03 000000");
    folder(L"2026-01-03 000000\\inner");
    const std::wstring young = folder(L"2026-06-01 000000");
    ASSERT_TRUE(work.WriteFile(young + L"log.txt", "x"));
    folder(L"archive");
    ASSERT_TRUE(work.WriteFile(L"runs\\2026-01-01 000001", "a file named like a run"));

    const std::vector<std::wstring> lines = RemoveExpiredRunFolders(runs, {2026, 7, 1, 0, 0, 0, 0}, 90);
    EXPECT_FALSE(work.Exists(old));
    EXPECT_FALSE(work.Exists(oldEmpty));
    EXPECT_TRUE(work.Exists(foreign + L"notes.docx"));
    EXPECT_TRUE(work.Exists(foreign + L"log.txt"));
    EXPECT_TRUE(work.Exists(nested + L"inner"));
    EXPECT_TRUE(work.Exists(young + L"log.txt"));
    EXPECT_TRUE(work.Exists(L"runs\\archive"));
    EXPECT_TRUE(work.Exists(L"runs\\2026-01-01 000001"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(L"2026-01-02 000000"), std::wstring::npos) << tolmar::test::Utf8(lines[0]);
    EXPECT_NE(lines[1].find(L"2026-01-03 000000"), std::wstring::npos) << tolmar::test::Utf8(lines[1]);
    EXPECT_TRUE(RemoveExpiredRunFolders(runs, {2026, 7, 1, 0, 0, 0, 0}, 0).size() == 0u);
    EXPECT_TRUE(work.Exists(young));
}

}  // namespace
}  // namespace tolmar::win
