// Folder scans and deletion by wildcard.
#pragma once

#include <string>
#include <vector>

namespace tolmar {

// Full paths of the files matching mask in folder and its sub-folders. The
// scan of a folder ends at the first file entry whose mask search found
// something, so sub-folders enumerated after it are not searched. An empty
// mask (or one not above " ") lists every file. Failures are shown with
// ShowError; the list keeps what was found.
std::vector<std::wstring> FindFiles(const std::wstring& folder, const std::wstring& mask);

// Deletes every entry matching mask (a folder path plus a wildcard name).
// Each failed deletion gets its own "Error!" box; nothing is raised.
void DeleteFilesByMask(const std::wstring& mask);

}  // namespace tolmar
