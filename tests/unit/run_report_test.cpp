// The run's report: what the recorder keeps of a run, and the page made of it.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "app/run_report.h"
#include "tools/text.h"
#include "update_run_fakes.h"

using namespace tolmar;
using namespace tolmar::test;

namespace {

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

RunSummary Ended(int exitCode) {
    RunSummary s;
    s.version = L"7.4.0";
    s.started = {2026, 12, 10, 2, 0, 3, 60};
    s.ended = LocalTime{2026, 12, 10, 2, 41, 9, 60};
    s.exitCode = exitCode;
    return s;
}

JournalRecord Changed(const wchar_t* key, const wchar_t* column) {
    return {L"2026-12-10 02:00:04", key, L"195001011234", column, L"gammalt", L"nytt"};
}

}  // namespace

TEST(RunReportHtml, OutsideValuesComeOutInert) {
    const std::wstring hostile = L"</style><script>alert('x')</script> & \"q\" <img src=x onerror=alert(1)>";
    RunReportRecorder recorder;
    recorder.Failed(FailureKind::FailedLookup, hostile, hostile, hostile);
    recorder.Failed(FailureKind::FailedSave, L"ok\x01\x7F", L"K", L"N");
    const JournalRecord record = Changed(L"1", hostile.c_str());
    recorder.RowSaved({&record, 1});
    RunSummary s = Ended(2);
    s.reason = hostile;
    s.database = hostile;
    s.journal = hostile;
    s.version = hostile;
    s.options = {hostile};
    const std::string html = RunReportHtml(recorder.Report(s));

    // Every tag is one of the page's own.
    const std::set<std::string> own = {"!DOCTYPE", "html", "head", "meta", "title", "style", "body", "h1", "h2",
                                       "h3", "div", "p", "table", "tr", "th", "td", "svg", "text", "rect", "line",
                                       "ul", "li"};
    const std::regex tag("<(/?)([!A-Za-z0-9]+)");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), tag); it != std::sregex_iterator(); ++it)
        EXPECT_TRUE(own.count((*it)[2])) << (*it)[0];
    EXPECT_EQ(Occurrences(html, "</style>"), 1u);  // the page's own
    EXPECT_EQ(Occurrences(html, "<style>"), 1u);
    // Whole where not shortened: the reason, options, database, journal, version and the failure's reason.
    EXPECT_EQ(Occurrences(html, "&lt;/style&gt;&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; &quot;q&quot;"),
              6u);
    EXPECT_EQ(Occurrences(html, "ok\xEF\xBF\xBD\xEF\xBF\xBD"), 1u);  // control characters replaced
}

