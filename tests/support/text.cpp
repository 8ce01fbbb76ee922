#include "text.h"

#include <windows.h>

#include <cwchar>

namespace tolmar::test {

std::string Utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring FromUtf8(std::string_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), n);
    return out;
}

std::string Printable(std::wstring_view text) {
    std::wstring escaped;
    for (wchar_t c : text) {
        switch (c) {
            case L'\r': escaped += L"\\r"; break;
            case L'\n': escaped += L"\\n"; break;
            case L'\t': escaped += L"\\t"; break;
            case L'"': escaped += L"\\\""; break;
            case L'\\': escaped += L"\\\\"; break;
            default:
                if (c < L' ') {
                    wchar_t buffer[8];
                    std::swprintf(buffer, 8, L"\\x%02x", static_cast<unsigned>(c));
                    escaped += buffer;
                } else {
                    escaped += c;
                }
        }
    }
    std::string quoted = "\"";
    quoted += Utf8(escaped);
    quoted += '"';
    return quoted;
}

std::wstring EnvironmentValue(const wchar_t* name) {
    std::wstring value(32768, L'\0');
    const DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    value.resize(n < value.size() ? n : 0);
    return value;
}

}  // namespace tolmar::test
