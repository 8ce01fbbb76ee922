// The program among the suite's 32-bit programs on 64-bit Windows: it finds
// the data-link files where they keep them (the 32-bit Common Files folder),
// and a data link naming an ODBC data source that only 32-bit programs have
// ends in a message that says so.
#include <random>

#include "data_link.h"
#include "harness.h"
#include "update_all_support.h"

namespace {

using namespace e2e;
using namespace e2e::upd;

constexpr Ms kSmallRun{30000};

std::wstring UniqueName(const std::wstring& prefix) {
    std::random_device random;
    return prefix + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(random() % 1000000);
}

std::wstring Environment(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(value, n) : std::wstring();
}

// A data-link file in a data-link folder, written as the platform's editor
// writes it; the file and the folders made for it are removed at the end.
class DataLinkInFolder {
public:
    DataLinkInFolder(const std::wstring& folder, const std::wstring& name, const std::wstring& afterProvider)
        : path_(folder + name) {
        for (size_t slash = folder.find(L'\\', 3); slash != std::wstring::npos; slash = folder.find(L'\\', slash + 1)) {
            const std::wstring part = folder.substr(0, slash);
            if (GetFileAttributesW(part.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
            if (!CreateDirectoryW(part.c_str(), nullptr)) throw std::runtime_error("cannot make " + Utf8(part));
            made_.push_back(part);
        }
        if (!tolmar::test::WriteDataLink(path_, afterProvider, tolmar::test::DataLinkFile::New))
            throw std::runtime_error("cannot write " + Utf8(path_));
    }
    ~DataLinkInFolder() {
        DeleteFileW(path_.c_str());
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) RemoveDirectoryW(it->c_str());
    }
    DataLinkInFolder(const DataLinkInFolder&) = delete;
    DataLinkInFolder& operator=(const DataLinkInFolder&) = delete;

private:
    std::wstring path_;
    std::vector<std::wstring> made_;
};

// "DefaultDataProvider" holds a bare file name, as the suite's installations
// store it, and the file lies in the 32-bit programs' data-link folder: the
// program takes it without asking and updates the rows.
TEST(DataLinks, ABareDefaultNameIsFoundInThe32BitDataLinksFolder) {
    const std::wstring common86 = Environment(L"CommonProgramFiles(x86)");
    ASSERT_NE(common86.find(L"(x86)"), std::wstring::npos) << "no 32-bit Common Files folder: " << Utf8(common86);
    const std::wstring dataLinks86 = common86 + L"\\System\\Ole DB\\Data Links\\";
    Register reg;
    TempFolder data(L"tolmar-x86");
    PatientTable table(Engine::Sqlite, data);
    const std::vector<Row> before = {
        Patient(1, L"197503034567", {{L"F_RNAMN", L"Maria"}, {L"EFTERNAMN", L"Johansson"}})};
    table.Insert(before);
    const std::wstring name = UniqueName(L"tolmar-e2e-") + L".udl";
    DataLinkInFolder dataLink(dataLinks86, name, OdbcDataLink(table.odbcString()));
    ASSERT_EQ(GetFileAttributesW((Environment(L"CommonProgramFiles") + L"\\System\\Ole DB\\Data Links\\" + name).c_str()),
              INVALID_FILE_ATTRIBUTES);

    ProgramRun run({.args = {L"UPDATE_ALL"}});
    ASSERT_TRUE(reg::WriteString(HKEY_CURRENT_USER, run.registry().KeyPath(L"DataProvider"), L"DefaultDataProvider",
                                 name));
    ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", RegisterIniFor(reg.Endpoint())));
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));

