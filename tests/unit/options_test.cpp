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

TEST(StartOptions, ParallelAndRateTakeWholeNumbersInRange) {
    const StartOptions o = ParseStartOptions({L"UPDATE_ALL", L"/Parallel:8", L"/RATE:250"});
    EXPECT_EQ(o.parallel, 8u);
    EXPECT_EQ(o.ratePerSecond, 250u);
    EXPECT_TRUE(o.malformed.empty());
    EXPECT_EQ(ParseStartOptions({L"UPDATE_ALL", L"/parallel:1"}).parallel, 1u);
    EXPECT_EQ(ParseStartOptions({L"UPDATE_ALL", L"/parallel:16"}).parallel, 16u);
    EXPECT_FALSE(ParseStartOptions({L"UPDATE_ALL"}).parallel);

    struct Case {
        const wchar_t* option;
    } refused[] = {{L"/parallel"},   {L"/parallel:"},    {L"/parallel:0"},    {L"/parallel:17"},
                   {L"/parallel:-4"}, {L"/parallel:4x"},  {L"/parallel: 4"},   {L"/parallel:4294967300"},
                   {L"/rate"},        {L"/rate:0"},       {L"/rate:10001"},    {L"/rate:1.5"}};
    for (const Case& c : refused) {
        const StartOptions bad = ParseStartOptions({L"UPDATE_ALL", c.option});
        EXPECT_EQ(bad.malformed, std::vector<std::wstring>{c.option}) << ToUtf8(c.option);
        EXPECT_FALSE(bad.parallel || bad.ratePerSecond) << ToUtf8(c.option);
    }
    // Given twice: refused, even with the same value.
    const StartOptions twice = ParseStartOptions({L"UPDATE_ALL", L"/parallel:4", L"/parallel:4"});
    EXPECT_EQ(twice.malformed, std::vector<std::wstring>{L"/parallel:4"});
}
