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

FileJournal::~FileJournal() {
    if (!file_) return;
    const bool remove = created_ && !written_ && kind_ == Kind::Append;
    file_.reset();
    if (remove) DeleteFileW(path_.c_str());
}

std::wstring FileJournal::Name() const { return FileNamePart(path_, kSlash); }

void FileJournal::Open() {
    const DWORD disposition = kind_ == Kind::Replace ? CREATE_ALWAYS : OPEN_ALWAYS;
    SetLastError(ERROR_SUCCESS);
    file_.reset(CreateFileW(path_.c_str(), GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, disposition,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) ThrowFileError(path_, L"Det gick inte att öppna");
    created_ = kind_ == Kind::Replace || GetLastError() != ERROR_ALREADY_EXISTS;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file_.get(), &size)) ThrowFileError(path_, L"Det gick inte att läsa storleken på");
    const std::string head = std::string(kUtf8Bom) + JournalHeader();
    if (size.QuadPart == 0) {
        Write(head);
        return;
    }
    // Only a journal of this program is added to.
    std::string start(head.size(), '\0');
    DWORD read = 0;
    if (!ReadFile(file_.get(), start.data(), static_cast<DWORD>(start.size()), &read, nullptr))
        ThrowFileError(path_, L"Det gick inte att läsa");
    if (read != start.size() || start != head) {
        file_.reset();
        throw Error(L"Filen " + path_ + L" finns redan och är ingen ändringslogg; den lämnas orörd.");
    }
}

void FileJournal::Append(const std::vector<JournalRecord>& records) {
    if (records.empty()) return;
    Write(JournalRows(records));
    written_ = true;
}

void FileJournal::Write(const std::string& bytes) {
    if (!file_) throw Error(L"Ändringsloggen " + path_ + L" är inte öppen.");
    DWORD written = 0;
    if (!WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        ThrowFileError(path_, L"Det gick inte att skriva till");
    if (!FlushFileBuffers(file_.get())) ThrowFileError(path_, L"Det gick inte att spara");
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
