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
        L"eller låt datalänkfilen använda en databasleverantör eller ODBC-drivrutin som finns "
        L"för " + own + L"-bitarsprogram.";
    if (r.user) {
        // The per-user data source is the one the driver manager takes.
        if (r.userDriver.empty() || r.userDriverOwn || !r.userDriverOther) return std::nullopt;
        return L"ODBC-datakällan " + name + L" använder drivrutinen \"" + r.userDriver +
               L"\", som bara är installerad för " + other +
               L"-bitarsprogram. Det här programmet är ett " + own +
               L"-bitarsprogram och kan inte använda den.\r\r"
               L"Installera drivrutinen för " + own + L"-bitarsprogram och lägg upp datakällan i "
               L"ODBC-administratören för " + own + L" bitar, " + whatToDo;
    }
    if (r.systemOwn || !r.systemOther) return std::nullopt;
    return L"ODBC-datakällan " + name + L" är bara upplagd för " + other +
           L"-bitarsprogram (i ODBC-administratören för " + other +
           L" bitar). Det här programmet är ett " + own +
           L"-bitarsprogram och ser inte den datakällan.\r\r"
           L"Lägg upp datakällan i ODBC-administratören för " + own + L" bitar, " + whatToDo;
}

}  // namespace tolmar::db
