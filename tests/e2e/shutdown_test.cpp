// When the program ends it deletes the "*.err" files of its working folder,
// and only those; what cannot be deleted is reported and the end goes on.
#include "harness.h"
#include "program_texts.h"

namespace {

using namespace e2e;

// The system's text for an error code, as the program trims it: no trailing
// blanks, line breaks or full stops.
std::wstring SystemTextShort(DWORD code) {
    wchar_t buffer[1025] = {};
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                   buffer, 1025, nullptr);
    std::wstring text(buffer, n);
    while (!text.empty() && (text.back() <= L' ' || text.back() == L'.')) text.pop_back();
    return text;
}

TEST(ShutDown, ErrFilesOfTheWorkingFolderAreDeletedOthersKept) {
    ProgramRun run;
    TempFolder& folder = run.folder();
    // "notes.error", "x.errata" and "long-name.errors" have short 8.3 names
    // ending in ".ERR", which a wildcard search matches too.
    for (const wchar_t* name :
         {L"a.err", L"B.ERR", L"keep.txt", L"a.err.txt", L"notes.error", L"x.errata", L"long-name.errors"})
        ASSERT_TRUE(folder.WriteFile(name, "content\r\n"));
    ASSERT_TRUE(folder.MakeFolder(L"sub"));
    ASSERT_TRUE(folder.WriteFile(L"sub\\inner.err", "inner"));
    ASSERT_TRUE(run.Start());
    const Outcome out = run.Finish(IDOK);
    ASSERT_EQ(out.exitCode, 0u) << run.log().Dump();
    EXPECT_EQ(out.boxes.size(), 1u) << run.log().Dump();

    EXPECT_EQ(folder.Entries(), (std::vector<std::wstring>{L"a.err.txt", L"keep.txt", L"long-name.errors",
                                                           L"notes.error", L"sub", L"x.errata"}));
    EXPECT_EQ(folder.ReadFile(L"keep.txt"), std::optional<std::string>("content\r\n"));
    EXPECT_TRUE(folder.Exists(L"sub\\inner.err")) << "only the working folder itself is cleaned";
}

TEST(ShutDown, FoldersNamedLikeErrFilesAreEachReportedAndTheRunStillEnds) {
    ProgramRun run({.progress = ProgressMode::Responsive});
    TempFolder& folder = run.folder();
    // What deleting a folder as a file fails with on this system.
    ASSERT_TRUE(folder.MakeFolder(L"probe"));
    ASSERT_FALSE(DeleteFileW((folder / L"probe").c_str()));
    const DWORD code = GetLastError();
    ASSERT_TRUE(RemoveDirectoryW((folder / L"probe").c_str()));

    // Two of them, so that a second report is due whichever order the file
    // system lists the entries in.
    for (const wchar_t* name : {L"x.err", L"y.err"}) ASSERT_TRUE(folder.MakeFolder(name));
    for (const wchar_t* name : {L"a.err", L"z.err", L"keep.txt"}) ASSERT_TRUE(folder.WriteFile(name, ""));
    ASSERT_TRUE(run.Start());

    const auto help = run.WaitForBox();
    ASSERT_TRUE(help) << run.log().Dump();
    const HWND app = run.ApplicationWindow();
    ASSERT_TRUE(run.Answer(*help, IDOK));
    std::vector<std::wstring> reports;
    for (int i = 0; i < 2; ++i) {
        const auto report = run.WaitForBox();
        ASSERT_TRUE(report) << "report " << i + 1 << " of 2 missing; recorded:\n" << run.log().Dump();
        EXPECT_EQ(report->owner, app) << "the deletion report is owned by the application window";
        EXPECT_EQ(report->buttons, std::vector<int>{IDOK}) << ::testing::PrintToString(*report);
        reports.push_back(report->text);
        ASSERT_TRUE(run.Answer(*report, IDOK));
    }
    EXPECT_EQ(run.WaitForExit(), 0u);

    // The deletion reports are not the program's own boxes: no progress
    // message goes before them.
    const std::wstring reportStart = texts::kDeleteFailed + run.AppPath();
    EXPECT_TRUE(MatchesSequence(run.log(), {expect::Progress(app, 0), expect::Box(L"Information", texts::kHelp),
                                            expect::Closed(IDOK), expect::BoxStartingWith(L"Error!", reportStart),
                                            expect::Closed(IDOK), expect::BoxStartingWith(L"Error!", reportStart),
                                            expect::Closed(IDOK), expect::Exit(0)}));
    std::sort(reports.begin(), reports.end());
    ASSERT_EQ(reports.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const std::wstring name = i == 0 ? L"x.err" : L"y.err";
        EXPECT_PRED_FORMAT2(SameText, reports[i], reportStart + name + L"\r\n" + SystemTextShort(code));
    }
    EXPECT_EQ(folder.Entries(), (std::vector<std::wstring>{L"keep.txt", L"x.err", L"y.err"}));
}

}  // namespace
