// The simulated population register: an HTTP server on the loopback
// interface that answers WsPopManSoap requests from a store of persons,
// with fault injection, request recording and control endpoints.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "fixture.h"
#include "injection.h"
#include "soap.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace regsim {

struct Options {
    std::string host = "127.0.0.1";
    int port = 0;  // 0: a free port
    int delay_ms = 0;
    std::optional<std::string> user;  // with password: the login every request must carry
    std::optional<std::string> password;
    int threads = 16;
    size_t record_limit = 10000;  // requests kept for /control/requests
};

struct RecordedRequest {
    uint64_t seq = 0;
    std::string content_type;  // empty when none was sent
    bool soap_action = false;
    std::string body;
    std::string outcome;                 // ok, not-found, bad-request, login-failed, unsupported, injected:KIND
    std::string error;                   // the fault reason of a bad request
    std::optional<SoapRequest> request;  // present when the request passed the shape check
};

struct Stats {
    uint64_t requests = 0;  // POSTs to the endpoint
    uint64_t served = 0;    // GetPerson answers from the store (found or not)
    uint64_t found = 0;
    uint64_t not_found = 0;
    uint64_t bad_requests = 0;
    uint64_t login_failures = 0;
    uint64_t unsupported = 0;  // well-formed calls of operations other than GetPerson
    uint64_t injected = 0;     // answered by an injection other than ok
    uint64_t dropped = 0;
};

class Simulator {
public:
    Simulator(Options options, PersonStore store);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Binds the listening socket and serves on a thread of its own; returns
    // once the server accepts connections, with the port. Throws
    // std::runtime_error when the address cannot be bound.
    int start();
    // Stops serving and joins the server's thread. Not from a handler.
    void stop();

    // A stop request, as POST /control/shutdown or a signal makes it: wakes
    // wait_for_stop_request(). The program then calls stop().
    void request_stop();
    void wait_for_stop_request();

    int port() const { return port_; }
    std::string endpoint_url() const;

    Stats stats() const;
    std::deque<RecordedRequest> requests() const;

private:
    void handle_soap(const httplib::Request& req, httplib::Response& res);
    void handle_wsdl(const httplib::Request& req, httplib::Response& res);
    void install_control_routes();
    std::optional<Injection> take_runtime_injection(const std::string& pnr);
    void record(RecordedRequest r, std::initializer_list<uint64_t Stats::*> counters);

    Options options_;
    PersonStore store_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;

    std::atomic<bool> listen_ended_{false};

    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable stop_requested_cv_;
    bool stop_requested_ = false;
    uint64_t next_seq_ = 1;
    std::deque<RecordedRequest> requests_;
    Stats stats_;
    std::optional<Injection> global_injection_;
    std::map<std::string, Injection> pnr_injections_;
};

// The line and JSON forms of /control/requests and /control/stats.
std::string requests_as_lines(const std::deque<RecordedRequest>& requests);
std::string requests_as_json(const std::deque<RecordedRequest>& requests);
std::string stats_as_lines(const Stats& stats);

}  // namespace regsim
