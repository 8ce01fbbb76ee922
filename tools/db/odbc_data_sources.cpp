#include "tools/db/odbc_data_sources.h"

#include "tools/db/odbc_connection_string.h"
#include "tools/text.h"

namespace tolmar::db {

std::optional<std::wstring> NamedDataSource(std::wstring_view odbcString) {
    const std::vector<ConnectionPair> pairs = ParseOdbcString(odbcString);
    if (FindValue(pairs, L"DRIVER") || FindValue(pairs, L"FILEDSN")) return std::nullopt;
    const std::wstring* dsn = FindValue(pairs, L"DSN");
    if (!dsn || IsBlank(*dsn)) return std::nullopt;
    return Trim(*dsn);
}

bool DataSourceOrDriverMissing(const std::vector<std::wstring>& sqlStates) {
    for (const std::wstring& state : sqlStates)
        if (state == L"IM002" || state == L"IM003" || state == L"IM014") return true;
    return false;
}

std::optional<std::wstring> OtherBitnessDataSourceText(std::wstring_view dataSource,
                                                       const DataSourceRegistration& r, int programBits) {
    const std::wstring own = std::to_wstring(programBits);
    const std::wstring other = programBits == 64 ? L"32" : L"64";
    const std::wstring name = L"\"" + std::wstring(dataSource) + L"\"";
    const std::wstring whatToDo =
        L"eller l\u00e5t datal\u00e4nkfilen anv\u00e4nda en databasleverant\u00f6r eller ODBC-drivrutin som finns "
        L"f\u00f6r " + own + L"-bitarsprogram.";
    if (r.user) {
        // The per-user data source is the one the driver manager takes.
        if (r.userDriver.empty() || r.userDriverOwn || !r.userDriverOther) return std::nullopt;
        return L"ODBC-datak\u00e4llan " + name + L" anv\u00e4nder drivrutinen \"" + r.userDriver +
               L"\", som bara \u00e4r installerad f\u00f6r " + other +
               L"-bitarsprogram. Det h\u00e4r programmet \u00e4r ett " + own +
               L"-bitarsprogram och kan inte anv\u00e4nda den.\r\r"
               L"Installera drivrutinen f\u00f6r " + own + L"-bitarsprogram och l\u00e4gg upp datak\u00e4llan i "
               L"ODBC-administrat\u00f6ren f\u00f6r " + own + L" bitar, " + whatToDo;
    }
    if (r.systemOwn || !r.systemOther) return std::nullopt;
    return L"ODBC-datak\u00e4llan " + name + L" \u00e4r bara upplagd f\u00f6r " + other +
           L"-bitarsprogram (i ODBC-administrat\u00f6ren f\u00f6r " + other +
           L" bitar). Det h\u00e4r programmet \u00e4r ett " + own +
           L"-bitarsprogram och ser inte den datak\u00e4llan.\r\r"
           L"L\u00e4gg upp datak\u00e4llan i ODBC-administrat\u00f6ren f\u00f6r " + own + L" bitar, " + whatToDo;
}

}  // namespace tolmar::db
