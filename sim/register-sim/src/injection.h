// Fault injection: how one GetPerson request is to be answered instead of
// (or on top of) the normal answer. The same one-line text form is used in
// fixture files ("inject:" lines) and in the body of POST /control/fault:
//
//   KIND [| key=value]...      ('|' or a line break separates the items)
//
// See README.md for the kinds and keys.
#pragma once

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace regsim {

enum class InjectionKind {
    Ok,           // the normal answer (with a header or a delay on top)
    SoapFault,    // HTTP 500 with a SOAP 1.2 fault
    Http,         // any HTTP status with a plain (non-SOAP) body
    NotXml,       // a result string that is not an XML document
    EmptyResult,  // an empty GetPersonResult element
    Result,       // a result string given verbatim
    NoResult,     // a response element without GetPersonResult
    Drop,         // the connection is closed without an answer
};

// Members of the HeaderErrorInfo header, in the order they are written.
inline constexpr std::array<std::string_view, 6> kHeaderErrorInfoMembers = {"FunctionName", "Severity",    "ErrorType",
                                                                            "ModuleName",   "Description", "Code"};

struct Injection {
    InjectionKind kind = InjectionKind::Ok;
    // SoapFault: Reason text and Detail content (an XML fragment); absent
    // members are left out of the fault. `fault_code` is the Code/Value.
    std::optional<std::string> reason;
    std::optional<std::string> detail;
    std::string fault_code = "Receiver";
    // Http: status, body (absent: the status text) and its Content-Type.
    int status = 500;
    std::optional<std::string> body;
    std::string content_type = "text/plain; charset=utf-8";
    // NotXml / Result: the result string.
    std::string text;
    // NoResult: how many other child elements the response element holds.
    int children = 2;
    // HeaderErrorInfo members to send, indexed like kHeaderErrorInfoMembers;
    // the header is sent when any is present.
    std::array<std::optional<std::string>, 6> header;
    int delay_ms = 0;
    // Run-time injections only: the personal number it applies to (absent:
    // every request) and how many requests it serves (-1: unlimited).
    std::optional<std::string> pnr;
    int count = -1;

    bool has_header() const;
};

class InjectionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses the text form; throws InjectionError naming what is wrong.
// `runtime` allows the keys pnr= and count=, which only the control
// endpoint accepts.
Injection parse_injection(std::string_view form, bool runtime);

// The text form of an injection (parse_injection reads it back).
std::string describe(const Injection& injection);

std::string_view kind_name(InjectionKind kind);

}  // namespace regsim
