#include <gtest/gtest.h>

#include <map>
#include <set>

#include "fake_cipher.h"
#include "tools/db/connect_database.h"
#include "tools/error.h"
#include "tools/text.h"

using namespace tolmar;
using namespace tolmar::db;
using tolmar::test::ReversingCipher;

namespace {

constexpr const wchar_t* kLinks = L"C:\\Common\\System\\Ole DB\\Data Links\\";

// The machine as ConnectDatabase sees it, with a record of what was done.
class FakePlatform final : public ConnectPlatform {
public:
    // The credentials table behind one connection string.
    struct Table {
        bool opens = true;
        bool queryFails = false;
        std::wstring user, password;
    };

    std::set<std::wstring> files;
    std::map<std::wstring, std::wstring> providerValues;  // file -> its oledb/Provider value
    std::vector<std::wstring> scanResult;
    std::wstring chooserAnswer;
    bool chooserThrows = false;
    bool writeThrows = false;
    std::map<std::wstring, Table> tables;  // OLE DB string -> table; others do not open

    std::vector<std::wstring> scans, errors, choices, opened;
    std::vector<std::wstring> written;  // "section/key=value"

    bool FileExists(const std::wstring& path) override { return files.count(path) > 0; }
    std::vector<std::wstring> FindFiles(const std::wstring& folder, const std::wstring& mask) override {
        scans.push_back(folder + mask);
        return scanResult;
    }
    void WriteSetting(std::wstring_view section, std::wstring_view key, std::wstring_view value) override {
        if (writeThrows) throw Error(L"Unable to set security descriptor dacl. Windows error=5");
        written.push_back(std::wstring(section) + L"/" + std::wstring(key) + L"=" + std::wstring(value));
    }
    std::wstring ReadIniValue(const std::wstring& file, const std::wstring& section, const std::wstring& key) override {
        EXPECT_EQ(section, L"oledb");
        EXPECT_EQ(key, L"Provider");
        const auto it = providerValues.find(file);
        return it == providerValues.end() ? std::wstring() : it->second;
    }
    void ShowError(std::wstring_view text) override { errors.emplace_back(text); }
    std::wstring ChooseDataProvider(const std::wstring& settingKey) override {
        choices.push_back(settingKey);
        if (chooserThrows) throw Error(L"the dialog could not be made");
        return chooserAnswer;
    }
    std::unique_ptr<CredentialConnection> OpenCredentialConnection(const std::wstring& oleDbString) override {
        opened.push_back(oleDbString);
        const auto it = tables.find(oleDbString);
        if (it == tables.end() || !it->second.opens) throw Error(L"[08001] cannot connect");
        return std::make_unique<Connection>(it->second);
    }
    std::string ToAnsi(std::wstring_view text) override { return ToUtf8(text); }
    std::wstring FromAnsi(std::string_view text) override { return FromUtf8(text); }

private:
    class Connection final : public CredentialConnection {
    public:
        explicit Connection(Table table) : table_(std::move(table)) {}
        std::pair<std::wstring, std::wstring> FirstCredentials() override {
            if (table_.queryFails) throw Error(L"[42S02] no such table: NORVENAUSER");
            return {table_.user, table_.password};
        }

    private:
        Table table_;
    };
};


struct Outcome {
    bool ok = false;
    Environment env;
    TDBConnection login;
};

Outcome Connect(FakePlatform& platform, Environment env, std::wstring_view user = L"", std::wstring_view password = L"",
                CredentialCipher* cipher = nullptr) {
    Outcome out;
    out.env = std::move(env);
    out.ok = ConnectDatabase(out.env, out.login, platform, cipher, user, password);
    return out;
}

Environment WithProviderPart(std::wstring providerPart) {
    Environment env;
    env.dataLinksPath = kLinks;
    env.dataProviderFile = std::wstring(kLinks) + L"klinik.udl";
    env.providerPart = std::move(providerPart);
    return env;
}

std::wstring MissingFileText(const std::wstring& file) {
    return L"Kunde inte hitta den angivna DataProvider-filen \"" + file +
           L"\"!\rKontrollera att filen finns i den aktuella katalogen och försök igen!\r\r"
           L"Välj databasanslutning i nästa dialog";
}

}  // namespace

// ---- completion of a string that is already known ---------------------------

struct CompletionCase {
    const char* name;
    const wchar_t* providerPart;
    const wchar_t* completed;
    const wchar_t* user;  // DBConnection afterwards
    const wchar_t* password;
    bool lookedUp;  // a credentials connection was tried
};

