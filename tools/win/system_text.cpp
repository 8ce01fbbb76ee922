#include "tools/win/system_text.h"

#include <shellapi.h>

#include <vector>

#include "tools/win/unique.h"

namespace tolmar::win {

std::wstring SystemErrorText(DWORD code) {
    wchar_t buffer[1025] = {};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                             0, buffer, 1025, nullptr);
    return std::wstring(buffer, n);
}

std::wstring SystemErrorTextShort(DWORD code) {
    std::wstring text = SystemErrorText(code);
    while (!text.empty() && (text.back() <= L' ' || text.back() == L'.')) text.pop_back();
    return text;
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
