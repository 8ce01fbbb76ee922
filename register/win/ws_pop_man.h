// The register service WsPopManSoap: a proxy whose ten operations travel as
// SOAP 1.2 over HTTP, and the factory that makes one.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "register/soap_headers.h"
#include "register/soap_request.h"
#include "register/win/http_transport.h"
#include "register/win/xml_dom.h"
#include "tools/error.h"

namespace tolmar::win {

// A call that got no SOAP reply at all: no connection, the deadline passed,
// an HTTP error status (400 and up, but 500, which carries a SOAP fault). The message is the caller's text as for
// any failed call.
class RegisterUnreachable : public Error {
public:
    using Error::Error;
};

// Its calls' replies are read with the caller's parser document (made at
// the first reply when empty, reused for the next) on the caller's thread,
// and their error headers are recorded in the caller's `lastErrors`; both
// outlive the proxy.
class WsPopManSoap {
public:
    WsPopManSoap(std::shared_ptr<HttpTransport> transport, ComPtr<IXMLDOMDocument2>& parser,
                 LastErrorChanges& lastErrors)
        : transport_(std::move(transport)), parser_(parser), lastErrors_(lastErrors) {}

    std::wstring GetPerson(const Login& login, std::wstring_view sPnr, bool flagOtherArchive);
    std::wstring GetPerson_Konvert(const Login& login, std::wstring_view sPnr, bool flagOtherArchive);
    std::wstring GetPopListByPnr_Konvert(const Login& login, std::wstring_view sPnr, std::wstring_view sortBy);
    std::wstring GetPopListByPnr(const Login& login, std::wstring_view sPnr, std::wstring_view sortBy);
    std::wstring GetPopListByName_Konvert(const Login& login, std::wstring_view sName, std::wstring_view sortBy);
    std::wstring GetPopListByName(const Login& login, std::wstring_view sName, std::wstring_view sortBy);
    std::wstring GetCanListByPnr_Konvert(const Login& login, std::wstring_view sPnr, std::wstring_view sortBy);
    std::wstring GetCanListByPnr(const Login& login, std::wstring_view sPnr, std::wstring_view sortBy);
    std::wstring GetCanListByName_Konvert(const Login& login, std::wstring_view sName, std::wstring_view sortBy);
    std::wstring GetCanListByName(const Login& login, std::wstring_view sName, std::wstring_view sortBy);

    const std::wstring& endpoint() const { return transport_->url(); }

    // One call: the request, the POST and the reading of the reply. Throws
    // Error with the texts the callers show.
    std::wstring Call(std::wstring_view operation, const std::vector<Argument>& arguments);

private:
    std::wstring CallList(std::wstring_view operation, const Login& login, std::wstring_view key,
                          std::wstring_view sortBy);

    std::shared_ptr<HttpTransport> transport_;
    ComPtr<IXMLDOMDocument2>& parser_;
    LastErrorChanges& lastErrors_;
};

// Reads a reply body of `operation` (status below 300, or 500) with
// `parser` (made when empty, and kept for the next reply): headers first
// (what a HeaderErrorInfo sets is recorded in `lastErrors`), then a fault or
// the result element's text. Throws Error on a fault or an unreadable reply.
std::wstring ReadSoapReply(const std::string& body, const OperationInfo& operation, ComPtr<IXMLDOMDocument2>& parser,
                           LastErrorChanges& lastErrors);

// A proxy for the address (the endpoint URL, or with useWsdl the location of
// a WSDL document whose service WsPopMan, port WsPopManSoap12, names the
// endpoint), exchanging through `http` and reading its replies as
// WsPopManSoap says. An empty address means the default endpoint or WSDL
// location. Returns nullptr when the WSDL cannot serve WsPopManSoap.
std::unique_ptr<WsPopManSoap> GetWsPopManSoap(HttpSession& http, ComPtr<IXMLDOMDocument2>& parser,
                                              LastErrorChanges& lastErrors, bool useWsdl = false,
                                              std::wstring_view address = {},
                                              std::shared_ptr<HttpTransport> transport = nullptr);

}  // namespace tolmar::win