    EXPECT_TRUE(ErrorsFileHolds(run.folder().ReadFile(ErrorsFileName()), {Text(L"Antal poster redigerade: 1")}));
    const std::vector<Row> after = {With(before[0], {{L"EFTERNAMN", L"Johansson Persson"},
                                                     {L"ADRESS", L"Västra Esplanaden 14"},
                                                     {L"COADRESS", L"c/o Nilsson"},
                                                     {L"POSTNR", L"903 26"},
                                                     {L"ORT", L"UMEÅ"},
                                                     {L"KON", L"K"},
                                                     {L"TEL3NOT", L""}})};
    EXPECT_TRUE(SameRows(table.Rows(ComparedColumnsWithoutOptional()), after));
}

// A value in the 32-bit view of HKEY_LOCAL_MACHINE, removed at the end with
// every key made for it.
class MachineValue32 {
public:
    MachineValue32(const std::wstring& keyPath, const std::wstring& name, const std::wstring& value)
        : keyPath_(keyPath), name_(name) {
        for (size_t slash = keyPath.find(L'\\'); ; slash = keyPath.find(L'\\', slash + 1)) {
            const std::wstring part = keyPath.substr(0, slash);
            if (!reg::KeyExists(HKEY_LOCAL_MACHINE, part)) {
                made_ = part;  // the first missing key: everything below it is ours
                break;
            }
            if (slash == std::wstring::npos) break;
        }
        if (!reg::WriteString(HKEY_LOCAL_MACHINE, keyPath, name, value))
            throw std::runtime_error("cannot write " + Utf8(keyPath));
    }
    ~MachineValue32() {
        if (!made_.empty()) {
            reg::DeleteTree(HKEY_LOCAL_MACHINE, made_);
            return;
        }
        tolmar::win::UniqueHkey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, KEY_SET_VALUE | reg::kView32, key.put()) ==
            ERROR_SUCCESS)
            RegDeleteValueW(key.get(), name_.c_str());
    }
    MachineValue32(const MachineValue32&) = delete;
    MachineValue32& operator=(const MachineValue32&) = delete;

private:
    std::wstring keyPath_, name_, made_;
};

// The data link names an ODBC data source that is defined for 32-bit
// programs only. The run's one line says which data source and what to do,
// instead of the driver manager's "data source name not found".
TEST(DataLinks, ADataSourceOnlyFor32BitProgramsIsNamedPlainly) {
    const std::wstring dsn = UniqueName(L"Klinik32-");
    ASSERT_FALSE(reg::KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ODBC\\ODBC.INI\\" + dsn, reg::kView64));
    Register reg;
    TempFolder data(L"tolmar-x86");
    MachineValue32 listed(L"SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources", dsn, L"SQLite3");
    MachineValue32 defined(L"SOFTWARE\\ODBC\\ODBC.INI\\" + dsn, L"Database", DriverPath(data / L"klinik.db"));
    ASSERT_FALSE(reg::KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ODBC\\ODBC.INI\\" + dsn, reg::kView64))
        << "the 32-bit view is not a view of its own here";
    const std::wstring dataLink =
        WriteDataLink(data, L"klinik.udl", L"MSDASQL.1;Persist Security Info=False;Data Source=" + dsn);

    ProgramRun run({.args = {L"UPDATE_ALL", dataLink}});
    ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", RegisterIniFor(reg.Endpoint())));
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(EndsWithoutBoxes(run, kSmallRun));
    EXPECT_TRUE(ErrorsFileHolds(
        run.folder().ReadFile(ErrorsFileName()),
        {Text(L"Det gick inte att ansluta till databasen " + dsn + L":  med användarnamnet secret\r\r"
              L"ODBC-datakällan \"" + dsn + L"\" är bara upplagd för 32-bitarsprogram (i "
              L"ODBC-administratören för 32 bitar). Det här programmet är ett 64-bitarsprogram "
              L"och ser inte den datakällan.\r\rLägg upp datakällan i ODBC-administratören "
              L"för 64 bitar, eller låt datalänkfilen använda en databasleverantör eller "
              L"ODBC-drivrutin som finns för 64-bitarsprogram.")}));
    EXPECT_EQ(reg.RequestCount(), 0);
}

}  // namespace