TEST(RunReportHtml, HtmlTextTable) {
    const struct {
        std::wstring text;
        std::string html;
    } cases[] = {
        {L"", ""},
        {L"Åsa & Örjan", "\xC3\x85sa &amp; \xC3\x96rjan"},
        {L"<a href=\"x\">'y'</a>", "&lt;a href=&quot;x&quot;&gt;&#39;y&#39;&lt;/a&gt;"},
        {L"rad 1\r\nrad\t2", "rad 1\r\nrad\t2"},
        {std::wstring(L"a\0b", 3) + L"\x1B", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD"},
        {std::wstring(1, static_cast<wchar_t>(0xD800)) + L"x", "\xEF\xBF\xBDx"},  // a lone surrogate
    };
    for (const auto& c : cases) EXPECT_EQ(HtmlText(c.text), c.html) << ToUtf8(c.text);
}

TEST(RunReportHtml, ThePageIsSelfContainedAndFetchesNothing) {
    RunReportRecorder recorder;
    recorder.Failed(FailureKind::NotFound, L"", L"12", L"https://register.example/x");
    const std::string html = RunReportHtml(recorder.Report(Ended(1)));
    EXPECT_EQ(html.rfind("<!DOCTYPE html>\n<html lang=\"sv\">", 0), 0u);
    EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(html.find("content=\"default-src 'none'; style-src 'unsafe-inline'; img-src data:\""),
              std::string::npos);
    // Nothing that loads or runs: no script, no element or attribute that fetches.
    for (const char* part : {"<script", "<link", "<iframe", "<object", "<embed", "<img", "src=", "href=", "url(",
                             "@import"})
        EXPECT_EQ(Occurrences(html, part), 0u) << part;
    EXPECT_FALSE(std::regex_search(html, std::regex("\\son[a-z]+\\s*=")));
    EXPECT_TRUE(DecodeUtf8Strict(html).has_value());
}

TEST(RunReportHtml, TheBannerFollowsTheExitCode) {
    const struct {
        std::optional<int> exitCode;
        std::optional<std::wstring> reason;
        std::string kind, title, shown;
    } cases[] = {
        {0, std::nullopt, "ok", "Körningen gick bra", "Alla patienter gicks igenom utan fel."},
        {1, std::nullopt, "problems", "Körningen gick till slut, men alla patienter kunde inte uppdateras",
         "Patienterna som inte kunde uppdateras står under Fel nedan."},
        {2, L"Antal felaktiga poster större än 10. Avbryter uppdatering!", "stopped", "Körningen avbröts",
         "Antal felaktiga poster större än 10. Avbryter uppdatering!"},
        {3, L"Varje uppslagning i registret har misslyckats under 5 minuter.", "unreachable",
         "Registret kunde inte nås", "Varje uppslagning i registret har misslyckats under 5 minuter."},
        {std::nullopt, std::nullopt, "stopped", "Körningen tog inte slut",
         "Programmet slutade innan körningen var klar."},
        {9, L"x", "stopped", "Körningen slutade med slutkod 9", "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind + " " + c.title);
        RunSummary s = Ended(0);
        s.exitCode = c.exitCode;
        s.reason = c.reason;
        const std::string html = RunReportHtml(RunReportRecorder().Report(s));
        EXPECT_NE(html.find("<div class=\"banner " + c.kind + "\" id=\"outcome\"><p class=\"title\">" + c.title +
                            "</p><p>" + c.shown + "</p></div>"),
                  std::string::npos);
        EXPECT_EQ(Occurrences(html, "class=\"banner"), 1u);
    }
}

TEST(RunReportHtml, EveryNumberOfTheRunIsABar) {
    RunSummary s = Ended(1);
    s.mode = RunKind::Undo;
    s.counts = {1000, 901, 302, 403, 54, 65, 76, 87, 98, 9, 302, 11};
    const std::string html = RunReportHtml(RunReportRecorder().Report(s));
    const std::pair<const char*, int> bars[] = {
        {"Patienter", 1000},   {"Uppslagna", 901},   {"Sparade", 302},
        {"Oförändrade", 403},  {"Ej funna", 54},     {"Misslyckade uppslagningar", 65},
        {"Misslyckade sparanden", 76},               {"Felaktiga personnummer", 87},
        {"Delade PATIENTNR", 98},                    {"Ej uppslagna", 9},
        {"Återställda", 302},  {"Lämnade", 11},
    };
    for (const auto& [label, value] : bars) {
        const std::regex bar(std::string(">") + label + "</text><rect [^>]*width=\"([0-9]+)\"[^>]*/><text [^>]*>" +
                             std::to_string(value) + "</text>");
        std::smatch m;
        ASSERT_TRUE(std::regex_search(html, m, bar)) << label;
        EXPECT_EQ(std::stoi(m[1]), value * 520 / 1000) << label;  // the longest bar is the patients'
    }
}

TEST(RunReportRecorder, FailuresAreGroupedByReasonAndTheListedPatientsCapped) {
    RunReportRecorder recorder;
    for (int i = 0; i < 1000; ++i)
        recorder.Failed(FailureKind::NotFound, L"", std::to_wstring(i), L"19500101" + std::to_wstring(1000 + i));
    recorder.Failed(FailureKind::FailedSave, L"[HY000] disk I/O error", L"7", L"196001011111");
    recorder.Failed(FailureKind::FailedSave, L"[HY000] disk I/O error", L"8", L"196001012222");
    recorder.Failed(FailureKind::FailedSave, std::wstring(5000, L'x'), std::wstring(5000, L'9'), L"1");
    for (size_t i = 0; i < kMaxFailureGroups + 5; ++i)
        recorder.Failed(FailureKind::FailedLookup, L"Fel: -400, nr " + std::to_wstring(i), L"k", L"n");
    const RunReport report = recorder.Report(Ended(1));

    ASSERT_EQ(report.failures.size(), kMaxFailureGroups);
    EXPECT_EQ(report.otherFailures, 8);
    const FailureGroup& notFound = report.failures[0];
    EXPECT_EQ(notFound.count, 1000);
    ASSERT_EQ(notFound.patients.size(), kListedPatientsPerReason);
    EXPECT_EQ(notFound.patients[49].key, L"49");
    EXPECT_EQ(notFound.patients[49].number, L"195001011049");
    EXPECT_EQ(report.failures[1].count, 2);
    EXPECT_EQ(report.failures[2].reason.size(), kMaxReasonLength + 1);  // and an ellipsis
    EXPECT_EQ(report.failures[2].patients[0].key.size(), kMaxPatientTextLength + 1);

    const std::string html = RunReportHtml(report);
    EXPECT_NE(html.find("<p>1000 patienter</p>"), std::string::npos);
    EXPECT_NE(html.find("<tr><td>49</td><td>195001011049</td></tr>"), std::string::npos);
    EXPECT_EQ(html.find("<td>195001011050</td>"), std::string::npos);
    EXPECT_NE(html.find("<p class=\"more\">och 950 till</p>"), std::string::npos);
    EXPECT_NE(html.find("<p>2 patienter</p>"), std::string::npos);
    EXPECT_NE(html.find("Ytterligare 8 patienter misslyckades av andra skäl; se log.txt."), std::string::npos);
    EXPECT_LT(html.size(), 200000u);
}

TEST(RunReportRecorder, TheRunsHooksReportEachFailedPatientAndEachChangedColumn) {
    Harness h;
    h.table.Add(L"1", Row(L"19121212-1212", L"Tolvan", L"Tolvansson", L"Gatan 1", L"123 45", L"STAN"));
    h.table.Add(L"2", Row(L"1912121212", L"X", L"Y", L"", L"", L""));                  // malformed
    h.table.Add(L"3", Row(L"190001019999", L"X", L"Y", L"", L"", L""));                // not found
    h.table.Add(L"4", Row(L"194501011234", L"X", L"Y", L"", L"", L""));                // failed lookup
    h.table.Add(L"5", Row(L"195001011111", L"Anna", L"Berg", L"Gatan 2", L"123 45", L"STAN"));  // two columns
    h.table.Add(L"6", Row(L"196001011111", L"Per", L"Ek", L"Gatan 3", L"123 45", L"STAN"));     // failed save
    h.table.Add(L"7", Row(L"197001011111", L"Eva", L"Ek", L"Gatan 4", L"123 45", L"STAN"));     // shared key
    h.table.Add(L"8", Row(L"", L"X", L"Y", L"", L"", L""));                            // no number
    h.lookup.answers[L"191212121212"].person = Person(L"Tolvan", L"Tolvansson", L"Gatan 9", L"12345", L"STAN");
    h.lookup.answers[L"194501011234"] = {-400, {}, L"Not Found (404)"};
    h.lookup.answers[L"195001011111"].person = Person(L"Anna", L"Lind", L"Gatan 5", L"12345", L"STAN");
    h.lookup.answers[L"196001011111"].person = Person(L"Per", L"Ek", L"Gatan 30", L"12345", L"STAN");
    h.table.conflictOnSave.insert(L"6");
    h.table.duplicated.insert(L"7");
    h.Run();
    const RunReport report = h.report.Report(Ended(1));

    struct Seen {
        FailureKind kind;
        std::wstring reason, key, number;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> seen;
    for (const FailureGroup& g : report.failures) {
        ASSERT_EQ(g.patients.size(), 1u);
        seen.push_back({g.kind, g.reason, g.patients[0].key, g.patients[0].number});
    }
    EXPECT_EQ(seen, (std::vector<Seen>{
                        {FailureKind::MalformedNumber, L"", L"2", L"1912121212"},
                        {FailureKind::NotFound, L"", L"3", L"190001019999"},
                        {FailureKind::FailedLookup, L"Fel: -400, Not Found (404)", L"4", L"194501011234"},
                        {FailureKind::FailedSave, std::wstring(kRowNotLocatedText), L"6", L"196001011111"},
                        {FailureKind::SharedKey, L"", L"7", L""},
                        {FailureKind::MalformedNumber, L"Personnummer saknas", L"8", L""},
                    }));
    // Saved: row 1 (the street), row 5 (the surname and the street); row 6 failed. Both saved rows
    // also get the check digits and birth date their numbers give, which the fixture's rows lack.
    EXPECT_EQ(report.changedColumns, (std::map<std::wstring, int>{
                                         {L"ADRESS", 2}, {L"EFTERNAMN", 1}, {L"KONTROLLNR", 2}, {L"FODELSEDAG", 2}}));
}

TEST(RunReportRecorder, APreviewReportsTheColumnsItWouldChange) {
    Harness h;
    h.mode = RunMode::Preview;
    h.AddPatients(3);
    h.Run();
    // The street, and the check digits the rows lack (their numbers' month 00 gives no birth date).
    EXPECT_EQ(h.report.Report(Ended(0)).changedColumns,
              (std::map<std::wstring, int>{{L"ADRESS", 3}, {L"KONTROLLNR", 3}}));
}

TEST(RunReportRecorder, AColumnCountsOncePerRowAndTheirNumberIsBounded) {
    RunReportRecorder recorder;
    const JournalRecord twice[] = {Changed(L"1", L"ORT"), Changed(L"1", L"ORT"), Changed(L"1", L"POSTNR")};
    recorder.RowSaved(twice);
    recorder.RowSaved({twice, 1});
    for (size_t i = 0; i < kMaxChangedColumns + 10; ++i) {
        const JournalRecord r = Changed(L"2", (L"C" + std::to_wstring(i)).c_str());
        recorder.RowSaved({&r, 1});
    }
    const RunReport report = recorder.Report(Ended(0));
    EXPECT_EQ(report.changedColumns.at(L"ORT"), 2);
    EXPECT_EQ(report.changedColumns.at(L"POSTNR"), 1);
    EXPECT_EQ(report.changedColumns.size(), kMaxChangedColumns);
    const std::string html = RunReportHtml(report);
    const size_t ort = html.find(">ORT</text>"), postnr = html.find(">POSTNR</text>");
    ASSERT_NE(ort, std::string::npos);
    ASSERT_NE(postnr, std::string::npos);
    EXPECT_LT(ort, postnr);  // the most changed first
}

TEST(RunReportRecorder, AnswerTimesAreTheMedianAnd95thPercentile) {
    const struct {
        std::vector<std::uint32_t> millis;
        std::uint32_t median, p95;
    } cases[] = {
        {{7}, 7, 7},
        {{30, 10, 20}, 20, 30},
        {{4, 1, 3, 2}, 2, 4},
    };
    for (const auto& c : cases) {
        const auto t = AnswerTimesOf(c.millis);
        ASSERT_TRUE(t);
        EXPECT_EQ(t->median, c.median);
        EXPECT_EQ(t->p95, c.p95);
        EXPECT_EQ(t->count, c.millis.size());
    }
    EXPECT_FALSE(AnswerTimesOf({}));

    RunReportRecorder recorder;
    for (int ms = 200; ms >= 1; --ms) recorder.LookupTook(std::chrono::milliseconds(ms));
    recorder.LookupTook(std::chrono::milliseconds(-5));  // a clock that went back counts as 0
    const RunReport report = recorder.Report(Ended(0));
    const auto t = AnswerTimesOf(report.lookupMillis);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->median, 100u);
    EXPECT_EQ(t->p95, 190u);
    const std::string html = RunReportHtml(report);
    EXPECT_NE(html.find("<tr><th>Median</th><td>100 ms</td></tr>"), std::string::npos);
    EXPECT_NE(html.find("<tr><th>95:e percentilen</th><td>190 ms</td></tr>"), std::string::npos);
    EXPECT_NE(html.find("<tr><th>Uppslagningar</th><td>201</td></tr>"), std::string::npos);
    EXPECT_NE(RunReportHtml(RunReportRecorder().Report(Ended(0))).find("<p>Inga uppslagningar gjordes.</p>"),
              std::string::npos);
}

TEST(RunReportRecorder, ThePaceIsRowsPerMinute) {
    RunReportRecorder recorder;
    for (int i = 0; i < 30; ++i) recorder.RowDone(std::chrono::seconds(i));        // minute 0
    for (int i = 0; i < 12; ++i) recorder.RowDone(std::chrono::seconds(180 + i));  // minute 3
    recorder.RowDone(std::chrono::milliseconds(-1));                              // counted in minute 0
    recorder.RowDone(std::chrono::hours(24 * 8));                                 // past the bound: left out
    const RunReport report = recorder.Report(Ended(0));
    EXPECT_EQ(report.rowsPerMinute, (std::vector<int>{31, 0, 0, 12}));
    const std::string html = RunReportHtml(report);
    EXPECT_NE(html.find("Rader per minut: i snitt 10, som mest 31."), std::string::npos);
    EXPECT_EQ(Occurrences(html, "<rect class=\"n\" x="), 4u + 2u);  // four minutes; two count bars
}

TEST(RunReportRecorder, ALongRunsPaceIsDrawnInAtMost120Bars) {
    RunReportRecorder recorder;
    for (int minute = 0; minute < 1000; ++minute) recorder.RowDone(std::chrono::minutes(minute));
    const std::string html = RunReportHtml(recorder.Report(Ended(0)));
    const size_t pace = html.find("<svg class=\"pace\"");
    ASSERT_NE(pace, std::string::npos);
    const std::string chart = html.substr(pace, html.find("</svg>", pace) - pace);
    EXPECT_EQ(Occurrences(chart, "<rect "), 112u);  // 9 minutes a bar
    EXPECT_NE(html.find("(varje stapel 9 minuter)"), std::string::npos);
}

TEST(RunReportRecorder, OutagesAreListedAndNoneSaysSo) {
    EXPECT_NE(RunReportHtml(RunReportRecorder().Report(Ended(0))).find("<p>inga avbrott</p>"), std::string::npos);
    RunSummary summary = Ended(3);
    summary.outages = {{{2026, 12, 10, 2, 10, 0, 60}, LocalTime{2026, 12, 10, 2, 14, 30, 60}},
                       {{2026, 12, 10, 2, 20, 5, 60}, std::nullopt}};
    const std::string html = RunReportHtml(RunReportRecorder().Report(summary));
    EXPECT_NE(html.find("<ul class=\"outages\">\n<li>2026-12-10 02:10:00 – 2026-12-10 02:14:30</li>\n"
                        "<li>2026-12-10 02:20:05 – (pågick när körningen slutade)</li>\n</ul>"),
              std::string::npos);
    EXPECT_EQ(html.find("inga avbrott"), std::string::npos);
}
