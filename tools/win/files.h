// Folder scans and deletion by wildcard.
#pragma once

#include <string>
#include <vector>

namespace tolmar {

// Full paths of the files whose long names fit mask (tools/file_mask.h) in
// folder and its sub-folders. The scan of a folder ends at the first file
// entry whose mask search found something, so sub-folders enumerated after
// it are not searched. An empty mask (or one not above " ") lists every
// file. Failures are shown with ShowError; the list keeps what was found.
std::vector<std::wstring> FindFiles(const std::wstring& folder, const std::wstring& mask);

// Deletes every entry whose long name fits mask (a folder path plus a
// wildcard name; tools/file_mask.h). Each failed deletion gets its own
// "Error!" box; nothing is raised.
void DeleteFilesByMask(const std::wstring& mask);

}  // namespace tolmar
