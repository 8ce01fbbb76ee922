// The run folder's names, the log's lines, the summary and retention.
#include "app/run_record.h"

#include <gtest/gtest.h>

#include "tools/json_writer.h"
#include "tools/text.h"

namespace tolmar {
namespace {

LocalTime At(int y, int mo, int d, int h, int mi, int s, int offset = 60) { return {y, mo, d, h, mi, s, offset}; }

TEST(RunFolderNames, NameAndSuffixAndBack) {
    const LocalTime t = At(2026, 12, 10, 2, 0, 3);
    EXPECT_EQ(RunFolderName(t, 1), L"2026-12-10 020003");
    EXPECT_EQ(RunFolderName(t, 2), L"2026-12-10 020003-2");
    EXPECT_EQ(RunFolderName(t, 12), L"2026-12-10 020003-12");
    for (int attempt : {1, 2, 37}) {
        const auto back = RunFolderTime(RunFolderName(t, attempt));
        ASSERT_TRUE(back) << attempt;
        EXPECT_EQ(RunFolderName(*back, 1), L"2026-12-10 020003");
    }
}

TEST(RunFolderNames, OnlyRunFolderNamesAreRunFolders) {
    const std::wstring_view others[] = {
        L"", L"2026-12-10", L"2026-12-10 02000", L"2026-12-10 0200031", L"2026-12-10T020003",
        L"2026-12-10 020003-1", L"2026-12-10 020003-02", L"2026-12-10 020003-", L"2026-12-10 020003 -2",
        L"2026-12-10 020003-x", L"2026-13-10 020003", L"2026-02-30 020003", L"2027-02-29 020003",
        L"2026-12-10 240003", L"2026-12-10 026003", L"2026-12-10 020060", L"2026-12-1a 020003",
        L"2026/12/10 020003", L"..", L"2026-12-10 020003-9999999",
    };
    for (std::wstring_view name : others) EXPECT_FALSE(RunFolderTime(name)) << ToUtf8(name);
    EXPECT_TRUE(RunFolderTime(L"2028-02-29 235959"));
}

TEST(RunLog, TimeFormatsAndContinuationLines) {
    const LocalTime t = At(2026, 1, 2, 3, 4, 5, 60);
    EXPECT_EQ(LogTimeText(t), L"2026-01-02 03:04:05");
    EXPECT_EQ(IsoTimeText(t), L"2026-01-02T03:04:05+01:00");
    EXPECT_EQ(IsoTimeText(At(2026, 7, 1, 0, 0, 0, -330)), L"2026-07-01T00:00:00-05:30");
    EXPECT_EQ(IsoTimeText(At(2026, 7, 1, 0, 0, 0, 0)), L"2026-07-01T00:00:00+00:00");
    const std::wstring pad(20, L' ');
    const struct {
        std::wstring_view line;
        std::wstring text;
    } cases[] = {
        {L"Antal poster redigerade: 2", L"2026-01-02 03:04:05 Antal poster redigerade: 2\r\n"},
        {L"", L"2026-01-02 03:04:05 \r\n"},
        {L"a\r\rb", L"2026-01-02 03:04:05 a\r\n" + pad + L"\r\n" + pad + L"b\r\n"},
        {L"a\r\nb\nc", L"2026-01-02 03:04:05 a\r\n" + pad + L"b\r\n" + pad + L"c\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(LogLineText(t, c.line), c.text) << ToUtf8(c.line);
}

TEST(JsonWriter, StringsAreEscaped) {
    const struct {
        std::wstring text;
        std::string json;
    } cases[] = {
        {L"", "\"\""},
        {L"Åre \"x\" C:\\runs", "\"\xC3\x85re \\\"x\\\" C:\\\\runs\""},
        {L"a\r\n\t\b\f", "\"a\\r\\n\\t\\b\\f\""},
        {std::wstring(1, L'\x01') + L'\x1f' + L'\x7f' + L'\x9f', "\"\\u0001\\u001f\\u007f\\u009f\""},
        {L"</script>/", "\"</script>/\""},
        {FromUtf8("\xF0\x9F\x98\x80"), "\"\xF0\x9F\x98\x80\""},  // U+1F600, outside the BMP
    };
    for (const auto& c : cases) EXPECT_EQ(JsonString(c.text), c.json) << c.json;
    // A NUL inside the text is kept as an escape, never the end of the string.
    EXPECT_EQ(JsonString(std::wstring(L"a\0b", 3)), "\"a\\u0000b\"");
    if constexpr (sizeof(wchar_t) == 2) {
        const std::wstring lone(1, static_cast<wchar_t>(0xD83D));
        EXPECT_EQ(JsonString(lone), "\"\xEF\xBF\xBD\"");  // no UTF-8 holds it: U+FFFD
    }
}

TEST(JsonWriter, AnObjectHoldsItsMembersInOrder) {
    JsonObject o;
    o.Add("a", L"x").Add("n", 42).Add("t", true).AddNull("z").Add("s", std::optional<std::wstring>());
    EXPECT_EQ(o.Text(), "{\r\n  \"a\": \"x\",\r\n  \"n\": 42,\r\n  \"t\": true,\r\n  \"z\": null,\r\n  \"s\": null\r\n}\r\n");
    EXPECT_EQ(JsonObject().Text(), "{}\r\n");
}

TEST(RunSummaryJson, RunningThenEnded) {
    RunSummary s;
    s.version = L"1.2.3";
    s.mode = RunKind::Preview;
    s.options = {L"/preview", L"/rate:5"};
    s.started = At(2026, 12, 10, 2, 0, 3);
    s.counts.patients = 7;
    s.counts.saved = 2;
    const std::string running = SummaryJson(s);
    for (const char* member : {"\"version\": \"1.2.3\"", "\"mode\": \"preview\"",
                               "\"options\": [\"/preview\", \"/rate:5\"]", "\"started\": \"2026-12-10T02:00:03+01:00\"",
                               "\"ended\": null", "\"exitCode\": null", "\"outcome\": \"running\"", "\"reason\": null",
                               "\"patients\": 7", "\"saved\": 2", "\"restored\": null", "\"journal\": null"})
        EXPECT_NE(running.find(member), std::string::npos) << member << "\n" << running;

    const struct {
        int exitCode;
        const char* outcome;
    } endings[] = {{0, "ok"}, {1, "problems"}, {2, "stopped"}};
    for (const auto& e : endings) {
        s.ended = At(2026, 12, 10, 2, 5, 0);
        s.exitCode = e.exitCode;
        s.reason = e.exitCode == 2 ? std::optional<std::wstring>(L"Avbryter \"nu\"") : std::nullopt;
        const std::string ended = SummaryJson(s);
        EXPECT_NE(ended.find("\"outcome\": \"" + std::string(e.outcome) + "\""), std::string::npos) << ended;
        EXPECT_NE(ended.find("\"exitCode\": " + std::to_string(e.exitCode)), std::string::npos);
        EXPECT_NE(ended.find("\"ended\": \"2026-12-10T02:05:00+01:00\""), std::string::npos);
        EXPECT_EQ(ended.find("registerUnreachable"), std::string::npos);
    }
    EXPECT_NE(SummaryJson(s).find("\"reason\": \"Avbryter \\\"nu\\\"\""), std::string::npos);
    s.mode = RunKind::Undo;
    s.counts.restored = 2;
    EXPECT_NE(SummaryJson(s).find("\"restored\": 2"), std::string::npos);
    EXPECT_NE(SummaryJson(s).find("\"mode\": \"undo\""), std::string::npos);
}

// A run the register stopped: its own outcome, and the outages as the
// report draws them, the last one still on.
TEST(RunSummaryJson, ARegisterThatDidNotAnswer) {
    RunSummary s;
    s.started = At(2026, 12, 10, 2, 0, 3);
    EXPECT_NE(SummaryJson(s).find("\"outages\": []"), std::string::npos) << SummaryJson(s);
    s.ended = At(2026, 12, 10, 2, 30, 0);
    s.exitCode = 3;
    s.counts.notLookedUp = 40;
    s.outages = {{At(2026, 12, 10, 2, 1, 0), At(2026, 12, 10, 2, 3, 30)}, {At(2026, 12, 10, 2, 20, 0), std::nullopt}};
    const std::string json = SummaryJson(s);
    for (const char* member :
         {"\"outcome\": \"registerUnreachable\"", "\"exitCode\": 3", "\"notLookedUp\": 40",
          "\"outages\": [{\"from\": \"2026-12-10T02:01:00+01:00\", \"to\": \"2026-12-10T02:03:30+01:00\"}, "
          "{\"from\": \"2026-12-10T02:20:00+01:00\", \"to\": null}]"})
        EXPECT_NE(json.find(member), std::string::npos) << member << "\n" << json;
}

TEST(RunRetention, KeepRunsDaysSetting) {
    const struct {
        std::wstring_view stored;
        int days;
        bool malformed;
    } cases[] = {
        {L"", 180, false},     {L"ERROR", 180, false}, {L"30", 30, false},     {L" 7 ", 7, false},
        {L"0", 0, false},      {L"-1", 180, true},     {L"12x", 180, true},    {L"1e3", 180, true},
        {L"100001", 180, true}, {L"99999999999999", 180, true}, {L"3 0", 180, true},
    };
    for (const auto& c : cases) {
        const KeepRunsDays k = ParseKeepRunsDays(c.stored);
        EXPECT_EQ(k.days, c.days) << ToUtf8(c.stored);
        EXPECT_EQ(k.malformed, c.malformed) << ToUtf8(c.stored);
    }
}

TEST(RunRetention, OnlyRunFoldersOlderThanTheDaysGo) {
    const LocalTime now = At(2026, 3, 1, 12, 0, 0);  // across February of a common year
    const std::vector<std::wstring> names = {
        L"2026-01-30 120000",    // 30 days: kept at 30
        L"2026-01-30 115959",    // 30 days and a second: goes at 30
        L"2026-01-30 115959-2",  // the same, second of that second
        L"2025-03-01 120000",    // a year
        L"2026-03-01 130000",    // ahead of the clock
        L"notes",                // not a run folder
        L"2026-01-01 000000.old",
    };
    EXPECT_EQ(ExpiredRunFolders(names, now, 30),
              (std::vector<std::wstring>{L"2026-01-30 115959", L"2026-01-30 115959-2", L"2025-03-01 120000"}));
    EXPECT_EQ(ExpiredRunFolders(names, now, 365), std::vector<std::wstring>{});
    EXPECT_EQ(ExpiredRunFolders(names, now, 0), std::vector<std::wstring>{});  // kept forever
    EXPECT_EQ(ExpiredRunFolders(names, At(2027, 3, 1, 12, 0, 1), 365).size(), 4u);
}

}  // namespace
}  // namespace tolmar
