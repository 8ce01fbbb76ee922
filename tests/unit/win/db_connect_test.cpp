// ConnectDatabase against real data-link files, the registry and the real
// engines, the way the update run uses it: prepare the connection string,
// translate it, connect.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/win/db/odbc_patient_database.h"
#include "db_test_support.h"
#include "tools/db/odbc_connection_string.h"
#include "tools/error.h"
#include "tools/text.h"
#include "tools/win/db/connect_database_win.h"
#include "tools/win/db/data_providers_resource.h"
#include "tools/win/registry.h"
#include "fake_cipher.h"
#include "win_test_support.h"

using namespace tolmar;
using namespace tolmar::test;
using tolmar::win::OdbcPatientDatabase;
namespace odbc = tolmar::win::odbc;

namespace {

// The environment as start-up leaves it when no data-link file was found:
// a data-link folder of the test's own and no connection string yet.
class DbConnect : public testing::Test {
protected:
    DbConnect() {
        env_.dataLinksPath = links_.FolderPath();
        env_.dataProviderFile = links_.FolderPath() + L"ERROR";
    }

    bool Connect(CredentialCipher* cipher = nullptr) {
        return ConnectDatabase({env_, login_, cipher}, messages_, L"", L"");
    }
    std::wstring StoredDefault() { return ReadSetting(env_, L"DataProvider", L"DefaultDataProvider"); }

    TestAppKey appKey_;
    TempFolder links_;
    Environment env_ = EnvironmentOf(appKey_);
    TDBConnection login_;
    UserMessages messages_;
};

TEST_F(DbConnect, TheOneDataLinkFoundIsStoredCompletedAndConnects) {
    TempFolder data;
    const std::wstring database = SqliteConnectionString((data / L"klinik.db"));
    {
        odbc::Connection setup = odbc::Connection::Open(database);
        RunSqlScript(setup, L"schema.sql");
        RunSqlScript(setup, L"sample_data.sql");
    }
    const std::wstring extended = database.substr(0, database.find(L";Timeout"));
    links_.MakeFolder(L"klinik");
    const std::wstring file = (links_ / L"klinik\\klinik.udl");
    ASSERT_TRUE(WriteDataLink(file, L"MSDASQL.1;Extended Properties=\"" + extended + L"\""));

    ASSERT_TRUE(Connect());
    EXPECT_EQ(env_.dataProviderFile, file);
    EXPECT_EQ(StoredDefault(), file);
    // no login in the file: the lookup cannot connect, the default login
    // completes the string
    EXPECT_EQ(env_.providerPart, L"Provider=MSDASQL.1;Extended Properties=\"" + extended +
                                     L"\";Persist Security Info=True;User ID=secret;Password=tulo");
    EXPECT_EQ(login_.Username, L"secret");
    EXPECT_EQ(login_.Password, L"tulo");

    const std::wstring odbcString = OdbcConnectionString(env_.providerPart);
    EXPECT_EQ(odbcString, extended + L";UID=secret;PWD=tulo");
    OdbcPatientDatabase patients;
    patients.Connect(odbcString);
    EXPECT_EQ(patients.PatientKeys(L"SELECT PATIENTNR FROM KUNDER").keys.size(), 10u);

    // a second call finds the finished string and leaves it as it is
    const std::wstring finished = env_.providerPart;
    ASSERT_TRUE(Connect());
    EXPECT_EQ(env_.providerPart, finished);
}

TEST_F(DbConnect, IntegratedSecurityIsUsedAsWritten) {
    const std::wstring init =
        L"SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=Klinik;Data Source=SRV\\SQL";
    ASSERT_TRUE(WriteDataLink((links_ / L"Klinik.udl"), init));
    WriteSetting(env_, L"DataProvider", L"DefaultDataProvider", L"Klinik.udl");
    env_.dataProviderFile = L"Klinik.udl";  // as start-up finds a bare name that is not in the working folder

    ASSERT_TRUE(Connect());
    EXPECT_EQ(env_.dataProviderFile, (links_ / L"Klinik.udl"));
    EXPECT_EQ(env_.providerPart, L"Provider=" + init);
    EXPECT_EQ(login_.Databasename, L"Klinik");
    EXPECT_EQ(login_.ServerName, L"SRV\\SQL");
    EXPECT_EQ(login_.Username, L"");
}

TEST_F(DbConnect, NoUsableDataLinkAsksTheUser) {
    ASSERT_TRUE(WriteDataLink((links_ / L"a.udl"), L"SQLOLEDB.1;Integrated Security=SSPI;Data Source=A"));
    ASSERT_TRUE(
        WriteDataLink((links_ / L"b.udl"), L"SQLOLEDB.1;Password=pw;User ID=u;Initial Catalog=K;Data Source=B"));
    env_.dataProviderFile = L"C:\\nowhere\\gone.udl";

    std::wstring missing;
    bool connected = false;
    UiDriver driver;
    driver.Run([&] { connected = Connect(); },
               [&](UiDriver& ui) {
                   HWND box = ui.WaitForWindow(L"Information");
                   missing = ui.BoxText(box);
                   ui.Answer(box, IDOK);
                   HWND dialog = ui.WaitForWindow(L"DataProviders");
                   HWND list = GetDlgItem(dialog, IDC_DP_LIST);
                   const std::vector<std::wstring> rows = ui.Rows(list);
                   ui.Select(list, static_cast<int>(std::find(rows.begin(), rows.end(), L"b.udl") - rows.begin()));
                   ui.Click(dialog, IDOK);
               });

    EXPECT_TRUE(connected);
    EXPECT_EQ(missing,
              L"Kunde inte hitta den angivna DataProvider-filen \"C:\\nowhere\\gone.udl\"!\r"
              L"Kontrollera att filen finns i den aktuella katalogen och försök igen!\r\r"
              L"Välj databasanslutning i nästa dialog");
    EXPECT_EQ(env_.dataProviderFile, (links_ / L"b.udl"));
    EXPECT_EQ(env_.providerPart,
              L"Provider=SQLOLEDB.1;Password=pw;User ID=u;Initial Catalog=K;Data Source=B;Persist Security Info=True");
    EXPECT_EQ(StoredDefault(), L"ERROR");  // choosing is not making it the default
}

TEST_F(DbConnect, ACancelledChooserLeavesAStringTheConnectionRefuses) {
    ASSERT_TRUE(WriteDataLink((links_ / L"a.udl"), L"SQLOLEDB.1;Integrated Security=SSPI;Data Source=A"));
    ASSERT_TRUE(WriteDataLink((links_ / L"b.udl"), L"SQLOLEDB.1;Integrated Security=SSPI;Data Source=B"));
    env_.dataProviderFile = L"C:\\nowhere\\gone.udl";

    bool connected = false;
    UiDriver driver;
    driver.Run([&] { connected = Connect(); },
               [&](UiDriver& ui) {
                   ui.Answer(ui.WaitForWindow(L"Information"), IDOK);
                   ui.Click(ui.WaitForWindow(L"DataProviders"), IDCANCEL);
               });

    EXPECT_TRUE(connected);
    EXPECT_EQ(env_.dataProviderFile, (links_ / L"gone.udl"));
    EXPECT_EQ(env_.providerPart, L"Provider=;Persist Security Info=True;User ID=secret;Password=tulo");
    EXPECT_EQ(ErrorText([this] { OdbcConnectionString(env_.providerPart); }),
              L"Datalänkfilen anger ingen databasleverantör (Provider).");
}

// The credentials lookup for real: an ODBC data source whose own login
// reads NORVENAUSER, whose stored login then completes the string.
class DbConnectPostgres : public DbConnect {
protected:
    void SetUp() override {
        const std::wstring server = PostgresConnectionString();
        dsn_ = PostgresDsn();
        ASSERT_FALSE(server.empty() || dsn_.empty()) << kNoPostgres;
        const auto pairs = db::ParseOdbcString(server);
        user_ = *db::FindValue(pairs, L"Uid");
        password_ = *db::FindValue(pairs, L"Pwd");
        admin_ = odbc::Connection::Open(server);
        RunSqlScript(admin_, L"schema.sql");
        RunSqlScript(admin_, L"sample_data.sql");
        // the stored login, "enciphered" by reversing it
        Execute(admin_, L"DELETE FROM NORVENAUSER");
        Execute(admin_, L"INSERT INTO NORVENAUSER (NVUSERNAME, NVPASSWORD) VALUES ('" +
                            std::wstring(user_.rbegin(), user_.rend()) + L"', '" +
                            std::wstring(password_.rbegin(), password_.rend()) + L"')");
        ASSERT_TRUE(WriteDataLink((links_ / L"server.udl"), L"MSDASQL.1;Data Source=" + dsn_));
        env_.dataProviderFile = (links_ / L"server.udl");
    }

