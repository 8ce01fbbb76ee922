// The HTTP transport of the register service: WinINet with the workstation's
// own internet and proxy configuration. One request per call.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "register/reply_guard.h"
#include "tools/error.h"

namespace tolmar::win {

struct HttpReply {
    unsigned long status = 0;
    std::wstring statusText;
    std::string body;  // read only for a status below 300, and for 500
};

// A reply the program refused to take in (too large, framed so that its end
// cannot be told, headers too long): the register answered, badly. Any other
// Error from Post or Get is a call that got no reply.
class ReplyRefused : public Error {
public:
    using Error::Error;
};

// The register session's HTTP side: one WinINet session, opened at the
// first exchange (opening one for every lookup cost more than the rest of
// the program's own work for it), and the threads that perform the
// exchanges, each kept for a later one once its exchange has ended
// (starting a thread costs about 4 ms under Wine). Time-outs are set on
// each exchange's own handles, never on the shared session.
//
// An exchange whose caller stopped waiting at its deadline goes on on its
// thread until its own time-outs end it. Such a thread, like every kept
// one, holds the state it shares with this object: when this object ends,
// idle threads are told to end and do, a busy one ends once its exchange
// has, and the WinINet session is closed when the last of them is gone.
// Nothing here waits for them: the destructor returns at once, and the
// program may end while an abandoned exchange still waits on a silent
// register (the system then ends its thread with the process).
class HttpSession {
public:
    HttpSession();
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    struct Shared;  // what the kept threads share with the session

private:
    friend class HttpTransport;
    std::shared_ptr<Shared> shared_;
};

class HttpTransport {
public:
    // Exchanges through `session`, which outlives the transport.
    // `deadlineMs`: how long one call may take from its start to the reply's
    // last byte (LookupDeadlineMsFromEnvironment() when not given).
    HttpTransport(HttpSession& session, std::wstring url, unsigned long deadlineMs = 0);
    const std::wstring& url() const { return url_; }
    unsigned long deadlineMs() const { return deadlineMs_; }

    // POSTs body with the given Content-Type. A connection, send or receive
    // failure throws Error("<system text> - URL:<url> - SOAPAction:<action>");
    // so does a call that has not ended within the deadline ("Registret
    // svarade inte färdigt inom 60 s - URL:..."), and a reply body larger
    // than kMaxReplyBytes. Redirects are never followed: a 3xx comes back as
    // the reply's status. For https the server certificate is checked (name,
    // dates, issuer, revocation as the workstation's settings say): a bad one
    // is a failure.
    HttpReply Post(std::wstring_view contentType, const std::string& body, std::wstring_view action) const;

    // GETs the URL (the WSDL document) under the same bounds.
    HttpReply Get() const;

private:
    HttpReply Exchange(const wchar_t* verb, std::wstring_view headers, const std::string& body,
                       std::wstring_view action) const;

    HttpSession& session_;
    std::wstring url_;
    unsigned long deadlineMs_;
};

// Lets WinINet keep `count` connections to one server open at a time (the
// whole process), and one more for the failed exchange that a session keeps
// (see http_transport.cpp), so that that many lookups in flight do not queue
// behind its small default. Call before the first exchange. False when
// WinINet does not take it: the lookups then only wait longer for a
// connection.
bool AllowConnectionsPerServer(unsigned long count);

// The lookup's deadline: kLookupDeadlineMs, or a shorter one from the
// environment variable TOLMAR_REGISTER_DEADLINE_MS, which the end-to-end
// tests set so that a register that never answers costs them seconds, not
// minutes. It can only shorten the bound.
unsigned long LookupDeadlineMsFromEnvironment();

}  // namespace tolmar::win
