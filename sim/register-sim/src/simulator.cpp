#include "simulator.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>

#include "xml_util.h"

namespace regsim {
namespace {

int port_of(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
    if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
    return -1;
}

// Closes the connection a request came in on without answering. The
// server library offers no way to abort a connection, so the socket is
// found among the process's descriptors by its two ports and shut down;
// the library's own write of the answer then fails and it closes the
// socket as after any broken connection.
bool drop_connection(const httplib::Request& req) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return false;
    bool dropped = false;
    while (dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == dirfd(dir)) continue;
        sockaddr_storage local{}, peer{};
        socklen_t local_len = sizeof local, peer_len = sizeof peer;
        if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &local_len) != 0) continue;
        if (port_of(local) != req.local_port) continue;
        if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peer_len) != 0) continue;
        if (port_of(peer) != req.remote_port) continue;
        linger hard{1, 0};  // reset rather than a polite close: nothing more goes out
        setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        shutdown(static_cast<int>(fd), SHUT_RDWR);
        dropped = true;
        break;
    }
    closedir(dir);
    return dropped;
}

void sleep_ms(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

constexpr std::string_view kLoginFailed = "Inloggningen misslyckades: okänt användarnamn eller fel lösenord";

std::string escape_line_value(std::string_view v) {
    std::string out;
    out.reserve(v.size());
    for (char c : v) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string json_string(std::string_view v) {
    const bool utf8 = is_valid_utf8(v);
    std::string out = "\"";
    for (char ch : v) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || (!utf8 && c >= 0x80)) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string no_result_body(const std::string& document, int children) {
    std::string out = "<GetPersonResponse xmlns=\"" + std::string(kNs) + "\">";
    for (int i = 1; i <= children; ++i) {
        if (i == 1) {
            out += "<PersonDocument>" + xml_escape(document) + "</PersonDocument>";
        } else if (i == 2) {
            out += "<ResultCode>0</ResultCode>";
        } else {
            out += "<Extra" + std::to_string(i) + "/>";
        }
    }
    return out + "</GetPersonResponse>";
}

}  // namespace

Simulator::Simulator(Options options, PersonStore store)
    : options_(std::move(options)), store_(std::move(store)), server_(std::make_unique<httplib::Server>()) {
    const size_t threads = static_cast<size_t>(options_.threads > 0 ? options_.threads : 1);
    server_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server_->set_keep_alive_max_count(100000);
    server_->set_keep_alive_timeout(5);
    server_->set_tcp_nodelay(true);
    // The library's default also sets SO_REUSEPORT, which would let a second
    // simulator share a busy port silently; a busy port must fail instead.
    server_->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });

    const std::string endpoint(kEndpointPath);
    server_->Post(endpoint, [this](const httplib::Request& req, httplib::Response& res) { handle_soap(req, res); });
    server_->Get(endpoint, [this](const httplib::Request& req, httplib::Response& res) { handle_wsdl(req, res); });
    install_control_routes();
}

Simulator::~Simulator() { stop(); }

int Simulator::start() {
    // A client that goes away while an answer is written must not end the
    // process (the library writes without MSG_NOSIGNAL).
    std::signal(SIGPIPE, SIG_IGN);
    if (options_.port == 0) {
        port_ = std::max(server_->bind_to_any_port(options_.host), 0);
    } else if (server_->bind_to_port(options_.host, options_.port)) {
        port_ = options_.port;
    }
    if (port_ <= 0) {
        throw std::runtime_error("cannot listen on " + options_.host + ":" + std::to_string(options_.port));
    }
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        listen_ended_ = true;
    });
    // The library ignores a stop that comes before its accept loop runs, so
    // nobody gets the simulator before that. Bounded: the loop starts at once.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!server_->is_running() && !listen_ended_ && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!server_->is_running()) {
        stop();
        throw std::runtime_error("the server on " + options_.host + ":" + std::to_string(port_) + " did not start");
    }
    return port_;
}

