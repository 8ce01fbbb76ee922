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

// A failure told by its code rather than the system's text: "<what> (fel
// 5)<after>", and for an HRESULT "<what> (fel 0x80010106)<after>".
std::wstring WithErrorCode(std::wstring_view what, DWORD code, std::wstring_view after = L".");
std::wstring WithHresult(std::wstring_view what, HRESULT result, std::wstring_view after = L".");

// Nothing when `failed` is false; otherwise throws Error with WithErrorCode
// of the calling thread's last error.
void ThrowLastErrorCodeIf(bool failed, std::wstring_view what, std::wstring_view after = L".");

// Nothing when `result` is a success; otherwise throws Error with WithHresult.
void ThrowIfFailed(HRESULT result, std::wstring_view what, std::wstring_view after = L".");

bool FileExists(const std::wstring& path);  // a file, not a folder
bool DirectoryExists(const std::wstring& path);

// The start parameters, without the program name.
std::vector<std::wstring> StartParameters();

}  // namespace tolmar::win
