// The register's SOAP 1.2 contract as the simulator serves it: constants,
// the shape check of incoming requests, and the outgoing messages.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "injection.h"

namespace regsim {

inline constexpr std::string_view kNs = "http://popman.mirell.example/HCW/PopulationManager";
inline constexpr std::string_view kSoap12Ns = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr std::string_view kEndpointPath = "/PopmWs/WSPopMan.asmx";
inline constexpr std::string_view kSoapContentType = "application/soap+xml; charset=utf-8";

struct Operation {
    std::string name;
    std::vector<std::string> params;  // in declaration order; the first is always login
    std::string result;               // the result element of the response
};

// The ten operations of WsPopManSoap, in declaration order.
const std::vector<Operation>& operations();

// NS + "/" + operation.
std::string action_of(std::string_view operation);
// The Content-Type a request for `operation` must carry.
std::string request_content_type(std::string_view operation);

// What the HTTP layer saw of a request.
struct HttpFacts {
    size_t content_type_count = 0;
    std::string content_type;
    bool soap_action = false;
};

// A request that passed the shape check.
struct SoapRequest {
    std::string operation;
    // GetPerson only:
    std::optional<std::string> user;      // UserName element, when present
    std::optional<std::string> password;  // Password element, when present
    std::string pnr;                      // sPnr
    std::string other_archive;            // flagOtherArchive: "true" or "false"
};

// Either the request, or the text naming what is wrong with it (it begins
// with "bad request: ").
using CheckResult = std::variant<SoapRequest, std::string>;
CheckResult check_request(const HttpFacts& http, std::string_view body);

// A HeaderErrorInfo header element carrying the members `injection` has
// (empty text when it has none).
std::string header_error_info(const Injection& injection);

// A whole SOAP 1.2 envelope: `header` is the content of soap:Header (no
// Header element when empty), `body` the content of soap:Body.
std::string envelope(std::string_view header, std::string_view body);

// The body content of a normal GetPerson answer; `result` is the result
// string before escaping.
std::string get_person_response(std::string_view result);

// The body content of a SOAP 1.2 fault. `code` is a fault code's local
// name (Sender, Receiver, ...); Reason and Detail are left out when absent.
std::string fault_body(std::string_view code, const std::optional<std::string>& reason,
                       const std::optional<std::string>& detail, std::string_view lang = "sv");

// The service description, with the port's address set to `endpoint_url`.
std::string wsdl(std::string_view endpoint_url);

}  // namespace regsim
