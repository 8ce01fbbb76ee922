// Folder scans and deletion by wildcard.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tolmar {

class UserMessages;

// Full paths of the files whose long names fit mask (tools/file_mask.h) in
// folder and its sub-folders. The scan of a folder ends at the first file
// entry whose mask search found something, so sub-folders enumerated after
// it are not searched. An empty mask (or one not above " ") lists every
// file. Failures are shown with messages.ShowError; the list keeps what was
// found.
std::vector<std::wstring> FindFiles(UserMessages& messages, const std::wstring& folder, const std::wstring& mask);

// Deletes every entry whose long name fits mask (a folder path plus a
// wildcard name; tools/file_mask.h). Each failed deletion gets its own
// "Error!" box, owned by `owner`; nothing is raised.
void DeleteFilesByMask(HWND owner, const std::wstring& mask);

}  // namespace tolmar
