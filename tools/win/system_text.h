// Helpers around the system's own texts and paths.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tolmar::win {

// The system's message text for an error code (FormatMessageW, system table,
// default language), as returned: such texts end with a line break. "" when
// the system has no text for the code.
std::wstring SystemErrorText(DWORD code);

// The same text without trailing blanks, line breaks and full stops.
std::wstring SystemErrorTextShort(DWORD code);

bool FileExists(const std::wstring& path);       // a file, not a folder
bool DirectoryExists(const std::wstring& path);

// The start parameters, without the program name.
std::vector<std::wstring> StartParameters();

}  // namespace tolmar::win
