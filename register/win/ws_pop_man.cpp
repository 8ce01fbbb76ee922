#include "register/win/ws_pop_man.h"

#include <cwchar>

#include "register/endpoint_text.h"
#include "register/reply_guard.h"
#include "register/soap_headers.h"
#include "register/win/xml_dom.h"
#include "tools/error.h"
#include "tools/text.h"

namespace tolmar::win {
namespace {

bool IsElement(IXMLDOMNode* node, std::wstring_view ns, std::wstring_view name) {
    return NamespaceOf(node) == ns && LocalNameOf(node) == name;
}

void ReadHeaderErrorInfo(IXMLDOMNode* element, LastErrorChanges& lastErrors) {
    HeaderErrorInfo header;
    for (auto& member : ElementChildren(element)) {
        // The texts end up in error texts, lines and boxes: cut to a sane length.
        const std::wstring name = LocalNameOf(member.get()), text = CutRegisterText(TextOf(member.get()));
        if (name == L"FunctionName") header.SetFunctionName(text);
        else if (name == L"ModuleName") header.SetModuleName(text);
        else if (name == L"Description") header.SetDescription(text);
        else if (name == L"ErrorType") header.SetErrorType(text);
        else if (name == L"Severity") {
            if (auto severity = ParseSeverity(Trim(text))) header.SetSeverity(*severity);
        } else if (name == L"Code") {
            header.SetCode(std::wcstoll(text.c_str(), nullptr, 10));
        }
    }
    header.RecordInto(lastErrors);
}

void ReadHeaderInfo(IXMLDOMNode* element) {
    HeaderInfo header;
    for (auto& member : ElementChildren(element)) {
        const std::wstring name = LocalNameOf(member.get()), text = TextOf(member.get());
        if (name == L"RowsCount") header.SetRowsCount(static_cast<std::int32_t>(std::wcstol(text.c_str(), nullptr, 10)));
        else if (name == L"MaxRows") header.SetMaxRows(static_cast<std::int32_t>(std::wcstol(text.c_str(), nullptr, 10)));
        else if (name == L"SourceName") header.SetSourceName(text);
    }
}

std::wstring FaultText(IXMLDOMNode* fault) {
    ComPtr<IXMLDOMNode> reason, detail;
    for (auto& part : ElementChildren(fault)) {
        if (IsElement(part.get(), kSoap12EnvelopeNamespace, L"Reason")) reason = std::move(part);
        else if (IsElement(part.get(), kSoap12EnvelopeNamespace, L"Detail")) detail = std::move(part);
    }
    if (reason) {
        std::wstring text = TextOf(reason.get());
        if (!text.empty()) return text;
    }
    if (detail) return XmlOf(detail.get());
    return XmlOf(fault);
}

// Reason text, else the Detail element's XML, else the whole fault's XML;
// cut to a sane length.
std::wstring FaultMessage(IXMLDOMNode* fault) { return CutRegisterText(FaultText(fault)); }

bool SameNameNoCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && UpperLocale(a) == UpperLocale(b);
}

bool IsHttpUrl(std::wstring_view location) {
    const std::wstring lower = LowerLocale(location.substr(0, 8));
    return lower.rfind(L"http://", 0) == 0 || lower.rfind(L"https://", 0) == 0;
}

// The WSDL document: over HTTP with the lookup's bounds and checks, or a
// file as the parser reads it.
bool LoadWsdl(HttpSession& http, IXMLDOMDocument2* doc, const std::wstring& location) {
    if (IsHttpUrl(location)) {
        try {
            const HttpReply reply = HttpTransport(http, location).Get();
            if (reply.status >= 300) return false;
            const std::optional<std::wstring> text = DecodeUtf8Strict(reply.body);
            if (!text || HasDoctype(*text)) return false;
            std::wstring reason;
            return LoadXmlText(doc, *text, reason);
        } catch (const std::exception&) {
            return false;
        }
    }
    const UniqueVariant source = UniqueVariant::Text(location);
    VARIANT_BOOL ok = VARIANT_FALSE;
    return SUCCEEDED(doc->load(source.get(), &ok)) && ok == VARIANT_TRUE;
}

std::wstring WsdlEndpoint(HttpSession& http, const std::wstring& location) {
    ComPtr<IXMLDOMDocument2> doc = NewXmlDocument();
    doc->put_resolveExternals(VARIANT_FALSE);
    if (!LoadWsdl(http, doc.get(), location)) return {};
    doc->setProperty(UniqueBstr(L"SelectionLanguage").get(), UniqueVariant::Text(L"XPath").get());
    doc->setProperty(UniqueBstr(L"SelectionNamespaces").get(),
                     UniqueVariant::Text(L"xmlns:wsdl='http://schemas.xmlsoap.org/wsdl/' "
                                         L"xmlns:soap12='http://schemas.xmlsoap.org/wsdl/soap12/'")
                         .get());
    const std::wstring query = L"/wsdl:definitions/wsdl:service[@name='" + std::wstring(kWsdlService) +
                               L"']/wsdl:port[@name='" + std::wstring(kWsdlPort) + L"']/soap12:address/@location";
    ComPtr<IXMLDOMNode> location_;
    if (FAILED(doc->selectSingleNode(UniqueBstr(query).get(), location_.put())) || !location_) return {};
    return TextOf(location_.get());
}

}  // namespace