TEST(DbConnectDatabase, CompletionTable) {
    const CompletionCase cases[] = {
        {"integrated security: unchanged, no lookup",
         L"Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=K;Data Source=S",
         L"Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=K;Data Source=S",
         L"", L"", false},
        {"integrated security in another letter case",
         L"Provider=SQLOLEDB.1;integrated security=sspi;Data Source=S;User ID=u",
         L"Provider=SQLOLEDB.1;integrated security=sspi;Data Source=S;User ID=u", L"u", L"", false},
        {"full SQL login: no lookup, Persist Security Info appended",
         L"Provider=SQLOLEDB.1;Password=pw;User ID=sa;Initial Catalog=K;Data Source=S",
         L"Provider=SQLOLEDB.1;Password=pw;User ID=sa;Initial Catalog=K;Data Source=S;Persist Security Info=True",
         L"sa", L"pw", false},
        {"full SQL login: Persist Security Info=False becomes True",
         L"Provider=SQLOLEDB.1;Password=pw;Persist Security Info=False;User ID=sa;Initial Catalog=K;Data Source=S",
         L"Provider=SQLOLEDB.1;Password=pw;Persist Security Info=True;User ID=sa;Initial Catalog=K;Data Source=S",
         L"sa", L"pw", false},
        {"user without password: default login replaces the user, password appended",
         L"Provider=SQLOLEDB.1;User ID=nisse;Initial Catalog=K;Data Source=S",
         L"Provider=SQLOLEDB.1;User ID=secret;Initial Catalog=K;Data Source=S;Persist Security Info=True;Password=tulo",
         L"secret", L"tulo", true},
        {"user with empty password: default password after the existing name",
         L"Provider=SQLOLEDB.1;Password=;User ID=nisse;Data Source=S",
         L"Provider=SQLOLEDB.1;Password=tulo;User ID=secret;Data Source=S;Persist Security Info=True", L"secret",
         L"tulo", true},
        {"a blank user counts as missing",
         L"Provider=SQLOLEDB.1;Password=pw;User ID=  ;Data Source=S",
         L"Provider=SQLOLEDB.1;Password=tulo;User ID=secret;Data Source=S;Persist Security Info=True", L"secret",
         L"tulo", true},
        {"empty catalog and data source are not appended", L"Provider=",
         L"Provider=;Persist Security Info=True;User ID=secret;Password=tulo", L"secret", L"tulo", true},
        {"markers are case-sensitive: user id= is not a user",
         L"Provider=SQLOLEDB;user id=u;password=p;Data Source=S",
         L"Provider=SQLOLEDB;user id=u;password=p;Data Source=S;Persist Security Info=True;User ID=secret;"
         L"Password=tulo",
         L"secret", L"tulo", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform platform;
        const Outcome out = Connect(platform, WithProviderPart(c.providerPart));
        EXPECT_TRUE(out.ok);
        EXPECT_EQ(out.env.providerPart, c.completed);
        EXPECT_EQ(out.login.Username, c.user);
        EXPECT_EQ(out.login.Password, c.password);
        EXPECT_EQ(!platform.opened.empty(), c.lookedUp);
        // a known string needs no file: nothing is searched, read or shown
        EXPECT_TRUE(platform.scans.empty());
        EXPECT_TRUE(platform.errors.empty());
        EXPECT_EQ(out.env.dataProviderFile, std::wstring(kLinks) + L"klinik.udl");

        // the completed string is parsed again by a later call, to the same end
        FakePlatform again;
        const Outcome second = Connect(again, out.env);
        EXPECT_EQ(second.env.providerPart, out.env.providerPart);
        EXPECT_EQ(second.login.Username, out.login.Username);
        EXPECT_TRUE(again.opened.empty());
    }
}

TEST(DbConnectDatabase, LoginFieldsComeFromTheFirstOccurrences) {
    FakePlatform platform;
    const Outcome out =
        Connect(platform, WithProviderPart(L"Provider=SQLOLEDB.1;Initial Catalog=Kat;Data Source=SRV\\X;User ID=u;"
                                       L"Password=p;Data Source=other"));
    EXPECT_EQ(out.login.Databasename, L"Kat");
    EXPECT_EQ(out.login.ServerName, L"SRV\\X");
    EXPECT_EQ(out.login.Username, L"u");
    EXPECT_EQ(out.login.Password, L"p");
    EXPECT_EQ(out.login.SQLProcessID, L"");
}

// ---- the credentials lookup ---------------------------------------------------

TEST(DbCredentialsLookup, TemplatesCarryProviderCatalogAndServer) {
    TDBConnection login{L"Kat", L"SRV", L"", L"", L""};
    const std::wstring part = L"Provider=SQLNCLI11.1;User ID=x";
    EXPECT_EQ(WindowsLoginTemplate(part, login),
              L"Provider=SQLNCLI11.1;Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=Kat;"
              L"Data Source=SRV");
    EXPECT_EQ(SqlLoginTemplate(part, login, L"usr", L"pwd"),
              L"Provider=SQLNCLI11.1;Password=pwd;Persist Security Info=True;User ID=usr;Initial Catalog=Kat;"
              L"Data Source=SRV");
    // the provider runs to the end when no ";" follows it
    EXPECT_EQ(WindowsLoginTemplate(L"Provider=MSDASQL.1", TDBConnection{}),
              L"Provider=MSDASQL.1;Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=;Data Source=");
}

TEST(DbCredentialsLookup, WindowsLoginThenSqlLoginThenDefault) {
    const std::wstring part = L"Provider=SQLOLEDB.1;User ID=u;Initial Catalog=K;Data Source=S";
    TDBConnection base{L"K", L"S", L"u", L"", L""};
    const std::wstring windows = WindowsLoginTemplate(part, base), sql = SqlLoginTemplate(part, base, L"arg", L"pw");

    struct Case {
        const char* name;
        std::map<std::wstring, FakePlatform::Table> tables;
        bool cipher;
        std::vector<std::wstring> opened;
        const wchar_t* user;
        const wchar_t* password;
    };
    const Case cases[] = {
        {"nothing opens: default login", {}, false, {windows, sql}, L"secret", L"tulo"},
        {"the Windows login reads the table, no cipher fails: default login",
         {{windows, {true, false, L"resu", L"ssap"}}}, false, {windows}, L"secret", L"tulo"},
        {"the Windows login reads the table and the cipher deciphers it",
         {{windows, {true, false, L"resu", L"ssap"}}}, true, {windows}, L"user", L"pass"},
        {"the Windows login fails, the SQL login with the arguments reads the table",
         {{sql, {true, false, L"2u", L"2p"}}}, true, {windows, sql}, L"u2", L"p2"},
        {"the Windows login opens but the query fails: no SQL login, default login",
         {{windows, {true, true}}, {sql, {true, false, L"2u", L"2p"}}}, true, {windows}, L"secret", L"tulo"},
        {"non-ASCII credentials pass through the 8-bit cipher",
         {{windows, {true, false, L"åäö", L"x"}}}, true, {windows}, L"öäå", L"x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform platform;
        platform.tables = c.tables;
        // the fake's 8-bit text is UTF-8, so reversing bytes would break
        // non-ASCII letters: the cipher used here reverses characters
        class CharReversing final : public CredentialCipher {
        public:
            std::string Decipher(const std::string& e) override {
                std::wstring w = FromUtf8(e);
                return ToUtf8(std::wstring(w.rbegin(), w.rend()));
            }
        };
        CharReversing reversing;
        TDBConnection login = base;
        LookUpCredentials(part, login, platform, c.cipher ? &reversing : nullptr, L"arg", L"pw");
        EXPECT_EQ(platform.opened, c.opened);
        EXPECT_EQ(login.Username, c.user);
        EXPECT_EQ(login.Password, c.password);
        EXPECT_TRUE(platform.errors.empty());
    }
}

TEST(DbCredentialsLookup, ConnectDatabasePassesItsArgumentsToTheSqlLogin) {
    ReversingCipher cipher;
    FakePlatform platform;
    const std::wstring part = L"Provider=SQLOLEDB.1;Initial Catalog=K;Data Source=S";
    TDBConnection login{L"K", L"S", L"", L"", L""};
    platform.tables[SqlLoginTemplate(part, login, L"anna", L"hemlig")] = {true, false, L"resu", L"ssap"};
    const Outcome out = Connect(platform, WithProviderPart(part), L"anna", L"hemlig", &cipher);
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(out.env.providerPart,
              L"Provider=SQLOLEDB.1;Initial Catalog=K;Data Source=S;Persist Security Info=True;User ID=user;"
              L"Password=pass");
}

// ---- finding the data-link file -------------------------------------------------

TEST(DbConnectDatabase, BareNameInTheDataLinkFolder) {
    FakePlatform platform;
    const std::wstring full = std::wstring(kLinks) + L"klinik.udl";
    platform.files = {full};
    platform.providerValues[full] = L"SQLOLEDB.1;Integrated Security=SSPI;Data Source=S";
    Environment env = WithProviderPart(L"");
    env.dataProviderFile = L"klinik.udl";
    const Outcome out = Connect(platform, env);
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(out.env.dataProviderFile, full);
    EXPECT_EQ(out.env.providerPart, L"Provider=SQLOLEDB.1;Integrated Security=SSPI;Data Source=S");
    EXPECT_TRUE(platform.scans.empty());
    EXPECT_TRUE(platform.written.empty());
}

TEST(DbConnectDatabase, OneFileFoundByTheScanIsTakenAndStored) {
    FakePlatform platform;
    const std::wstring found = std::wstring(kLinks) + L"sub\\enda.udl";
    platform.files = {found};
    platform.scanResult = {found};
    platform.providerValues[found] = L"SQLOLEDB.1;Password=p;User ID=u;Data Source=S";
    Environment env = WithProviderPart(L"");
    env.dataProviderFile = std::wstring(kLinks) + L"ERROR";
    const Outcome out = Connect(platform, env);
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(platform.scans, std::vector<std::wstring>{std::wstring(kLinks) + L"*.udl"});
    EXPECT_EQ(out.env.dataProviderFile, found);
    EXPECT_EQ(platform.written, std::vector<std::wstring>{L"DataProvider/DefaultDataProvider=" + found});
    EXPECT_TRUE(platform.errors.empty());
    EXPECT_TRUE(platform.choices.empty());
    EXPECT_EQ(out.env.providerPart, L"Provider=SQLOLEDB.1;Password=p;User ID=u;Data Source=S;Persist Security Info=True");
}

TEST(DbConnectDatabase, TwoFilesFoundAskTheUser) {
    FakePlatform platform;
    const std::wstring chosen = std::wstring(kLinks) + L"andra.udl";
    platform.scanResult = {std::wstring(kLinks) + L"forsta.udl", chosen};
    platform.files = {platform.scanResult[0], chosen};
    platform.chooserAnswer = L"andra.udl";
    platform.providerValues[chosen] = L"SQLOLEDB.1;Integrated Security=SSPI";
    Environment env = WithProviderPart(L"");
    env.dataProviderFile = L"C:\\old\\saknas.udl";
    const Outcome out = Connect(platform, env);
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(platform.errors, std::vector<std::wstring>{MissingFileText(L"C:\\old\\saknas.udl")});
    EXPECT_EQ(platform.choices, std::vector<std::wstring>{L"DefaultDataProvider"});
    EXPECT_EQ(out.env.dataProviderFile, chosen);
    EXPECT_EQ(out.env.providerPart, L"Provider=SQLOLEDB.1;Integrated Security=SSPI");
    EXPECT_TRUE(platform.written.empty());
}

TEST(DbConnectDatabase, CancelledChooserStillReturnsTrueWithAnEmptyProvider) {
    FakePlatform platform;  // no files anywhere, the scan finds nothing
    platform.chooserAnswer = L"saknas.udl";  // the file-name part of the old file
    Environment env = WithProviderPart(L"");
    env.dataProviderFile = L"C:\\old\\saknas.udl";
    const Outcome out = Connect(platform, env);
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(platform.errors.size(), 1u);
    EXPECT_EQ(out.env.dataProviderFile, std::wstring(kLinks) + L"saknas.udl");
    EXPECT_EQ(out.env.providerPart, L"Provider=;Persist Security Info=True;User ID=secret;Password=tulo");
    EXPECT_EQ(out.login.Username, L"secret");
}

TEST(DbConnectDatabase, AFileWithoutProviderLineGivesProviderAlone) {
    FakePlatform platform;
    const std::wstring file = std::wstring(kLinks) + L"tom.udl";
    platform.files = {file};
    Environment env = WithProviderPart(L"");
    env.dataProviderFile = file;
    const Outcome out = Connect(platform, env);
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(out.env.providerPart, L"Provider=;Persist Security Info=True;User ID=secret;Password=tulo");
}

TEST(DbConnectDatabase, FailuresAreShownAndReturnFalse) {
    const std::wstring prefix(kConnectFailurePrefix);
    {
        SCOPED_TRACE("the chooser fails");
        FakePlatform platform;
        platform.chooserThrows = true;
        Environment env = WithProviderPart(L"");
        env.dataProviderFile = L"C:\\x.udl";
        const Outcome out = Connect(platform, env);
        EXPECT_FALSE(out.ok);
        ASSERT_EQ(platform.errors.size(), 2u);
        EXPECT_EQ(platform.errors[0], MissingFileText(L"C:\\x.udl"));
        EXPECT_EQ(platform.errors[1],
                  L"Det gick inte att hämta användarnamn och lösenord till databasen!\r\r"
                  L"the dialog could not be made");
        // what the steps before the failure set stays
        EXPECT_EQ(out.env.dataProviderFile, L"C:\\x.udl");
        EXPECT_EQ(out.env.providerPart, L"");
    }
    {
        SCOPED_TRACE("storing the one file found fails");
        FakePlatform platform;
        platform.writeThrows = true;
        platform.scanResult = {std::wstring(kLinks) + L"a.udl"};
        platform.files = {platform.scanResult[0]};
        const Outcome out = Connect(platform, WithProviderPart(L""));
        EXPECT_FALSE(out.ok);
        EXPECT_EQ(platform.errors,
                  std::vector<std::wstring>{prefix + L"Unable to set security descriptor dacl. Windows error=5"});
        EXPECT_EQ(out.env.dataProviderFile, platform.scanResult[0]);
    }
}
