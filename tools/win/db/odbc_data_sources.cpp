#include "tools/win/db/odbc_data_sources.h"

#include <windows.h>

#include "tools/win/unique.h"

namespace tolmar::win::odbc {
namespace {

constexpr size_t kMaxName = 1024;  // longer names and values read as absent
constexpr const wchar_t* kOdbcIni = L"SOFTWARE\\ODBC\\ODBC.INI";
constexpr const wchar_t* kOdbcInstIni = L"SOFTWARE\\ODBC\\ODBCINST.INI";
constexpr const wchar_t* kDataSources = L"SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources";
constexpr const wchar_t* kDrivers = L"SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers";

constexpr bool kProgramIs64Bit = sizeof(void*) == 8;
constexpr REGSAM kOwnView = kProgramIs64Bit ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
constexpr REGSAM kOtherView = kProgramIs64Bit ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

UniqueHkey OpenKey(HKEY root, const std::wstring& path, REGSAM view) {
    UniqueHkey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) key.reset();
    return key;
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) { return static_cast<bool>(OpenKey(root, path, view)); }

// A REG_SZ value of at most kMaxName characters; nullopt otherwise.
std::optional<std::wstring> ReadText(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view) {
    const UniqueHkey key = OpenKey(root, path, view);
    if (!key) return std::nullopt;
    std::wstring text(kMaxName + 1, L'\0');
    DWORD type = 0, bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    text.resize(bytes / sizeof(wchar_t));
    if (const size_t nul = text.find(L'\0'); nul != std::wstring::npos) text.resize(nul);
    if (text.size() > kMaxName) return std::nullopt;
    return text;
}

bool ValueExists(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view) {
    const UniqueHkey key = OpenKey(root, path, view);
    return key && RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool UsableName(const std::wstring& name) {
    return !name.empty() && name.size() <= kMaxName && name.find(L'\\') == std::wstring::npos;
}

bool SystemDataSource(const std::wstring& name, REGSAM view) {
    return ValueExists(HKEY_LOCAL_MACHINE, kDataSources, name, view) ||
           KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kOdbcIni) + L"\\" + name, view);
}

bool Driver(const std::wstring& name, REGSAM view) {
    return ValueExists(HKEY_LOCAL_MACHINE, kDrivers, name, view) ||
           KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kOdbcInstIni) + L"\\" + name, view);
}

}  // namespace

db::DataSourceRegistration ReadDataSourceRegistration(const std::wstring& dataSource) {
    db::DataSourceRegistration r;
    if (!UsableName(dataSource)) return r;
    r.systemOwn = SystemDataSource(dataSource, kOwnView);
    r.systemOther = SystemDataSource(dataSource, kOtherView);
    // The per-user keys are the same in both views.
    if (std::optional<std::wstring> driver = ReadText(HKEY_CURRENT_USER, kDataSources, dataSource, 0)) {
        r.user = true;
        r.userDriver = std::move(*driver);
    } else {
        r.user = KeyExists(HKEY_CURRENT_USER, std::wstring(kOdbcIni) + L"\\" + dataSource, 0);
    }
    if (r.user && UsableName(r.userDriver)) {
        r.userDriverOwn = Driver(r.userDriver, kOwnView);
        r.userDriverOther = Driver(r.userDriver, kOtherView);
    }
    return r;
}

std::optional<std::wstring> OtherBitnessFailureText(const std::wstring& connectionString,
                                                    const std::vector<std::wstring>& sqlStates) {
    if (!db::DataSourceOrDriverMissing(sqlStates)) return std::nullopt;
    const std::optional<std::wstring> dataSource = db::NamedDataSource(connectionString);
    if (!dataSource) return std::nullopt;
    return db::OtherBitnessDataSourceText(*dataSource, ReadDataSourceRegistration(*dataSource),
                                          kProgramIs64Bit ? 64 : 32);
}

}  // namespace tolmar::win::odbc
