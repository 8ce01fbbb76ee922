// Before each of its boxes the program asks the suite's progress window to
// step back. A missing window is no failure, and a hung one delays the box
// only for a bounded time.
#include "harness.h"
#include "program_texts.h"

namespace {

using namespace e2e;

TEST(ProgressApp, WithoutAProgressWindowNothingIsSentAndTheBoxAppears) {
    ProgramRun run;
    // A top-level window of a neighbouring class sees anything broadcast.
    EventLog decoyLog;
    ProgressApp decoy(decoyLog, false, L"TProgressFormG3");
    ASSERT_TRUE(decoy.ok());
    ASSERT_TRUE(run.Start());
    const Outcome out = run.Finish(IDOK);
    EXPECT_EQ(out.exitCode, 0u);
    EXPECT_TRUE(MatchesSequence(run.log(), {expect::Box(L"Information", texts::kHelp), expect::Closed(IDOK),
                                            expect::Exit(0)}));
    EXPECT_TRUE(decoyLog.Events().empty()) << decoyLog.Dump();
}

TEST(ProgressApp, AHungProgressWindowDelaysTheBoxForABoundedTime) {
    ProgramRun run({.progress = ProgressMode::Hung});
    ASSERT_TRUE(run.Start());
    const auto box = run.WaitForBox(Ms(20000));
    ASSERT_TRUE(box) << "no box within 20 s; recorded:\n" << run.log().Dump();
    const auto delay = std::chrono::duration_cast<Ms>(box->seen - run.started());
    RecordProperty("start_to_box_ms", static_cast<int>(delay.count()));
    EXPECT_LT(delay, Ms(8000)) << "the box came " << delay.count() << " ms after the start";
    EXPECT_PRED_FORMAT2(SameText, box->text, texts::kHelp);
    EXPECT_TRUE(run.log().Events(EventKind::ProgressMessage).empty()) << "a hung window handled a message";
    ASSERT_TRUE(run.Answer(*box, IDOK));
    EXPECT_EQ(run.WaitForExit(), 0u);
}

}  // namespace
