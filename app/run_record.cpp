#include "app/run_record.h"

#include <cstdint>
#include <cwchar>

#include "tools/json_writer.h"
#include "tools/text.h"

namespace tolmar {
namespace {

std::wstring Digits(int value, int width) {
    std::wstring text = std::to_wstring(value < 0 ? -value : value);
    if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<size_t>(width) - text.size(), L'0');
    return text;
}

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a civil date (H. Hinnant's algorithm).
std::int64_t DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<std::int64_t>(y - era * 400);
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::int64_t SecondsOf(const LocalTime& t) {
    return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

// The number made of text[from, from + count), or -1 unless all are digits.
int Number(std::wstring_view text, size_t from, size_t count) {
    int value = 0;
    for (size_t i = from; i < from + count; ++i) {
        if (text[i] < L'0' || text[i] > L'9') return -1;
        value = value * 10 + (text[i] - L'0');
    }
    return value;
}

const wchar_t* ModeText(RunKind mode) {
    switch (mode) {
        case RunKind::Preview: return L"preview";
        case RunKind::Undo: return L"undo";
        case RunKind::Run: break;
    }
    return L"run";
}

}  // namespace

std::wstring RunFolderName(const LocalTime& t, int attempt) {
    std::wstring name = Digits(t.year, 4) + L"-" + Digits(t.month, 2) + L"-" + Digits(t.day, 2) + L" " +
                        Digits(t.hour, 2) + Digits(t.minute, 2) + Digits(t.second, 2);
    if (attempt > 1) name += L"-" + std::to_wstring(attempt);
    return name;
}

std::optional<LocalTime> RunFolderTime(std::wstring_view name) {
    constexpr size_t kLength = 17;  // "yyyy-MM-dd HHmmss"
    if (name.size() < kLength || name[4] != L'-' || name[7] != L'-' || name[10] != L' ') return std::nullopt;
    if (name.size() > kLength) {
        // "-n", n from 2, no leading zero, short enough to be a count.
        const std::wstring_view suffix = name.substr(kLength);
        if (suffix.size() < 2 || suffix.size() > 6 || suffix[0] != L'-' || suffix[1] == L'0') return std::nullopt;
        const int n = Number(suffix, 1, suffix.size() - 1);
        if (n < 2) return std::nullopt;
    }
    LocalTime t;
    t.year = Number(name, 0, 4);
    t.month = Number(name, 5, 2);
    t.day = Number(name, 8, 2);
    t.hour = Number(name, 11, 2);
    t.minute = Number(name, 13, 2);
    t.second = Number(name, 15, 2);
    if (t.year < 1 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > DaysInMonth(t.year, t.month) ||
        t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59)
        return std::nullopt;
    return t;
}

std::wstring LogTimeText(const LocalTime& t) {
    return Digits(t.year, 4) + L"-" + Digits(t.month, 2) + L"-" + Digits(t.day, 2) + L" " + Digits(t.hour, 2) +
           L":" + Digits(t.minute, 2) + L":" + Digits(t.second, 2);
}

std::wstring IsoTimeText(const LocalTime& t) {
    const int offset = t.offsetMinutes < 0 ? -t.offsetMinutes : t.offsetMinutes;
    return Digits(t.year, 4) + L"-" + Digits(t.month, 2) + L"-" + Digits(t.day, 2) + L"T" + Digits(t.hour, 2) +
           L":" + Digits(t.minute, 2) + L":" + Digits(t.second, 2) + (t.offsetMinutes < 0 ? L"-" : L"+") +
           Digits(offset / 60, 2) + L":" + Digits(offset % 60, 2);
}

std::wstring LogLineText(const LocalTime& t, std::wstring_view line) {
    const std::wstring time = LogTimeText(t);
    const std::wstring indent(time.size() + 1, L' ');
    std::wstring text = time + L" ";
    for (size_t i = 0; i < line.size(); ++i) {
        const wchar_t c = line[i];
        if (c == L'\r' || c == L'\n') {
            if (c == L'\r' && i + 1 < line.size() && line[i + 1] == L'\n') ++i;
            text += L"\r\n" + indent;
        } else {
            text += c;
        }
    }
    return text + L"\r\n";
}

std::string SummaryJson(const RunSummary& s) {
    std::string options = "[";
    for (size_t i = 0; i < s.options.size(); ++i) options += (i ? ", " : "") + JsonString(s.options[i]);
    options += "]";
    const RunCounts& c = s.counts;
    JsonObject json;
    json.Add("version", s.version).Add("mode", ModeText(s.mode)).AddRaw("options", options);
    json.Add("started", IsoTimeText(s.started));
    json.Add("ended", s.ended ? std::optional<std::wstring>(IsoTimeText(*s.ended)) : std::nullopt);
    if (s.exitCode)
        json.Add("exitCode", *s.exitCode);
    else
        json.AddNull("exitCode");
    const wchar_t* outcome = !s.ended || !s.exitCode ? L"running"
                             : *s.exitCode == 0       ? L"ok"
                             : *s.exitCode == 1       ? L"problems"
                             : *s.exitCode == 3       ? L"registerUnreachable"
                                                      : L"stopped";
    json.Add("outcome", outcome).Add("reason", s.reason).Add("database", s.database);
    json.Add("patients", c.patients).Add("lookedUp", c.lookedUp).Add("saved", c.saved);
    json.Add("unchanged", c.unchanged).Add("notFound", c.notFound).Add("failedLookups", c.failedLookups);
    json.Add("failedSaves", c.failedSaves).Add("malformedNumbers", c.malformedNumbers);
    json.Add("sharedKeys", c.sharedKeys).Add("notLookedUp", c.notLookedUp);
    if (s.mode == RunKind::Undo)
        json.Add("restored", c.restored).Add("notRestored", c.notRestored);
    else
        json.AddNull("restored").AddNull("notRestored");
    json.Add("journal", s.journal);
    std::string outages = "[";
    for (size_t i = 0; i < s.outages.size(); ++i) {
        const auto& o = s.outages[i];
        outages += std::string(i ? ", " : "") + "{\"from\": " + JsonString(IsoTimeText(o.from)) +
                   ", \"to\": " + (o.to ? JsonString(IsoTimeText(*o.to)) : std::string("null")) + "}";
    }
    json.AddRaw("outages", outages + "]");
    return json.Text();
}

KeepRunsDays ParseKeepRunsDays(std::wstring_view stored) {
    const std::wstring text = Trim(stored);
    if (text.empty() || text == L"ERROR") return {};
    if (text.size() > 6) return {kDefaultKeepRunsDays, true};
    const int days = Number(text, 0, text.size());
    if (days < 0 || days > kMaxKeepRunsDays) return {kDefaultKeepRunsDays, true};
    return {days, false};
}

std::vector<std::wstring> ExpiredRunFolders(const std::vector<std::wstring>& names, const LocalTime& now,
                                            int keepDays) {
    std::vector<std::wstring> expired;
    if (keepDays <= 0) return expired;
    const std::int64_t limit = static_cast<std::int64_t>(keepDays) * 86400;
    for (const std::wstring& name : names) {
        const std::optional<LocalTime> t = RunFolderTime(name);
        if (t && SecondsOf(now) - SecondsOf(*t) > limit) expired.push_back(name);
    }
    return expired;
}

std::wstring RunFolderKeptText(std::wstring_view name, std::wstring_view why) {
    return L"Den gamla körningsmappen runs\\" + std::wstring(name) + L" togs inte bort: " + std::wstring(why);
}

}  // namespace tolmar
