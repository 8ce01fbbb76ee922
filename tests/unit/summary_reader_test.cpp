// The database a run folder's summary names, read as outside input.
#include <gtest/gtest.h>

#include "app/run_record.h"
#include "app/summary_reader.h"
#include "tools/error.h"
#include "tools/text.h"

using namespace tolmar;

TEST(SummaryReader, TheDatabaseOfASummaryThisProgramWrote) {
    RunSummary summary;
    summary.version = L"7.4.0";
    summary.options = {L"/undo:x.csv"};
    summary.reason = L"\"citat\" \\ och\r\nrad";
    summary.database = L"fil C:\\KLINIK\\KLINIK.DB \u00c5\U0001F600";
    EXPECT_EQ(SummaryDatabase(SummaryJson(summary)), summary.database);
    summary.database.reset();
    EXPECT_EQ(SummaryDatabase(SummaryJson(summary)), std::nullopt);
    EXPECT_EQ(SummaryDatabase(R"( {"a": [1, -2.5e3, {"database": 7}], "database" : "x\u00e5\ud83d\ude00\/"} )"),
              L"x\u00e5\U0001F600/");
}

TEST(SummaryReader, AnythingElseIsRefused) {
    const std::string deep = std::string(40, '[') + std::string(40, ']');
    const std::string cases[] = {
        "",
        "[]",
        R"({"database": "a"} x)",
        R"({"database": "a", "database": "b"})",
        R"({"database": 5})",
        R"({"database": "a)",
        "{\"database\": \"a\x01\"}",
        "{\"database\": \"\xC5\"}",
        R"({"database": "\ud800"})",
        R"({"database": "\q"})",
        R"({"n": 01, "database": "a"})",
        R"({"n": tru, "database": "a"})",
        R"({"n": [1,], "database": "a"})",
        "{\"n\": " + deep + ", \"database\": \"a\"}",
        "{\"database\": \"" + std::string(kMaxSummaryBytes, 'a') + "\"}",
    };
    for (const std::string& json : cases) {
        try {
            const std::optional<std::wstring> read = SummaryDatabase(json);
            ADD_FAILURE() << "read " << json.substr(0, 80) << " as " << (read ? ToUtf8(*read) : "null");
        } catch (const Error& e) {
            EXPECT_EQ(e.message().rfind(L"Körningens summary.json går inte att läsa: ", 0), 0u) << ToUtf8(e.message());
        }
    }
}
