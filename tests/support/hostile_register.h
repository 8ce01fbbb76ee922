// A register that misbehaves on purpose, for the tests of the program's
// bounds and refusals: a loopback HTTP listener on threads of the test
// process (one per connection) that answers each request with a script of
// raw bytes and pauses, then closes the connection, holds it open until the
// client gives up, or keeps it for the client's next request. The scripts
// are taken in turn, one per request over all connections; the last one
// answers every further request. Every wait in it is bounded, and it stops
// when it goes out of scope.
//
//   hostile::Register silent(hostile::Silent());
//   ... point LOG_ADDR at silent.Endpoint() and run the lookup ...
//   EXPECT_EQ(silent.Connections(), 1);
//
//   hostile::Register reg({hostile::Kept(hostile::Reply(bad)), hostile::Kept(hostile::Reply(good))});
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "tools/win/unique.h"

namespace tolmar::win {

// A Winsock socket, closed with closesocket (only the tests listen on sockets).
struct SocketTraits {
    static SOCKET Invalid() { return INVALID_SOCKET; }
    static void Close(SOCKET s) { closesocket(s); }
};
using UniqueSocket = UniqueHandle<SOCKET, SocketTraits>;

}  // namespace tolmar::win

namespace hostile {

struct Step {
    std::string bytes;
    unsigned pauseMs = 0;    // after the bytes, or after each piece
    std::size_t piece = 0;   // send the bytes this many at a time (0: all at once)
    std::size_t repeat = 1;  // send the bytes (and pauses) this many times over
};

struct Script {
    std::vector<Step> steps;
    // After the steps: keep the connection open (reading and dropping what
    // comes) until the client closes it or the register stops.
    bool hold = false;
    // After the steps: wait on the same connection for the client's next
    // request (keep-alive) instead of closing it.
    bool keepOpen = false;
};

// ---- answers -------------------------------------------------------------------------

// An HTTP/1.1 response with Content-Length and "Connection: close".
std::string Response(int status, std::string_view reason, std::string_view contentType, std::string_view body,
                     std::string_view extraHeaders = {});
// A SOAP 1.2 envelope answering GetPerson with `document` (raw bytes, escaped
// here as XML text) as its result, sent with status 200.
std::string PersonReply(std::string_view document);
// A result document of the cn family with these tags (raw bytes).
std::string CnDocument(const std::vector<std::pair<std::string, std::string>>& tags);
// A SOAP 1.2 fault with this Reason, status 500.
std::string FaultReply(std::string_view reason);
// A response of the above without its "Connection: close" line: the client
// may keep the connection for its next request.
std::string WithoutClose(std::string response);

// ---- scripts -------------------------------------------------------------------------

Script Silent();                       // accepts, reads the request, says nothing
Script HeadersOnly();                  // 200 and a Content-Length, no body
Script ShortBody();                    // announces more body than it sends
Script UnterminatedChunks();           // a chunked body whose last chunk never comes
Script Trickle(unsigned intervalMs);   // one byte of a large body every intervalMs
Script Redirect(int status, std::string_view reason, std::string_view location);
Script Reply(std::string bytes);       // the bytes, then the connection is closed
// 200 with `body` in chunks of 64 KiB, no length given.
Script Chunked(std::string_view contentType, std::string_view body);
// The script, then the connection is kept for the next request.
Script Kept(Script script);
// A SOAP reply of a person whose envelope is padded with blanks to `size` bytes.
std::string PaddedPersonReplyBody(std::string_view document, std::size_t size);

// ---- the listener ----------------------------------------------------------------------

class Register {
public:
    explicit Register(Script script);
    // One script per request, in turn; the last one answers the rest.
    explicit Register(std::vector<Script> scripts);
    ~Register();
    Register(const Register&) = delete;
    Register& operator=(const Register&) = delete;

    bool ok() const { return static_cast<bool>(listener_); }
    unsigned short port() const { return port_; }
    std::wstring BaseUrl() const;   // http://127.0.0.1:PORT
    std::wstring Endpoint() const;  // the SOAP endpoint's path on it
    // Connections accepted so far, the requests answered on them (one
    // script each), the connections the client closed (it, not the
    // register, ended them), and the bytes received.
    int Connections() const { return connections_.load(); }
    int Requests() const { return requests_.load(); }
    int ClosedByClient() const { return closedByClient_.load(); }
    long long BytesReceived() const { return bytesReceived_.load(); }

private:
    struct Client;
    static DWORD WINAPI ThreadMain(void* self);
    static DWORD WINAPI ClientMain(void* client);
    void Serve(SOCKET client);
    bool SendAll(SOCKET client, std::string_view bytes);
    bool Pause(SOCKET client, unsigned ms);
    // What came within `ms`: a whole request, nothing whole, or the client
    // closed (or broke) the connection.
    enum class Heard { Request, Nothing, Gone };
    Heard ReadRequest(SOCKET client, unsigned ms);

    std::vector<Script> scripts_;
    tolmar::win::UniqueSocket listener_;
    unsigned short port_ = 0;
    tolmar::win::UniqueKernelHandle thread_;
    std::vector<tolmar::win::UniqueKernelHandle> clients_;  // the accepting thread's own
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> requests_{0};
    std::atomic<int> closedByClient_{0};
    std::atomic<long long> bytesReceived_{0};
};

}  // namespace hostile
