#include "win_test_support.h"

#include <shellapi.h>

#include <atomic>
#include <stdexcept>

#include "tools/win/unique.h"

namespace tolmar::test {
namespace {
std::atomic<int> g_counter{0};

std::wstring UniqueName(const wchar_t* prefix) {
    return std::wstring(prefix) + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++g_counter);
}
}  // namespace

void DeleteTree(HKEY root, const std::wstring& path) {
    win::UniqueHkey parent;
    const size_t slash = path.find_last_of(L'\\');
    const std::wstring parentPath = path.substr(0, slash), leaf = path.substr(slash + 1);
    if (RegOpenKeyExW(root, parentPath.c_str(), 0, KEY_ALL_ACCESS | win::kRegistryView, parent.put()) ==
        ERROR_SUCCESS) {
        win::UniqueHkey key;
        if (RegOpenKeyExW(parent.get(), leaf.c_str(), 0, KEY_ALL_ACCESS | win::kRegistryView, key.put()) ==
            ERROR_SUCCESS) {
            RegDeleteTreeW(key.get(), nullptr);
            key.reset();
            RegDeleteKeyExW(parent.get(), leaf.c_str(), win::kRegistryView, 0);
        }
    }
}

TestAppKey::TestAppKey() : appKey_(UniqueName(L"tolmar_unit_") + L"\\"), savedAppKey_(Env().appKey) {
    Env().appKey = appKey_;
}

TestAppKey::~TestAppKey() {
    Env().appKey = savedAppKey_;
    std::wstring path = std::wstring(kSettingsRoot) + appKey_;
    path.pop_back();
    DeleteTree(HKEY_CURRENT_USER, path);
    DeleteTree(HKEY_LOCAL_MACHINE, path);
}

std::wstring TestAppKey::KeyPath(const std::wstring& section) const {
    return std::wstring(kSettingsRoot) + appKey_ + section;
}

TempFolder::TempFolder() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    path_ = WithTrailingBackslash(temp) + UniqueName(L"tolmar_unit_") + L"\\";
    if (!CreateDirectoryW(path_.c_str(), nullptr)) throw std::runtime_error("cannot create a temp folder");
}

TempFolder::~TempFolder() {
    std::wstring from = path_;
    from.pop_back();
    from.push_back(L'\0');  // SHFileOperation wants a double-NUL list
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
}

void TempFolder::Write(const std::wstring& name, const std::string& bytes) const {
    win::UniqueFile f(CreateFileW(File(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!f) throw std::runtime_error("cannot create a test file");
    DWORD written = 0;
    WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string TempFolder::Read(const std::wstring& name) const {
    win::UniqueFile f(CreateFileW(File(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f) return "<missing>";
    std::string bytes(static_cast<size_t>(GetFileSize(f.get(), nullptr)), '\0');
    DWORD got = 0;
    ReadFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    bytes.resize(got);
    return bytes;
}

void TempFolder::MakeFolder(const std::wstring& name) const { CreateDirectoryW(File(name).c_str(), nullptr); }

CurrentDirectory::CurrentDirectory(const std::wstring& path) {
    wchar_t saved[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, saved);
    saved_ = saved;
    SetCurrentDirectoryW(path.c_str());
}

CurrentDirectory::~CurrentDirectory() { SetCurrentDirectoryW(saved_.c_str()); }

}  // namespace tolmar::test
