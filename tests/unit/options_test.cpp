#include <gtest/gtest.h>

#include "app/options.h"
#include "tools/text.h"

using namespace tolmar;

TEST(StartOptions, WindowsStyleOptionsAfterTheJobWord) {
    const StartOptions o =
        ParseStartOptions({L"UPDATE_ALL", L"klinik.udl", L"/Preview", L"/UNATTENDED", L"/undo:C:\\k\\changes 1.csv"});
    EXPECT_TRUE(o.preview);
    EXPECT_TRUE(o.unattended);
    ASSERT_TRUE(o.undoFile);
    EXPECT_EQ(*o.undoFile, L"C:\\k\\changes 1.csv");
    EXPECT_TRUE(o.unknown.empty());
    EXPECT_TRUE(o.malformed.empty());
}

TEST(StartOptions, NoOptionsChangeNothing) {
    const StartOptions o = ParseStartOptions({L"UPDATE_ALL", L"klinik.udl"});
    EXPECT_FALSE(o.preview || o.unattended || o.undoFile);
    // The first parameter is the job word, never an option.
    EXPECT_FALSE(ParseStartOptions({L"/preview"}).preview);
}

TEST(StartOptions, UnknownAndMalformedOptionsAreKeptForTheHelpBox) {
    const StartOptions o = ParseStartOptions(
        {L"UPDATE_ALL", L"/verbose", L"/preview:yes", L"/undo", L"/undo:", L"/undo:a.csv", L"/undo:b.csv", L"/"});
    EXPECT_EQ(o.unknown, (std::vector<std::wstring>{L"/verbose", L"/"}));
    // /undo takes a file, once: every later /undo is refused too.
    EXPECT_EQ(o.malformed,
              (std::vector<std::wstring>{L"/preview:yes", L"/undo", L"/undo:", L"/undo:a.csv", L"/undo:b.csv"}));
    EXPECT_FALSE(o.undoFile);
    EXPECT_FALSE(o.preview);
}

TEST(StartOptions, ParallelRateAndOutageTakeWholeNumbersInRange) {
    const StartOptions o = ParseStartOptions({L"UPDATE_ALL", L"/Parallel:8", L"/RATE:250", L"/Outage:30"});
    EXPECT_EQ(o.parallel, 8u);
    EXPECT_EQ(o.ratePerSecond, 250u);
    EXPECT_EQ(o.outageMinutes, 30u);
    EXPECT_TRUE(o.malformed.empty());
    EXPECT_EQ(ParseStartOptions({L"UPDATE_ALL", L"/parallel:1"}).parallel, 1u);
    EXPECT_EQ(ParseStartOptions({L"UPDATE_ALL", L"/parallel:16"}).parallel, 16u);
    EXPECT_EQ(ParseStartOptions({L"UPDATE_ALL", L"/outage:1"}).outageMinutes, 1u);
    EXPECT_EQ(ParseStartOptions({L"UPDATE_ALL", L"/outage:1440"}).outageMinutes, 1440u);
    EXPECT_FALSE(ParseStartOptions({L"UPDATE_ALL"}).parallel);
    EXPECT_FALSE(ParseStartOptions({L"UPDATE_ALL"}).outageMinutes);

    struct Case {
        const wchar_t* option;
    } refused[] = {{L"/parallel"},   {L"/parallel:"},    {L"/parallel:0"},    {L"/parallel:17"},
                   {L"/parallel:-4"}, {L"/parallel:4x"},  {L"/parallel: 4"},   {L"/parallel:4294967300"},
                   {L"/rate"},        {L"/rate:0"},       {L"/rate:10001"},    {L"/rate:1.5"},
                   {L"/outage"},      {L"/outage:"},      {L"/outage:0"},      {L"/outage:1441"},
                   {L"/outage:-1"},   {L"/outage:10m"},   {L"/outage:+5"},     {L"/outage:0000010000"}};
    for (const Case& c : refused) {
        const StartOptions bad = ParseStartOptions({L"UPDATE_ALL", c.option});
        EXPECT_EQ(bad.malformed, std::vector<std::wstring>{c.option}) << ToUtf8(c.option);
        EXPECT_FALSE(bad.parallel || bad.ratePerSecond || bad.outageMinutes) << ToUtf8(c.option);
    }
    // Given twice: refused, even with the same value.
    const StartOptions twice = ParseStartOptions({L"UPDATE_ALL", L"/parallel:4", L"/parallel:4"});
    EXPECT_EQ(twice.malformed, std::vector<std::wstring>{L"/parallel:4"});
    const StartOptions twiceOutage = ParseStartOptions({L"UPDATE_ALL", L"/outage:5", L"/OUTAGE:7"});
    EXPECT_EQ(twiceOutage.malformed, std::vector<std::wstring>{L"/OUTAGE:7"});
    EXPECT_EQ(twiceOutage.outageMinutes, 5u);
}

