// The small progress window as it stands while the dispatcher's box is open.
#include "harness.h"
#include "program_texts.h"

namespace {

using namespace e2e;

constexpr int kListBox1 = 1003;
constexpr int kLabel1 = 1002;
constexpr int kLabel2 = 1007;

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
    EXPECT_FALSE(IsWindowVisible(app));
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_FALSE(IsWindowEnabled(main)) << "the box keeps the program's windows disabled";
    EXPECT_EQ(TextOf(main), texts::kMainCaption);

    RECT client{};
    ASSERT_TRUE(GetClientRect(main, &client));
    EXPECT_EQ(client.right - client.left, 183);
    EXPECT_EQ(client.bottom - client.top, 107);
    RECT frame{};
    ASSERT_TRUE(GetWindowRect(main, &frame));
    EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1) << "centred across";
    EXPECT_NEAR((frame.top + frame.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1) << "centred down";

    // A single fixed border with a caption and no border icons at all.
    const LONG_PTR style = GetWindowLongPtrW(main, GWL_STYLE);
    EXPECT_TRUE((style & WS_CAPTION) == WS_CAPTION) << std::hex << style;
    EXPECT_EQ(style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0) << std::hex << style;

    const auto label2 = TextOf(GetDlgItem(main, kLabel2));
    ASSERT_TRUE(label2) << "no Label2";
    EXPECT_PRED_FORMAT2(SameText, *label2, texts::kVersion);
    const auto label1 = TextOf(GetDlgItem(main, kLabel1));
    ASSERT_TRUE(label1) << "no Label1";
    EXPECT_PRED_FORMAT2(SameText, *label1, texts::kLabel1);
    const HWND list = GetDlgItem(main, kListBox1);
    ASSERT_NE(list, nullptr) << "no ListBox1";
    EXPECT_EQ(ClassOf(list), L"ListBox");
    EXPECT_FALSE(IsWindowVisible(list)) << "the progress list is never visible";

    ASSERT_TRUE(run.Answer(*box, IDOK));
    EXPECT_EQ(run.WaitForExit(), 0u);
}

}  // namespace
