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

void LastErrorChanges::ApplyTo(LastErrorStrings& strings) const {
    if (function) strings.LastErrorFunction = *function;
    if (module) strings.LastErrorModule = *module;
    if (description) strings.LastErrorDescription = *description;
}

void HeaderErrorInfo2::RecordInto(LastErrorChanges& changes) const {
    if (functionNameSpecified_) changes.function = functionName_;
    if (moduleNameSpecified_) changes.module = moduleName_;
    if (descriptionSpecified_) changes.description = description_;
}

}  // namespace tolmar
