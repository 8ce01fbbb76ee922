#include "test_support.h"

#include <sstream>
#include <stdexcept>

#include "xml_util.h"

namespace regsim::test {

std::string get_person_body(const GetPersonCall& call) {
    std::string login;
    if (call.user) login += "<UserName>" + xml_escape(*call.user) + "</UserName>";
    if (call.password) login += "<Password>" + xml_escape(*call.password) + "</Password>";
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
           "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
           "<SOAP-ENV:Body><GetPerson xmlns=\"" +
           std::string(kNs) + "\"><login>" + login + "</login><sPnr>" + xml_escape(call.pnr) +
           "</sPnr><flagOtherArchive>" + call.flag +
           "</flagOtherArchive></GetPerson></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

PersonStore store_from(const std::string& fixture_text) {
    PersonStore r;
    std::istringstream in(fixture_text);
    load_fixture(in, "test", r);
    return r;
}

RunningSim::RunningSim(const std::string& fixture_text, Options options)
    : sim_(std::make_unique<Simulator>(std::move(options), store_from(fixture_text))) {
    port_ = sim_->start();
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
    client_->set_connection_timeout(5);
    client_->set_read_timeout(10);
    client_->set_write_timeout(5);
    client_->set_tcp_nodelay(true);
}

RunningSim::~RunningSim() {
    client_.reset();
    sim_->stop();
}

httplib::Result RunningSim::post(const std::string& body, const std::string& content_type,
                                 const httplib::Headers& extra) {
    return client_->Post(std::string(kEndpointPath), extra, body, content_type);
}

httplib::Result RunningSim::get_person(const std::string& pnr) {
    GetPersonCall call;
    call.pnr = pnr;
    return post(get_person_body(call));
}

httplib::Result RunningSim::control_post(const std::string& path, const std::string& body) {
    return client_->Post(path, body, "text/plain");
}

namespace {

pugi::xml_node child_local(pugi::xml_node parent, std::string_view local) {
    for (pugi::xml_node c : parent.children()) {
        if (c.type() == pugi::node_element && local_name(c.name()) == local) return c;
    }
    return {};
}

std::string inner_xml(pugi::xml_node n) {
    std::string out;
    for (pugi::xml_node c : n.children()) out += node_xml(c);
    return out;
}

}  // namespace

Answer read_answer(const std::string& body) {
    Answer a;
    pugi::xml_document doc;
    if (!doc.load_string(body.c_str())) return a;
    const pugi::xml_node env = doc.document_element();
    if (local_name(env.name()) != "Envelope" || namespace_of(env) != std::string(kSoap12Ns)) return a;
    a.envelope = true;
    if (pugi::xml_node header = child_local(env, "Header")) {
        if (pugi::xml_node info = child_local(header, "HeaderErrorInfo");
            info && namespace_of(info) == std::string(kNs)) {
            a.has_header = true;
            for (pugi::xml_node m : info.children()) a.header[std::string(local_name(m.name()))] = m.text().get();
        }
    }
    const pugi::xml_node body_el = child_local(env, "Body");
    if (pugi::xml_node fault = child_local(body_el, "Fault")) {
        a.fault = true;
        a.fault_code = child_local(child_local(fault, "Code"), "Value").text().get();
        if (pugi::xml_node reason = child_local(fault, "Reason")) a.reason = child_local(reason, "Text").text().get();
        if (pugi::xml_node detail = child_local(fault, "Detail")) a.detail = inner_xml(detail);
        return a;
    }
    const pugi::xml_node response = body_el.first_child();
    for (pugi::xml_node c : response.children()) {
        a.response_children += (a.response_children.empty() ? "" : ",") + std::string(local_name(c.name()));
    }
    if (pugi::xml_node result = child_local(response, "GetPersonResult")) a.result = result.text().get();
    return a;
}

std::map<std::string, std::string> person_info(const std::string& document) {
    std::map<std::string, std::string> out;
    pugi::xml_document doc;
    if (!doc.load_string(document.c_str())) throw std::runtime_error("result is not XML: " + document);
    const pugi::xml_node info = doc.document_element().child("PersonInfo");
    if (!info) return out;
    for (pugi::xml_node c : info.children()) out[c.name()] = c.text().get();
    out["Relation"] = inner_xml(doc.document_element().child("Relation"));
    return out;
}

}  // namespace regsim::test
