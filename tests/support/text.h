// Small text and environment helpers of the Windows tests.
#pragma once

#include <string>
#include <string_view>

namespace tolmar::test {

std::string Utf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);
// The text as a quoted UTF-8 literal with \r, \n, \t, \" and other control
// characters escaped, for failure messages.
std::string Printable(std::wstring_view text);
// An environment variable of this process; "" when it is not set.
std::wstring EnvironmentValue(const wchar_t* name);

}  // namespace tolmar::test
