// The SOAP headers the register may send with a reply, and the three
// last-error strings that its error header leaves behind.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolmar {

// The SOAP layer's base of header objects.
class SoapHeader {
public:
    virtual ~SoapHeader() = default;
};

enum class EnumTEHCHeaderSeverity { None, Critical, Warning, Information };

std::wstring_view SeverityText(EnumTEHCHeaderSeverity severity);
std::optional<EnumTEHCHeaderSeverity> ParseSeverity(std::wstring_view text);

// Left by the most recent HeaderErrorInfo that carried each member; empty at
// start, never cleared during a run. The register session keeps the one set
// of a run (see register/win/register_session.h).
struct LastErrorStrings {
    std::wstring LastErrorFunction;
    std::wstring LastErrorModule;
    std::wstring LastErrorDescription;
};

// What the error headers of one lookup's replies set of the three strings
// (nullopt: left as it was). Every reply records its headers here, and the
// run takes them into its strings in patient order, so that the strings
// read as if every lookup had been made in turn, on whichever thread.
struct LastErrorChanges {
    std::optional<std::wstring> function, module, description;
    void ApplyTo(LastErrorStrings& strings) const;
};

// Schema type "HeaderErrorInfo".
class HeaderErrorInfo2 : public SoapHeader {
public:
    // Records the members that were assigned (FunctionName, ModuleName,
    // Description) as changes of the matching last-error strings.
    void RecordInto(LastErrorChanges& changes) const;

    void SetFunctionName(std::wstring_view v) { functionName_ = v; functionNameSpecified_ = true; }
    void SetSeverity(EnumTEHCHeaderSeverity v) { severity_ = v; }
    void SetErrorType(std::wstring_view v) { errorType_ = v; errorTypeSpecified_ = true; }
    void SetModuleName(std::wstring_view v) { moduleName_ = v; moduleNameSpecified_ = true; }
    void SetDescription(std::wstring_view v) { description_ = v; descriptionSpecified_ = true; }
    void SetCode(std::int64_t v) { code_ = v; }

    const std::wstring& FunctionName() const { return functionName_; }
    EnumTEHCHeaderSeverity Severity() const { return severity_; }
    const std::wstring& ErrorType() const { return errorType_; }
    const std::wstring& ModuleName() const { return moduleName_; }
    const std::wstring& Description() const { return description_; }
    std::int64_t Code() const { return code_; }
    bool FunctionNameSpecified() const { return functionNameSpecified_; }
    bool ErrorTypeSpecified() const { return errorTypeSpecified_; }
    bool ModuleNameSpecified() const { return moduleNameSpecified_; }
    bool DescriptionSpecified() const { return descriptionSpecified_; }

private:
    std::wstring functionName_, errorType_, moduleName_, description_;
    EnumTEHCHeaderSeverity severity_ = EnumTEHCHeaderSeverity::None;
    std::int64_t code_ = 0;
    bool functionNameSpecified_ = false, errorTypeSpecified_ = false, moduleNameSpecified_ = false,
         descriptionSpecified_ = false;
};
// Header element "HeaderErrorInfo".
class HeaderErrorInfo : public HeaderErrorInfo2 {};

// Schema type "HeaderInfo".
class HeaderInfo2 : public SoapHeader {
public:
    void SetRowsCount(std::int32_t v) { rowsCount_ = v; }
    void SetMaxRows(std::int32_t v) { maxRows_ = v; }
    void SetSourceName(std::wstring_view v) { sourceName_ = v; sourceNameSpecified_ = true; }
    std::int32_t RowsCount() const { return rowsCount_; }
    std::int32_t MaxRows() const { return maxRows_; }
    const std::wstring& SourceName() const { return sourceName_; }
    bool SourceNameSpecified() const { return sourceNameSpecified_; }

private:
    std::int32_t rowsCount_ = 0, maxRows_ = 0;
    std::wstring sourceName_;
    bool sourceNameSpecified_ = false;
};
// Header element "HeaderInfo".
class HeaderInfo : public HeaderInfo2 {};

}  // namespace tolmar