std::wstring ReadSoapReply(const std::string& body, const OperationInfo& operation, ComPtr<IXMLDOMDocument2>& parser,
                           LastErrorChanges& lastErrors) {
    if (!parser) parser = NewXmlDocument();
    IXMLDOMDocument2* doc = parser.get();
    // Nothing the register sends reaches the parser unchecked: its size, its
    // encoding (strict UTF-8, nothing replaced) and no DTD.
    if (body.size() > kMaxReplyBytes) throw Error(ReplyTooLargeText());
    std::size_t badOffset = 0;
    const std::optional<std::wstring> text = DecodeUtf8Strict(body, &badOffset);
    if (!text) throw Error(ReplyNotUtf8Text(badOffset));
    if (HasDoctype(*text)) throw Error(ReplyHasDoctypeText());
    std::wstring reason;
    if (!LoadXmlText(doc, *text, reason))
        throw Error(L"Svaret från registret är inget SOAP-meddelande: " + CutRegisterText(reason));
    ComPtr<IXMLDOMElement> root;
    doc->get_documentElement(root.put());
    ComPtr<IXMLDOMNode> envelope = root.query<IXMLDOMNode>();
    if (!envelope || !IsElement(envelope.get(), kSoap12EnvelopeNamespace, L"Envelope"))
        throw Error(L"Svaret från registret är inget SOAP 1.2-kuvert.");

    ComPtr<IXMLDOMNode> bodyElement;
    for (auto& part : ElementChildren(envelope.get())) {
        if (IsElement(part.get(), kSoap12EnvelopeNamespace, L"Header")) {
            for (auto& header : ElementChildren(part.get())) {
                if (IsElement(header.get(), kNamespace, L"HeaderErrorInfo"))
                    ReadHeaderErrorInfo(header.get(), lastErrors);
                else if (IsElement(header.get(), kNamespace, L"HeaderInfo")) ReadHeaderInfo(header.get());
            }
        } else if (IsElement(part.get(), kSoap12EnvelopeNamespace, L"Body")) {
            bodyElement = std::move(part);
            break;
        }
    }
    if (!bodyElement) throw Error(L"Svaret från registret saknar SOAP-kropp.");

    std::vector<ComPtr<IXMLDOMNode>> content = ElementChildren(bodyElement.get());
    for (auto& element : content)
        if (IsElement(element.get(), kSoap12EnvelopeNamespace, L"Fault")) throw Error(FaultMessage(element.get()));

    ComPtr<IXMLDOMNode> response;
    if (!content.empty()) response = std::move(content.front());
    std::vector<ComPtr<IXMLDOMNode>> children = ElementChildren(response.get());
    for (auto& child : children)
        if (SameNameNoCase(LocalNameOf(child.get()), operation.ResultElement)) return TextOf(child.get());
    if (children.size() == 1) return TextOf(children.front().get());
    throw Error(L"SOAP Response Packet: element matching function return not found, received \"" +
                CutRegisterText(XmlOf(response.get())) + L"\"");
}

std::wstring WsPopManSoap::Call(std::wstring_view operation, const std::vector<Argument>& arguments) {
    const OperationInfo* info = FindOperation(operation);
    if (!info) throw Error(L"Okänd operation: " + std::wstring(operation));
    const std::string envelope = BuildRequestEnvelope(operation, arguments);
    HttpReply reply;
    try {
        reply = transport_->Post(ContentTypeOf(operation), envelope, ActionOf(operation));
    } catch (const ReplyRefused&) {
        throw;  // an answer, if a bad one
    } catch (const Error& e) {
        throw RegisterUnreachable(e.message());
    }
    if (reply.status >= 300 && reply.status != 500) {
        wchar_t code[32];
        std::swprintf(code, 32, L"%lu", reply.status);
        std::wstring text = reply.statusText + L" (" + code + L") - '" + MaskedEndpoint(transport_->url()) + L"'";
        // An error status is the register (or what stands before it) out of
        // service; a redirect is an answer this program does not follow.
        if (reply.status >= 400) throw RegisterUnreachable(std::move(text));
        throw Error(std::move(text));
    }
    return ReadSoapReply(reply.body, *info, parser_, lastErrors_);
}

