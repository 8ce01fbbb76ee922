#include "soap.h"

#include <algorithm>
#include <cctype>
#include <pugixml.hpp>

#include "xml_util.h"

namespace regsim {
namespace {

// Thrown inside the shape check; the text is the fault reason.
struct BadRequest {
    std::string why;
};

[[noreturn]] void bad(std::string why) { throw BadRequest{"bad request: " + std::move(why)}; }

std::string show_ns(const std::string& ns) { return ns.empty() ? "no namespace" : "namespace '" + ns + "'"; }

std::string ns_or_bad(pugi::xml_node e) {
    auto ns = namespace_of(e);
    if (!ns) bad("prefix '" + std::string(name_prefix(e.name())) + "' of element '" + e.name() + "' is not declared");
    return *ns;
}

// The child elements of `e`; text directly inside `e` is refused.
std::vector<pugi::xml_node> child_elements(pugi::xml_node e) {
    std::vector<pugi::xml_node> out;
    for (pugi::xml_node c : e.children()) {
        if (c.type() == pugi::node_element) {
            out.push_back(c);
        } else if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) {
            bad("text '" + std::string(c.value()) + "' directly inside '" + e.name() + "'");
        }
    }
    return out;
}

// The text content of an element that must hold text only.
std::string text_only(pugi::xml_node e) {
    std::string text;
    for (pugi::xml_node c : e.children()) {
        if (c.type() == pugi::node_element)
            bad("element '" + std::string(e.name()) + "' holds element '" + c.name() + "', expected text only");
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) text += c.value();
    }
    return text;
}

std::string name_list(const std::vector<pugi::xml_node>& nodes) {
    std::string out = "(";
    for (size_t i = 0; i < nodes.size(); ++i) out += (i ? ", " : "") + std::string(local_name(nodes[i].name()));
    return out + ")";
}

void expect_ns(pugi::xml_node e, std::string_view ns) {
    const std::string actual = ns_or_bad(e);
    if (actual != ns) {
        bad("element '" + std::string(local_name(e.name())) + "' is in " + show_ns(actual) + ", expected '" +
            std::string(ns) + "'");
    }
}

// Literal encoding: nothing but namespace declarations as attributes.
void refuse_attributes(pugi::xml_node e) {
    for (pugi::xml_attribute a : e.attributes()) {
        if (is_namespace_declaration(a)) continue;
        bad("attribute '" + std::string(a.name()) + "' on element '" + e.name() +
            "' (literal requests carry no type, encoding-style or reference attributes)");
    }
    for (pugi::xml_node c : e.children()) {
        if (c.type() == pugi::node_element) refuse_attributes(c);
    }
}

