#include "app/dispatch.h"

#include "register/personal_number.h"
#include "register/reply_guard.h"
#include "tools/text.h"

namespace tolmar {

StartRequest ParseStartParameter(std::wstring_view parameter1) {
    StartRequest request;
    // Upper-casing keeps the length, so a position in `upper` is the same
    // position in the parameter as typed.
    const std::wstring upper = UpperLocale(parameter1);
    if (const size_t k = upper.find(kPersonMarker); k != std::wstring::npos) {
        request.job = Job::PersonLookup;
        request.number = WithoutFirstHyphen(std::wstring(parameter1.substr(k + kPersonMarker.size())));
        // A "¤" or a control character would forge the host record's fields.
        request.numberValid = request.number.size() == kPersonalNumberLength && IsCleanNumber(request.number);
    } else if (upper == kTestModeParameter) {
        request.job = Job::TestMode;
    } else if (upper == kUpdateAllParameter) {
        request.job = Job::UpdateAll;
    }
    return request;
}

std::wstring ErrorsFileName(std::wstring_view appPath, std::wstring_view shortDate) {
    return std::wstring(appPath) + L"errors " + ReplaceAll(shortDate, L"/", L"") + L".txt";
}

std::wstring ErrorsFileText(const std::vector<std::wstring>& lines) {
    std::wstring text;
    for (const auto& line : lines) {
        text += line;
        text += L"\r\n";
    }
    return text;
}

}  // namespace tolmar
