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
