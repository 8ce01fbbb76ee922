// Preparing the patient database's connection string and login: the
// decisions of ConnectDatabase, apart from the machine. The machine's side
// (files, settings, message boxes, the chooser dialog, the temporary
// credentials connection) comes in through ConnectPlatform; the Windows
// implementation is in tools/win/db/connect_database_win.*.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/environment.h"

namespace tolmar {

// The login of the patient database, as ConnectDatabase found it. The
// type's and the fields' names (Databasename beside ServerName included)
// are the suite's own, as its documentation gives them.
struct TDBConnection {
    std::wstring Databasename;  // "Initial Catalog="
    std::wstring ServerName;    // "Data Source="
    std::wstring Username;      // "User ID="
    std::wstring Password;      // "Password="
    std::wstring SQLProcessID;  // never set in this program
};

// The suite's cipher for the stored database login: deciphers an 8-bit text
// into an 8-bit text. The program's session keeps a place for one, for the
// suite, but never fills it, so every credentials lookup ends in the default
// login.
class CredentialCipher {
public:
    virtual ~CredentialCipher() = default;
    virtual std::string Decipher(const std::string& enciphered) = 0;
};

namespace db {

inline constexpr std::wstring_view kDefaultUser = L"secret";
inline constexpr std::wstring_view kDefaultPassword = L"tulo";
inline constexpr std::wstring_view kCredentialsQuery = L"SELECT * FROM NORVENAUSER";
inline constexpr std::wstring_view kDefaultProviderKey = L"DefaultDataProvider";
inline constexpr std::wstring_view kDataProviderSection = L"DataProvider";

// The text before the failure's own message when ConnectDatabase fails.
inline constexpr std::wstring_view kConnectFailurePrefix =
    L"Det gick inte att hämta användarnamn och lösenord till databasen!\r\r";

// A short-lived connection to the credentials table.
class CredentialConnection {
public:
    virtual ~CredentialConnection() = default;  // rolls back and closes
    // Begins a transaction, runs kCredentialsQuery and returns the first
    // row's NVUSERNAME and NVPASSWORD as text. Throws on any failure.
    virtual std::pair<std::wstring, std::wstring> FirstCredentials() = 0;
};

// What ConnectDatabase needs of the machine.
class ConnectPlatform {
public:
    virtual ~ConnectPlatform() = default;
    virtual bool FileExists(const std::wstring& path) = 0;
    // Full paths of the files matching mask below folder (the folder scan).
    virtual std::vector<std::wstring> FindFiles(const std::wstring& folder, const std::wstring& mask) = 0;
    virtual void WriteSetting(std::wstring_view section, std::wstring_view key, std::wstring_view value) = 0;
    virtual std::wstring ReadIniValue(const std::wstring& file, const std::wstring& section,
                                      const std::wstring& key) = 0;
    virtual void ShowError(std::wstring_view text) = 0;
    // The chooser dialog: the chosen file name, or the file-name part of the
    // current data-link file when the user does not confirm.
    virtual std::wstring ChooseDataProvider(const std::wstring& settingKey) = 0;
    // Opens a connection with an OLE DB connection string; throws on failure.
    virtual std::unique_ptr<CredentialConnection> OpenCredentialConnection(const std::wstring& oleDbString) = 0;
    // Conversions through the system's ANSI code page.
    virtual std::string ToAnsi(std::wstring_view text) = 0;
    virtual std::wstring FromAnsi(std::string_view text) = 0;
};

// The connection strings the credentials lookup tries, in this order.
std::wstring WindowsLoginTemplate(std::wstring_view providerPart, const TDBConnection& login);
std::wstring SqlLoginTemplate(std::wstring_view providerPart, const TDBConnection& login, std::wstring_view userId,
                              std::wstring_view password);

// Whether the initialisation string asks for Windows integrated security
// ("INTEGRATED SECURITY=SSPI" in any letter case, exactly this spacing).
bool UsesIntegratedSecurity(std::wstring_view providerPart);

// Fills login.Username and login.Password from the credentials table: the
// Windows login first, then the SQL login with userId and password, both
// deciphered with `cipher`; any failure, no cipher included, gives the
// default login. Never throws, never tells the user.
void LookUpCredentials(std::wstring_view providerPart, TDBConnection& login, ConnectPlatform& platform,
                       CredentialCipher* cipher, std::wstring_view userId, std::wstring_view password);

// ConnectDatabase: makes sure a data-link file is known (the data-link folder,
// a scan of it, at last the chooser), reads its initialisation string into
// env.providerPart, takes the login out of it, looks the login up when the
// string lacks one, and completes env.providerPart. True: env.providerPart is
// the complete OLE DB connection string and `login` describes it. False: the
// failure has been shown with ShowError.
bool ConnectDatabase(Environment& env, TDBConnection& login, ConnectPlatform& platform, CredentialCipher* cipher,
                     std::wstring_view userId, std::wstring_view password);

}  // namespace db
}  // namespace tolmar
