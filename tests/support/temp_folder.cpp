#include "temp_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <system_error>

#include "tools/win/unique.h"
#include "text.h"

namespace tolmar::test {

TempFolder::TempFolder(std::wstring_view namePrefix) {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    wchar_t longTemp[MAX_PATH + 1] = {};
    std::wstring base = GetLongPathNameW(temp, longTemp, MAX_PATH + 1) ? longTemp : temp;
    if (!base.empty() && base.back() == L'\\') base.pop_back();
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring candidate = base + L"\\" + std::wstring(namePrefix) + L"-" +
                                       std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
    }
    ADD_FAILURE() << "no temporary folder could be made under " << Utf8(base);
}

TempFolder::~TempFolder() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(path_), ec);
    if (ec || std::filesystem::exists(std::filesystem::path(path_)))
        ADD_FAILURE() << "could not remove the temporary folder " << Utf8(path_) << ": " << ec.message();
}

bool TempFolder::WriteFile(std::wstring_view name, std::string_view bytes) const {
    win::UniqueFile file(CreateFileW((*this / name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    const bool ok = file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    if (!ok) ADD_FAILURE() << "could not write " << Utf8(*this / name) << " (error " << GetLastError() << ")";
    return ok;
}

bool TempFolder::MakeFolder(std::wstring_view name) const { return CreateDirectoryW((*this / name).c_str(), nullptr); }

bool TempFolder::Exists(std::wstring_view name) const {
    return GetFileAttributesW((*this / name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::string> TempFolder::ReadFile(std::wstring_view name) const { return ReadWholeFile(*this / name); }

std::vector<std::wstring> TempFolder::Entries() const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    win::UniqueFind find(FindFirstFileW((path_ + L"\\*").c_str(), &entry));
    if (!find) return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find.get(), &entry));
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> ReadWholeFile(const std::wstring& path) {
    win::UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::string data;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
    return data;
}

ScopedFile::~ScopedFile() { DeleteFileW(path_.c_str()); }

}  // namespace tolmar::test
