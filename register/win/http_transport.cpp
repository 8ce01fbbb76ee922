#include "register/win/http_transport.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "tools/error.h"
#include "tools/text.h"
#include "tools/win/unique.h"

namespace tolmar::win {
namespace {

struct InternetTraits {
    static HINTERNET Invalid() { return nullptr; }
    static void Close(HINTERNET h) { InternetCloseHandle(h); }
};
using UniqueInternet = UniqueHandle<HINTERNET, InternetTraits>;

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
    if (text.empty()) text = L"N\u00e4tverksfel " + std::to_wstring(code);
    return text;
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

// The process's one WinINet session, opened at the first exchange and kept
// until the process ends: opening one for every lookup cost more than the
// rest of the program's own work for it. Time-outs are set on each
// exchange's own handles, never on the shared session. Deliberately not
// closed: a worker that outlived its caller's deadline may still use it at
// exit, and the system frees it with the process.
HINTERNET Session(DWORD& error) {
    static std::mutex guard;
    static HINTERNET session = nullptr;
    std::lock_guard lock(guard);
    if (!session) {
        session = InternetOpenW(L"tolmar07", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (!session) error = GetLastError();
    }
    return session;
}

// Returns false with x.error (or x.own, x.timedOut) set on a failure.
bool Perform(Transfer& x) {
    auto failed = [&x](DWORD code) {
        x.error = code;
        if (code == ERROR_INTERNET_TIMEOUT || x.Remaining() == 0) x.timedOut = true;
        return false;
    };
    DWORD sessionError = 0;
    const HINTERNET session = Session(sessionError);
    if (!session) return failed(sessionError);
    UniqueInternet connection(InternetConnectW(session, x.host.c_str(), x.port, nullptr, nullptr,
                                               INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return failed(GetLastError());
    SetTimeouts(connection.get(), x.Remaining());

    const wchar_t* accept[] = {L"*/*", nullptr};
    // Redirects are never followed: the login goes only to the host that the
    // settings name, and a 3xx is a failed call.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES |
                  INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (x.secure) flags |= INTERNET_FLAG_SECURE;  // certificate problems stay failures
    UniqueInternet request(
        HttpOpenRequestW(connection.get(), x.verb.c_str(), x.object.c_str(), nullptr, nullptr, accept, flags, 0));
    if (!request) return failed(GetLastError());
    // On the request handle itself, before every wait: WinINet (Wine's at
    // least) does not carry the send and receive time-outs over from the
    // session, and honours them on the request.
    SetTimeouts(request.get(), x.Remaining());

    if (!HttpSendRequestW(request.get(), x.headers.empty() ? nullptr : x.headers.c_str(),
                          static_cast<DWORD>(x.headers.size()), x.body.empty() ? nullptr : x.body.data(),
                          static_cast<DWORD>(x.body.size())))
        return failed(GetLastError());

    DWORD status = 0, size = sizeof(status);
    if (!HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return failed(GetLastError());
    // A connection closed before any status line came back is no answer at all.
    if (status == 0) return failed(ERROR_HTTP_INVALID_SERVER_RESPONSE);
    x.reply.status = status;
    wchar_t statusText[512] = {};
    size = sizeof(statusText);
    if (HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_TEXT, statusText, &size, nullptr))
        x.reply.statusText = CutRegisterText(statusText);
    // Only a reply that is read as SOAP has its body read.
    if (status >= 300 && status != 500) return true;

    // A body announced larger than the limit is refused before any of it is read.
    wchar_t length[64] = {};
    size = sizeof(length);
    if (HttpQueryInfoW(request.get(), HTTP_QUERY_CONTENT_LENGTH, length, &size, nullptr)) {
        const std::wstring digits = Trim(length);
        if (digits.size() > 12 || (!digits.empty() && std::stoull(digits) > kMaxReplyBytes)) {
            x.own = ReplyTooLargeText();
            return false;
        }
    }

    // Data is taken as it arrives, so that a trickle is checked against the
    // deadline between its pieces instead of filling one large buffer.
    std::vector<char> chunk(16384);
    for (;;) {
        const DWORD remaining = x.Remaining();
        if (remaining == 0) return failed(ERROR_INTERNET_TIMEOUT);
        SetTimeouts(request.get(), remaining);
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request.get(), &available, 0, 0)) return failed(GetLastError());
        if (available == 0) break;
        DWORD got = 0;
        const DWORD want = std::min<DWORD>(available, static_cast<DWORD>(chunk.size()));
        if (!InternetReadFile(request.get(), chunk.data(), want, &got)) return failed(GetLastError());
        if (got == 0) break;
        if (x.reply.body.size() + got > kMaxReplyBytes) {
            x.own = ReplyTooLargeText();
            return false;
        }
        x.reply.body.append(chunk.data(), got);
    }
    if (x.Remaining() == 0) return failed(ERROR_INTERNET_TIMEOUT);
    return true;
}

DWORD WINAPI Worker(void* parameter) {
    std::unique_ptr<std::shared_ptr<Transfer>> own(static_cast<std::shared_ptr<Transfer>*>(parameter));
    Perform(**own);
    return 0;
}

}  // namespace

unsigned long LookupDeadlineMsFromEnvironment() {
    wchar_t value[32] = {};
    const DWORD n = GetEnvironmentVariableW(L"TOLMAR_REGISTER_DEADLINE_MS", value, 32);
    if (n == 0 || n >= 32) return kLookupDeadlineMs;
    return LookupDeadlineMs(ToUtf8(value));
}

HttpTransport::HttpTransport(std::wstring url, unsigned long deadlineMs)
    : url_(std::move(url)), deadlineMs_(deadlineMs ? std::min(deadlineMs, kLookupDeadlineMs)
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
        return Error(text + L" - URL:" + url_ + L" - SOAPAction:" + std::wstring(action));
    };

    URL_COMPONENTSW parts{sizeof(parts)};
    wchar_t host[1024] = {}, path[4096] = {}, extra[4096] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = 1024;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 4096;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = 4096;
    if (!InternetCrackUrlW(url_.c_str(), 0, 0, &parts)) throw fail(NetworkErrorText(GetLastError()));

    auto x = std::make_shared<Transfer>();
    x->url = url_;
    x->host = host;
    x->object = std::wstring(path) + extra;
    x->port = parts.nPort;
    x->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    x->verb = verb;
    x->headers = std::wstring(headers);
    x->body = body;
    x->deadline = start + deadlineMs_;

    // The exchange runs on a thread of its own so that this call ends at the
    // deadline whatever WinINet waits for (name resolution, a proxy, a
    // WinINet that ignores a time-out); the thread ends by itself within its
    // own time-outs, which are what is left of the same deadline.
    auto* parameter = new std::shared_ptr<Transfer>(x);
    UniqueKernelHandle thread(CreateThread(nullptr, 0, Worker, parameter, 0, nullptr));
    if (!thread) {
        const DWORD error = GetLastError();
        delete parameter;
        throw fail(NetworkErrorText(error));
    }
    if (WaitForSingleObject(thread.get(), x->Remaining() + 50) != WAIT_OBJECT_0) throw fail(DeadlinePassedText(deadlineMs_));
    if (x->own) throw fail(*x->own);
    if (x->timedOut) throw fail(DeadlinePassedText(deadlineMs_));
    if (x->error) throw fail(NetworkErrorText(x->error));
    return std::move(x->reply);
}

}  // namespace tolmar::win
