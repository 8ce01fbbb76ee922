#include "tools/win/ini_file.h"

#include <windows.h>

#include <string_view>
#include <vector>

#include "tools/error.h"
#include "tools/profile_text.h"
#include "tools/text.h"
#include "tools/win/unique.h"

namespace tolmar::win {
namespace {

// The path the profile functions would open: a bare name is in the Windows folder.
std::wstring ProfilePath(const std::wstring& fileName) {
    if (fileName.find_first_of(L"\\/:") != std::wstring::npos) return fileName;
    wchar_t folder[MAX_PATH] = {};
    const UINT n = GetWindowsDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return fileName;
    return std::wstring(folder, n) + L"\\" + fileName;
}

// The file's bytes, or nullopt when it cannot be read here whole.
std::optional<std::string> ReadBytes(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 || size.QuadPart > IniFile::kMaxOwnReadBytes)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size()))
        return std::nullopt;
    return bytes;
}

// The platform's reading. It cuts a value to the buffer without saying so,
// other than by filling it: read again with a larger buffer until it fits.
std::wstring PlatformValue(const std::wstring& fileName, const std::wstring& section, const std::wstring& key,
                           const std::wstring& fallback) {
    constexpr DWORD kLargest = 1u << 20;
    for (DWORD size = 1024;; size *= 4) {
        std::vector<wchar_t> buffer(size, L'\0');
        const DWORD got = GetPrivateProfileStringW(section.c_str(), key.c_str(), fallback.c_str(), buffer.data(), size,
                                                   fileName.c_str());
        if (got + 1 < size) return std::wstring(buffer.data(), got);
        if (size >= kLargest) throw Error(L"Värdet " + key + L" i " + fileName + L" är för långt för att läsas.");
    }
}

}  // namespace

IniFile::IniFile(std::wstring fileName) : fileName_(std::move(fileName)) {
    const std::optional<std::string> bytes = ReadBytes(ProfilePath(fileName_));
    if (bytes && DetectProfileEncoding(*bytes) == ProfileEncoding::Utf8) utf8Text_ = DecodeUtf8Strict(*bytes);
}

std::wstring IniFile::Value(const std::wstring& section, const std::wstring& key, const std::wstring& fallback) const {
    if (!utf8Text_) return PlatformValue(fileName_, section, key, fallback);
    std::optional<std::wstring> value = ProfileValue(*utf8Text_, section, key);
    if (!value) return fallback;
    constexpr std::size_t kLongest = (1u << 20) - 2;  // as much as the platform's reading takes
    if (value->size() > kLongest) throw Error(L"Värdet " + key + L" i " + fileName_ + L" är för långt för att läsas.");
    return std::move(*value);
}

}  // namespace tolmar::win
