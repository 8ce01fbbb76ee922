#include "register/win/http_transport.h"

#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <vector>

#include "tools/error.h"

namespace tolmar::win {
namespace {

struct InternetHandle {
    HINTERNET h = nullptr;
    InternetHandle() = default;
    explicit InternetHandle(HINTERNET handle) : h(handle) {}
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    InternetHandle(InternetHandle&& o) noexcept : h(o.h) { o.h = nullptr; }
    ~InternetHandle() {
        if (h) InternetCloseHandle(h);
    }
    explicit operator bool() const { return h != nullptr; }
};

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

[[noreturn]] void ThrowNetworkError(DWORD code, const std::wstring& url, std::wstring_view action) {
    throw Error(NetworkErrorText(code) + L" - URL:" + url + L" - SOAPAction:" + std::wstring(action));
}

}  // namespace

HttpReply HttpTransport::Post(std::wstring_view contentType, const std::string& body,
                              std::wstring_view action) const {
    URL_COMPONENTSW parts{sizeof(parts)};
    wchar_t host[1024] = {}, path[4096] = {}, extra[4096] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = 1024;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 4096;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = 4096;
    if (!InternetCrackUrlW(url_.c_str(), 0, 0, &parts)) ThrowNetworkError(GetLastError(), url_, action);
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    InternetHandle session(InternetOpenW(L"tolmar07", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) ThrowNetworkError(GetLastError(), url_, action);
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        DWORD timeout = kHttpTimeoutMs;
        InternetSetOptionW(session.h, option, &timeout, sizeof(timeout));
    }
    InternetHandle connection(InternetConnectW(session.h, host, parts.nPort, nullptr, nullptr,
                                               INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) ThrowNetworkError(GetLastError(), url_, action);

    const std::wstring object = std::wstring(path) + extra;
    const wchar_t* accept[] = {L"*/*", nullptr};
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES |
                  INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE;
    if (secure) flags |= INTERNET_FLAG_SECURE;  // certificate problems stay failures
    InternetHandle request(HttpOpenRequestW(connection.h, L"POST", object.c_str(), nullptr, nullptr, accept, flags, 0));
    if (!request) ThrowNetworkError(GetLastError(), url_, action);

    const std::wstring headers = L"Content-Type: " + std::wstring(contentType) + L"\r\n";
    if (!HttpSendRequestW(request.h, headers.c_str(), static_cast<DWORD>(headers.size()),
                          const_cast<char*>(body.data()), static_cast<DWORD>(body.size())))
        ThrowNetworkError(GetLastError(), url_, action);

    HttpReply reply;
    DWORD status = 0, size = sizeof(status);
    if (!HttpQueryInfoW(request.h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        ThrowNetworkError(GetLastError(), url_, action);
    // A connection closed before any status line came back is no answer at all.
    if (status == 0) ThrowNetworkError(ERROR_HTTP_INVALID_SERVER_RESPONSE, url_, action);
    reply.status = status;
    wchar_t statusText[512] = {};
    size = sizeof(statusText);
    if (HttpQueryInfoW(request.h, HTTP_QUERY_STATUS_TEXT, statusText, &size, nullptr)) reply.statusText = statusText;

    char chunk[16384];
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request.h, chunk, sizeof(chunk), &got)) ThrowNetworkError(GetLastError(), url_, action);
        if (got == 0) break;
        reply.body.append(chunk, got);
    }
    return reply;
}

}  // namespace tolmar::win