SoapRequest check(const HttpFacts& http, std::string_view body) {
    if (http.soap_action) bad("SOAPAction header present (SOAP 1.2 carries the action in Content-Type only)");
    if (http.content_type_count != 1) {
        bad(http.content_type_count == 0 ? "Content-Type missing"
                                         : "Content-Type given " + std::to_string(http.content_type_count) + " times");
    }
    const std::string prefix = std::string(kSoapContentType) + ";action=\"" + std::string(kNs) + "/";
    const std::string& ct = http.content_type;
    const std::string expected_form =
        std::string(kSoapContentType) + ";action=\"" + std::string(kNs) + "/<operation>\"";
    if (ct.size() <= prefix.size() || ct.compare(0, prefix.size(), prefix) != 0 || ct.back() != '"') {
        bad("Content-Type '" + ct + "' is not '" + expected_form + "'");
    }
    const std::string action_op = ct.substr(prefix.size(), ct.size() - prefix.size() - 1);
    const auto& ops = operations();
    if (std::none_of(ops.begin(), ops.end(), [&](const Operation& o) { return o.name == action_op; })) {
        bad("Content-Type action names unknown operation '" + action_op + "'");
    }

    if (!is_valid_utf8(body)) bad("body is not valid UTF-8");
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(body.data(), body.size(), pugi::parse_default | pugi::parse_declaration, pugi::encoding_utf8);
    if (!parsed) {
        bad("body is not well-formed XML: " + std::string(parsed.description()) + " at offset " +
            std::to_string(parsed.offset));
    }
    if (pugi::xml_node decl = doc.first_child(); decl.type() == pugi::node_declaration) {
        std::string enc = decl.attribute("encoding").value();
        std::transform(enc.begin(), enc.end(), enc.begin(), [](unsigned char c) { return std::tolower(c); });
        if (!enc.empty() && enc != "utf-8") bad("XML declaration names encoding '" + enc + "', expected utf-8");
    }

    const pugi::xml_node envelope = doc.document_element();
    if (local_name(envelope.name()) != "Envelope") {
        bad("document element is '" + std::string(envelope.name()) + "', expected a SOAP 1.2 Envelope");
    }
    if (const std::string ns = ns_or_bad(envelope); ns != kSoap12Ns) {
        bad("Envelope is in " + show_ns(ns) + ", expected the SOAP 1.2 envelope namespace '" + std::string(kSoap12Ns) +
            "'");
    }
    refuse_attributes(envelope);

    const auto env_children = child_elements(envelope);
    for (pugi::xml_node c : env_children) {
        if (local_name(c.name()) == "Header") bad("Envelope holds a Header (requests carry none)");
    }
    if (env_children.size() != 1 || local_name(env_children[0].name()) != "Body") {
        bad("Envelope children are " + name_list(env_children) + ", expected (Body)");
    }
    const pugi::xml_node soap_body = env_children[0];
    expect_ns(soap_body, kSoap12Ns);

    const auto body_children = child_elements(soap_body);
    if (body_children.size() != 1) {
        bad("Body holds " + std::to_string(body_children.size()) + " elements " + name_list(body_children) +
            ", expected exactly one operation element");
    }
    const pugi::xml_node op = body_children[0];
    const std::string op_name(local_name(op.name()));
    if (const std::string ns = ns_or_bad(op); ns != kNs) {
        bad("operation element '" + op_name + "' is in " + show_ns(ns) + ", expected '" + std::string(kNs) + "'");
    }
    if (std::none_of(ops.begin(), ops.end(), [&](const Operation& o) { return o.name == op_name; })) {
        bad("unknown operation '" + op_name + "'");
    }
    if (op_name != action_op) {
        bad("Content-Type action names operation '" + action_op + "' but the Body holds '" + op_name + "'");
    }

    SoapRequest req;
    req.operation = op_name;
    if (op_name != "GetPerson") return req;

    const auto params = child_elements(op);
    if (params.size() != 3 || local_name(params[0].name()) != "login" || local_name(params[1].name()) != "sPnr" ||
        local_name(params[2].name()) != "flagOtherArchive") {
        bad("GetPerson children are " + name_list(params) + ", expected (login, sPnr, flagOtherArchive)");
    }
    for (pugi::xml_node p : params) expect_ns(p, kNs);

    const auto members = child_elements(params[0]);
    std::vector<std::string> names;
    for (pugi::xml_node m : members) names.emplace_back(local_name(m.name()));
    const bool members_ok = names.empty() || names == std::vector<std::string>{"UserName"} ||
                            names == std::vector<std::string>{"Password"} ||
                            names == std::vector<std::string>{"UserName", "Password"};
    if (!members_ok) {
        bad("login children are " + name_list(members) + ", expected (UserName, Password) or part of it in that order");
    }
    for (pugi::xml_node m : members) {
        expect_ns(m, kNs);
        (local_name(m.name()) == "UserName" ? req.user : req.password) = text_only(m);
    }
    req.pnr = text_only(params[1]);
    req.other_archive = text_only(params[2]);
    if (req.other_archive != "true" && req.other_archive != "false") {
        bad("flagOtherArchive is '" + req.other_archive + "', expected 'true' or 'false'");
    }
    return req;
}

}  // namespace

const std::vector<Operation>& operations() {
    static const std::vector<Operation> ops = [] {
        std::vector<Operation> v;
        const auto add = [&v](const char* name, const char* p2, const char* p3) {
            v.push_back({name, {"login", p2, p3}, std::string(name) + "Result"});
        };
        add("GetPerson", "sPnr", "flagOtherArchive");
        add("GetPerson_Konvert", "sPnr", "flagOtherArchive");
        add("GetPopListByPnr_Konvert", "sPnr", "sortBy");
        add("GetPopListByPnr", "sPnr", "sortBy");
        add("GetPopListByName_Konvert", "sName", "sortBy");
        add("GetPopListByName", "sName", "sortBy");
        add("GetCanListByPnr_Konvert", "sPnr", "sortBy");
        add("GetCanListByPnr", "sPnr", "sortBy");
        add("GetCanListByName_Konvert", "sName", "sortBy");
        add("GetCanListByName", "sName", "sortBy");
        return v;
    }();
    return ops;
}

std::string action_of(std::string_view operation) { return std::string(kNs) + "/" + std::string(operation); }

