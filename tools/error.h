// The program's exception: every failure inside a job is one of these (or a
// standard exception), carrying the text the user will see.
#pragma once

#include <exception>
#include <string>

#include "tools/text.h"

namespace tolmar {

class Error : public std::exception {
public:
    explicit Error(std::wstring message) : message_(std::move(message)), utf8_(ToUtf8(message_)) {}
    const std::wstring& message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    std::wstring message_;
    std::string utf8_;
};

// The message of any exception, as the user sees it.
inline std::wstring MessageOf(const std::exception& e) {
    if (auto* own = dynamic_cast<const Error*>(&e)) return own->message();
    return FromUtf8(e.what());
}

}  // namespace tolmar