    std::wstring dsn_, user_, password_;
    odbc::Connection admin_;
};

TEST_F(DbConnectPostgres, TheStoredLoginIsDecipheredAndLogsIn) {
    ReversingCipher cipher;
    ASSERT_TRUE(Connect(&cipher));
    EXPECT_EQ(login_.Username, user_);
    EXPECT_EQ(env_.providerPart, L"Provider=MSDASQL.1;Data Source=" + dsn_ + L";Persist Security Info=True;User ID=" +
                                     user_ + L";Password=" + password_);
    OdbcPatientDatabase patients;
    patients.Connect(OdbcConnectionString(env_.providerPart));
    EXPECT_EQ(patients.PatientKeys(L"SELECT PATIENTNR FROM KUNDER").keys.size(), 10u);
}

TEST_F(DbConnectPostgres, WithoutTheCipherTheDefaultLoginIsRefusedByTheServer) {
    ASSERT_TRUE(Connect());
    EXPECT_EQ(login_.Username, L"secret");
    OdbcPatientDatabase patients;
    const std::wstring refused = ErrorText([&] { patients.Connect(OdbcConnectionString(env_.providerPart)); });
    EXPECT_EQ(refused.rfind(L"[", 0), 0u) << ToUtf8(refused);
    EXPECT_NE(refused.find(L"\"secret\""), std::wstring::npos) << ToUtf8(refused);
}

}  // namespace
