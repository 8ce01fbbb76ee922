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
    L"ODBC-datak\u00e4llan \"Klinik\" \u00e4r bara upplagd f\u00f6r 32-bitarsprogram (i ODBC-administrat\u00f6ren "
    L"f\u00f6r 32 bitar). Det h\u00e4r programmet \u00e4r ett 64-bitarsprogram och ser inte den datak\u00e4llan.\r\r"
    L"L\u00e4gg upp datak\u00e4llan i ODBC-administrat\u00f6ren f\u00f6r 64 bitar, eller l\u00e5t datal\u00e4nkfilen "
    L"anv\u00e4nda en databasleverant\u00f6r eller ODBC-drivrutin som finns f\u00f6r 64-bitarsprogram.";
const std::wstring kUserDriver32 =
    L"ODBC-datak\u00e4llan \"Klinik\" anv\u00e4nder drivrutinen \"Gammal drivrutin\", som bara \u00e4r installerad "
    L"f\u00f6r 32-bitarsprogram. Det h\u00e4r programmet \u00e4r ett 64-bitarsprogram och kan inte anv\u00e4nda "
    L"den.\r\rInstallera drivrutinen f\u00f6r 64-bitarsprogram och l\u00e4gg upp datak\u00e4llan i "
    L"ODBC-administrat\u00f6ren f\u00f6r 64 bitar, eller l\u00e5t datal\u00e4nkfilen anv\u00e4nda en "
    L"databasleverant\u00f6r eller ODBC-drivrutin som finns f\u00f6r 64-bitarsprogram.";

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
    EXPECT_NE(from32->find(L"bara upplagd f\u00f6r 64-bitarsprogram"), std::wstring::npos);
    EXPECT_NE(from32->find(L"ett 32-bitarsprogram"), std::wstring::npos);
}