void Simulator::stop() {
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

void Simulator::request_stop() {
    {
        std::lock_guard lock(mutex_);
        stop_requested_ = true;
    }
    stop_requested_cv_.notify_all();
}

void Simulator::wait_for_stop_request() {
    std::unique_lock lock(mutex_);
    stop_requested_cv_.wait(lock, [this] { return stop_requested_; });
}

std::string Simulator::endpoint_url() const {
    return "http://" + options_.host + ":" + std::to_string(port_) + std::string(kEndpointPath);
}

Stats Simulator::stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

std::deque<RecordedRequest> Simulator::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void Simulator::record(RecordedRequest r, std::initializer_list<uint64_t Stats::*> counters) {
    std::lock_guard lock(mutex_);
    r.seq = next_seq_++;
    ++stats_.requests;
    for (auto counter : counters) ++(stats_.*counter);
    requests_.push_back(std::move(r));
    while (requests_.size() > options_.record_limit) requests_.pop_front();
}

std::optional<Injection> Simulator::take_runtime_injection(const std::string& pnr) {
    std::lock_guard lock(mutex_);
    const auto use = [](Injection& inj) -> bool {  // true when it is used up now
        if (inj.count > 0) --inj.count;
        return inj.count == 0;
    };
    if (auto it = pnr_injections_.find(pnr); it != pnr_injections_.end()) {
        Injection chosen = it->second;
        if (use(it->second)) pnr_injections_.erase(it);
        return chosen;
    }
    if (global_injection_) {
        Injection chosen = *global_injection_;
        if (use(*global_injection_)) global_injection_.reset();
        return chosen;
    }
    return std::nullopt;
}

void Simulator::handle_wsdl(const httplib::Request& req, httplib::Response& res) {
    bool wants_wsdl = false;
    for (const auto& [key, value] : req.params) {
        std::string k = key;
        for (auto& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        wants_wsdl = wants_wsdl || k == "wsdl";
    }
    if (!wants_wsdl) {
        res.status = 405;
        res.set_content("register-sim: POST SOAP 1.2 requests here; the WSDL is at ?wsdl\n",
                        "text/plain; charset=utf-8");
        return;
    }
    res.set_content(wsdl(endpoint_url()), "text/xml; charset=utf-8");
}

void Simulator::handle_soap(const httplib::Request& req, httplib::Response& res) {
    HttpFacts http;
    http.content_type_count = req.get_header_value_count("Content-Type");
    http.content_type = req.get_header_value("Content-Type");
    http.soap_action = req.has_header("SOAPAction");

    RecordedRequest rec;
    rec.content_type = http.content_type;
    rec.soap_action = http.soap_action;
    rec.body = req.body;

    const auto answer = [&res](int status, const std::string& header, const std::string& body) {
        res.status = status;
        res.set_content(envelope(header, body), std::string(kSoapContentType));
    };

    CheckResult checked = check_request(http, req.body);
    if (auto* why = std::get_if<std::string>(&checked)) {
        rec.outcome = "bad-request";
        rec.error = *why;
        record(std::move(rec), {&Stats::bad_requests});
        sleep_ms(options_.delay_ms);
        answer(500, "", fault_body("Sender", *why, std::nullopt, "en"));
        return;
    }
    const SoapRequest request = std::get<SoapRequest>(std::move(checked));
    rec.request = request;

    if (request.operation != "GetPerson") {
        rec.outcome = "unsupported";
        record(std::move(rec), {&Stats::unsupported});
        sleep_ms(options_.delay_ms);
        answer(500, "",
               fault_body("Receiver", "register-sim answers GetPerson only, not " + request.operation, std::nullopt,
                          "en"));
        return;
    }

    const Person* person = store_.find(request.pnr);
    std::optional<Injection> inj = take_runtime_injection(request.pnr);
    if (!inj && person && person->inject) inj = person->inject;
    const std::string& document = person ? person->document : not_found_document();
    const bool found = person && person->family != Family::NotFound;
    const int delay = options_.delay_ms + (inj ? inj->delay_ms : 0);

    if (inj && inj->kind != InjectionKind::Ok) {
        rec.outcome = "injected:" + std::string(kind_name(inj->kind));
        if (inj->kind == InjectionKind::Drop) {
            record(std::move(rec), {&Stats::injected, &Stats::dropped});
        } else {
            record(std::move(rec), {&Stats::injected});
        }
        sleep_ms(delay);
        const std::string header = header_error_info(*inj);
        switch (inj->kind) {
            case InjectionKind::SoapFault:
                answer(500, header, fault_body(inj->fault_code, inj->reason, inj->detail));
                return;
            case InjectionKind::Http:
                res.status = inj->status;
                res.set_content(inj->body ? *inj->body : "HTTP " + std::to_string(inj->status) + " from register-sim\n",
                                inj->content_type);
                return;
            case InjectionKind::NotXml:
            case InjectionKind::Result:
                answer(200, header, get_person_response(inj->text));
                return;
            case InjectionKind::EmptyResult:
                answer(200, header,
                       "<GetPersonResponse xmlns=\"" + std::string(kNs) + "\"><GetPersonResult /></GetPersonResponse>");
                return;
            case InjectionKind::NoResult:
                answer(200, header, no_result_body(document, inj->children));
                return;
            case InjectionKind::Drop:
                if (!drop_connection(req)) {
                    // Not expected on Linux; answer in a way no client takes for data.
                    res.status = 500;
                    res.set_content("register-sim could not drop the connection\n", "text/plain; charset=utf-8");
                }
                return;
            case InjectionKind::Ok:
                break;
        }
    }

    if (options_.user && (request.user != options_.user || request.password != options_.password)) {
        rec.outcome = "login-failed";
        record(std::move(rec), {&Stats::login_failures});
        sleep_ms(delay);
        Injection login_header;
        login_header.header = {std::string("GetPerson"), std::string("Critical"),   std::string("Login"),
                               std::string("WsPopMan"),  std::string(kLoginFailed), std::string("1001")};
        answer(500, header_error_info(login_header), fault_body("Sender", std::string(kLoginFailed), std::nullopt));
        return;
    }

    rec.outcome = found ? "ok" : "not-found";
    record(std::move(rec), {&Stats::served, found ? &Stats::found : &Stats::not_found});
    sleep_ms(delay);
    answer(200, inj ? header_error_info(*inj) : std::string(), get_person_response(document));
}

void Simulator::install_control_routes() {
    const auto text = [](httplib::Response& res, int status, const std::string& body) {
        res.status = status;
        res.set_content(body, "text/plain; charset=utf-8");
    };
    // The commands that take no body answer without waiting for one: the
    // library would otherwise read a POST or DELETE without Content-Length
    // (as "curl -X POST URL" sends it) until the client closes. A body that
    // is announced is read and ignored, so the connection stays in step.
    const auto no_body = [](std::function<void(httplib::Response&)> command) {
        return [command = std::move(command)](const httplib::Request& req, httplib::Response& res,
                                              const httplib::ContentReader& reader) {
            if (req.has_header("Content-Length") || req.has_header("Transfer-Encoding")) {
                reader([](const char*, size_t) { return true; });
            }
            command(res);
        };
    };

    server_->Post("/control/fault", [this, text](const httplib::Request& req, httplib::Response& res) {
        try {
            Injection inj = parse_injection(req.body, true);
            const std::string described = describe(inj);
            std::lock_guard lock(mutex_);
            if (inj.pnr) {
                pnr_injections_.insert_or_assign(*inj.pnr, std::move(inj));
            } else {
                global_injection_ = std::move(inj);
            }
            text(res, 200, "ok: " + described + "\n");
        } catch (const InjectionError& e) {
            text(res, 400, std::string("error: ") + e.what() + "\n");
        }
    });
    server_->Get("/control/fault", [this, text](const httplib::Request&, httplib::Response& res) {
        std::string out;
        std::lock_guard lock(mutex_);
        if (global_injection_) out += describe(*global_injection_) + "\n";
        for (const auto& [pnr, inj] : pnr_injections_) out += describe(inj) + "\n";
        text(res, 200, out);
    });
    server_->Delete("/control/fault", no_body([this, text](httplib::Response& res) {
                        std::lock_guard lock(mutex_);
                        global_injection_.reset();
                        pnr_injections_.clear();
                        text(res, 200, "ok\n");
                    }));
    server_->Get("/control/requests", [this](const httplib::Request& req, httplib::Response& res) {
        const auto all = requests();
        if (req.get_param_value("format") == "json") {
            res.set_content(requests_as_json(all), "application/json");
        } else {
            res.set_content(requests_as_lines(all), "text/plain; charset=utf-8");
        }
    });
    server_->Get("/control/stats", [this, text](const httplib::Request&, httplib::Response& res) {
        text(res, 200, stats_as_lines(stats()));
    });
    server_->Post("/control/reset", no_body([this, text](httplib::Response& res) {
                      std::lock_guard lock(mutex_);
                      requests_.clear();
                      stats_ = Stats{};
                      next_seq_ = 1;
                      global_injection_.reset();
                      pnr_injections_.clear();
                      text(res, 200, "ok\n");
                  }));
    server_->Post("/control/shutdown", no_body([this, text](httplib::Response& res) {
                      text(res, 200, "ok\n");
                      request_stop();
                  }));
}

std::string requests_as_lines(const std::deque<RecordedRequest>& requests) {
    std::string out;
    for (const RecordedRequest& r : requests) {
        out += "seq=" + std::to_string(r.seq);
        out += "\toutcome=" + r.outcome;
        if (!r.error.empty()) out += "\terror=" + escape_line_value(r.error);
        out += "\tcontent_type=" + escape_line_value(r.content_type);
        out += std::string("\tsoapaction=") + (r.soap_action ? "present" : "absent");
        if (r.request) {
            out += "\toperation=" + r.request->operation;
            if (r.request->operation == "GetPerson") {
                if (r.request->user) out += "\tuser=" + escape_line_value(*r.request->user);
                if (r.request->password) out += "\tpassword=" + escape_line_value(*r.request->password);
                out += "\tsPnr=" + escape_line_value(r.request->pnr);
                out += "\tflagOtherArchive=" + r.request->other_archive;
            }
        }
        out += "\tbody=" + escape_line_value(r.body) + "\n";
    }
    return out;
}

std::string requests_as_json(const std::deque<RecordedRequest>& requests) {
    std::string out = "[";
    for (const RecordedRequest& r : requests) {
        if (out.size() > 1) out += ",";
        out += "\n{\"seq\":" + std::to_string(r.seq);
        out += ",\"outcome\":" + json_string(r.outcome);
        if (!r.error.empty()) out += ",\"error\":" + json_string(r.error);
        out += ",\"content_type\":" + json_string(r.content_type);
        out += std::string(",\"soapaction\":") + (r.soap_action ? "true" : "false");
        if (r.request) {
            out += ",\"operation\":" + json_string(r.request->operation);
            if (r.request->operation == "GetPerson") {
                if (r.request->user) out += ",\"user\":" + json_string(*r.request->user);
                if (r.request->password) out += ",\"password\":" + json_string(*r.request->password);
                out += ",\"sPnr\":" + json_string(r.request->pnr);
                out += ",\"flagOtherArchive\":" + json_string(r.request->other_archive);
            }
        }
        out += ",\"body\":" + json_string(r.body) + "}";
    }
    return out + "\n]\n";
}

std::string stats_as_lines(const Stats& s) {
    std::string out;
    const auto add = [&out](const char* name, uint64_t v) {
        out += std::string(name) + " " + std::to_string(v) + "\n";
    };
    add("requests", s.requests);
    add("served", s.served);
    add("found", s.found);
    add("not_found", s.not_found);
    add("bad_requests", s.bad_requests);
    add("login_failures", s.login_failures);
    add("unsupported", s.unsupported);
    add("injected", s.injected);
    add("dropped", s.dropped);
    return out;
}

}  // namespace regsim
