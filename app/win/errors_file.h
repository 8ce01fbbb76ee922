// The errors file of an update run.
#pragma once

#include <string>
#include <vector>

namespace tolmar::win {

// Today's date in the user's short date format.
std::wstring ShortDateToday();

// Writes the lines, each followed by CR LF, in the ANSI code page without a
// byte-order mark, to appPath + "errors " + date + ".txt" (overwriting).
// Returns the path; throws Error when the file cannot be written.
std::wstring WriteErrorsFile(const std::wstring& appPath, const std::vector<std::wstring>& lines);

}  // namespace tolmar::win
