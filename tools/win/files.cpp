#include "tools/win/files.h"

#include <windows.h>

#include <exception>

#include "tools/error.h"
#include "tools/file_mask.h"
#include "tools/win/messages_win.h"
#include "tools/win/system_text.h"
#include "tools/win/unique.h"

namespace tolmar {
namespace {

bool IsDotEntry(const wchar_t* name) {
    return (name[0] == L'.' && name[1] == L'\0') || (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

void ScanFolder(UserMessages& messages, const std::wstring& folder, const std::wstring& mask,
                std::vector<std::wstring>& list) {
    try {
        std::wstring dir = folder;
        if (!dir.empty() && dir.back() == L'\\') dir.pop_back();
        bool matched = false;
        WIN32_FIND_DATAW entry;
        win::UniqueFind entries(FindFirstFileW((dir + L"\\*").c_str(), &entry));
        if (!entries) return;
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (!IsDotEntry(entry.cFileName)) ScanFolder(messages, dir + L"\\" + entry.cFileName, mask, list);
            } else if (mask > std::wstring(L" ")) {
                WIN32_FIND_DATAW match;
                win::UniqueFind matches(FindFirstFileW((dir + L"\\" + mask).c_str(), &match));
                if (matches) {
                    do {
                        // The search also matches short names: only long names count.
                        if (!LongNameFitsMask(match.cFileName, mask)) continue;
                        matched = true;
                        list.push_back(dir + L"\\" + match.cFileName);
                    } while (FindNextFileW(matches.get(), &match));
                }
            } else {
                list.push_back(dir + L"\\" + entry.cFileName);
            }
        } while (!matched && FindNextFileW(entries.get(), &entry));
    } catch (const std::exception& e) {
        messages.ShowError(L"Det gick inte att skanna efter filer!\r\r" + MessageOf(e));
    }
}

}  // namespace

std::vector<std::wstring> FindFiles(UserMessages& messages, const std::wstring& folder, const std::wstring& mask) {
    std::vector<std::wstring> list;
    ScanFolder(messages, folder, mask, list);
    return list;
}

void DeleteFilesByMask(UserMessages& messages, const std::wstring& mask) {
    const size_t slash = mask.find_last_of(L'\\');
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : mask.substr(0, slash + 1);
    const std::wstring nameMask = mask.substr(folder.size());
    WIN32_FIND_DATAW entry;
    win::UniqueFind entries(FindFirstFileW(mask.c_str(), &entry));
    if (!entries) return;
    do {
        // "*.err" also finds "notes.error" by its short name NOTES~1.ERR.
        if (!LongNameFitsMask(entry.cFileName, nameMask)) continue;
        const std::wstring path = folder + entry.cFileName;
        if (!DeleteFileW(path.c_str())) {
            const DWORD code = GetLastError();
            const std::wstring text =
                L"An error occured while deleting: " + path + L"\r\n" + win::SystemErrorTextShort(code);
            messages.ShowCaptioned(kDeletionFailedCaption, text, MB_ICONWARNING);
        }
    } while (FindNextFileW(entries.get(), &entry));
}

std::wstring FinalPathOf(std::wstring_view path) {
    const std::wstring given(path);
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) return given;
        if (n < full.size()) {
            full.resize(n);
            break;
        }
        full.resize(n);
    }
    win::UniqueFile file(CreateFileW(full.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return full;
    std::wstring final(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFinalPathNameByHandleW(file.get(), final.data(), static_cast<DWORD>(final.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return full;
        if (n < final.size()) {
            final.resize(n);
            break;
        }
        final.resize(n);
    }
    // The platform answers in its long-path form: "\\?\C:\..." or "\\?\UNC\server\...".
    if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + final.substr(8);
    if (final.rfind(L"\\\\?\\", 0) == 0) return final.substr(4);
    return final;
}

}  // namespace tolmar
