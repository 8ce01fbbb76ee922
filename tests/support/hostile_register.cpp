#include "hostile_register.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace hostile {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSoapType = "application/soap+xml; charset=utf-8";
constexpr const char* kEnvelopeStart =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>";
constexpr const char* kEnvelopeEnd = "</soap:Body></soap:Envelope>";
// Bounds of the listener's own waits.
constexpr unsigned kRequestWaitMs = 5000;
constexpr unsigned kSendWaitMs = 30000;
constexpr unsigned kHoldMs = 130000;
// At most this many connections are served at a time.
constexpr std::size_t kMaxClients = 32;

std::string Escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out += c;
    }
    return out;
}

std::string PersonEnvelopeContent(std::string_view document) {
    return "<GetPersonResponse xmlns=\"http://popman.mirell.example/HCW/PopulationManager\"><GetPersonResult>" +
           Escape(document) + "</GetPersonResult></GetPersonResponse>";
}

void StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

// Waits until the socket can be read (or written); false on time-out.
// The platform's FIONBIO macro converts an unsigned constant to long, which
// the project's sign-conversion warning would flag in every use.
#ifdef __GNUC__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-conversion"
#endif
void SetNonBlocking(SOCKET s) {
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
}
#ifdef __GNUC__
#pragma GCC diagnostic pop
#endif

bool WaitFor(SOCKET s, bool write, unsigned ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
    return select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &tv) > 0;
}

}  // namespace

std::string Response(int status, std::string_view reason, std::string_view contentType, std::string_view body,
                     std::string_view extraHeaders) {
    std::string r = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
    if (!contentType.empty()) r += "Content-Type: " + std::string(contentType) + "\r\n";
    r += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    r += std::string(extraHeaders);
    r += "Connection: close\r\n\r\n";
    r += body;
    return r;
}

std::string WithoutClose(std::string response) {
    const std::string line = "Connection: close\r\n";
    const std::size_t head = response.find("\r\n\r\n");
    const std::size_t at = response.find(line);
    if (at != std::string::npos && head != std::string::npos && at < head + 2) response.erase(at, line.size());
    return response;
}

std::string PersonReply(std::string_view document) {
    return Response(200, "OK", kSoapType, kEnvelopeStart + PersonEnvelopeContent(document) + kEnvelopeEnd);
}

std::string PaddedPersonReplyBody(std::string_view document, std::size_t size) {
    std::string body = kEnvelopeStart + PersonEnvelopeContent(document);
    const std::size_t end = std::strlen(kEnvelopeEnd);
    if (body.size() + end < size) body.append(size - body.size() - end, ' ');
    return body + kEnvelopeEnd;
}

std::string CnDocument(const std::vector<std::pair<std::string, std::string>>& tags) {
    std::string doc = "<?xml version=\"1.0\" encoding=\"utf-8\"?><PopulationManager><PersonInfo>";
    for (const auto& [tag, text] : tags) doc += "<" + tag + ">" + text + "</" + tag + ">";
    return doc + "</PersonInfo><Relation></Relation></PopulationManager>";
}

std::string FaultReply(std::string_view reason) {
    return Response(500, "Internal Server Error", kSoapType,
                    std::string(kEnvelopeStart) +
                        "<soap:Fault><soap:Code><soap:Value>soap:Receiver</soap:Value></soap:Code>"
                        "<soap:Reason><soap:Text xml:lang=\"sv\">" +
                        Escape(reason) + "</soap:Text></soap:Reason></soap:Fault>" + kEnvelopeEnd);
}

Script Silent() { return {{}, true}; }

Script HeadersOnly() {
    return {{{"HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\nContent-Length: 2000\r\n\r\n"}},
            true};
}

Script ShortBody() {
    const std::string part = std::string(kEnvelopeStart) + "<GetPersonResponse";
    return {{{"HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\nContent-Length: 5000\r\n\r\n" +
              part}},
            true};
}

Script UnterminatedChunks() {
    const std::string part = kEnvelopeStart;
    char size[16];
    std::snprintf(size, sizeof(size), "%zx", part.size());
    return {{{"HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\n"
              "Transfer-Encoding: chunked\r\n\r\n" +
              std::string(size) + "\r\n" + part + "\r\n"}},
            true};
}

Script Trickle(unsigned intervalMs) {
    const std::string body = PaddedPersonReplyBody(CnDocument({{"cn_fname", "Trill"}, {"cn_lname", "Droppe"}}), 100000);
    return {{{"HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\nContent-Length: " +
                  std::to_string(body.size()) + "\r\n\r\n"},
             {body, intervalMs, 1}},
            false};
}

Script Redirect(int status, std::string_view reason, std::string_view location) {
    return {{{Response(status, reason, "text/plain; charset=utf-8", "moved",
                       "Location: " + std::string(location) + "\r\n")}},
            false};
}

Script Reply(std::string bytes) { return {{{std::move(bytes)}}, false}; }

Script Kept(Script script) {
    script.keepOpen = true;
    return script;
}

Script Chunked(std::string_view contentType, std::string_view body) {
    Script script;
    script.steps.push_back({"HTTP/1.1 200 OK\r\nContent-Type: " + std::string(contentType) +
                            "\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"});
    constexpr std::size_t kChunk = 64 * 1024;
    for (std::size_t at = 0; at < body.size(); at += kChunk) {
        const std::string_view piece = body.substr(at, kChunk);
        char size[16];
        std::snprintf(size, sizeof(size), "%zx", piece.size());
        script.steps.push_back({std::string(size) + "\r\n" + std::string(piece) + "\r\n"});
    }
    script.steps.push_back({"0\r\n\r\n"});
    return script;
}

