#include "register/win/http_transport.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "register/endpoint_text.h"
#include "tools/error.h"
#include "tools/text.h"
#include "tools/win/unique.h"

namespace tolmar::win {
namespace {

// WinINet's own texts live in wininet.dll's message table.
std::wstring NetworkErrorText(DWORD code) {
    wchar_t buffer[1024] = {};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                             GetModuleHandleW(L"wininet.dll"), code, 0, buffer, 1024, nullptr);
    if (n == 0)
        n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                           1024, nullptr);
    std::wstring text(buffer, n);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
    if (text.empty()) text = L"Nätverksfel " + std::to_wstring(code);
    return text;
}

// A failed WinINet (or system) call of an exchange, by its error code.
struct NetworkFailure {
    DWORD code;
};

// The one check of every WinINet call, as odbc::Check is of every ODBC call:
// nothing when the call succeeded; otherwise throws NetworkFailure with the
// calling thread's last error.
void CheckNetwork(bool succeeded) {
    if (!succeeded) throw NetworkFailure{GetLastError()};
}

// One exchange, shared by the caller and the worker thread that performs it:
// a caller that stops waiting at the deadline leaves the rest to the worker,
// which ends by itself within its own time-outs.
struct Transfer {
    // Inputs.
    std::wstring url, host, object, verb, headers;
    std::string body;
    INTERNET_PORT port = 0;
    bool secure = false;
    ULONGLONG deadline = 0;  // GetTickCount64() value
    // Outputs, read by the caller only once the worker has ended.
    HttpReply reply;
    DWORD error = 0;                 // a WinINet or system error code
    std::optional<std::wstring> own; // a failure of the program's own (size)
    bool timedOut = false;
    // Set by the worker when it has ended.
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;

    DWORD Remaining() const {
        const ULONGLONG now = GetTickCount64();
        return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    }
};

// Connect, send and receive time-outs on a handle: what is left of the
// deadline, at least 1 ms (0 would mean no time-out at all).
void SetTimeouts(HINTERNET handle, DWORD remaining) {
    DWORD timeout = std::max<DWORD>(remaining, 1);
    for (DWORD option : {DWORD{INTERNET_OPTION_CONNECT_TIMEOUT}, DWORD{INTERNET_OPTION_SEND_TIMEOUT}, DWORD{INTERNET_OPTION_RECEIVE_TIMEOUT}})
        InternetSetOptionW(handle, option, &timeout, sizeof(timeout));
}

// The response headers of a request as WinINet gives them back raw (status
// line, then one header to a line), at most kMaxReplyHeaderChars of them;
// throws Error when there are more.
std::wstring RawHeaders(HINTERNET request) {
    std::vector<wchar_t> buffer(4096);
    for (;;) {
        DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        if (HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &size, nullptr))
            return std::wstring(buffer.data(), std::min<std::size_t>(size / sizeof(wchar_t), buffer.size()));
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) throw NetworkFailure{error};
        const std::size_t needed = size / sizeof(wchar_t) + 1;
        if (needed > kMaxReplyHeaderChars + 1 || needed <= buffer.size()) throw Error(ReplyHeadersTooLongText());
        buffer.resize(needed);
    }
}

// The handles of one exchange. They are closed only after the caller has been
// told that the exchange ended: closing a request whose reply was not read to
// its end makes WinINet read on (to keep the connection for another request),
// and the caller must not wait for that.
//
// WinINet's own reading-on can also hand the connection back for the next
// request when it has read what it took for the end of the reply (Wine's
// does, measured against a register that gives its length twice): the rest
// of the register's reply is then read as the next patient's answer. So the
// handles of an exchange that did not end with a reply read whole (refused,
// cut short, abandoned at the deadline) are not closed at once but kept by
// the session (HttpSession::Shared::Keep): their connection stays theirs and
// is never handed to another request, and it is closed when the session
// ends or when another such exchange takes its place.
struct ExchangeHandles {
    UniqueInternet connection;
    UniqueInternet request;
};

