// Data sources and drivers registered for 32-bit programs only, written into
// the registry's 32-bit view (and the per-user list), as the registry holds
// them on 64-bit Windows.
#include <gtest/gtest.h>

#include <windows.h>

#include <random>

#include "registry_keys.h"
#include "tools/win/unique.h"
#include "tools/db/odbc_data_sources.h"
#include "tools/error.h"
#include "tools/text.h"
#include "tools/win/db/odbc.h"
#include "tools/win/db/odbc_data_sources.h"

using namespace tolmar;
namespace odbc = tolmar::win::odbc;

namespace {

constexpr const wchar_t* kDataSources = L"SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources";
constexpr const wchar_t* kDrivers = L"SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers";

using tolmar::test::reg::KeyExists;

// One string value, removed at the end together with every key made for it.
class ScopedValue {
public:
    ScopedValue(HKEY root, REGSAM view, const std::wstring& keyPath, const std::wstring& name,
                const std::wstring& value)
        : root_(root), view_(view), keyPath_(keyPath), name_(name) {
        for (size_t slash = keyPath.find(L'\\');; slash = keyPath.find(L'\\', slash + 1)) {
            const std::wstring part = keyPath.substr(0, slash);
            if (!KeyExists(root, part, view)) {
                made_ = part;
                break;
            }
            if (slash == std::wstring::npos) break;
        }
        tolmar::win::UniqueHkey key;
        if (RegCreateKeyExW(root, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, key.put(), nullptr) !=
            ERROR_SUCCESS)
            throw std::runtime_error("cannot create " + ToUtf8(keyPath));
        if (RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS) throw std::runtime_error("cannot write " + ToUtf8(keyPath));
    }
    ~ScopedValue() {
        tolmar::win::UniqueHkey key;
        if (!made_.empty()) {
            if (RegOpenKeyExW(root_, made_.c_str(), 0, KEY_ALL_ACCESS | view_, key.put()) == ERROR_SUCCESS) {
                RegDeleteTreeW(key.get(), nullptr);
                key.reset();
            }
            RegDeleteKeyExW(root_, made_.c_str(), view_, 0);
        } else if (RegOpenKeyExW(root_, keyPath_.c_str(), 0, KEY_SET_VALUE | view_, key.put()) == ERROR_SUCCESS) {
            RegDeleteValueW(key.get(), name_.c_str());
        }
    }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;

private:
    HKEY root_;
    REGSAM view_;
    std::wstring keyPath_, name_, made_;
};

std::wstring UniqueName(const std::wstring& prefix) {
    std::random_device random;
    return prefix + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(random() % 1000000);
}

std::wstring OpenError(const std::wstring& connectionString) {
    try {
        odbc::Connection::Open(connectionString);
    } catch (const Error& e) {
        return e.message();
    }
    return L"<connected>";
}

// The driver manager's diagnostics ("[SQLSTATE] ..."), not the plain text.
testing::AssertionResult DriverManagersText(const std::wstring& text) {
    if (text.rfind(L"[", 0) == 0 && text.find(L"bitarsprogram") == std::wstring::npos)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << ToUtf8(text);
}

void ExpectRegistration(const db::DataSourceRegistration& got, const db::DataSourceRegistration& expected) {
    EXPECT_EQ(got.systemOwn, expected.systemOwn);
    EXPECT_EQ(got.systemOther, expected.systemOther);
    EXPECT_EQ(got.user, expected.user);
    EXPECT_EQ(got.userDriver, expected.userDriver);
    EXPECT_EQ(got.userDriverOwn, expected.userDriverOwn);
    EXPECT_EQ(got.userDriverOther, expected.userDriverOther);
}

}  // namespace

// A per-user data source whose driver is installed for 32-bit programs only:
// the failed connection names both and says what to do. Once the driver is
// installed for 64-bit programs too, the driver manager's own text stands.
TEST(DbDataSourcesWin, APerUserDataSourceWithA32BitOnlyDriver) {
    const std::wstring dsn = UniqueName(L"TolmarAnv-"), driver = UniqueName(L"Tolmar drivrutin ");
    ScopedValue user(HKEY_CURRENT_USER, 0, kDataSources, dsn, driver);
    ScopedValue driver32(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kDrivers, driver, L"Installed");

    const db::DataSourceRegistration only32{.user = true, .userDriver = driver, .userDriverOther = true};
    ExpectRegistration(odbc::ReadDataSourceRegistration(dsn), only32);
    const std::wstring text = OpenError(L"DSN=" + dsn + L";UID=secret;PWD=tulo");
    EXPECT_EQ(text, db::OtherBitnessDataSourceText(dsn, only32, 64).value_or(L"<none>"));
    EXPECT_NE(text.find(L"\"" + driver + L"\""), std::wstring::npos);

    ScopedValue driver64(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kDrivers, driver, L"Installed");
    ExpectRegistration(odbc::ReadDataSourceRegistration(dsn),
                       {.user = true, .userDriver = driver, .userDriverOwn = true, .userDriverOther = true});
    EXPECT_TRUE(DriverManagersText(OpenError(L"DSN=" + dsn)));
}

// A machine data source of the 32-bit view; the same name for 64-bit
// programs too leaves the driver manager's text.
TEST(DbDataSourcesWin, AMachineDataSourceOfThe32BitViewOnly) {
    const std::wstring dsn = UniqueName(L"TolmarMaskin-");
    ScopedValue listed32(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kDataSources, dsn, L"SQL Server");
    ExpectRegistration(odbc::ReadDataSourceRegistration(dsn), {.systemOther = true});
    const std::wstring text = OpenError(L"DSN=" + dsn);
    EXPECT_EQ(text, db::OtherBitnessDataSourceText(dsn, {.systemOther = true}, 64).value_or(L"<none>"));
    // a driver named in the string is used instead of any data source
    EXPECT_TRUE(DriverManagersText(OpenError(L"DRIVER={Tolmar saknad drivrutin};DSN=" + dsn)));

    ScopedValue defined64(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"SOFTWARE\\ODBC\\ODBC.INI\\" + dsn, L"Driver",
                          L"SQL Server");
    ExpectRegistration(odbc::ReadDataSourceRegistration(dsn), {.systemOwn = true, .systemOther = true});
    EXPECT_TRUE(DriverManagersText(OpenError(L"DSN=" + dsn)));
}
