// The page an administrator reads after a run: "report.html" in the run's
// folder. RunReportRecorder collects what the run knows as it goes (each
// lookup's time, each saved row's changed columns, each failed patient, the
// rows done per minute, the register's outages); RunReportHtml writes it as
// one self-contained page (inline CSS and SVG, no script, nothing fetched).
// Everything from outside is bounded when recorded and escaped when written.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/journal.h"
#include "app/run_record.h"

namespace tolmar {

inline constexpr std::wstring_view kRunReportFile = L"report.html";
inline constexpr std::wstring_view kRunReportTempFile = L"report.html.tmp";

// Why a patient was not brought up to date.
enum class FailureKind { NotFound, FailedLookup, FailedSave, MalformedNumber, SharedKey };

// A span of time in which the register could not be reached.
struct FailedPatient {
    std::wstring key;     // PATIENTNR
    std::wstring number;  // the personal number as the run read it
};

// The patients that failed for one kind and reason: all counted, the first
// kListedPatientsPerReason listed.
struct FailureGroup {
    FailureKind kind = FailureKind::NotFound;
    std::wstring reason;
    int count = 0;
    std::vector<FailedPatient> patients;
};

// Bounds on what a run may put into its report.
inline constexpr size_t kListedPatientsPerReason = 50;
inline constexpr size_t kMaxFailureGroups = 100;  // further reasons: counted with the last group's kind
inline constexpr size_t kMaxReasonLength = 300;
inline constexpr size_t kMaxPatientTextLength = 40;
inline constexpr size_t kMaxChangedColumns = 100;
inline constexpr size_t kMaxLookupTimes = 1000000;
inline constexpr size_t kMaxPaceMinutes = 7 * 24 * 60;
inline constexpr size_t kMaxOutages = 1000;  // listed; a longer run says how many more

struct RunReport {
    RunSummary summary;
    std::map<std::wstring, int> changedColumns;  // column: rows saved with it changed
    std::vector<FailureGroup> failures;          // in the order first met
    int otherFailures = 0;                       // beyond kMaxFailureGroups reasons: only counted
    std::vector<int> rowsPerMinute;              // [i]: rows done in the run's minute i
    std::vector<std::uint32_t> lookupMillis;     // each lookup's time
};

// The register's answer times: median and 95th percentile (nearest rank).
struct AnswerTimes {
    std::uint32_t median = 0, p95 = 0;
    size_t count = 0;
};
std::optional<AnswerTimes> AnswerTimesOf(std::vector<std::uint32_t> millis);

// Collects one run's report. Its lookup hook is called from the lookups'
// worker threads, the others from the run's thread.
class RunReportRecorder {
public:
    void LookupTook(std::chrono::milliseconds took);
    void RowDone(std::chrono::milliseconds sinceStart);
    // One row saved (a preview: would be saved) with these records.
    void RowSaved(std::span<const JournalRecord> records);
    // A patient who failed, grouped by kind and reason.
    void Failed(FailureKind kind, std::wstring_view reason, std::wstring_view key, std::wstring_view number);
    // What has been collected, with the run's summary.
    RunReport Report(const RunSummary& summary) const;

private:
    mutable std::mutex mutex_;
    RunReport report_;
};

// `text` escaped for HTML text and quoted attributes, as UTF-8: & < > " '
// become references, control characters other than tab and line breaks
// and lone surrogates become U+FFFD.
std::string HtmlText(std::wstring_view text);

// The page, UTF-8.
std::string RunReportHtml(const RunReport& report);

}  // namespace tolmar
