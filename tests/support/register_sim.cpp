#include "register_sim.h"

#include <sstream>

#include "tools/win/unique.h"
#include "text.h"

namespace tolmar::test {
namespace {

constexpr const char* kNoSimulator =
    "TOLMAR_REGISTER_SIM is not set: these tests need the register simulator "
    "(scripts/test starts it; by hand: register-sim --port 0 --fixture sim/register-sim/fixtures/example.txt, "
    "then export TOLMAR_REGISTER_SIM=http://127.0.0.1:PORT)";

struct Reply {
    DWORD status = 0;
    std::string body;
};

// One request to a control endpoint, bounded; a failure explains itself.
::testing::AssertionResult Http(const wchar_t* verb, const std::wstring& path, std::string_view body, Reply& reply) {
    const std::wstring base = RegisterSim::BaseUrl();
    if (base.empty()) return ::testing::AssertionFailure() << kNoSimulator;
    const size_t colon = base.rfind(L':');
    const size_t hostStart = base.find(L"://");
    if (colon == std::wstring::npos || hostStart == std::wstring::npos || colon < hostStart + 3)
        return ::testing::AssertionFailure() << "TOLMAR_REGISTER_SIM=" << Utf8(base) << " is not http://HOST:PORT";
    const std::wstring host = base.substr(hostStart + 3, colon - hostStart - 3);
    const auto port = static_cast<INTERNET_PORT>(_wtoi(base.c_str() + colon + 1));
    constexpr DWORD kFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                             INTERNET_FLAG_NO_COOKIES;
    win::UniqueInternet session(InternetOpenW(L"tolmar-tests", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    DWORD timeout = 10000;
    for (const int option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        if (session) InternetSetOptionW(session.get(), static_cast<DWORD>(option), &timeout, sizeof timeout);
    win::UniqueInternet connection(session ? InternetConnectW(session.get(), host.c_str(), port, nullptr, nullptr,
                                                               INTERNET_SERVICE_HTTP, 0, 0)
                                            : nullptr);
    win::UniqueInternet request(
        connection ? HttpOpenRequestW(connection.get(), verb, path.c_str(), nullptr, nullptr, nullptr, kFlags, 0)
                   : nullptr);
    std::string payload(body);
    const std::wstring headers = L"Content-Type: text/plain; charset=utf-8\r\n";
    if (!request || !HttpSendRequestW(request.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                                      payload.empty() ? nullptr : payload.data(), static_cast<DWORD>(payload.size())))
        return ::testing::AssertionFailure() << "the register simulator at " << Utf8(base)
                                             << " does not answer (error " << GetLastError() << ")";
    char chunk[8192];
    DWORD got = 0;
    reply.body.clear();
    while (InternetReadFile(request.get(), chunk, sizeof chunk, &got) && got > 0) reply.body.append(chunk, got);
    DWORD size = sizeof reply.status;
    if (!HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &reply.status, &size, nullptr))
        return ::testing::AssertionFailure() << "no HTTP status from the register simulator";
    if (reply.status != 200)
        return ::testing::AssertionFailure() << Utf8(verb) << " " << Utf8(path) << ": " << reply.status << " "
                                             << reply.body;
    return ::testing::AssertionSuccess();
}

std::string Unescape(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
            case 't': out += '\t'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            default: out += value[i]; break;
        }
    }
    return out;
}

}  // namespace

std::string SimRequest::Value(const std::string& key) const {
    const auto it = fields.find(key);
    return it == fields.end() ? std::string("<absent>") : it->second;
}

void PrintTo(const SimRequest& request, std::ostream* os) {
    *os << "{";
    for (const auto& [key, value] : request.fields)
        if (key != "body") *os << " " << key << "=" << Printable(FromUtf8(value));
    *os << " }";
}

std::wstring RegisterSim::BaseUrl() {
    std::wstring url = EnvironmentValue(L"TOLMAR_REGISTER_SIM");
    while (!url.empty() && url.back() == L'/') url.pop_back();
    return url;
}

::testing::AssertionResult RegisterSim::Available() {
    Reply reply;
    return Http(L"GET", L"/control/stats", "", reply);
}

::testing::AssertionResult RegisterSim::Inject(std::string_view injection) {
    Reply reply;
    return Http(L"POST", L"/control/fault", injection, reply);
}

::testing::AssertionResult RegisterSim::Inject(std::wstring_view injection) { return Inject(Utf8(injection)); }

::testing::AssertionResult RegisterSim::Reset() {
    Reply reply;
    return Http(L"POST", L"/control/reset", "", reply);
}

std::optional<std::vector<SimRequest>> RegisterSim::Requests() {
    Reply reply;
    if (!Http(L"GET", L"/control/requests", "", reply)) return std::nullopt;
    std::vector<SimRequest> requests;
    size_t start = 0;
    while (start < reply.body.size()) {
        size_t end = reply.body.find('\n', start);
        if (end == std::string::npos) end = reply.body.size();
        const std::string_view line(reply.body.data() + start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        SimRequest request;
        size_t fieldStart = 0;
        while (fieldStart <= line.size()) {
            size_t fieldEnd = line.find('\t', fieldStart);
            if (fieldEnd == std::string_view::npos) fieldEnd = line.size();
            const std::string_view field = line.substr(fieldStart, fieldEnd - fieldStart);
            if (const size_t eq = field.find('='); eq != std::string_view::npos)
                request.fields[std::string(field.substr(0, eq))] = Unescape(field.substr(eq + 1));
            fieldStart = fieldEnd + 1;
        }
        requests.push_back(std::move(request));
    }
    return requests;
}

std::string RegisterSim::LastRequestValue(const std::string& key) {
    const auto requests = Requests();
    if (!requests || requests->empty() || !requests->back().Has(key)) return {};
    return requests->back().fields.at(key);
}

std::vector<std::wstring> RegisterSim::LookedUpNumbers() {
    std::vector<std::wstring> numbers;
    const auto requests = Requests();
    if (!requests) {
        ADD_FAILURE() << "the simulator's request record cannot be read";
        return numbers;
    }
    for (const SimRequest& request : *requests)
        if (request.Has("sPnr")) numbers.push_back(FromUtf8(request.Value("sPnr")));
    return numbers;
}

std::optional<std::map<std::string, long long>> RegisterSim::Stats() {
    Reply reply;
    if (!Http(L"GET", L"/control/stats", "", reply)) return std::nullopt;
    std::map<std::string, long long> stats;
    std::istringstream lines(reply.body);
    std::string name;
    long long value = 0;
    while (lines >> name >> value) stats[name] = value;
    return stats;
}

long long RegisterSim::RequestCount() {
    if (const auto stats = Stats())
        if (const auto found = stats->find("requests"); found != stats->end()) return found->second;
    ADD_FAILURE() << "the simulator's \"requests\" counter cannot be read";
    return -1;
}

SimulatorSession::SimulatorSession() : ready_(RegisterSim::Available()) {
    if (ready_) ready_ = RegisterSim::Reset();
}

SimulatorSession::~SimulatorSession() {
    if (ready_) {
        const auto reset = RegisterSim::Reset();
        if (!reset) ADD_FAILURE() << "the register simulator could not be reset after the test: " << reset.message();
    }
}

}  // namespace tolmar::test
