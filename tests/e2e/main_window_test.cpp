// The small progress window as it stands while the dispatcher's box is open.
#include "harness.h"
#include "host_windows.h"
#include "program_texts.h"

namespace {

using namespace e2e;

// Control ids of the progress window, as the program's resources lay them out.
constexpr int kProgressLinesId = 1003;
constexpr int kSearchingTextId = 1002;
constexpr int kStatusTextId = 1007;

TEST(MainWindow, PropertiesWhileTheHelpBoxIsOpen) {
    ProgramRun run;
    ASSERT_TRUE(run.Start());
    const auto box = run.WaitForBox();
    ASSERT_TRUE(box) << run.log().Dump();
    const HWND main = run.MainWindow();
    const HWND app = run.ApplicationWindow();
    ASSERT_NE(main, nullptr) << "no window of class TTolmarForm";
    ASSERT_NE(app, nullptr) << "no window of class TolmarApplication";

    EXPECT_EQ(GetWindow(main, GW_OWNER), app);
    EXPECT_EQ(TextOf(app), texts::kApplicationTitle);
    EXPECT_TRUE(IsWindowVisible(app)) << "the task-bar entry";
    RECT appRect{};
    ASSERT_TRUE(GetWindowRect(app, &appRect));
    EXPECT_TRUE(IsRectEmpty(&appRect)) << "the application window shows nothing on the screen";
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_FALSE(IsWindowEnabled(main)) << "the box keeps the program's windows disabled";
    EXPECT_EQ(TextOf(main), texts::kMainCaption);

    RECT client{};
    ASSERT_TRUE(GetClientRect(main, &client));
    EXPECT_EQ(client.right - client.left, 183);
    // 107 high, and higher only by what the searching text needs beyond its
    // 83 pixels in the face the system gives "MS Sans Serif" (the unit test
    // of the layouts measures it against its text in the program's font).
    RECT searching{};
    ASSERT_TRUE(GetClientRect(GetDlgItem(main, kSearchingTextId), &searching));
    EXPECT_GE(client.bottom - client.top, 107);
    EXPECT_EQ(client.bottom - client.top - 107, searching.bottom - 83) << "the window grew for something else";
    RECT frame{};
    ASSERT_TRUE(GetWindowRect(main, &frame));
    EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1) << "centred across";
    EXPECT_NEAR((frame.top + frame.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1) << "centred down";

    // A single fixed border with a caption and no border icons at all.
    const LONG_PTR style = GetWindowLongPtrW(main, GWL_STYLE);
    EXPECT_TRUE((style & WS_CAPTION) == WS_CAPTION) << std::hex << style;
    EXPECT_EQ(style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0) << std::hex << style;

    const auto statusText = TextOf(GetDlgItem(main, kStatusTextId));
    ASSERT_TRUE(statusText) << "no status text";
    EXPECT_PRED_FORMAT2(SameText, *statusText, texts::kVersion);
    const auto searchingText = TextOf(GetDlgItem(main, kSearchingTextId));
    ASSERT_TRUE(searchingText) << "no searching text";
    EXPECT_PRED_FORMAT2(SameText, *searchingText, texts::kSearchingText);
    const HWND list = GetDlgItem(main, kProgressLinesId);
    ASSERT_NE(list, nullptr) << "no progress list";
    EXPECT_EQ(ClassOf(list), L"ListBox");
    EXPECT_FALSE(IsWindowVisible(list)) << "the progress list is never visible";

    ASSERT_TRUE(run.Answer(*box, IDOK));
    EXPECT_EQ(run.WaitForExit(), 0u);
}

// The task bar gives a button to every visible top-level window that either
// has no owner and is no tool window, or carries WS_EX_APPWINDOW.
std::vector<HWND> TaskbarEntries(DWORD pid) {
    std::vector<HWND> entries;
    for (HWND hwnd : TopLevelWindows(pid)) {
        if (!IsWindowVisible(hwnd)) continue;
        const LONG_PTR ex = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
        if ((ex & WS_EX_APPWINDOW) || (!GetWindow(hwnd, GW_OWNER) && !(ex & WS_EX_TOOLWINDOW)))
            entries.push_back(hwnd);
    }
    return entries;
}

std::string Describe(const std::vector<HWND>& windows) {
    std::string text;
    for (HWND hwnd : windows)
        text += "\n    " + Utf8(ClassOf(hwnd)) + " " + Printable(TextOf(hwnd).value_or(L"?"));
    return text.empty() ? std::string(" none") : text;
}

// One task-bar entry, "Norvena AB, Tolmar", whatever window of the program
// is on the screen: the progress window with a box over it, or the test form.
TEST(MainWindow, OneTaskbarEntryWithTheApplicationsTitle) {
    {
        ProgramRun run;
        ASSERT_TRUE(run.Start());
        const auto box = run.WaitForBox();
        ASSERT_TRUE(box) << run.log().Dump();
        const auto entries = TaskbarEntries(run.process().pid());
        ASSERT_EQ(entries.size(), 1u) << "with the help box open:" << Describe(entries);
        EXPECT_EQ(entries.front(), run.ApplicationWindow());
        EXPECT_EQ(TextOf(entries.front()), texts::kApplicationTitle);
        EXPECT_EQ(GetWindow(box->hwnd, GW_OWNER), run.ApplicationWindow()) << "the box belongs to the program";
        ASSERT_TRUE(run.Answer(*box, IDOK));
        EXPECT_EQ(run.WaitForExit(), 0u);
    }
    {
        ProgramRun run({.args = {L"TEST_MODE"}});
        auto testForm = StartTestForm(run);
        ASSERT_TRUE(testForm);
        const auto entries = TaskbarEntries(run.process().pid());
        ASSERT_EQ(entries.size(), 1u) << "with the test form open:" << Describe(entries);
        EXPECT_EQ(entries.front(), run.ApplicationWindow());
        EXPECT_EQ(TextOf(entries.front()), texts::kApplicationTitle);
        EXPECT_EQ(GetWindow(testForm->hwnd(), GW_OWNER), run.ApplicationWindow());
        ASSERT_TRUE(run.Press(testForm->hwnd(), form::kClose));
        EXPECT_EQ(run.WaitForExit(), 0u);
    }
}

}  // namespace
