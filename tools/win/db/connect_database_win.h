// The patient database's connection set-up on Windows: ConnectDatabase and
// ChooseDataProvider over the program's environment, the settings, the
// data-link files and ODBC.
//
// The update run uses it so:
//     if (!ConnectDatabase(database, messages, L"", L"")) return;   // the user has been told
//     patients.Connect(OdbcConnectionString(database.env.providerPart));
// where a failure of the second line (an unknown provider, no driver, the
// server refusing) is the run's "cannot connect" line.
#pragma once

#include <string>
#include <string_view>

#include "tools/db/connect_database.h"
#include "tools/environment.h"
#include "tools/win/messages_win.h"

namespace tolmar {

// What the connection set-up works on, all of it the program's session's:
// the environment (whose providerPart it completes), the login it finds and
// the suite's cipher of the stored login (none in this program).
struct DatabaseLogin {
    Environment& env;
    TDBConnection& login;
    CredentialCipher* cipher = nullptr;
};

// Prepares the connection string of the patient database: finds the
// data-link file (asking the user with the chooser as a last resort), reads
// it, fetches the login from NORVENAUSER when the file lacks one (falling
// back to the default login) and completes env.providerPart. True:
// env.providerPart is the complete OLE DB connection string and `login`
// describes the login. False: the failure has been shown through `messages`.
bool ConnectDatabase(DatabaseLogin database, UserMessages& messages, const std::wstring& userId,
                     const std::wstring& password);

// Shows the data-provider chooser; the chosen file name, or the file-name
// part of env.dataProviderFile when the user does not confirm.
std::wstring ChooseDataProvider(Environment& env, UserMessages& messages, const std::wstring& settingKey);

// The ODBC connection string for an OLE DB initialisation string, choosing
// among the ODBC drivers installed on this machine. Throws Error naming the
// provider when it has no ODBC counterpart, or when its driver is missing.
std::wstring OdbcConnectionString(std::wstring_view oleDbString);

}  // namespace tolmar

namespace tolmar::win {

// The machine's side of ConnectDatabase; the credentials connection goes
// through ODBC with the translated connection string.
class WindowsConnectPlatform : public db::ConnectPlatform {
public:
    WindowsConnectPlatform(Environment& env, UserMessages& messages) : env_(env), messages_(messages) {}
    bool FileExists(const std::wstring& path) override;
    std::vector<std::wstring> FindFiles(const std::wstring& folder, const std::wstring& mask) override;
    void WriteSetting(std::wstring_view section, std::wstring_view key, std::wstring_view value) override;
    std::wstring ReadIniValue(const std::wstring& file, const std::wstring& section, const std::wstring& key) override;
    void ShowError(std::wstring_view text) override;
    std::wstring ChooseDataProvider(const std::wstring& settingKey) override;
    std::unique_ptr<db::CredentialConnection> OpenCredentialConnection(const std::wstring& oleDbString) override;
    std::string ToAnsi(std::wstring_view text) override;
    std::wstring FromAnsi(std::string_view text) override;

private:
    Environment& env_;
    UserMessages& messages_;
};

}  // namespace tolmar::win
