#include "app/win/run_folder.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>

#include "tools/error.h"
#include "tools/text.h"
#include "tools/win/system_text.h"

namespace tolmar::win {
namespace {

ULONGLONG Ticks(const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

LocalTime FromSystemTime(const SYSTEMTIME& t, int offsetMinutes) {
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, offsetMinutes};
}

bool WriteAll(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// Writes `bytes` to the folder's file `name` by way of the temporary file
// `temporaryName`, which then replaces it: a reader sees the old file or the
// new one, never half of one. `what` names the file in the error ("Rapporten ").
void WriteReplacing(const std::wstring& folder, std::wstring_view name, std::wstring_view temporaryName,
                    const std::string& bytes, std::wstring_view what) {
    const std::wstring temporary = folder + std::wstring(temporaryName);
    const std::wstring path = folder + std::wstring(name);
    {
        const UniqueFile file(
            CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ThrowLastErrorIf(!file, [&] { return std::wstring(what) + temporary + L" kunde inte skapas: "; });
        ThrowLastErrorIf(!WriteAll(file.get(), bytes) || !FlushFileBuffers(file.get()),
                         [&] { return std::wstring(what) + temporary + L" kunde inte skrivas: "; });
    }
    ThrowLastErrorIf(!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH),
                     [&] { return std::wstring(what) + path + L" kunde inte skrivas: "; });
}

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

bool IsRunFile(std::wstring_view name) {
    return EqualsIgnoreCase(name, kRunLogFile) || EqualsIgnoreCase(name, kRunSummaryFile) ||
           EqualsIgnoreCase(name, kRunSummaryTempFile) || EqualsIgnoreCase(name, kRunJournalFile) ||
           EqualsIgnoreCase(name, kRunPreviewFile) || EqualsIgnoreCase(name, kRunReportFile) ||
           EqualsIgnoreCase(name, kRunReportTempFile);
}

// The entries of `folder` (without "." and ".."); false when it cannot be read.
bool Entries(const std::wstring& folder, std::vector<WIN32_FIND_DATAW>& entries) {
    WIN32_FIND_DATAW data{};
    const UniqueFind find(
        FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
    if (!find) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::wstring_view name = data.cFileName;
        if (name != L"." && name != L"..") entries.push_back(data);
    } while (FindNextFileW(find.get(), &data));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

// One expired run folder's files and the folder; "" when it is gone, else why not.
std::wstring RemoveRunFolder(const std::wstring& folder) {
    std::vector<WIN32_FIND_DATAW> entries;
    if (!Entries(folder, entries)) return SystemErrorTextShort(GetLastError());
    for (const WIN32_FIND_DATAW& e : entries) {
        const bool file = (e.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
        if (!file || !IsRunFile(e.cFileName))
            return L"den innehåller annat än en körnings filer (" + std::wstring(e.cFileName) + L").";
    }
    for (const WIN32_FIND_DATAW& e : entries)
        if (!DeleteFileW((folder + e.cFileName).c_str())) return SystemErrorTextShort(GetLastError());
    if (!RemoveDirectoryW(folder.c_str())) return SystemErrorTextShort(GetLastError());
    return L"";
}

}  // namespace

LocalTime LocalTimeNow() { return LocalTimeAt(std::chrono::system_clock::now()); }

LocalTime LocalTimeAt(std::chrono::system_clock::time_point t) {
    // FILETIME counts 100 ns from 1601, the system clock from 1970.
    constexpr long long kFrom1601To1970 = 116444736000000000LL;
    const long long ticks =
        std::chrono::duration_cast<std::chrono::duration<long long, std::ratio<1, 10000000>>>(t.time_since_epoch())
            .count() +
        kFrom1601To1970;
    FILETIME utc{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(static_cast<ULONGLONG>(ticks) >> 32)};
    SYSTEMTIME utcTime{}, localTime{};
    FileTimeToSystemTime(&utc, &utcTime);
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utcTime, &localTime)) return FromSystemTime(utcTime, 0);
    FILETIME local{};
    SystemTimeToFileTime(&localTime, &local);
    const auto difference = static_cast<long long>(Ticks(local)) - static_cast<long long>(Ticks(utc));
    // To whole minutes: the file times differ by the sub-second part too.
    const long long minute = 600000000LL;
    const long long minutes = (difference + (difference < 0 ? -minute / 2 : minute / 2)) / minute;
    return FromSystemTime(localTime, static_cast<int>(minutes));
}

std::wstring EnsureRunsFolder(const std::wstring& appPath) {
    const std::wstring path = appPath + std::wstring(kRunsFolder);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ThrowLastErrorIf(!ConvertStringSecurityDescriptorToSecurityDescriptorW(kRunsFolderSddl, SDDL_REVISION_1,
                                                                           &descriptor, nullptr),
                     L"Åtkomstlistan för körningsmappen kunde inte göras: ");
    const UniqueLocalMem owned(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    if (!CreateDirectoryW(path.c_str(), &attributes)) {
        const DWORD error = GetLastError();
        const DWORD existing = GetFileAttributesW(path.c_str());
        const bool folder = existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) &&
                            !(existing & FILE_ATTRIBUTE_REPARSE_POINT);
        if (error != ERROR_ALREADY_EXISTS || !folder)
            throw Error(L"Mappen " + path + L" kunde inte skapas: " + SystemErrorTextShort(error));
        return path + L"\\";
    }
    // Set once more by name: not every file system takes the list from the
    // creation's attributes, and a folder of the working folder's inherited
    // rights would let every user read the logs.
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ThrowLastErrorIf(!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted),
                     L"Åtkomstlistan för körningsmappen kunde inte göras: ");
    const DWORD set = SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                            nullptr, dacl, nullptr);
    if (set != ERROR_SUCCESS) {
        RemoveDirectoryW(path.c_str());  // never left open to all
        throw Error(L"Åtkomstlistan för " + path + L" kunde inte sättas: " + SystemErrorTextShort(set));
    }
    return path + L"\\";
}

