#include "tools/win/db/connect_database_win.h"

#include "tools/db/odbc_connection_string.h"
#include "tools/db/provider_list.h"
#include "tools/environment.h"
#include "tools/error.h"
#include "tools/text.h"
#include "tools/win/db/data_providers_dialog.h"
#include "tools/win/db/odbc.h"
#include "tools/win/files.h"
#include "tools/win/messages_win.h"
#include "tools/win/registry.h"
#include "tools/win/system_text.h"

namespace tolmar {
namespace {

// The temporary connection of the credentials lookup: one transaction, the
// first row of NORVENAUSER, rolled back and closed on every path.
class OdbcCredentialConnection final : public db::CredentialConnection {
public:
    explicit OdbcCredentialConnection(win::odbc::Connection connection) : connection_(std::move(connection)) {}

    std::pair<std::wstring, std::wstring> FirstCredentials() override {
        connection_.BeginTransaction();
        win::odbc::Statement query(connection_);
        query.MakeForwardOnlyReadOnly();
        query.ExecuteDirect(std::wstring(db::kCredentialsQuery));
        const SQLUSMALLINT userColumn = query.FindColumn(L"NVUSERNAME");
        const SQLUSMALLINT passwordColumn = query.FindColumn(L"NVPASSWORD");
        if (userColumn == 0 || passwordColumn == 0)
            throw Error(L"Tabellen NORVENAUSER saknar kolumnen NVUSERNAME eller NVPASSWORD.");
        // No row reads as two empty texts, as an empty table's fields do.
        if (!query.Fetch()) return {};
        // Columns are read in ascending order, as some drivers require.
        std::wstring user, password;
        if (userColumn < passwordColumn) {
            user = query.Text(userColumn).value_or(L"");
            password = query.Text(passwordColumn).value_or(L"");
        } else {
            password = query.Text(passwordColumn).value_or(L"");
            user = query.Text(userColumn).value_or(L"");
        }
        return {std::move(user), std::move(password)};
    }

private:
    win::odbc::Connection connection_;  // its owner rolls back and disconnects
};

std::string ToCodePage(std::wstring_view text, UINT codePage) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring FromCodePage(std::string_view text, UINT codePage) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

}  // namespace

bool ConnectDatabase(DatabaseLogin database, UserMessages& messages, const std::wstring& userId,
                     const std::wstring& password) {
    win::WindowsConnectPlatform platform(database.env, messages);
    return db::ConnectDatabase(database.env, database.login, platform, database.cipher, userId, password);
}

std::wstring ChooseDataProvider(Environment& env, UserMessages& messages, const std::wstring& settingKey) {
    std::wstring result = FileNamePart(env.dataProviderFile, kBackslashOrColon);
    // Nobody is there to choose in an unattended run: as if cancelled.
    if (messages.TellUnattended(L"Ingen datalänkfil (.udl) kunde väljas: i obevakat läge visas ingen dialog. "
                       L"Ange datalänkfilen på kommandoraden eller som standard."))
        return result;
    win::DataProvidersDialogData data;
    data.IniTextPosition = settingKey;
    if (win::ShowDataProvidersDialog(messages.ApplicationWindow(), env, messages, data) == IDOK) result = data.chosen;
    return result;
}

std::wstring OdbcConnectionString(std::wstring_view oleDbString) {
    return db::OdbcConnectionString(oleDbString, win::odbc::InstalledDrivers());
}

}  // namespace tolmar

namespace tolmar::win {

bool WindowsConnectPlatform::FileExists(const std::wstring& path) { return win::FileExists(path); }

std::vector<std::wstring> WindowsConnectPlatform::FindFiles(const std::wstring& folder, const std::wstring& mask) {
    return tolmar::FindFiles(messages_, folder, mask);
}

void WindowsConnectPlatform::WriteSetting(std::wstring_view section, std::wstring_view key, std::wstring_view value) {
    tolmar::WriteSetting(env_, section, key, value);
}

std::wstring WindowsConnectPlatform::ReadIniValue(const std::wstring& file, const std::wstring& section,
                                                  const std::wstring& key) {
    return tolmar::ReadIniValue(file, section, key);
}

void WindowsConnectPlatform::ShowError(std::wstring_view text) { messages_.ShowError(text); }

std::wstring WindowsConnectPlatform::ChooseDataProvider(const std::wstring& settingKey) {
    return tolmar::ChooseDataProvider(env_, messages_, settingKey);
}

std::unique_ptr<db::CredentialConnection> WindowsConnectPlatform::OpenCredentialConnection(
    const std::wstring& oleDbString) {
    return std::make_unique<OdbcCredentialConnection>(odbc::Connection::Open(OdbcConnectionString(oleDbString)));
}

std::string WindowsConnectPlatform::ToAnsi(std::wstring_view text) { return ToCodePage(text, CP_ACP); }

std::wstring WindowsConnectPlatform::FromAnsi(std::string_view text) { return FromCodePage(text, CP_ACP); }

}  // namespace tolmar::win