namespace {
// The name of an operation's second parameter ("sPnr" or "sName").
std::wstring KeyName(std::wstring_view operation) {
    const OperationInfo* info = FindOperation(operation);
    return info ? std::wstring(info->Parameters[1].Name) : std::wstring(L"sPnr");
}
}  // namespace

std::wstring WsPopManSoap::GetPerson(const Login& login, std::wstring_view sPnr, bool flagOtherArchive) {
    return Call(L"GetPerson", {{L"login", login}, {L"sPnr", std::wstring(sPnr)}, {L"flagOtherArchive", flagOtherArchive}});
}
std::wstring WsPopManSoap::GetPerson_Konvert(const Login& login, std::wstring_view sPnr, bool flagOtherArchive) {
    return Call(L"GetPerson_Konvert",
                {{L"login", login}, {L"sPnr", std::wstring(sPnr)}, {L"flagOtherArchive", flagOtherArchive}});
}

namespace {
std::vector<Argument> ListArguments(std::wstring_view operation, const Login& login, std::wstring_view key,
                                    std::wstring_view sortBy) {
    return {{L"login", login}, {KeyName(operation), std::wstring(key)}, {L"sortBy", std::wstring(sortBy)}};
}
}  // namespace

// The eight list operations: login, a number or a name, and a sort order.
std::wstring WsPopManSoap::CallList(std::wstring_view operation, const Login& login, std::wstring_view key,
                                    std::wstring_view sortBy) {
    return Call(operation, ListArguments(operation, login, key, sortBy));
}

std::wstring WsPopManSoap::GetPopListByPnr_Konvert(const Login& l, std::wstring_view k, std::wstring_view s) {
    return CallList(L"GetPopListByPnr_Konvert", l, k, s);
}
std::wstring WsPopManSoap::GetPopListByPnr(const Login& l, std::wstring_view k, std::wstring_view s) {
    return CallList(L"GetPopListByPnr", l, k, s);
}
std::wstring WsPopManSoap::GetPopListByName_Konvert(const Login& l, std::wstring_view k, std::wstring_view s) {
    return CallList(L"GetPopListByName_Konvert", l, k, s);
}
std::wstring WsPopManSoap::GetPopListByName(const Login& l, std::wstring_view k, std::wstring_view s) {
    return CallList(L"GetPopListByName", l, k, s);
}
std::wstring WsPopManSoap::GetCanListByPnr_Konvert(const Login& l, std::wstring_view k, std::wstring_view s) {
    return CallList(L"GetCanListByPnr_Konvert", l, k, s);
}
std::wstring WsPopManSoap::GetCanListByPnr(const Login& l, std::wstring_view k, std::wstring_view s) {
    return CallList(L"GetCanListByPnr", l, k, s);
}
std::wstring WsPopManSoap::GetCanListByName_Konvert(const Login& l, std::wstring_view k, std::wstring_view s) {
    return CallList(L"GetCanListByName_Konvert", l, k, s);
}
std::wstring WsPopManSoap::GetCanListByName(const Login& l, std::wstring_view k, std::wstring_view s) {
    return CallList(L"GetCanListByName", l, k, s);
}

std::unique_ptr<WsPopManSoap> GetWsPopManSoap(HttpSession& http, ComPtr<IXMLDOMDocument2>& parser,
                                              LastErrorChanges& lastErrors, bool useWsdl, std::wstring_view address,
                                              std::shared_ptr<HttpTransport> transport) {
    std::wstring where(address);
    if (where.empty()) where = useWsdl ? kDefaultWsdlLocation : kDefaultEndpoint;
    std::wstring endpoint = where;
    if (useWsdl) {
        endpoint = WsdlEndpoint(http, where);
        if (endpoint.empty()) return nullptr;
    }
    if (!transport) transport = std::make_shared<HttpTransport>(http, endpoint);
    return std::make_unique<WsPopManSoap>(std::move(transport), parser, lastErrors);
}

}  // namespace tolmar::win
