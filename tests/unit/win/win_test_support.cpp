#include "win_test_support.h"

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

TestAppKey::TestAppKey() { env_.appKey = UniqueName(L"tolmar_unit_") + L"\\"; }

TestAppKey::~TestAppKey() {
    std::wstring path = std::wstring(kSettingsRoot) + env_.appKey;
    path.pop_back();
    reg::DeleteTree(HKEY_CURRENT_USER, path);
    reg::DeleteTree(HKEY_LOCAL_MACHINE, path);
}

std::wstring TestAppKey::KeyPath(const std::wstring& section) const {
    return std::wstring(kSettingsRoot) + env_.appKey + section;
}

CurrentDirectory::CurrentDirectory(const std::wstring& path) {
    wchar_t saved[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, saved);
    saved_ = saved;
    SetCurrentDirectoryW(path.c_str());
}

CurrentDirectory::~CurrentDirectory() { SetCurrentDirectoryW(saved_.c_str()); }

void LookupTest::SetUp() { environment_.appPath = dir_.FolderPath(); }

LookupTest::Outcome LookupTest::Lookup(const std::wstring& number) {
    Outcome out;
    out.person.PersonalNumber = number;
    win::LookUpPerson(session_, out.person, out.code, out.errms);
    return out;
}

void LookupTest::WriteIni(const std::string& lines) {
    dir_.WriteFile(L"tolmar.ini", "[PopulationManager]\r\n" + lines);
}

void LookupTest::UseRegisterAt(const std::wstring& endpoint) {
    WriteIni("LOG_ID=clinic\r\nLOG_PWD=secret\r\nLOG_ADDR=" + ToUtf8(endpoint) + "\r\n");
}

}  // namespace tolmar::test

namespace tolmar::test {
namespace {

// COM on the test thread, as the program has it on its one thread.
class ComEnvironment : public testing::Environment {
public:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override { CoUninitialize(); }
};
testing::Environment* const g_com = testing::AddGlobalTestEnvironment(new ComEnvironment);

}  // namespace

}  // namespace tolmar::test
