// Feeds arbitrary bytes, as the texts a run's report shows (the register's
// and the database's reasons, keys, personal numbers, column and database
// names), to the report's page, and checks that no text can change the
// page's markup: the tags are those of the same report with plain texts,
// and the page is valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_report.h"
#include "fuzz_check.h"
#include "tools/text.h"

using namespace tolmar;

namespace {

// The page's tags in order ("p", "/p", "rect", ...): what a text must never add to.
std::vector<std::string> Tags(const std::string& html) {
    std::vector<std::string> tags;
    for (size_t at = html.find('<'); at != std::string::npos; at = html.find('<', at + 1)) {
        size_t end = at + 1;
        while (end < html.size() && html[end] != ' ' && html[end] != '>' && html[end] != '\n') ++end;
        tags.push_back(html.substr(at + 1, end - at - 1));
    }
    return tags;
}

std::string Page(const std::vector<std::wstring>& texts) {
    const auto text = [&](size_t i) { return i < texts.size() ? texts[i] : std::wstring(); };
    RunReportRecorder recorder;
    recorder.Failed(FailureKind::FailedLookup, text(0), text(1), text(2));
    recorder.Failed(FailureKind::FailedSave, text(3), text(4), text(5));
    const JournalRecord record{L"", L"1", L"1", text(6), std::nullopt, std::nullopt};
    recorder.RowSaved({&record, 1});
    RunSummary summary;
    summary.exitCode = 2;
    summary.ended = LocalTime{};
    summary.reason = text(7);
    summary.database = text(8);
    summary.journal = text(9);
    summary.version = text(10);
    summary.options = {text(11)};
    return RunReportHtml(recorder.Report(summary));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring input = FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    // The texts, separated by '|'; the plain ones: "x" for each text not empty.
    std::vector<std::wstring> texts(1), plain;
    for (const wchar_t c : input) {
        if (c == L'|')
            texts.emplace_back();
        else
            texts.back() += c;
    }
    for (const std::wstring& t : texts) plain.push_back(t.empty() ? L"" : L"x");
    const std::string html = Page(texts);
    FUZZ_CHECK(DecodeUtf8Strict(html).has_value());
    FUZZ_CHECK(Tags(html) == Tags(Page(plain)));
    return 0;
}