// Fills x.reply; throws NetworkFailure, or Error for a reply the program
// refuses (its framing or size).
void Perform(HINTERNET session, Transfer& x, ExchangeHandles& handles) {
    handles.connection.reset(InternetConnectW(session, x.host.c_str(), x.port, nullptr, nullptr,
                                              INTERNET_SERVICE_HTTP, 0, 0));
    CheckNetwork(static_cast<bool>(handles.connection));
    SetTimeouts(handles.connection.get(), x.Remaining());

    const wchar_t* accept[] = {L"*/*", nullptr};
    // Redirects are never followed: the login goes only to the host that the
    // settings name, and a 3xx is a failed call.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES |
                  INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (x.secure) flags |= INTERNET_FLAG_SECURE;  // certificate problems stay failures
    handles.request.reset(HttpOpenRequestW(handles.connection.get(), x.verb.c_str(), x.object.c_str(), nullptr,
                                           nullptr, accept, flags, 0));
    const HINTERNET request = handles.request.get();
    CheckNetwork(request != nullptr);
    // On the request handle itself, before every wait: WinINet (Wine's at
    // least) does not carry the send and receive time-outs over from the
    // session, and honours them on the request.
    SetTimeouts(request, x.Remaining());

    CheckNetwork(HttpSendRequestW(request, x.headers.empty() ? nullptr : x.headers.c_str(),
                                  static_cast<DWORD>(x.headers.size()), x.body.empty() ? nullptr : x.body.data(),
                                  static_cast<DWORD>(x.body.size())));

    DWORD status = 0, size = sizeof(status);
    CheckNetwork(
        HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr));
    // A connection closed before any status line came back is no answer at all.
    if (status == 0) throw NetworkFailure{ERROR_HTTP_INVALID_SERVER_RESPONSE};
    x.reply.status = status;
    wchar_t statusText[512] = {};
    size = sizeof(statusText);
    if (HttpQueryInfoW(request, HTTP_QUERY_STATUS_TEXT, statusText, &size, nullptr))
        x.reply.statusText = CutRegisterText(statusText);

    // A body framed two ways, or announced larger than the limit, is refused
    // before any of it is read, whatever the status: WinINet's reading of it
    // and the register's could differ.
    if (std::optional<std::wstring> refusal = ReplyFramingRefusal(RawHeaders(request))) throw Error(*refusal);
    // Only a reply that is read as SOAP has its body read.
    if (status >= 300 && status != 500) return;

    // Data is taken as it arrives, so that a trickle is checked against the
    // deadline between its pieces instead of filling one large buffer.
    std::vector<char> chunk(16384);
    for (;;) {
        const DWORD remaining = x.Remaining();
        if (remaining == 0) throw NetworkFailure{ERROR_INTERNET_TIMEOUT};
        SetTimeouts(request, remaining);
        DWORD available = 0;
        CheckNetwork(InternetQueryDataAvailable(request, &available, 0, 0));
        if (available == 0) break;
        DWORD got = 0;
        const DWORD want = std::min<DWORD>(available, static_cast<DWORD>(chunk.size()));
        CheckNetwork(InternetReadFile(request, chunk.data(), want, &got));
        if (got == 0) break;
        if (x.reply.body.size() + got > kMaxReplyBytes) throw Error(ReplyTooLargeText());
        x.reply.body.append(chunk.data(), got);
    }
    if (x.Remaining() == 0) throw NetworkFailure{ERROR_INTERNET_TIMEOUT};
}

}  // namespace

// What the session shares with its kept threads; each of them holds it, so
// it lives until the session and the last of its threads have ended.
struct HttpSession::Shared {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::shared_ptr<Transfer>> queue;
    unsigned idle = 0;    // threads waiting for an exchange and not yet promised one
    bool ending = false;  // the session has ended: idle threads end
    UniqueInternet internet;  // opened at the first exchange, closed with the last user
    // The last exchange that did not end with a reply read whole; closed by
    // a worker when the session ends (Loop), or else before `internet`
    // (members end in reverse order).
    ExchangeHandles failed;

    // Keeps the handles of a failed exchange in place of the one before,
    // which is closed here, on the calling (worker) thread.
    void Keep(ExchangeHandles handles) {
        ExchangeHandles before;
        std::lock_guard lock(mutex);
        before = std::exchange(failed, std::move(handles));
        // `before` is closed after the lock is released: it is declared first.
    }

    // The WinINet session; throws NetworkFailure when it cannot be opened.
    HINTERNET Internet() {
        std::lock_guard lock(mutex);
        if (!internet) {
            internet.reset(InternetOpenW(L"tolmar07", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
            CheckNetwork(static_cast<bool>(internet));
        }
        return internet.get();
    }

    // Hands `x` to a free thread, or to a new one when none is free; false
    // (with the system's last error) when no thread could be started.
    static bool Start(const std::shared_ptr<Shared>& shared, std::shared_ptr<Transfer> x);

private:
    static DWORD WINAPI Loop(void* parameter);
};

namespace {

// Performs one exchange and tells the caller it has ended. Nothing may
// leave the thread: the caller reads what failed.
void Run(HttpSession::Shared& shared, Transfer& x) {
    ExchangeHandles handles;
    bool whole = false;
    try {
        Perform(shared.Internet(), x, handles);
        whole = true;
    } catch (const NetworkFailure& failure) {
        x.error = failure.code;
        if (failure.code == ERROR_INTERNET_TIMEOUT || x.Remaining() == 0) x.timedOut = true;
    } catch (const std::exception& refused) {
        x.own = MessageOf(refused);
    }
    {
        std::lock_guard lock(x.mutex);
        x.done = true;
    }
    x.ended.notify_all();
    if (!whole && handles.request) shared.Keep(std::move(handles));
}

// What a new thread starts with.
struct ThreadStart {
    std::shared_ptr<HttpSession::Shared> shared;
    std::shared_ptr<Transfer> first;
};

}  // namespace

bool HttpSession::Shared::Start(const std::shared_ptr<Shared>& shared, std::shared_ptr<Transfer> x) {
    std::unique_lock lock(shared->mutex);
    if (shared->idle > 0) {
        --shared->idle;  // that thread is this exchange's
        shared->queue.push_back(std::move(x));
        lock.unlock();
        shared->ready.notify_one();
        return true;
    }
    lock.unlock();
    auto start = std::make_unique<ThreadStart>(ThreadStart{shared, std::move(x)});
    UniqueKernelHandle thread(CreateThread(nullptr, 0, Loop, start.get(), 0, nullptr));
    if (!thread) return false;
    start.release();  // the thread's now
    return true;
}

DWORD WINAPI HttpSession::Shared::Loop(void* parameter) {
    const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
    const std::shared_ptr<Shared> shared = std::move(start->shared);
    std::shared_ptr<Transfer> x = std::move(start->first);
    for (;;) {
        Run(*shared, *x);
        x.reset();
        std::unique_lock lock(shared->mutex);
        ++shared->idle;
        shared->ready.wait(lock, [&shared] { return !shared->queue.empty() || shared->ending; });
        if (shared->queue.empty()) {
            // The session has ended. A kept failed exchange is closed here,
            // never on the thread that ended the session: closing it may read
            // on for as long as the register keeps sending (Wine's WinINet
            // drains a reply announced at 200 MB), and that thread's caller
            // waits for it. No one waits for this one; the thread that made
            // the failed exchange always comes here after its Keep.
            ExchangeHandles failed = std::move(shared->failed);
            lock.unlock();
            return 0;  // `failed` is closed here, then this thread's hold on `shared` ends
        }
        x = std::move(shared->queue.front());
        shared->queue.pop_front();
    }
}

HttpSession::HttpSession() : shared_(std::make_shared<Shared>()) {}

HttpSession::~HttpSession() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->ending = true;
    }
    shared_->ready.notify_all();
}

