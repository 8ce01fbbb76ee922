// Start parameter 1 selects the one job of a run; anything else shows the
// list of valid parameters. Every run ends with the program's end.
#include <algorithm>

#include "harness.h"
#include "program_texts.h"

namespace {

using namespace e2e;

TEST(StartUp, NoParameterShowsTheHelpAfterOneProgressMessageAndEndsOnOk) {
    ProgramRun run({.progress = ProgressMode::Responsive});
    ASSERT_TRUE(run.Start());
    const auto box = run.WaitForBox();
    ASSERT_TRUE(box) << "no box appeared; recorded:\n" << run.log().Dump();
    const HWND app = run.ApplicationWindow();
    ASSERT_NE(app, nullptr) << "no window of class TolmarApplication";
    // owned by the application window: the box shares the program's one task-bar entry
    EXPECT_EQ(box->owner, app) << ::testing::PrintToString(*box);
    EXPECT_EQ(box->buttons, std::vector<int>{IDOK}) << ::testing::PrintToString(*box);
    // The dispatcher runs on a 500 ms timer armed when the window is first shown.
    EXPECT_GE(box->seen - run.started(), Ms(500));
    EXPECT_TRUE(run.process().Running()) << "the program must wait for the answer";

    ASSERT_TRUE(run.Answer(*box, IDOK));
    EXPECT_EQ(run.WaitForExit(), 0u);
    EXPECT_TRUE(MatchesSequence(run.log(), {expect::Progress(app, 0), expect::Box(L"Information", texts::kHelp),
                                            expect::Closed(IDOK), expect::Exit(0)}));
}

// The register is out of reach in these runs (a closed local port), so a
// lookup that is reached fails with -400 at once.
constexpr std::string_view kUnreachableRegisterIni =
    "[PopulationManager]\r\nLOG_ADDR=http://127.0.0.1:9/PopmWs/WSPopMan.asmx\r\n";

enum class Shown { Help, InvalidNumber, LookupFailed };

struct DispatchCase {
    const char* name;
    std::vector<std::wstring> args;
    Shown shown;
    std::vector<std::wstring> extraFiles = {};  // data-link files put into the working folder
};

void PrintTo(const DispatchCase& c, std::ostream* os) { *os << c.name; }

const DispatchCase kDispatchCases[] = {
    {"UpperCaseMarkerValidNumber", {L"PERSONNR:19121212-1212"}, Shown::LookupFailed},
    {"LowerCaseMarkerValidNumber", {L"personnr:19121212-1212"}, Shown::LookupFailed},
    {"TextBeforeTheMarker", {L"xPERSONNR:19121212-1212"}, Shown::LookupFailed},
    {"TwelveDigitsWithoutHyphen", {L"PERSONNR:191212121212"}, Shown::LookupFailed},
    {"TwelveLettersLeftToTheLookup", {L"PERSONNR:ABCDEFGHIJKL"}, Shown::LookupFailed},
    {"TwoHyphens", {L"PERSONNR:1912-1212-1212"}, Shown::InvalidNumber},
    {"TenDigits", {L"PERSONNR:1912121212"}, Shown::InvalidNumber},
    {"EmptyNumber", {L"PERSONNR:"}, Shown::InvalidNumber},
    {"TestModeWithOneMoreCharacter", {L"TEST_MODEX"}, Shown::Help},
    {"DataLinkFileFirstUpdateAllSecond", {L"clinic.udl", L"UPDATE_ALL"}, Shown::Help, {L"clinic.udl"}},
    {"MarkerOnlyInTheSecondParameter", {L"HELLO", L"PERSONNR:19121212-1212"}, Shown::Help},
};

class Dispatch : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(Dispatch, ShowsOneBoxThenEnds) {
    const DispatchCase& c = GetParam();
    ProgramRun run({.args = c.args, .progress = ProgressMode::Responsive});
    ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", kUnreachableRegisterIni));
    for (const auto& name : c.extraFiles)
        ASSERT_TRUE(run.folder().WriteFile(name, "[oledb]\r\nProvider=SQLOLEDB.1;Data Source=nowhere\r\n"));
    ASSERT_TRUE(run.Start());
    std::optional<std::wstring> captionWhileOpen;
    run.Finish(IDOK, kBoxTimeout + kExitTimeout, [&](const Box&) { captionWhileOpen = TextOf(run.MainWindow()); });
    const HWND app = run.ApplicationWindow();