std::string request_content_type(std::string_view operation) {
    return std::string(kSoapContentType) + ";action=\"" + action_of(operation) + "\"";
}

CheckResult check_request(const HttpFacts& http, std::string_view body) {
    try {
        return check(http, body);
    } catch (BadRequest& e) {
        return std::move(e.why);
    }
}

std::string header_error_info(const Injection& injection) {
    if (!injection.has_header()) return {};
    std::string out = "<HeaderErrorInfo xmlns=\"" + std::string(kNs) + "\">";
    for (size_t m = 0; m < injection.header.size(); ++m) {
        if (!injection.header[m]) continue;
        const std::string name(kHeaderErrorInfoMembers[m]);
        out += "<" + name + ">" + xml_escape(*injection.header[m]) + "</" + name + ">";
    }
    return out + "</HeaderErrorInfo>";
}

std::string envelope(std::string_view header, std::string_view body) {
    std::string out;
    out.reserve(body.size() + header.size() + 400);
    out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
    out += "<soap:Envelope xmlns:soap=\"";
    out += kSoap12Ns;
    out += "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">";
    if (!header.empty()) {
        out += "<soap:Header>";
        out += header;
        out += "</soap:Header>";
    }
    out += "<soap:Body>";
    out += body;
    out += "</soap:Body></soap:Envelope>";
    return out;
}

std::string get_person_response(std::string_view result) {
    std::string out;
    out.reserve(result.size() + result.size() / 4 + 160);
    out.append("<GetPersonResponse xmlns=\"").append(kNs).append("\"><GetPersonResult>");
    append_escaped(out, result);
    out.append("</GetPersonResult></GetPersonResponse>");
    return out;
}

std::string fault_body(std::string_view code, const std::optional<std::string>& reason,
                       const std::optional<std::string>& detail, std::string_view lang) {
    std::string out = "<soap:Fault><soap:Code><soap:Value>soap:" + std::string(code) + "</soap:Value></soap:Code>";
    if (reason) {
        out += "<soap:Reason><soap:Text xml:lang=\"" + std::string(lang) + "\">" + xml_escape(*reason) +
               "</soap:Text></soap:Reason>";
    }
    if (detail) out += "<soap:Detail>" + *detail + "</soap:Detail>";
    return out + "</soap:Fault>";
}