Register::Register(Script script) : Register(std::vector<Script>{std::move(script)}) {}

Register::Register(std::vector<Script> scripts) : scripts_(std::move(scripts)) {
    if (scripts_.empty()) scripts_.push_back(Silent());
    StartWinsock();
    listener_.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!listener_) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof(address);
    if (bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener_.get(), 8) != 0 ||
        getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        listener_.reset();
        return;
    }
    port_ = ntohs(address.sin_port);
    thread_.reset(CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr));
    if (!thread_) listener_.reset();
}

Register::~Register() {
    stop_ = true;
    // Every wait of the threads is a slice of at most 100 ms.
    if (thread_) WaitForSingleObject(thread_.get(), 15000);
}

std::wstring Register::BaseUrl() const { return L"http://127.0.0.1:" + std::to_wstring(port_); }
std::wstring Register::Endpoint() const { return BaseUrl() + L"/PopmWs/WSPopMan.asmx"; }

struct Register::Client {
    Register* self;
    tolmar::win::UniqueSocket socket;
};

DWORD WINAPI Register::ThreadMain(void* self) {
    auto* r = static_cast<Register*>(self);
    while (!r->stop_) {
        if (!WaitFor(r->listener_.get(), false, 100)) continue;
        auto client = std::make_unique<Client>(Client{r, tolmar::win::UniqueSocket(accept(r->listener_.get(), nullptr, nullptr))});
        if (!client->socket) continue;
        ++r->connections_;
        if (r->clients_.size() >= kMaxClients) continue;  // closed unanswered
        SetNonBlocking(client->socket.get());
        tolmar::win::UniqueKernelHandle thread(CreateThread(nullptr, 0, ClientMain, client.get(), 0, nullptr));
        if (!thread) continue;
        client.release();  // the thread's now
        r->clients_.push_back(std::move(thread));
    }
    for (const auto& thread : r->clients_) WaitForSingleObject(thread.get(), 10000);
    return 0;
}

DWORD WINAPI Register::ClientMain(void* parameter) {
    const std::unique_ptr<Client> client(static_cast<Client*>(parameter));
    client->self->Serve(client->socket.get());
    shutdown(client->socket.get(), SD_BOTH);
    return 0;
}

Register::Heard Register::ReadRequest(SOCKET client, unsigned ms) {
    std::string request;
    std::size_t needed = std::string::npos;
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!stop_ && Clock::now() < until && request.size() < needed) {
        if (!WaitFor(client, false, 100)) continue;
        char buffer[8192];
        const int n = recv(client, buffer, sizeof(buffer), 0);
        if (n == 0) ++closedByClient_;
        if (n <= 0) return Heard::Gone;
        bytesReceived_ += n;
        request.append(buffer, static_cast<std::size_t>(n));
        const std::size_t headEnd = request.find("\r\n\r\n");
        if (headEnd == std::string::npos || needed != std::string::npos) continue;
        std::string head = request.substr(0, headEnd);
        std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
        std::size_t length = 0;
        if (const std::size_t at = head.find("content-length:"); at != std::string::npos)
            length = std::strtoul(head.c_str() + at + 15, nullptr, 10);
        needed = headEnd + 4 + length;
    }
    return needed != std::string::npos && request.size() >= needed ? Heard::Request : Heard::Nothing;
}

bool Register::SendAll(SOCKET client, std::string_view bytes) {
    const auto until = Clock::now() + std::chrono::milliseconds(kSendWaitMs);
    while (!bytes.empty()) {
        if (stop_ || Clock::now() > until) return false;
        if (!WaitFor(client, true, 100)) continue;
        const int n = send(client, bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), 65536)), 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK) continue;
            return false;  // the client has gone
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Waits, dropping whatever the client sends; false when the client closed.
bool Register::Pause(SOCKET client, unsigned ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!stop_ && Clock::now() < until) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (!WaitFor(client, false, static_cast<unsigned>(std::clamp<long long>(left, 1, 100)))) continue;
        char buffer[4096];
        const int n = recv(client, buffer, sizeof(buffer), 0);
        if (n == 0) {
            ++closedByClient_;
            return false;
        }
        if (n < 0) {
            if (WSAGetLastError() == WSAEWOULDBLOCK) continue;
            return false;
        }
        bytesReceived_ += n;
    }
    return !stop_;
}

void Register::Serve(SOCKET client) {
    // The first request is answered even when it does not arrive whole in
    // time; a kept connection's further ones only when they come.
    for (bool first = true;; first = false) {
        const Heard heard = ReadRequest(client, first ? kRequestWaitMs : kHoldMs);
        if (heard == Heard::Gone || (heard == Heard::Nothing && !first)) return;
        const std::size_t n = static_cast<std::size_t>(requests_++);
        const Script& script = scripts_[std::min(n, scripts_.size() - 1)];
        for (const Step& step : script.steps) {
            for (std::size_t round = 0; round < step.repeat; ++round) {
                if (step.bytes.empty() && step.pauseMs && !Pause(client, step.pauseMs)) return;
                const std::size_t piece = step.piece ? step.piece : std::max<std::size_t>(step.bytes.size(), 1);
                for (std::size_t at = 0; at < step.bytes.size(); at += piece) {
                    if (!SendAll(client, std::string_view(step.bytes).substr(at, piece))) return;
                    if (step.pauseMs && !Pause(client, step.pauseMs)) return;
                }
            }
        }
        if (script.hold) {
            Pause(client, kHoldMs);
            return;
        }
        if (!script.keepOpen || stop_) return;
    }
}

}  // namespace hostile
