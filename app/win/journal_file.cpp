#include "app/win/journal_file.h"

#include <windows.h>

#include "tools/error.h"
#include "tools/text.h"
#include "tools/win/system_text.h"

namespace tolmar::win {
namespace {

[[noreturn]] void ThrowFileError(const std::wstring& path, const wchar_t* what) {
    ThrowLastError([&] { return std::wstring(what) + L" " + path + L": "; });
}

}  // namespace

void FileJournal::Open() {
    if (folder_.empty()) throw Error(L"Körningens mapp kunde inte skapas, så ändringsloggen har ingen plats.");
    const std::wstring path = folder_ + name_;
    // Inherits the run folder's access list: the records hold personal data.
    file_.reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (!file_) {
        if (GetLastError() == ERROR_FILE_EXISTS)
            throw Error(L"Filen " + path + L" finns redan; den lämnas orörd.");
        ThrowFileError(path, L"Det gick inte att skapa");
    }
    created_ = true;
    Write(std::string(kUtf8Bom) + JournalHeader());
}

void FileJournal::Append(const std::vector<JournalRecord>& records) {
    if (records.empty()) return;
    Write(JournalRows(records));
}

void FileJournal::Write(const std::string& bytes) {
    const std::wstring path = folder_ + name_;
    if (!file_) throw Error(L"Ändringsloggen " + path + L" är inte öppen.");
    DWORD written = 0;
    if (!WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        ThrowFileError(path, L"Det gick inte att skriva till");
    if (!FlushFileBuffers(file_.get())) ThrowFileError(path, L"Det gick inte att spara");
}

std::vector<JournalRecord> ReadJournalFile(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) ThrowFileError(path, L"Det gick inte att öppna");
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) ThrowFileError(path, L"Det gick inte att läsa storleken på");
    if (size.QuadPart > static_cast<LONGLONG>(kMaxJournalBytes))
        throw Error(L"Filen " + path + L" är större än 256 MB och är ingen ändringslogg.");
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() && (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size()))
        ThrowFileError(path, L"Det gick inte att läsa");
    return ReadJournal(bytes);
}

}  // namespace tolmar::win
