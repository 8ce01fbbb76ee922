// The register service's contract as far as requests go: its constants, the
// ten operations of the port type WsPopManSoap, the Login parameter and the
// SOAP 1.2 request envelope (document/literal, wrapped). Pure text work; the
// HTTP transport and the reading of replies live in the platform layer.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tolmar {

// Target namespace of the service (NS): every request's operation element
// and its descendants are in it.
inline constexpr std::wstring_view kNamespace = L"http://popman.mirell.example/HCW/PopulationManager";
inline constexpr std::wstring_view kDefaultEndpoint =
    L"http://popman-test.mirell.example/PopmWs/WSPopMan.asmx";
inline constexpr std::wstring_view kDefaultWsdlLocation =
    L"S:\\befolkningsregistret\\SolmarkWSDL\\WSPopMan.wsdl";
inline constexpr std::wstring_view kSoap12EnvelopeNamespace = L"http://www.w3.org/2003/05/soap-envelope";
inline constexpr std::wstring_view kCharset = L"utf-8";
inline constexpr std::wstring_view kPortType = L"WsPopManSoap";
inline constexpr std::wstring_view kWsdlService = L"WsPopMan";
inline constexpr std::wstring_view kWsdlPort = L"WsPopManSoap12";

// NS + "/" + the operation's name.
std::wstring ActionOf(std::wstring_view operation);

// The Content-Type header's text for a request of the operation:
// application/soap+xml; charset=utf-8;action="<action>" (no blank before
// "action"). No SOAPAction header goes with it.
std::wstring ContentTypeOf(std::wstring_view operation);

// The Login parameter. Both members are optional: each carries a "specified"
// flag that assigning sets, also when the value assigned is empty; a new
// object has both flags clear. Only specified members are sent.
class Login {
public:
    void SetUserName(std::wstring_view value) {
        userName_.assign(value);
        userNameSpecified_ = true;
    }
    void SetPassword(std::wstring_view value) {
        password_.assign(value);
        passwordSpecified_ = true;
    }
    const std::wstring& UserName() const noexcept { return userName_; }
    const std::wstring& Password() const noexcept { return password_; }
    bool UserNameSpecified() const noexcept { return userNameSpecified_; }
    bool PasswordSpecified() const noexcept { return passwordSpecified_; }

private:
    std::wstring userName_;
    std::wstring password_;
    bool userNameSpecified_ = false;
    bool passwordSpecified_ = false;
};

enum class ParameterType { Login, String, Boolean };

struct ParameterInfo {
    std::wstring_view Name;
    ParameterType Type;
};

struct OperationInfo {
    std::wstring_view Name;
    std::array<ParameterInfo, 3> Parameters;  // in declaration order
    std::wstring_view ResultElement;          // child of the response element holding the result
};

// The ten operations of WsPopManSoap, in declaration order.
const std::array<OperationInfo, 10>& Operations();

// The operation of that exact name, or nullptr.
const OperationInfo* FindOperation(std::wstring_view name);

using ArgumentValue = std::variant<Login, std::wstring, bool>;

struct Argument {
    std::wstring Name;
    ArgumentValue Value;
};

// Text content as XML carries it: "&", "<" and ">" become entity references,
// a carriage return becomes "&#xD;" (so a parser does not fold it into a line
// feed), and characters that XML 1.0 cannot carry at all (control characters
// other than tab, line feed and carriage return; U+FFFE, U+FFFF) become
// U+FFFD.
std::wstring EscapeXmlText(std::wstring_view text);

// The UTF-8 text of the SOAP 1.2 request for `operation`: an XML declaration
// and an envelope with a body and no header; the body holds the operation's
// element, with NS as its default namespace, whose children are the
// arguments in order. A Login writes UserName and Password, each only when
// specified; booleans are "true" or "false"; texts are escaped. No type or
// encoding-style attributes. The arguments must match the operation's
// parameters in name, order and type; an unknown operation or a mismatch
// throws std::invalid_argument.
std::string BuildRequestEnvelope(std::wstring_view operation, const std::vector<Argument>& arguments);

// The request of GetPerson(login, sPnr, flagOtherArchive).
std::string BuildGetPersonRequest(const Login& login, std::wstring_view sPnr, bool flagOtherArchive);

}  // namespace tolmar
