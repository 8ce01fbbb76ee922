// Start-up environment: fills the program's Environment once.
#pragma once

#include <string>

#include "tools/environment.h"

namespace tolmar::win {

// Fills `env`: AppPath, AppKey, the Windows and system folders, the data-link
// folder, the data-link file (from the setting, then from ".udl" start
// parameters) and its connection string, and the suite's data folder.
// Throws Error("Unable to get Current path" / "... Windows path" /
// "... System32 path") when a directory query fails.
void InitEnvironment(Environment& env);

// The data-link folder as the suite's 32-bit programs see it:
// <32-bit Common Files>\System\Ole DB\Data Links\ (the ordinary Common
// Files folder where there is no 32-bit one); "" when neither is known.
std::wstring DataLinksFolder();

// Path of a shell special folder without trailing "\"; false when empty.
bool GetSpecialFolderPath(int csidl, std::wstring& path);

// `path` with every existing component in the letter case the file system stores.
std::wstring PathInStoredCase(const std::wstring& path);

}  // namespace tolmar::win
