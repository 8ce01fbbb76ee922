#include "tools/win/system_text.h"

#include <shellapi.h>

#include <cwchar>
#include <vector>

#include "tools/win/unique.h"

namespace tolmar::win {

std::wstring SystemErrorText(DWORD code) {
    wchar_t buffer[1025] = {};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer, 1025,
                             nullptr);
    return std::wstring(buffer, n);
}

std::wstring SystemErrorTextShort(DWORD code) {
    std::wstring text = SystemErrorText(code);
    while (!text.empty() && (text.back() <= L' ' || text.back() == L'.')) text.pop_back();
    return text;
}

std::wstring WithErrorCode(std::wstring_view what, DWORD code, std::wstring_view after) {
    return std::wstring(what) + L" (fel " + std::to_wstring(code) + L")" + std::wstring(after);
}

std::wstring WithHresult(std::wstring_view what, HRESULT result, std::wstring_view after) {
    wchar_t code[16];
    swprintf(code, 16, L"%08lX", static_cast<unsigned long>(result));
    return std::wstring(what) + L" (fel 0x" + code + L")" + std::wstring(after);
}

void ThrowLastErrorCodeIf(bool failed, std::wstring_view what, std::wstring_view after) {
    if (failed) throw Error(WithErrorCode(what, GetLastError(), after));
}

void ThrowIfFailed(HRESULT result, std::wstring_view what, std::wstring_view after) {
    if (FAILED(result)) throw Error(WithHresult(what, result, after));
}

bool FileExists(const std::wstring& path) {
    if (path.empty()) return false;
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
    if (path.empty()) return false;
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::wstring> StartParameters() {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    const UniqueLocalMem owner(argv);
    std::vector<std::wstring> parameters;
    if (!argv) return parameters;
    for (int i = 1; i < count; ++i) parameters.emplace_back(argv[i]);
    return parameters;
}

}  // namespace tolmar::win
