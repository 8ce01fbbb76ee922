// Data sources that exist only for programs of the other bitness.
#include <gtest/gtest.h>

#include "tools/db/odbc_data_sources.h"

using namespace tolmar::db;

TEST(DbDataSources, NamedDataSourceOnlyWithoutADriver) {
    EXPECT_EQ(NamedDataSource(L"DSN=Klinik"), L"Klinik");
    EXPECT_EQ(NamedDataSource(L"dsn={Klinik; 2};UID=u;PWD=p"), L"Klinik; 2");
    EXPECT_EQ(NamedDataSource(L"DSN= Klinik ;DATABASE=db"), L"Klinik");
    EXPECT_EQ(NamedDataSource(L"Driver={SQLite3};DSN=Klinik"), std::nullopt);
    EXPECT_EQ(NamedDataSource(L"FILEDSN=c:\\a.dsn;DSN=Klinik"), std::nullopt);
    EXPECT_EQ(NamedDataSource(L"DSN=;UID=u"), std::nullopt);
    EXPECT_EQ(NamedDataSource(L"Driver={SQLite3};Database=x.db"), std::nullopt);
}

TEST(DbDataSources, MissingSourceOrDriverStates) {
    EXPECT_TRUE(DataSourceOrDriverMissing({L"IM002"}));
    EXPECT_TRUE(DataSourceOrDriverMissing({L"01000", L"IM003"}));
    EXPECT_TRUE(DataSourceOrDriverMissing({L"IM014"}));
    EXPECT_FALSE(DataSourceOrDriverMissing({L"28000"}));  // login refused
    EXPECT_FALSE(DataSourceOrDriverMissing({L"08001"}));  // server not reached
    EXPECT_FALSE(DataSourceOrDriverMissing({}));
}

namespace {

const std::wstring kMachineOnly32 =
    L"ODBC-datakällan \"Klinik\" är bara upplagd för 32-bitarsprogram (i ODBC-administratören "
    L"för 32 bitar). Det här programmet är ett 64-bitarsprogram och ser inte den datakällan.\r\r"
    L"Lägg upp datakällan i ODBC-administratören för 64 bitar, eller låt datalänkfilen "
    L"använda en databasleverantör eller ODBC-drivrutin som finns för 64-bitarsprogram.";
const std::wstring kUserDriver32 =
    L"ODBC-datakällan \"Klinik\" använder drivrutinen \"Gammal drivrutin\", som bara är installerad "
    L"för 32-bitarsprogram. Det här programmet är ett 64-bitarsprogram och kan inte använda "
    L"den.\r\rInstallera drivrutinen för 64-bitarsprogram och lägg upp datakällan i "
    L"ODBC-administratören för 64 bitar, eller låt datalänkfilen använda en "
    L"databasleverantör eller ODBC-drivrutin som finns för 64-bitarsprogram.";

}  // namespace

TEST(DbDataSources, OtherBitnessText) {
    const std::wstring driver = L"Gammal drivrutin";
    const auto expect = [](const char* name, const DataSourceRegistration& registration, const std::wstring& text) {
        EXPECT_EQ(OtherBitnessDataSourceText(L"Klinik", registration, 64).value_or(L""), text) << name;
    };
    // "": the driver manager's text stands
    expect("machine data source of the 32-bit view only", {.systemOther = true}, kMachineOnly32);
    expect("machine data source in both views", {.systemOwn = true, .systemOther = true}, L"");
    expect("machine data source of the own view only", {.systemOwn = true}, L"");
    expect("no data source at all", {}, L"");
    expect("per-user data source with a 32-bit-only driver", {.user = true, .userDriver = driver, .userDriverOther = true},
           kUserDriver32);
    expect("the per-user one wins over a 32-bit machine one",
           {.systemOther = true, .user = true, .userDriver = driver, .userDriverOwn = true, .userDriverOther = true},
           L"");
    expect("per-user data source whose driver is in both views",
           {.user = true, .userDriver = driver, .userDriverOwn = true, .userDriverOther = true}, L"");
    expect("per-user data source whose driver is nowhere", {.user = true, .userDriver = driver}, L"");
    expect("per-user data source without a listed driver", {.systemOther = true, .user = true}, L"");
    // The 32-bit build sees it the other way round.
    const std::optional<std::wstring> from32 =
        OtherBitnessDataSourceText(L"Klinik", {.systemOther = true}, 32);
    ASSERT_TRUE(from32);
    EXPECT_NE(from32->find(L"bara upplagd för 64-bitarsprogram"), std::wstring::npos);
    EXPECT_NE(from32->find(L"ett 32-bitarsprogram"), std::wstring::npos);
}
