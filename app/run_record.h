// The record of every update run: a folder "runs\<yyyy-MM-dd HHmmss>\" in the
// working folder with the run's log ("log.txt"), its summary
// ("summary.json") and its change journal ("changes.csv"; a preview's
// "preview.csv"). What is portable about it: the folder names, the log's
// line format, the summary's text and which old folders retention removes.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_counts.h"

namespace tolmar {

// A local date and time, with its offset from UTC in minutes.
struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int offsetMinutes = 0;
};

inline constexpr std::wstring_view kRunsFolder = L"runs";
inline constexpr std::wstring_view kRunLogFile = L"log.txt";
inline constexpr std::wstring_view kRunSummaryFile = L"summary.json";
inline constexpr std::wstring_view kRunSummaryTempFile = L"summary.json.tmp";
// The run's change journal (a run's and an undo's), and a preview's file of
// what a run would change: each made new by its run, never added to later.
inline constexpr std::wstring_view kRunJournalFile = L"changes.csv";
inline constexpr std::wstring_view kRunPreviewFile = L"preview.csv";

// "yyyy-MM-dd HHmmss"; attempt 1 is the plain name, attempt n > 1 adds "-n"
// (two runs started in the same second).
std::wstring RunFolderName(const LocalTime& started, int attempt);
// The time in a run folder's name; nullopt for any other name (a real
// date and time, the optional "-n" with n from 2 on, nothing else).
std::optional<LocalTime> RunFolderTime(std::wstring_view name);

// "yyyy-MM-dd HH:mm:ss".
std::wstring LogTimeText(const LocalTime& t);
// ISO 8601 with the local offset: "2026-12-10T02:00:03+01:00".
std::wstring IsoTimeText(const LocalTime& t);

// One line of the log as written: the time, a blank, the line, CR LF. Inner
// line breaks (CR LF, CR or LF) become continuation lines, indented to the
// text's column.
std::wstring LogLineText(const LocalTime& t, std::wstring_view line);

enum class RunKind { Run, Preview, Undo };

struct RunSummary {
    std::wstring version;
    RunKind mode = RunKind::Run;
    std::vector<std::wstring> options;  // as given, e.g. "/parallel:4"
    LocalTime started;
    std::optional<LocalTime> ended;     // none while running
    std::optional<int> exitCode;        // none while running
    std::optional<std::wstring> reason;  // the line that stopped the run
    std::optional<std::wstring> database;  // its identity, without any password
    std::optional<std::wstring> journal;   // the journal's (the preview's file's) name in the run folder
    RunCounts counts;
    // The register's outages (counts.outages in local time); `to` empty:
    // still on when the run stopped.
    std::vector<OutageSpan<LocalTime>> outages;
};
// The summary as JSON (UTF-8): "outcome" is "running" until it has ended,
// then "ok", "problems", "stopped" or (exit code 3) "registerUnreachable" by
// its exit code; "outages" an array of {"from", "to"} (to: null while on).
std::string SummaryJson(const RunSummary& summary);

// How many days run folders are kept.
inline constexpr std::wstring_view kKeepRunsDaysKey = L"KeepRunsDays";
inline constexpr int kDefaultKeepRunsDays = 180;
inline constexpr int kMaxKeepRunsDays = 100000;
struct KeepRunsDays {
    int days = kDefaultKeepRunsDays;  // 0: kept forever
    bool malformed = false;           // a stored value that is not a number of days
};
// The stored setting ("" or "ERROR" when none): blanks around it allowed.
KeepRunsDays ParseKeepRunsDays(std::wstring_view stored);

// The names among `names` that are run folders older than `keepDays` days at
// `now`, judged by the time in their names (the offset is not compared:
// both are the same clock's local time). keepDays 0: none.
std::vector<std::wstring> ExpiredRunFolders(const std::vector<std::wstring>& names, const LocalTime& now,
                                            int keepDays);

// The log's line when retention cannot remove a folder.
std::wstring RunFolderKeptText(std::wstring_view name, std::wstring_view why);

}  // namespace tolmar