bool AllowConnectionsPerServer(unsigned long count) {
    DWORD value = count + 1;  // the kept failed exchange holds one
    bool taken = true;
    for (DWORD option : {DWORD{INTERNET_OPTION_MAX_CONNS_PER_SERVER}, DWORD{INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER}})
        taken = InternetSetOptionW(nullptr, option, &value, sizeof(value)) && taken;
    return taken;
}

unsigned long LookupDeadlineMsFromEnvironment() {
    wchar_t value[32] = {};
    const DWORD n = GetEnvironmentVariableW(L"TOLMAR_REGISTER_DEADLINE_MS", value, 32);
    if (n == 0 || n >= 32) return kLookupDeadlineMs;
    return LookupDeadlineMs(ToUtf8(value));
}

HttpTransport::HttpTransport(HttpSession& session, std::wstring url, unsigned long deadlineMs)
    : session_(session),
      url_(std::move(url)), deadlineMs_(deadlineMs ? std::min(deadlineMs, kLookupDeadlineMs)
                                                   : LookupDeadlineMsFromEnvironment()) {}

HttpReply HttpTransport::Post(std::wstring_view contentType, const std::string& body,
                              std::wstring_view action) const {
    return Exchange(L"POST", L"Content-Type: " + std::wstring(contentType) + L"\r\n", body, action);
}

HttpReply HttpTransport::Get() const { return Exchange(L"GET", {}, {}, {}); }

HttpReply HttpTransport::Exchange(const wchar_t* verb, std::wstring_view headers, const std::string& body,
                                  std::wstring_view action) const {
    const ULONGLONG start = GetTickCount64();
    auto fail = [&](const std::wstring& text) -> Error {
        return Error(text + L" - URL:" + MaskedEndpoint(url_) + L" - SOAPAction:" + std::wstring(action));
    };

    URL_COMPONENTSW parts{sizeof(parts)};
    wchar_t host[1024] = {}, path[4096] = {}, extra[4096] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = 1024;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 4096;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = 4096;
    auto x = std::make_shared<Transfer>();
    x->url = url_;
    x->verb = verb;
    x->headers = std::wstring(headers);
    x->body = body;
    x->deadline = start + deadlineMs_;

    // The exchange runs on a thread of its own so that this call ends at the
    // deadline whatever WinINet waits for (name resolution, a proxy, a
    // WinINet that ignores a time-out); the thread ends the exchange by
    // itself within its own time-outs, which are what is left of the same
    // deadline.
    try {
        CheckNetwork(InternetCrackUrlW(url_.c_str(), 0, 0, &parts));
        x->host = host;
        x->object = std::wstring(path) + extra;
        x->port = parts.nPort;
        x->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
        CheckNetwork(HttpSession::Shared::Start(session_.shared_, x));
    } catch (const NetworkFailure& failure) {
        throw fail(NetworkErrorText(failure.code));
    }
    {
        std::unique_lock lock(x->mutex);
        if (!x->ended.wait_for(lock, std::chrono::milliseconds(x->Remaining() + 50), [&x] { return x->done; }))
            throw fail(DeadlinePassedText(deadlineMs_));
    }
    if (x->own) throw ReplyRefused(fail(*x->own).message());
    if (x->timedOut) throw fail(DeadlinePassedText(deadlineMs_));
    if (x->error) throw fail(NetworkErrorText(x->error));
    return std::move(x->reply);
}

}  // namespace tolmar::win