    const Expected box = c.shown == Shown::Help          ? expect::Box(L"Information", texts::kHelp)
                         : c.shown == Shown::InvalidNumber ? expect::Box(L"Information", texts::kInvalidNumber)
                                                           : expect::BoxStartingWith(L"Information", texts::kLookupFailedPrefix);
    // The help is what was asked for (0); a refused number or a failed lookup is a failure (2).
    const DWORD exitCode = c.shown == Shown::Help ? 0 : 2;
    EXPECT_TRUE(
        MatchesSequence(run.log(), {expect::Progress(app, 0), box, expect::Closed(IDOK), expect::Exit(exitCode)}));
    // Only a lookup that is really made sets the searching caption; a number
    // of the wrong length is refused before that.
    ASSERT_TRUE(captionWhileOpen) << "the main window's caption could not be read while the box was open";
    EXPECT_PRED_FORMAT2(SameText, *captionWhileOpen,
                        c.shown == Shown::LookupFailed ? texts::kSearchingCaption : texts::kMainCaption);
    // No job ran to its end: nothing is added to the working folder.
    std::vector<std::wstring> files = c.extraFiles;
    files.push_back(L"tolmar.ini");
    std::sort(files.begin(), files.end());
    EXPECT_EQ(run.folder().Entries(), files);
}

INSTANTIATE_TEST_SUITE_P(Parameter1, Dispatch, ::testing::ValuesIn(kDispatchCases),
                         [](const ::testing::TestParamInfo<DispatchCase>& test) { return std::string(test.param.name); });

// "TEST_MODE" in any letter case: the main window steps aside for the test
// form; when the operator closes the form, the program ends without a box.
class DispatchToTestForm : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(DispatchToTestForm, MainWindowHiddenWhileTheFormIsOpenThenEnds) {
    ProgramRun run({.args = {GetParam()}, .progress = ProgressMode::Responsive});
    ASSERT_TRUE(run.Start());
    const auto form = run.WaitForForm();
    ASSERT_TRUE(form) << "no form appeared; recorded:\n" << run.log().Dump();
    const HWND main = run.MainWindow();
    ASSERT_NE(main, nullptr);
    EXPECT_FALSE(IsWindowVisible(main)) << "the main window stays visible beside the test form";
    EXPECT_NE(form->hwnd, main);
    ASSERT_TRUE(run.Press(form->hwnd, IDCANCEL));
    EXPECT_EQ(run.WaitForExit(), 0u);
    EXPECT_TRUE(MatchesSequence(run.log(), {expect::Form(), expect::Closed(IDCANCEL), expect::Exit(0)}));
}

INSTANTIATE_TEST_SUITE_P(Parameter1, DispatchToTestForm, ::testing::Values(L"TEST_MODE", L"test_mode"),
                         [](const ::testing::TestParamInfo<const wchar_t*>& test) {
                             return test.index == 0 ? std::string("UpperCase") : std::string("LowerCase");
                         });

// "UPDATE_ALL" in any letter case starts the update run, whatever it then
// asks; a user who dismisses everything gets the program to end.
class DispatchToUpdateRun : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(DispatchToUpdateRun, StartsTheUpdateRunNotTheHelpAndEndsWhenDismissed) {
    ProgramRun run({.args = {GetParam()}, .progress = ProgressMode::Responsive});
    ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", kUnreachableRegisterIni));
    ASSERT_TRUE(run.Start());
    const Outcome out = run.DismissUntilExit();
    EXPECT_EQ(out.exitCode, 2u) << "the run could not connect: " << run.log().Dump();
    EXPECT_FALSE(out.boxes.empty() && out.forms.empty()) << "the update run showed nothing at all";
    for (const Box& box : out.boxes) {
        EXPECT_NE(box.text, texts::kHelp) << "the help text instead of the update run";
        EXPECT_NE(box.text, texts::kInvalidNumber);
    }
}

INSTANTIATE_TEST_SUITE_P(Parameter1, DispatchToUpdateRun, ::testing::Values(L"UPDATE_ALL", L"update_all"),
                         [](const ::testing::TestParamInfo<const wchar_t*>& test) {
                             return test.index == 0 ? std::string("UpperCase") : std::string("LowerCase");
                         });

}  // namespace
