#include <gtest/gtest.h>

#include "app/run_event.h"

using namespace tolmar;

TEST(RunEvents, TheEndEventFollowsTheExitCodeUnlessTheFilesFailed) {
    const struct {
        int exitCode;
        bool filesFailed;
        unsigned id;
        EventType type;
    } cases[] = {
        {0, false, 200, EventType::Information}, {1, false, 201, EventType::Warning},
        {2, false, 202, EventType::Error},       {3, false, 203, EventType::Error},
        {7, false, 202, EventType::Error},       {-1, false, 202, EventType::Error},
        {0, true, 204, EventType::Error},        {1, true, 204, EventType::Error},
        {3, true, 204, EventType::Error},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.exitCode) + (c.filesFailed ? " files failed" : ""));
        EXPECT_EQ(EndedEventId(c.exitCode, c.filesFailed), c.id);
        RunEnd end;
        end.exitCode = c.exitCode;
        if (c.filesFailed) end.filesFailure = L"Körningens logg kunde inte skrivas";
        const RunEvent event = RunEndedEvent(end);
        EXPECT_EQ(event.id, c.id);
        EXPECT_EQ(event.type, c.type);
    }
}

// The end event carries the exit code, the counts, the run folder and why
// it stopped; a run whose files failed carries that too, after the reason.
TEST(RunEvents, TheEndEventCarriesCountsExitCodeFolderAndReason) {
    RunEnd end;
    end.exitCode = 2;
    end.counts.patients = 250;
    end.counts.saved = 101;
    end.counts.notLookedUp = 149;
    end.runFolder = L"C:\\klinik\\runs\\2026-12-10 020003\\";
    end.reason = L"Det gick inte att söka i befolkningsregistret!";
    end.filesFailure = L"Felfilen kunde inte skrivas: disken är full";
    const RunEvent event = RunEndedEvent(end);
    ASSERT_EQ(event.strings.size(), 4u);
    EXPECT_EQ(event.strings[0], L"2");
    EXPECT_EQ(event.strings[1], L"Antal patienter 250, uppslagna 0, sparade 101, oförändrade 0, ej funna 0, "
                                L"misslyckade uppslagningar 0, misslyckade sparanden 0, felaktiga personnummer 0, "
                                L"delade PATIENTNR 0, ej uppslagna 149");
    EXPECT_EQ(event.strings[2], end.runFolder);
    EXPECT_EQ(event.strings[3], end.reason + L"\r\n" + end.filesFailure);

    RunEnd undo;
    undo.undo = true;
    undo.counts.restored = 4;
    undo.counts.notRestored = 1;
    const RunEvent undone = RunEndedEvent(undo);
    EXPECT_TRUE(undone.strings[1].ends_with(L", återställda 4, lämnade 1"));
    EXPECT_EQ(undone.strings[2], L"(ingen)");
    EXPECT_EQ(undone.strings[3], L"");
}

TEST(RunEvents, TheStartEventNamesTheJobAndTheFolder) {
    const RunEvent event = RunStartedEvent(L"UPDATE_ALL /preview /unattended", L"D:\\k\\runs\\2026-12-10 020003-2\\");
    EXPECT_EQ(event.id, 100u);
    EXPECT_EQ(event.type, EventType::Information);
    EXPECT_EQ(event.strings,
              (std::vector<std::wstring>{L"UPDATE_ALL /preview /unattended", L"D:\\k\\runs\\2026-12-10 020003-2\\"}));
    EXPECT_EQ(RunStartedEvent(L"UPDATE_ALL", L"").strings[1], L"(ingen)");
}

// A reason comes from outside (a driver's or the register's text): the
// event takes a bounded string without control characters other than the
// line breaks.
TEST(RunEvents, OutsideTextIsBoundedAndControlCharactersBlanked) {
    RunEnd end;
    end.exitCode = 2;
    end.reason = std::wstring(L"a\x01" L"b\tc\r\nd\x7F") + std::wstring(3 * kMaxEventStringLength, L'x');
    const std::wstring reason = RunEndedEvent(end).strings[3];
    ASSERT_EQ(reason.size(), kMaxEventStringLength);
    EXPECT_EQ(reason.substr(0, 9), L"a b c\r\nd ");
    EXPECT_TRUE(reason.ends_with(L"xx...")) << testing::PrintToString(reason.substr(reason.size() - 10));
    const std::wstring job = RunStartedEvent(std::wstring(kMaxEventStringLength, L'j'), L"f").strings[0];
    EXPECT_EQ(job, std::wstring(kMaxEventStringLength, L'j'));
}
