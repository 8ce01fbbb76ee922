#include "tools/db/connect_database.h"

#include <exception>

#include "tools/error.h"
#include "tools/text.h"

namespace tolmar {

namespace db {
namespace {

bool ContainsUpper(std::wstring_view text, std::wstring_view upperNeedle) {
    return UpperLocale(text).find(upperNeedle) != std::wstring::npos;
}

std::wstring Decipher(const std::wstring& text, ConnectPlatform& platform, CredentialCipher* cipher) {
    if (!cipher) throw Error(L"Det finns ingen dekryptering för inloggningsuppgifterna.");
    return platform.FromAnsi(cipher->Decipher(platform.ToAnsi(text)));
}

// Step 1: a data-link file, found on disk, by a scan of the data-link folder
// or, as a last resort, chosen by the user; its initialisation string.
void FindDataLink(Environment& env, ConnectPlatform& platform) {
    if (!platform.FileExists(env.dataProviderFile) && platform.FileExists(env.dataLinksPath + env.dataProviderFile))
        env.dataProviderFile = env.dataLinksPath + env.dataProviderFile;
    if (!platform.FileExists(env.dataProviderFile)) {
        const std::vector<std::wstring> found = platform.FindFiles(env.dataLinksPath, L"*.udl");
        if (found.size() == 1) {
            env.dataProviderFile = found.front();
            platform.WriteSetting(kDataProviderSection, kDefaultProviderKey, env.dataProviderFile);
        }
    }
    if (!platform.FileExists(env.dataProviderFile)) {
        platform.ShowError(L"Kunde inte hitta den angivna DataProvider-filen \"" + env.dataProviderFile + L"\"!\r" +
                           L"Kontrollera att filen finns i den aktuella katalogen och försök igen!\r\r" +
                           L"Välj databasanslutning i nästa dialog");
        env.dataProviderFile = env.dataLinksPath + platform.ChooseDataProvider(std::wstring(kDefaultProviderKey));
    }
    env.providerPart = ProviderPartFromIni(platform.ReadIniValue(env.dataProviderFile, L"oledb", L"Provider"));
}

}  // namespace

std::wstring WindowsLoginTemplate(std::wstring_view providerPart, const TDBConnection& login) {
    return L"Provider=" + ExtractBetween(providerPart, L"Provider=", L";") +
           L";Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=" + login.Databasename +
           L";Data Source=" + login.ServerName;
}

std::wstring SqlLoginTemplate(std::wstring_view providerPart, const TDBConnection& login, std::wstring_view userId,
                              std::wstring_view password) {
    return L"Provider=" + ExtractBetween(providerPart, L"Provider=", L";") + L";Password=" + std::wstring(password) +
           L";Persist Security Info=True;User ID=" + std::wstring(userId) + L";Initial Catalog=" +
           login.Databasename + L";Data Source=" + login.ServerName;
}

bool UsesIntegratedSecurity(std::wstring_view providerPart) {
    return ContainsUpper(providerPart, L"INTEGRATED SECURITY=SSPI");
}

void LookUpCredentials(std::wstring_view providerPart, TDBConnection& login, ConnectPlatform& platform,
                       CredentialCipher* cipher, std::wstring_view userId, std::wstring_view password) {
    try {
        std::unique_ptr<CredentialConnection> connection;
        try {
            connection = platform.OpenCredentialConnection(WindowsLoginTemplate(providerPart, login));
        } catch (...) {
            connection = platform.OpenCredentialConnection(SqlLoginTemplate(providerPart, login, userId, password));
        }
        auto [user, pass] = connection->FirstCredentials();
        login.Username = std::move(user);
        login.Password = std::move(pass);
        login.Username = Decipher(login.Username, platform, cipher);
        login.Password = Decipher(login.Password, platform, cipher);
    } catch (...) {
        login.Username = kDefaultUser;
        login.Password = kDefaultPassword;
    }
}

bool ConnectDatabase(Environment& env, TDBConnection& login, ConnectPlatform& platform, CredentialCipher* cipher,
                     std::wstring_view userId, std::wstring_view password) {
    try {
        if (!ContainsUpper(env.providerPart, L"PROVIDER=")) FindDataLink(env, platform);

        login.Databasename = ExtractBetween(env.providerPart, L"Initial Catalog=", L";");
        login.ServerName = ExtractBetween(env.providerPart, L"Data Source=", L";");
        login.Username = ExtractBetween(env.providerPart, L"User ID=", L";");
        login.Password = ExtractBetween(env.providerPart, L"Password=", L";");

        if (!UsesIntegratedSecurity(env.providerPart)) {
            if (IsBlank(login.Username) || IsBlank(login.Password))
                LookUpCredentials(env.providerPart, login, platform, cipher, userId, password);
            SetConnectionStringValue(env.providerPart, L"Persist Security Info=", L"True");
            SetConnectionStringValue(env.providerPart, L"Initial Catalog=", login.Databasename);
            SetConnectionStringValue(env.providerPart, L"Data Source=", login.ServerName);
            SetConnectionStringValue(env.providerPart, L"User ID=", login.Username);
            SetConnectionStringValue(env.providerPart, L"Password=", login.Password);
        }
        return true;
    } catch (const std::exception& e) {
        platform.ShowError(std::wstring(kConnectFailurePrefix) + MessageOf(e));
        return false;
    }
}

}  // namespace db
}  // namespace tolmar