TEST(StartOptions, WhichOptionsGoWithWhichJob) {
    struct Case {
        std::vector<std::wstring> parameters;
        Job job;
        bool fit;
    } cases[] = {
        {{}, Job::Help, true},
        {{L"UPDATE_ALL"}, Job::UpdateAll, true},
        {{L"update_all", L"/preview", L"/unattended", L"/parallel:4", L"/rate:5", L"/outage:15"}, Job::UpdateAll,
         true},
        {{L"UPDATE_ALL", L"/undo:c.csv", L"/unattended"}, Job::UpdateAll, true},
        {{L"UPDATE_ALL", L"/preview", L"/undo:c.csv"}, Job::UpdateAll, false},  // one or the other
        {{L"UPDATE_ALL", L"/verbose"}, Job::UpdateAll, false},                  // unknown
        {{L"UPDATE_ALL", L"/parallel:99"}, Job::UpdateAll, false},              // malformed
        {{L"PERSONNR:195001011234"}, Job::PersonLookup, true},
        {{L"PERSONNR:195001011234", L"/unattended"}, Job::PersonLookup, false},  // options are UPDATE_ALL's
        {{L"TEST_MODE", L"/preview"}, Job::TestMode, false},
        {{L"TEST_MODE", L"/rate:3"}, Job::TestMode, false},
        {{L"PERSONNR:195001011234", L"/outage:5"}, Job::PersonLookup, false},
        {{L"", L"/parallel:2"}, Job::Help, false},
        {{L"TEST_MODE", L"extra"}, Job::TestMode, true},  // a plain parameter is no option
    };
    for (const Case& c : cases) {
        const std::string name = c.parameters.empty() ? "(none)" : ToUtf8(c.parameters[0]);
        const StartPlan plan = ReadStartPlan(c.parameters);
        EXPECT_EQ(plan.request.job, c.job) << name;
        EXPECT_EQ(plan.optionsFit, c.fit) << name;
        EXPECT_EQ(OptionsFitJob(ParseStartOptions(c.parameters), c.job), c.fit) << name;
    }
    EXPECT_TRUE(ReadStartPlan({L"UPDATE_ALL", L"/rate:7"}).options.ratePerSecond == 7u);
}

// /unattended anywhere in the list means nobody is at the screen; only a valid
// UPDATE_ALL run goes ahead, every other such list is refused without a box.
TEST(StartOptions, UnattendedAnywhereIsNoticedAndOnlyAValidRunGoesAhead) {
    const struct {
        std::vector<std::wstring> parameters;
        bool unattended, refused;
    } cases[] = {
        {{L"UPDATE_ALL", L"klinik.udl", L"/unattended"}, true, false},
        {{L"update_all", L"/Unattended", L"/parallel:4"}, true, false},
        {{L"/unattended", L"UPDATE_ALL", L"klinik.udl"}, true, true},
        {{L"/UNATTENDED"}, true, true},
        {{L"UPDATE_ALL", L"/unattended:yes"}, true, true},
        {{L"UPDATE_ALL", L"/unattended", L"/bogus"}, true, true},
        {{L"PERSONNR:194501011234", L"/unattended"}, true, true},
        {{L"TEST_MODE", L"/unattended"}, true, true},
        {{L"UPDATE_ALL", L"unattended"}, false, false},
        {{L"UPDATE_ALL", L"/preview"}, false, false},
        {{L"/preview", L"UPDATE_ALL"}, false, false},
        {{}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.parameters.empty() ? std::wstring() : c.parameters[0]) + " ... " +
                     std::to_string(c.parameters.size()));
        const StartPlan plan = ReadStartPlan(c.parameters);
        EXPECT_EQ(plan.unattended, c.unattended);
        EXPECT_EQ(plan.RefusedUnattended(), c.refused);
    }
}
