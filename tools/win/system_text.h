// Helpers around the system's own texts and paths.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "tools/error.h"

namespace tolmar::win {

// The system's message text for an error code (FormatMessageW, system table,
// default language), as returned: such texts end with a line break. "" when
// the system has no text for the code.
std::wstring SystemErrorText(DWORD code);

// The same text without trailing blanks, line breaks and full stops.
std::wstring SystemErrorTextShort(DWORD code);

// The one way a Win32 adapter reports a failed system call: throws Error
// with `what` followed by the system's short text for the calling thread's
// last error. `what` is a text, or a function that makes it, called only
// after the error code is taken.
template <typename What>
[[noreturn]] void ThrowLastError(What&& what) {
    const DWORD code = GetLastError();
    if constexpr (std::is_invocable_v<What>)
        throw Error(std::wstring(what()) + SystemErrorTextShort(code));
    else
        throw Error(std::wstring(what) + SystemErrorTextShort(code));
}

// Nothing when `failed` is false; otherwise ThrowLastError(what).
template <typename What>
void ThrowLastErrorIf(bool failed, What&& what) {
    if (failed) ThrowLastError(std::forward<What>(what));
}

bool FileExists(const std::wstring& path);       // a file, not a folder
bool DirectoryExists(const std::wstring& path);

// The start parameters, without the program name.
std::vector<std::wstring> StartParameters();

}  // namespace tolmar::win
