// The record of an update run on disk: "runs\" in the working folder, with
// its access list, one folder per run holding "log.txt", "summary.json" and
// the run's journal, and the removal of old run folders (app/run_record.h
// decides which).
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_record.h"
#include "app/run_report.h"
#include "tools/win/unique.h"

namespace tolmar::win {

// "runs": SYSTEM and Administrators all, what each account creates all to
// it (CREATOR OWNER, inherited only), and every other authenticated user
// only the right to make a folder in it (no listing, no reading: the logs
// hold personal numbers, names and addresses). Protected: nothing is
// inherited from the working folder.
inline constexpr wchar_t kRunsFolderSddl[] =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;FA;;;CO)(A;;0x4;;;AU)";

// The local time now, with its offset from UTC.
LocalTime LocalTimeNow();
// The local time that `t` was, with the offset from UTC then.
LocalTime LocalTimeAt(std::chrono::system_clock::time_point t);

// appPath + "runs\", made with kRunsFolderSddl when it is not there (one
// that is there keeps its own). Throws Error.
std::wstring EnsureRunsFolder(const std::wstring& appPath);

// A new folder in `runsPath` named after `started` (with "-2", "-3", ...
// when the name is taken); its path with a trailing "\". Throws Error.
std::wstring CreateRunFolder(const std::wstring& runsPath, const LocalTime& started);

// "log.txt": UTF-8 with a byte-order mark, CR LF, each line handed to the
// system as it comes (nothing is held back in the program), so that a killed
// run leaves its log up to the kill. Readers may open it meanwhile.
class RunLogFile {
public:
    // Throws Error when the file cannot be made.
    explicit RunLogFile(const std::wstring& path);
    // False when the line could not be written.
    bool Write(const LocalTime& time, std::wstring_view line);

private:
    UniqueFile file_;
};

// Writes `json` to the folder's "summary.json" by way of a temporary file
// that then replaces it, so a reader sees the old summary or the new one,
// never half of one. Throws Error.
void WriteSummaryFile(const std::wstring& folder, const std::string& json);

// Writes `html` to the folder's "report.html" the same way. Throws Error.
void WriteReportFile(const std::wstring& folder, const std::string& html);

// Removes the run folders of `runsPath` that ExpiredRunFolders names: only
// folders directly in it, only their files "log.txt", "summary.json",
// "changes.csv", "preview.csv", "report.html" and the temporaries, never
// through a link. A folder holding anything else, or whose files cannot be
// removed, is left; the lines say which and why.
std::vector<std::wstring> RemoveExpiredRunFolders(const std::wstring& runsPath, const LocalTime& now, int keepDays);

}  // namespace tolmar::win
