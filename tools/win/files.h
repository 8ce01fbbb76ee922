// Folder scans and deletion by wildcard.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
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
// wildcard name; tools/file_mask.h). Each failed deletion (a folder of such
// a name, a file in use) gets its own "Error!" box from `messages` (in an
// unattended run, a line); nothing is raised.
inline constexpr std::wstring_view kDeletionFailedCaption = L"Error!";
void DeleteFilesByMask(UserMessages& messages, const std::wstring& mask);

// A file's full final path: relative to the working folder, with "." and
// ".." resolved, links followed and the letter case the file system keeps
// (GetFinalPathNameByHandleW). For a file that cannot be opened, its full
// path as given (GetFullPathNameW).
std::wstring FinalPathOf(std::wstring_view path);

}  // namespace tolmar
