#include "app/run_report.h"

#include <algorithm>
#include <set>
#include <utility>

#include "tools/text.h"

namespace tolmar {
namespace {

std::wstring Bounded(std::wstring_view text, size_t limit) {
    if (text.size() <= limit) return std::wstring(text);
    return std::wstring(text.substr(0, limit)) + L"…";
}

std::string Number(long long value) { return std::to_string(value); }

// ---- what the page says -----------------------------------------------------

struct Banner {
    const char* kind;  // the CSS class
    std::wstring title;
    std::wstring reason;  // when the run gave none
};

Banner BannerOf(const RunSummary& s) {
    if (!s.exitCode) return {"stopped", L"Körningen tog inte slut", L"Programmet slutade innan körningen var klar."};
    switch (*s.exitCode) {
        case 0:
            return {"ok", L"Körningen gick bra", L"Alla patienter gicks igenom utan fel."};
        case 1:
            return {"problems", L"Körningen gick till slut, men alla patienter kunde inte uppdateras",
                    L"Patienterna som inte kunde uppdateras står under Fel nedan."};
        case 2:
            return {"stopped", L"Körningen avbröts", L"Körningen avbröts innan den var klar."};
        case 3:
            return {"unreachable", L"Registret kunde inte nås",
                    L"Registret svarade inte; patienterna som inte hann slås upp tas med nästa körning."};
        default:
            return {"stopped", L"Körningen slutade med slutkod " + std::to_wstring(*s.exitCode), L""};
    }
}

const wchar_t* ModeName(RunKind mode) {
    switch (mode) {
        case RunKind::Preview: return L"Förhandsgranskning (inget sparas)";
        case RunKind::Undo: return L"Återställning från ändringslogg";
        case RunKind::Run: break;
    }
    return L"Uppdatering";
}

const wchar_t* KindTitle(FailureKind kind) {
    switch (kind) {
        case FailureKind::NotFound: return L"Ej funna i registret";
        case FailureKind::FailedLookup: return L"Misslyckade uppslagningar";
        case FailureKind::FailedSave: return L"Misslyckade sparanden";
        case FailureKind::MalformedNumber: return L"Felaktiga personnummer";
        case FailureKind::SharedKey: return L"Delade PATIENTNR";
    }
    return L"";
}

const wchar_t* KindAdvice(FailureKind kind) {
    switch (kind) {
        case FailureKind::NotFound: return L"Registret känner ingen person med numret. Kontrollera personnumret.";
        case FailureKind::FailedLookup:
            return L"Registret svarade inte, eller svarade med ett fel. Patienterna slås upp igen vid nästa körning.";
        case FailureKind::FailedSave: return L"Databasen tog inte emot raden. Se felet.";
        case FailureKind::MalformedNumber:
            return L"Numret är inte ett personnummer med 12 siffror, eller saknas. Rätta det i patientjournalen.";
        case FailureKind::SharedKey: return L"Flera rader har samma PATIENTNR och kan inte sparas. Rätta databasen.";
    }
    return L"";
}

// ---- the page's parts -----------------------------------------------------------

struct Bar {
    std::wstring label;
    long long value = 0;
    const char* kind = "n";  // the CSS class of its bar
};

// Horizontal bars, one a row, the value after each.
std::string BarChart(const std::vector<Bar>& bars, const char* label) {
    constexpr int kLabelWidth = 300, kBarWidth = 520, kRow = 26;
    long long max = 1;
    for (const Bar& b : bars) max = std::max(max, b.value);
    const int height = static_cast<int>(bars.size()) * kRow + 4;
    std::string svg = "<svg class=\"bars\" role=\"img\" aria-label=\"" + std::string(label) +
                      "\" viewBox=\"0 0 900 " + Number(height) + "\" width=\"900\" height=\"" + Number(height) +
                      "\">\n";
    for (size_t i = 0; i < bars.size(); ++i) {
        const Bar& b = bars[i];
        const long long y = static_cast<long long>(i) * kRow;
        long long width = b.value * kBarWidth / max;
        if (b.value > 0 && width < 2) width = 2;
        svg += "<text x=\"0\" y=\"" + Number(y + 18) + "\">" + HtmlText(b.label) + "</text>";
        svg += "<rect class=\"" + std::string(b.kind) + "\" x=\"" + Number(kLabelWidth) + "\" y=\"" + Number(y + 5) +
               "\" width=\"" + Number(width) + "\" height=\"17\"/>";
        svg += "<text class=\"v\" x=\"" + Number(kLabelWidth + width + 6) + "\" y=\"" + Number(y + 18) + "\">" +
               Number(b.value) + "</text>\n";
    }
    return svg + "</svg>\n";
}

std::string Row(std::wstring_view name, std::wstring_view value) {
    return "<tr><th>" + HtmlText(name) + "</th><td>" + HtmlText(value) + "</td></tr>\n";
}

std::string Facts(const RunSummary& s) {
    std::wstring options;
    for (const std::wstring& o : s.options) options += (options.empty() ? L"" : L" ") + o;
    std::string html = "<table class=\"facts\">\n";
    html += Row(L"Läge", ModeName(s.mode));
    html += Row(L"Val", options.empty() ? L"inga" : Bounded(options, kMaxReasonLength));
    html += Row(L"Startad", LogTimeText(s.started));
    html += Row(L"Slutad", s.ended ? LogTimeText(*s.ended) : L"–");
    html += Row(L"Slutkod", s.exitCode ? std::to_wstring(*s.exitCode) : L"–");
    html += Row(L"Databas", s.database ? Bounded(*s.database, kMaxReasonLength) : L"–");
    html += Row(L"Ändringslogg", s.journal ? Bounded(*s.journal, kMaxReasonLength) : L"–");
    html += Row(L"Version", Bounded(s.version, 64));
    return html + "</table>\n";
}

std::string Numbers(const RunSummary& s) {
    const RunCounts& c = s.counts;
    std::vector<Bar> bars = {
        {L"Patienter", c.patients, "n"},
        {L"Uppslagna", c.lookedUp, "n"},
        {s.mode == RunKind::Preview ? L"Skulle sparas" : L"Sparade", c.saved, "ok"},
        {L"Oförändrade", c.unchanged, "ok"},
        {L"Ej funna", c.notFound, "bad"},
        {L"Misslyckade uppslagningar", c.failedLookups, "bad"},
        {L"Misslyckade sparanden", c.failedSaves, "bad"},
        {L"Felaktiga personnummer", c.malformedNumbers, "bad"},
        {L"Delade PATIENTNR", c.sharedKeys, "bad"},
        {L"Ej uppslagna", c.notLookedUp, "bad"},
    };
    if (s.mode == RunKind::Undo) {
        bars.push_back({L"Återställda", c.restored, "ok"});
        bars.push_back({L"Lämnade", c.notRestored, "bad"});
    }
    return "<h2>Siffror</h2>\n" + BarChart(bars, "Körningens siffror");
}

std::string ChangedColumns(const RunReport& r) {
    std::string html = r.summary.mode == RunKind::Preview ? "<h2>Kolumner som skulle ändras</h2>\n"
                                                          : "<h2>Ändrade kolumner</h2>\n";
    if (r.changedColumns.empty()) return html + "<p>Inga rader ändrades.</p>\n";
    std::vector<Bar> bars;
    for (const auto& [column, rows] : r.changedColumns) bars.push_back({column, rows, "ok"});
    std::stable_sort(bars.begin(), bars.end(), [](const Bar& a, const Bar& b) { return a.value > b.value; });
    return html + "<p>Antal rader där kolumnen ändrades.</p>\n" + BarChart(bars, "Ändrade rader per kolumn");
}

std::string Failures(const RunReport& r) {
    std::string html = "<h2>Fel</h2>\n";
    if (r.failures.empty() && r.otherFailures == 0) return html + "<p>Inga patienter misslyckades.</p>\n";
    // By kind, in the order of the numbers above; within a kind, as first met.
    for (const FailureKind kind : {FailureKind::NotFound, FailureKind::FailedLookup, FailureKind::FailedSave,
                                   FailureKind::MalformedNumber, FailureKind::SharedKey}) {
        bool titled = false;
        for (const FailureGroup& g : r.failures) {
            if (g.kind != kind) continue;
            if (!titled) {
                html += "<h3>" + HtmlText(KindTitle(kind)) + "</h3>\n<p class=\"advice\">" +
                        HtmlText(KindAdvice(kind)) + "</p>\n";
                titled = true;
            }
            html += "<div class=\"group\">";
            if (!g.reason.empty()) html += "<p class=\"reason\">" + HtmlText(g.reason) + "</p>";
            html += "<p>" + Number(g.count) + (g.count == 1 ? " patient" : " patienter") + "</p>\n";
            html += "<table class=\"patients\"><tr><th>PATIENTNR</th><th>Personnummer</th></tr>\n";
            for (const FailedPatient& p : g.patients)
                html += "<tr><td>" + HtmlText(p.key) + "</td><td>" + HtmlText(p.number) + "</td></tr>\n";
            html += "</table>\n";
            const long long more = g.count - static_cast<long long>(g.patients.size());
            if (more > 0) html += "<p class=\"more\">och " + Number(more) + " till</p>\n";
            html += "</div>\n";
        }
    }
    if (r.otherFailures > 0)
        html += "<p class=\"more\">Ytterligare " + Number(r.otherFailures) +
                " patienter misslyckades av andra skäl; se log.txt.</p>\n";
    return html;
}

// Rows done per minute as vertical bars; a long run's minutes are taken
// together, at most kMaxPaceBars bars, each its minutes' mean.
std::string Pace(const RunReport& r) {
    constexpr size_t kMaxPaceBars = 120;
    constexpr int kLeft = 50, kWidth = 840, kTop = 10, kHeight = 160;
    std::string html = "<h2>Takt</h2>\n";
    const std::vector<int>& minutes = r.rowsPerMinute;
    if (minutes.empty()) return html + "<p>Inga rader gicks igenom.</p>\n";
    const size_t per = (minutes.size() + kMaxPaceBars - 1) / kMaxPaceBars;
    std::vector<long long> bars;
    long long total = 0;
    for (size_t i = 0; i < minutes.size(); i += per) {
        long long sum = 0;
        const size_t end = std::min(minutes.size(), i + per);
        for (size_t j = i; j < end; ++j) sum += minutes[j];
        total += sum;
        bars.push_back(sum / static_cast<long long>(end - i));
    }
    long long max = 1;
    for (long long b : bars) max = std::max(max, b);
    html += "<p>Rader per minut: i snitt " + Number(total / static_cast<long long>(minutes.size())) +
            ", som mest " + Number(max) + (per > 1 ? " (varje stapel " + Number(static_cast<long long>(per)) +
                                                         " minuter)" : std::string()) +
            ".</p>\n";
    const long long step = kWidth / static_cast<long long>(bars.size());
    html += "<svg class=\"pace\" role=\"img\" aria-label=\"Rader per minut\" viewBox=\"0 0 900 200\" width=\"900\" "
            "height=\"200\">\n";
    html += "<line x1=\"" + Number(kLeft) + "\" y1=\"" + Number(kTop + kHeight) + "\" x2=\"" + Number(kLeft + kWidth) +
            "\" y2=\"" + Number(kTop + kHeight) + "\"/>";
    html += "<text x=\"0\" y=\"" + Number(kTop + 10) + "\">" + Number(max) + "</text>";
    html += "<text x=\"0\" y=\"" + Number(kTop + kHeight) + "\">0</text>\n";
    for (size_t i = 0; i < bars.size(); ++i) {
        const long long h = bars[i] * kHeight / max;
        const long long x = kLeft + static_cast<long long>(i) * step;
        html += "<rect class=\"n\" x=\"" + Number(x + 1) + "\" y=\"" + Number(kTop + kHeight - h) + "\" width=\"" +
                Number(std::max<long long>(step - 2, 1)) + "\" height=\"" + Number(h) + "\"/>\n";
    }
    html += "<text x=\"" + Number(kLeft) + "\" y=\"192\">0 min</text>";
    html += "<text class=\"end\" x=\"" + Number(kLeft + kWidth) + "\" y=\"192\">" +
            Number(static_cast<long long>(minutes.size())) + " min</text>\n</svg>\n";
    return html;
}

std::string Answers(const RunReport& r) {
    std::string html = "<h2>Registrets svarstider</h2>\n";
    const std::optional<AnswerTimes> t = AnswerTimesOf(r.lookupMillis);
    if (!t) return html + "<p>Inga uppslagningar gjordes.</p>\n";
    return html + "<table class=\"facts\">\n<tr><th>Median</th><td>" + Number(t->median) +
           " ms</td></tr>\n<tr><th>95:e percentilen</th><td>" + Number(t->p95) +
           " ms</td></tr>\n<tr><th>Uppslagningar</th><td>" + Number(static_cast<long long>(t->count)) +
           "</td></tr>\n</table>\n";
}

std::string Outages(const RunReport& r) {
    const auto& outages = r.summary.outages;
    std::string html = "<h2>Avbrott i registret</h2>\n";
    if (outages.empty()) return html + "<p>inga avbrott</p>\n";
    html += "<ul class=\"outages\">\n";
    for (size_t i = 0; i < outages.size() && i < kMaxOutages; ++i) {
        const auto& o = outages[i];
        html += "<li>" + HtmlText(LogTimeText(o.from)) + " – " +
                (o.to ? HtmlText(LogTimeText(*o.to)) : std::string("(pågick när körningen slutade)")) + "</li>\n";
    }
    if (outages.size() > kMaxOutages)
        html += "<li>och " + Number(static_cast<long long>(outages.size() - kMaxOutages)) + " till</li>\n";
    return html + "</ul>\n";
}

constexpr const char* kStyle = R"(
body{font:15px/1.45 "Segoe UI",Arial,sans-serif;color:#1b1b1b;background:#fff;margin:0 auto;max-width:960px;padding:16px 20px}
h1{font-size:22px;margin:0 0 12px}h2{font-size:18px;margin:26px 0 8px;border-bottom:1px solid #ccc}h3{font-size:16px;margin:16px 0 4px}
.banner{padding:14px 18px;border-radius:6px;border-left:10px solid;margin-bottom:16px}
.banner p{margin:4px 0 0;white-space:pre-line}.banner .title{font-size:20px;font-weight:bold;margin:0}
.ok{background:#e6f4ea;border-color:#1e7b34}.problems{background:#fff4d6;border-color:#b7791f}
.stopped{background:#fde8e8;border-color:#b42318}.unreachable{background:#fde8e8;border-color:#7a1d8f}
table{border-collapse:collapse}th,td{text-align:left;padding:2px 12px 2px 0;vertical-align:top}
.facts th{font-weight:normal;color:#555}.patients{font-family:Consolas,monospace;font-size:13px}
.patients th{font-family:"Segoe UI",Arial,sans-serif;border-bottom:1px solid #ccc}
svg{display:block;max-width:100%;height:auto}svg text{font-size:13px;fill:#1b1b1b}svg text.end{text-anchor:end}
rect.n{fill:#3b6ea8}rect.ok{fill:#2f8f46}rect.bad{fill:#c2410c}svg line{stroke:#888}
.reason{white-space:pre-line;font-family:Consolas,monospace;font-size:13px;margin:4px 0}
.advice{color:#555;margin:0 0 6px}.group{margin:0 0 10px 12px}.more{font-style:italic}
.private{margin-top:30px;color:#555;font-size:13px}
)";

}  // namespace

std::optional<AnswerTimes> AnswerTimesOf(std::vector<std::uint32_t> millis) {
    if (millis.empty()) return std::nullopt;
    std::sort(millis.begin(), millis.end());
    const size_t n = millis.size();
    // The nearest rank: the smallest value with at least p% of all at or below it.
    const auto rank = [n](size_t percent) { return (n * percent + 99) / 100 - 1; };
    return AnswerTimes{millis[rank(50)], millis[rank(95)], n};
}

void RunReportRecorder::LookupTook(std::chrono::milliseconds took) {
    const long long ms = std::clamp<long long>(took.count(), 0, UINT32_MAX);
    const std::lock_guard lock(mutex_);
    if (report_.lookupMillis.size() < kMaxLookupTimes) report_.lookupMillis.push_back(static_cast<std::uint32_t>(ms));
}

void RunReportRecorder::RowDone(std::chrono::milliseconds sinceStart) {
    const long long minute = std::max<long long>(sinceStart.count(), 0) / 60000;
    if (minute >= static_cast<long long>(kMaxPaceMinutes)) return;
    const std::lock_guard lock(mutex_);
    std::vector<int>& minutes = report_.rowsPerMinute;
    if (minutes.size() <= static_cast<size_t>(minute)) minutes.resize(static_cast<size_t>(minute) + 1);
    ++minutes[static_cast<size_t>(minute)];
}

void RunReportRecorder::RowSaved(std::span<const JournalRecord> records) {
    std::set<std::wstring> columns;
    for (const JournalRecord& r : records) columns.insert(Bounded(r.column, kMaxPatientTextLength));
    const std::lock_guard lock(mutex_);
    for (const std::wstring& column : columns) {
        auto found = report_.changedColumns.find(column);
        if (found != report_.changedColumns.end())
            ++found->second;
        else if (report_.changedColumns.size() < kMaxChangedColumns)
            report_.changedColumns.emplace(column, 1);
    }
}

void RunReportRecorder::Failed(FailureKind kind, std::wstring_view reason, std::wstring_view key,
                               std::wstring_view number) {
    std::wstring why = Bounded(reason, kMaxReasonLength);
    const std::lock_guard lock(mutex_);
    std::vector<FailureGroup>& groups = report_.failures;
    auto group = std::find_if(groups.begin(), groups.end(),
                              [&](const FailureGroup& g) { return g.kind == kind && g.reason == why; });
    if (group == groups.end()) {
        if (groups.size() >= kMaxFailureGroups) {
            ++report_.otherFailures;
            return;
        }
        groups.push_back({kind, std::move(why), 0, {}});
        group = groups.end() - 1;
    }
    ++group->count;
    if (group->patients.size() < kListedPatientsPerReason)
        group->patients.push_back({Bounded(key, kMaxPatientTextLength), Bounded(number, kMaxPatientTextLength)});
}

RunReport RunReportRecorder::Report(const RunSummary& summary) const {
    const std::lock_guard lock(mutex_);
    RunReport report = report_;
    report.summary = summary;
    return report;
}

std::string HtmlText(std::wstring_view text) {
    std::wstring escaped;
    escaped.reserve(text.size());
    for (const wchar_t c : text) {
        switch (c) {
            case L'&': escaped += L"&amp;"; break;
            case L'<': escaped += L"&lt;"; break;
            case L'>': escaped += L"&gt;"; break;
            case L'"': escaped += L"&quot;"; break;
            case L'\'': escaped += L"&#39;"; break;
            case L'\t':
            case L'\r':
            case L'\n': escaped += c; break;
            default:
                // Control characters have no place in a page (and NUL none in any text).
                escaped += (c < 0x20 || (c >= 0x7F && c < 0xA0)) ? L'\xFFFD' : c;
        }
    }
    return ToUtf8(escaped);  // lone surrogates become U+FFFD there
}

std::string RunReportHtml(const RunReport& r) {
    const RunSummary& s = r.summary;
    const Banner banner = BannerOf(s);
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"sv\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; "
        "img-src data:\">\n<meta name=\"referrer\" content=\"no-referrer\">\n<title>" +
        HtmlText(L"Tolmar07 – körningen " + LogTimeText(s.started)) + "</title>\n<style>" + kStyle +
        "</style>\n</head>\n<body>\n";
    html += "<h1>" + HtmlText(L"Körningen " + LogTimeText(s.started)) + "</h1>\n";
    html += "<div class=\"banner " + std::string(banner.kind) + "\" id=\"outcome\"><p class=\"title\">" +
            HtmlText(banner.title) + "</p>";
    const std::wstring reason = s.reason ? Bounded(*s.reason, 4 * kMaxReasonLength) : banner.reason;
    if (!reason.empty()) html += "<p>" + HtmlText(reason) + "</p>";
    html += "</div>\n";
    html += Facts(s);
    html += Numbers(s);
    html += ChangedColumns(r);
    html += Pace(r);
    html += Answers(r);
    html += Outages(r);
    html += Failures(r);  // last: the longest part
    html += "<p class=\"private\">" +
            HtmlText(L"Sidan innehåller personnummer. Den skyddas av körningsmappens behörigheter; "
                     L"kopiera den inte dit andra kan läsa den.") +
            "</p>\n</body>\n</html>\n";
    return html;
}

}  // namespace tolmar