std::wstring CreateRunFolder(const std::wstring& runsPath, const LocalTime& started) {
    constexpr int kAttempts = 100;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const std::wstring path = runsPath + RunFolderName(started, attempt);
        // Inherits the access list of "runs".
        if (CreateDirectoryW(path.c_str(), nullptr)) return path + L"\\";
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS)
            throw Error(L"Körningsmappen " + path + L" kunde inte skapas: " + SystemErrorTextShort(error));
    }
    throw Error(L"Körningsmappen kunde inte skapas: " + std::to_wstring(kAttempts) +
                L" körningar har redan startat samma sekund.");
}

RunLogFile::RunLogFile(const std::wstring& path)
    : file_(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr)) {
    ThrowLastErrorIf(!file_, [&] { return L"Körningsloggen " + path + L" kunde inte skapas: "; });
    ThrowLastErrorIf(!WriteAll(file_.get(), "\xEF\xBB\xBF"),
                     [&] { return L"Körningsloggen " + path + L" kunde inte skrivas: "; });
}

bool RunLogFile::Write(const LocalTime& time, std::wstring_view line) {
    return WriteAll(file_.get(), ToUtf8(LogLineText(time, line)));
}

void WriteSummaryFile(const std::wstring& folder, const std::string& json) {
    WriteReplacing(folder, kRunSummaryFile, kRunSummaryTempFile, json, L"Sammanfattningen ");
}

void WriteReportFile(const std::wstring& folder, const std::string& html) {
    WriteReplacing(folder, kRunReportFile, kRunReportTempFile, html, L"Rapporten ");
}

std::vector<std::wstring> RemoveExpiredRunFolders(const std::wstring& runsPath, const LocalTime& now, int keepDays) {
    std::vector<std::wstring> lines;
    if (keepDays <= 0) return lines;
    std::vector<WIN32_FIND_DATAW> entries;
    if (!Entries(runsPath, entries)) {
        lines.push_back(L"De gamla körningsmapparna kunde inte gås igenom: " + SystemErrorTextShort(GetLastError()));
        return lines;
    }
    std::vector<std::wstring> folders;
    for (const WIN32_FIND_DATAW& e : entries)
        if (e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) folders.emplace_back(e.cFileName);
    for (const std::wstring& name : ExpiredRunFolders(folders, now, keepDays)) {
        const auto found = std::find_if(entries.begin(), entries.end(),
                                        [&](const WIN32_FIND_DATAW& e) { return name == e.cFileName; });
        std::wstring why;
        if (found->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            why = L"den är en länk.";
        else
            why = RemoveRunFolder(runsPath + name + L"\\");
        if (!why.empty()) lines.push_back(RunFolderKeptText(name, why));
    }
    return lines;
}

}  // namespace tolmar::win
