#include "register/personal_number.h"

#include <algorithm>

#include "tools/text.h"

namespace tolmar {

std::wstring WithoutFirstHyphen(std::wstring text) {
    if (const std::size_t hyphen = text.find(L'-'); hyphen != std::wstring::npos) text.erase(hyphen, 1);
    return text;
}

std::optional<std::wstring> TwelveDigits(std::wstring_view text) {
    std::wstring digits = WithoutFirstHyphen(Trim(text));
    const bool allDigits =
        std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
    if (digits.size() != 12 || !allDigits) return std::nullopt;
    return digits;
}

bool SamePersonalNumber(std::wstring_view asked, std::wstring_view answered) {
    const std::optional<std::wstring> a = TwelveDigits(asked), b = TwelveDigits(answered);
    if (a || b) return a == b;
    const std::wstring plainAsked = WithoutFirstHyphen(Trim(asked));
    return !plainAsked.empty() && plainAsked == WithoutFirstHyphen(Trim(answered));
}

}  // namespace tolmar
