#include "register/soap_headers.h"

namespace tolmar {

namespace {
constexpr std::wstring_view kSeverityTexts[] = {L"None", L"Critical", L"Warning", L"Information"};
}

std::wstring_view SeverityText(EnumTEHCHeaderSeverity severity) {
    return kSeverityTexts[static_cast<int>(severity)];
}

std::optional<EnumTEHCHeaderSeverity> ParseSeverity(std::wstring_view text) {
    for (int i = 0; i < 4; ++i)
        if (kSeverityTexts[i] == text) return static_cast<EnumTEHCHeaderSeverity>(i);
    return std::nullopt;
}

LastErrorStrings& LastErrors() {
    static LastErrorStrings strings;
    return strings;
}

void HeaderErrorInfo2::SetFunctionName(std::wstring_view v) {
    functionName_ = v;
    functionNameSpecified_ = true;
    LastErrors().LastErrorFunction = functionName_;
}

void HeaderErrorInfo2::SetModuleName(std::wstring_view v) {
    moduleName_ = v;
    moduleNameSpecified_ = true;
    LastErrors().LastErrorModule = moduleName_;
}

void HeaderErrorInfo2::SetDescription(std::wstring_view v) {
    description_ = v;
    descriptionSpecified_ = true;
    LastErrors().LastErrorDescription = description_;
}

}  // namespace tolmar
