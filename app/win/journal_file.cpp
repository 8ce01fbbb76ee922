#include "app/win/journal_file.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "app/run_record.h"
#include "app/summary_reader.h"

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

namespace {

class FileJournalSource final : public JournalSource {
public:
    explicit FileJournalSource(const std::wstring& path) : path_(path) {
        file_.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_) ThrowFileError(path, L"Det gick inte att öppna");
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(file_.get(), &size)) ThrowFileError(path, L"Det gick inte att läsa storleken på");
        size_ = static_cast<std::uint64_t>(size.QuadPart);
    }

    std::size_t Read(char* buffer, std::size_t size) override {
        const std::uint64_t left = size_ - at_;
        const DWORD wanted = static_cast<DWORD>(std::min<std::uint64_t>({size, left, 1u << 20}));
        DWORD read = 0;
        if (wanted && !ReadFile(file_.get(), buffer, wanted, &read, nullptr))
            ThrowFileError(path_, L"Det gick inte att läsa");
        at_ += read;
        return read;
    }

    void Seek(std::uint64_t offset) override {
        if (offset > size_) throw Error(L"Filen " + path_ + L" är kortare än när den öppnades.");
        LARGE_INTEGER to{};
        to.QuadPart = static_cast<LONGLONG>(offset);
        if (!SetFilePointerEx(file_.get(), to, nullptr, FILE_BEGIN)) ThrowFileError(path_, L"Det gick inte att läsa");
        at_ = offset;
    }

private:
    std::wstring path_;
    UniqueFile file_;
    std::uint64_t size_ = 0, at_ = 0;
};

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The summary's bytes; nullopt when there is no such file.
std::optional<std::string> ReadSummary(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return std::nullopt;
        SetLastError(error);
        ThrowFileError(path, L"Det gick inte att öppna");
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) ThrowFileError(path, L"Det gick inte att läsa storleken på");
    if (size.QuadPart > static_cast<LONGLONG>(kMaxSummaryBytes))
        throw Error(L"Filen " + path + L" är större än 1 MB och är ingen sammanfattning av en körning.");
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() && (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size()))
        ThrowFileError(path, L"Det gick inte att läsa");
    return bytes;
}

}  // namespace

UndoJournalFile LocateUndoJournal(const std::wstring& path) {
    UndoJournalFile located;
    std::wstring folder;
    if (IsFolder(path)) {
        folder = path;
        if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
        located.path = folder + kRunJournalFile;
    } else {
        located.path = path;
        const size_t slash = path.find_last_of(L"\\/");
        folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
    }
    const std::wstring summaryPath = folder + std::wstring(kRunSummaryFile);
    if (const std::optional<std::string> summary = ReadSummary(summaryPath)) {
        located.database = SummaryDatabase(*summary);
        if (!located.database)
            throw Error(L"Körningens " + summaryPath + L" nämner ingen databas; ändringsloggen kan inte knytas till någon.");
    }
    return located;
}

std::unique_ptr<JournalSource> OpenJournalSource(const std::wstring& path) {
    return std::make_unique<FileJournalSource>(path);
}

}  // namespace tolmar::win
