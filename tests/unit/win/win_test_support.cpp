#include "win_test_support.h"

#include <shellapi.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "register/win/person_lookup.h"
#include "tools/text.h"
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

namespace tolmar::test {
namespace {

// COM on the test thread, as the program has it on its one thread.
class ComEnvironment : public testing::Environment {
public:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override {
        win::ReleaseLookupDocuments();
        CoUninitialize();
    }
};
testing::Environment* const g_com = testing::AddGlobalTestEnvironment(new ComEnvironment);

}  // namespace

std::wstring RegisterSim::BaseUrl() {
    wchar_t value[256] = {};
    DWORD n = GetEnvironmentVariableW(L"TOLMAR_REGISTER_SIM", value, 256);
    return n > 0 && n < 256 ? std::wstring(value) : std::wstring();
}

std::string RegisterSim::Http(const wchar_t* verb, const std::wstring& path, const std::string& body) {
    const std::wstring base = BaseUrl();
    if (base.empty()) throw std::runtime_error("TOLMAR_REGISTER_SIM is not set: run the tests with scripts/test");
    const size_t colon = base.rfind(L':');
    const INTERNET_PORT port = static_cast<INTERNET_PORT>(std::stoi(base.substr(colon + 1)));
    const win::UniqueInternet session(InternetOpenW(L"tolmar-tests", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    const win::UniqueInternet connection(
        InternetConnectW(session.get(), L"127.0.0.1", port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    const win::UniqueInternet request(HttpOpenRequestW(connection.get(), verb, path.c_str(), nullptr, nullptr, nullptr,
                                                       INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (!request.get() ||
        !HttpSendRequestW(request.get(), nullptr, 0, const_cast<char*>(body.data()), static_cast<DWORD>(body.size())))
        throw std::runtime_error("the register simulator does not answer its control endpoint");
    std::string reply;
    char chunk[8192];
    DWORD got = 0;
    while (InternetReadFile(request.get(), chunk, sizeof(chunk), &got) && got > 0) reply.append(chunk, got);
    DWORD status = 0, size = sizeof(status);
    HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
    if (status != 200) throw std::runtime_error("register simulator: " + reply);
    return reply;
}

void RegisterSim::Inject(const std::string& spec) { Http(L"POST", L"/control/fault", spec); }
void RegisterSim::Reset() { Http(L"POST", L"/control/reset", ""); }
std::string RegisterSim::Requests() { return Http(L"GET", L"/control/requests", ""); }

std::string RegisterSim::LastRequestValue(const std::string& key) {
    const std::string all = Requests();
    size_t end = all.find_last_not_of('\n');
    if (end == std::string::npos) return {};
    size_t start = all.rfind('\n', end);
    const std::string line = all.substr(start == std::string::npos ? 0 : start + 1, end + 1 - (start == std::string::npos ? 0 : start + 1));
    const std::string marker = key + "=";
    size_t p = line.rfind("\t" + marker);
    if (p == std::string::npos) {
        if (line.rfind(marker, 0) != 0) return {};
        p = 0;
    } else {
        p += 1;
    }
    p += marker.size();
    return line.substr(p, line.find('\t', p) - p);
}

}  // namespace tolmar::test
