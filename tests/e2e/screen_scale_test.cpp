// The program's windows at 100 % and 150 % display scale: started with
// LogPixels at 96 and at 144, the progress window and the test form are at
// least their 96-DPI size at 96 and at least 1.4 times it at 144.
#include "harness.h"
#include "host_windows.h"
#include "screen_scale.h"

namespace {

using namespace e2e;

SIZE ClientSize(HWND window) {
    RECT r{};
    GetClientRect(window, &r);
    return {r.right - r.left, r.bottom - r.top};
}

TEST(ScreenScale, TheWindowsGrowWithTheDisplayScaleAndTheSettingIsPutBack) {
    const std::optional<DWORD> before = ScreenScale::Stored();
    struct Case {
        DWORD dpi;
        double atLeast;  // times the 96-DPI size
    };
    for (const Case c : {Case{96, 1.0}, Case{144, 1.4}}) {
        SCOPED_TRACE("LogPixels " + std::to_string(c.dpi));
        const ScreenScale scale(c.dpi);
        ASSERT_TRUE(scale.ok());
        {
            ProgramRun run;  // the help box over the progress window
            ASSERT_TRUE(run.Start());
            const auto box = run.WaitForBox();
            ASSERT_TRUE(box) << run.log().Dump();
            ASSERT_NE(run.MainWindow(), nullptr);
            const SIZE progress = ClientSize(run.MainWindow());
            EXPECT_GE(progress.cx, 183 * c.atLeast) << "the progress window";
            EXPECT_GE(progress.cy, 107 * c.atLeast) << "the progress window";
            ASSERT_TRUE(run.Answer(*box, IDOK));
            EXPECT_EQ(run.WaitForExit(), 0u);
        }
        {
            ProgramRun run({.args = {L"TEST_MODE"}});
            auto testForm = StartTestForm(run);
            ASSERT_TRUE(testForm);
            const SIZE form = ClientSize(testForm->hwnd());
            EXPECT_GE(form.cx, 386 * c.atLeast) << "the test form";
            EXPECT_GE(form.cy, 434 * c.atLeast) << "the test form";
            if (c.dpi == 144) {
                EXPECT_LT(form.cx, 386 * 2) << "scaled, not doubled";
            }
            ASSERT_TRUE(testForm->PressEsc());
            EXPECT_EQ(run.WaitForExit(), 0u);
        }
    }
    EXPECT_EQ(ScreenScale::Stored(), before) << "the display scale is put back";
}

}  // namespace
