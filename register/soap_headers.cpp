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

namespace {
// The capture of the calling thread, if any.
thread_local LastErrorChanges* t_capture = nullptr;

void Store(std::wstring LastErrorStrings::*string, std::optional<std::wstring> LastErrorChanges::*change,
           const std::wstring& value) {
    if (t_capture)
        (*t_capture).*change = value;
    else
        LastErrors().*string = value;
}
}  // namespace

void LastErrorChanges::ApplyTo(LastErrorStrings& strings) const {
    if (function) strings.LastErrorFunction = *function;
    if (module) strings.LastErrorModule = *module;
    if (description) strings.LastErrorDescription = *description;
}

LastErrorCapture::LastErrorCapture(LastErrorChanges& changes) : previous_(t_capture) { t_capture = &changes; }
LastErrorCapture::~LastErrorCapture() { t_capture = previous_; }

void HeaderErrorInfo2::SetFunctionName(std::wstring_view v) {
    functionName_ = v;
    functionNameSpecified_ = true;
    Store(&LastErrorStrings::LastErrorFunction, &LastErrorChanges::function, functionName_);
}

void HeaderErrorInfo2::SetModuleName(std::wstring_view v) {
    moduleName_ = v;
    moduleNameSpecified_ = true;
    Store(&LastErrorStrings::LastErrorModule, &LastErrorChanges::module, moduleName_);
}

void HeaderErrorInfo2::SetDescription(std::wstring_view v) {
    description_ = v;
    descriptionSpecified_ = true;
    Store(&LastErrorStrings::LastErrorDescription, &LastErrorChanges::description, description_);
}

}  // namespace tolmar
