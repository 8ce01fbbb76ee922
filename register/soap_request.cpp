#include "register/soap_request.h"

#include <stdexcept>

#include "tools/text.h"

namespace tolmar {

std::wstring ActionOf(std::wstring_view operation) {
    return std::wstring(kNamespace) + L"/" + std::wstring(operation);
}

std::wstring ContentTypeOf(std::wstring_view operation) {
    return L"application/soap+xml; charset=" + std::wstring(kCharset) + L";action=\"" +
           ActionOf(operation) + L"\"";
}

const std::array<OperationInfo, 10>& Operations() {
    using T = ParameterType;
    static const std::array<OperationInfo, 10> kOperations = {{
        {L"GetPerson", {{{L"login", T::Login}, {L"sPnr", T::String}, {L"flagOtherArchive", T::Boolean}}},
         L"GetPersonResult"},
        {L"GetPerson_Konvert",
         {{{L"login", T::Login}, {L"sPnr", T::String}, {L"flagOtherArchive", T::Boolean}}},
         L"GetPerson_KonvertResult"},
        {L"GetPopListByPnr_Konvert", {{{L"login", T::Login}, {L"sPnr", T::String}, {L"sortBy", T::String}}},
         L"GetPopListByPnr_KonvertResult"},
        {L"GetPopListByPnr", {{{L"login", T::Login}, {L"sPnr", T::String}, {L"sortBy", T::String}}},
         L"GetPopListByPnrResult"},
        {L"GetPopListByName_Konvert", {{{L"login", T::Login}, {L"sName", T::String}, {L"sortBy", T::String}}},
         L"GetPopListByName_KonvertResult"},
        {L"GetPopListByName", {{{L"login", T::Login}, {L"sName", T::String}, {L"sortBy", T::String}}},
         L"GetPopListByNameResult"},
        {L"GetCanListByPnr_Konvert", {{{L"login", T::Login}, {L"sPnr", T::String}, {L"sortBy", T::String}}},
         L"GetCanListByPnr_KonvertResult"},
        {L"GetCanListByPnr", {{{L"login", T::Login}, {L"sPnr", T::String}, {L"sortBy", T::String}}},
         L"GetCanListByPnrResult"},
        {L"GetCanListByName_Konvert", {{{L"login", T::Login}, {L"sName", T::String}, {L"sortBy", T::String}}},
         L"GetCanListByName_KonvertResult"},
        {L"GetCanListByName", {{{L"login", T::Login}, {L"sName", T::String}, {L"sortBy", T::String}}},
         L"GetCanListByNameResult"},
    }};
    return kOperations;
}

const OperationInfo* FindOperation(std::wstring_view name) {
    for (const auto& op : Operations())
        if (op.Name == name) return &op;
    return nullptr;
}

std::wstring EscapeXmlText(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        switch (c) {
            case L'&': out += L"&amp;"; break;
            case L'<': out += L"&lt;"; break;
            case L'>': out += L"&gt;"; break;
            case L'\r': out += L"&#xD;"; break;
            case L'\t':
            case L'\n': out += c; break;
            default:
                if (static_cast<unsigned long>(c) < 0x20 || c == 0xFFFE || c == 0xFFFF)
                    out += L'\uFFFD';
                else
                    out += c;  // lone surrogates become U+FFFD in the UTF-8 conversion
        }
    }
    return out;
}

namespace {

void AppendElement(std::wstring& xml, std::wstring_view name, std::wstring_view escapedContent) {
    xml += L'<';
    xml += name;
    xml += L'>';
    xml += escapedContent;
    xml += L"</";
    xml += name;
    xml += L'>';
}

std::wstring LoginContent(const Login& login) {
    std::wstring xml;
    if (login.UserNameSpecified()) AppendElement(xml, L"UserName", EscapeXmlText(login.UserName()));
    if (login.PasswordSpecified()) AppendElement(xml, L"Password", EscapeXmlText(login.Password()));
    return xml;
}

bool Matches(ParameterType type, const ArgumentValue& value) {
    switch (type) {
        case ParameterType::Login: return std::holds_alternative<Login>(value);
        case ParameterType::String: return std::holds_alternative<std::wstring>(value);
        case ParameterType::Boolean: return std::holds_alternative<bool>(value);
    }
    return false;
}

}  // namespace

std::string BuildRequestEnvelope(std::wstring_view operation, const std::vector<Argument>& arguments) {
    const OperationInfo* op = FindOperation(operation);
    if (op == nullptr) throw std::invalid_argument("unknown register operation: " + ToUtf8(operation));
    if (arguments.size() != op->Parameters.size())
        throw std::invalid_argument("wrong number of arguments for " + ToUtf8(operation));
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const ParameterInfo& p = op->Parameters[i];
        if (arguments[i].Name != p.Name || !Matches(p.Type, arguments[i].Value))
            throw std::invalid_argument("argument " + std::to_string(i + 1) + " of " + ToUtf8(operation) +
                                        " must be " + ToUtf8(p.Name));
    }

    std::wstring xml = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>";
    xml += L"<soap:Envelope xmlns:soap=\"";
    xml += kSoap12EnvelopeNamespace;
    xml += L"\"><soap:Body><";
    xml += op->Name;
    xml += L" xmlns=\"";
    xml += kNamespace;
    xml += L"\">";
    for (const Argument& a : arguments) {
        std::wstring content;
        if (const auto* login = std::get_if<Login>(&a.Value))
            content = LoginContent(*login);
        else if (const auto* text = std::get_if<std::wstring>(&a.Value))
            content = EscapeXmlText(*text);
        else
            content = std::get<bool>(a.Value) ? L"true" : L"false";
        AppendElement(xml, a.Name, content);
    }
    xml += L"</";
    xml += op->Name;
    xml += L"></soap:Body></soap:Envelope>";
    return ToUtf8(xml);
}

std::string BuildGetPersonRequest(const Login& login, std::wstring_view sPnr, bool flagOtherArchive) {
    return BuildRequestEnvelope(L"GetPerson", {{L"login", login},
                                               {L"sPnr", std::wstring(sPnr)},
                                               {L"flagOtherArchive", flagOtherArchive}});
}

}  // namespace tolmar
