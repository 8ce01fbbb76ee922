// Helpers for the register-sim tests: request bodies as the connector
// writes them, a simulator on a free port, and a reader for the answers.
#pragma once

#include <httplib.h>
#include <pugixml.hpp>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "fixture.h"
#include "simulator.h"
#include "soap.h"

namespace regsim::test {

// A GetPerson request body as the connector sends it.
struct GetPersonCall {
    std::optional<std::string> user = std::string("u1");
    std::optional<std::string> password = std::string("p1");
    std::string pnr = "194501011234";
    std::string flag = "false";
};
std::string get_person_body(const GetPersonCall& call = {});

PersonStore store_from(const std::string& fixture_text);

// A simulator serving `fixture_text` on a free port, with a client to it.
class RunningSim {
public:
    explicit RunningSim(const std::string& fixture_text, Options options = {});
    ~RunningSim();

    // POSTs a body to the endpoint with the connector's headers (or the
    // given Content-Type).
    httplib::Result post(const std::string& body, const std::string& content_type = request_content_type("GetPerson"),
                         const httplib::Headers& extra = {});
    httplib::Result get_person(const std::string& pnr);
    httplib::Result control_post(const std::string& path, const std::string& body);

    Simulator& sim() { return *sim_; }
    httplib::Client& client() { return *client_; }
    int port() const { return port_; }

private:
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<httplib::Client> client_;
    int port_ = 0;
};

// What a SOAP answer holds.
struct Answer {
    bool envelope = false;                      // a SOAP 1.2 envelope was read
    std::map<std::string, std::string> header;  // HeaderErrorInfo members present
    bool has_header = false;
    bool fault = false;
    std::string fault_code;
    std::optional<std::string> reason;
    std::optional<std::string> detail;  // XML text of the Detail content
    std::string response_children;      // local names of the response element's children, comma-separated
    std::optional<std::string> result;  // the GetPersonResult text, unescaped
};
Answer read_answer(const std::string& body);

// The text of each child element of PersonInfo, and of Relation, in a
// result document (empty map when the document has no PersonInfo).
std::map<std::string, std::string> person_info(const std::string& document);

}  // namespace regsim::test
