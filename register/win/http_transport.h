// The HTTP transport of the register service: WinINet with the workstation's
// own internet and proxy configuration. One request per call.
#pragma once

#include <string>
#include <string_view>

namespace tolmar::win {

struct HttpReply {
    unsigned long status = 0;
    std::wstring statusText;
    std::string body;
};

class HttpTransport {
public:
    explicit HttpTransport(std::wstring url) : url_(std::move(url)) {}
    const std::wstring& url() const { return url_; }

    // POSTs body with the given Content-Type. A connection, send or receive
    // failure throws Error("<system text> - URL:<url> - SOAPAction:<action>").
    // For https the server certificate is checked (name, dates, issuer,
    // revocation as the workstation's settings say): a bad one is a failure.
    HttpReply Post(std::wstring_view contentType, const std::string& body, std::wstring_view action) const;

private:
    std::wstring url_;
};

// Connect, send and receive time-outs: generous, but a register that stops
// answering can no longer stop the program for good.
inline constexpr unsigned long kHttpTimeoutMs = 60000;

}  // namespace tolmar::win