std::string wsdl(std::string_view endpoint_url) {
    const std::string ns(kNs);
    std::string types, messages, port_ops, binding_ops;
    for (const Operation& op : operations()) {
        const std::string& n = op.name;
        types += "<s:element name=\"" + n + "\"><s:complexType><s:sequence>";
        types += "<s:element minOccurs=\"0\" maxOccurs=\"1\" name=\"login\" type=\"tns:Login\"/>";
        for (size_t i = 1; i < op.params.size(); ++i) {
            const bool flag = op.params[i] == "flagOtherArchive";
            types +=
                flag ? "<s:element minOccurs=\"1\" maxOccurs=\"1\" name=\"" + op.params[i] + "\" type=\"s:boolean\"/>"
                     : "<s:element minOccurs=\"0\" maxOccurs=\"1\" name=\"" + op.params[i] + "\" type=\"s:string\"/>";
        }
        types += "</s:sequence></s:complexType></s:element>";
        types += "<s:element name=\"" + n +
                 "Response\"><s:complexType><s:sequence><s:element minOccurs=\"0\" maxOccurs=\"1\" name=\"" +
                 op.result + "\" type=\"s:string\"/></s:sequence></s:complexType></s:element>";

        messages += "<wsdl:message name=\"" + n + "SoapIn\"><wsdl:part name=\"parameters\" element=\"tns:" + n +
                    "\"/></wsdl:message>";
        messages += "<wsdl:message name=\"" + n + "SoapOut\"><wsdl:part name=\"parameters\" element=\"tns:" + n +
                    "Response\"/></wsdl:message>";
        messages +=
            "<wsdl:message name=\"" + n +
            "HeaderErrorInfo\"><wsdl:part name=\"HeaderErrorInfo\" element=\"tns:HeaderErrorInfo\"/></wsdl:message>";
        messages += "<wsdl:message name=\"" + n +
                    "HeaderInfo\"><wsdl:part name=\"HeaderInfo\" element=\"tns:HeaderInfo\"/></wsdl:message>";

        port_ops += "<wsdl:operation name=\"" + n + "\"><wsdl:input message=\"tns:" + n +
                    "SoapIn\"/><wsdl:output message=\"tns:" + n + "SoapOut\"/></wsdl:operation>";

        binding_ops += "<wsdl:operation name=\"" + n + "\"><soap12:operation soapAction=\"" + action_of(n) +
                       "\" style=\"document\"/><wsdl:input><soap12:body use=\"literal\"/></wsdl:input><wsdl:output>"
                       "<soap12:body use=\"literal\"/>"
                       "<soap12:header message=\"tns:" +
                       n +
                       "HeaderErrorInfo\" part=\"HeaderErrorInfo\" use=\"literal\"/>"
                       "<soap12:header message=\"tns:" +
                       n +
                       "HeaderInfo\" part=\"HeaderInfo\" use=\"literal\"/>"
                       "</wsdl:output></wsdl:operation>";
    }
    std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    out +=
        "<wsdl:definitions xmlns:s=\"http://www.w3.org/2001/XMLSchema\" "
        "xmlns:soap12=\"http://schemas.xmlsoap.org/wsdl/soap12/\" "
        "xmlns:tns=\"" +
        ns + "\" xmlns:wsdl=\"http://schemas.xmlsoap.org/wsdl/\" targetNamespace=\"" + ns + "\">\n";
    out += "<wsdl:types><s:schema elementFormDefault=\"qualified\" targetNamespace=\"" + ns + "\">";
    out +=
        "<s:complexType name=\"Login\"><s:sequence>"
        "<s:element minOccurs=\"0\" maxOccurs=\"1\" name=\"UserName\" type=\"s:string\"/>"
        "<s:element minOccurs=\"0\" maxOccurs=\"1\" name=\"Password\" type=\"s:string\"/>"
        "</s:sequence></s:complexType>";
    out +=
        "<s:element name=\"HeaderErrorInfo\" type=\"tns:HeaderErrorInfo\"/>"
        "<s:complexType name=\"HeaderErrorInfo\"><s:sequence>"
        "<s:element minOccurs=\"0\" maxOccurs=\"1\" name=\"FunctionName\" type=\"s:string\"/>"
        "<s:element minOccurs=\"1\" maxOccurs=\"1\" name=\"Severity\" type=\"tns:EnumTEHCHeaderSeverity\"/>"
        "<s:element minOccurs=\"0\" maxOccurs=\"1\" name=\"ErrorType\" type=\"s:string\"/>"
        "<s:element minOccurs=\"0\" maxOccurs=\"1\" name=\"ModuleName\" type=\"s:string\"/>"
        "<s:element minOccurs=\"0\" maxOccurs=\"1\" name=\"Description\" type=\"s:string\"/>"
        "<s:element minOccurs=\"1\" maxOccurs=\"1\" name=\"Code\" type=\"s:long\"/>"
        "</s:sequence></s:complexType>";
    out +=
        "<s:simpleType name=\"EnumTEHCHeaderSeverity\"><s:restriction base=\"s:string\">"
        "<s:enumeration value=\"None\"/><s:enumeration value=\"Critical\"/>"
        "<s:enumeration value=\"Warning\"/><s:enumeration value=\"Information\"/>"
        "</s:restriction></s:simpleType>";
    out +=
        "<s:element name=\"HeaderInfo\" type=\"tns:HeaderInfo\"/>"
        "<s:complexType name=\"HeaderInfo\"><s:sequence>"
        "<s:element minOccurs=\"1\" maxOccurs=\"1\" name=\"RowsCount\" type=\"s:int\"/>"
        "<s:element minOccurs=\"1\" maxOccurs=\"1\" name=\"MaxRows\" type=\"s:int\"/>"
        "<s:element minOccurs=\"0\" maxOccurs=\"1\" name=\"SourceName\" type=\"s:string\"/>"
        "</s:sequence></s:complexType>";
    out += types + "</s:schema></wsdl:types>\n";
    out += messages + "\n";
    out += "<wsdl:portType name=\"WsPopManSoap\">" + port_ops + "</wsdl:portType>\n";
    out +=
        "<wsdl:binding name=\"WsPopManSoap12\" type=\"tns:WsPopManSoap\"><soap12:binding "
        "transport=\"http://schemas.xmlsoap.org/soap/http\"/>" +
        binding_ops + "</wsdl:binding>\n";
    out +=
        "<wsdl:service name=\"WsPopMan\"><wsdl:port name=\"WsPopManSoap12\" binding=\"tns:WsPopManSoap12\">"
        "<soap12:address location=\"" +
        xml_escape(endpoint_url) + "\"/></wsdl:port></wsdl:service>\n";
    out += "</wsdl:definitions>\n";
    return out;
}

}  // namespace regsim
