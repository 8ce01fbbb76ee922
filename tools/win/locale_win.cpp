// Case mapping with the user's locale rules, as CharUpperBuffW does it: one
// character in, one character out, so the length never changes.
#include <windows.h>

#include "tools/text.h"

namespace tolmar {

std::wstring UpperLocale(std::wstring_view text) {
    std::wstring out(text);
    if (!out.empty()) CharUpperBuffW(out.data(), static_cast<DWORD>(out.size()));
    return out;
}

std::wstring LowerLocale(std::wstring_view text) {
    std::wstring out(text);
    if (!out.empty()) CharLowerBuffW(out.data(), static_cast<DWORD>(out.size()));
    return out;
}

}  // namespace tolmar
