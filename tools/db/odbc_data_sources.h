// ODBC data sources seen from a program of one bitness.
//
// On 64-bit Windows the ODBC data sources and drivers are registered twice:
// once for 64-bit programs and once for 32-bit ones (HKLM\SOFTWARE\ODBC in
// each registry view). The per-user data sources are shared, but their
// drivers are not. A data link of the suite's 32-bit programs may name a data
// source that this program, of the other bitness, cannot see or use; the
// driver manager then only says "data source name not found". These rules
// recognise that case and say it in plain words. Portable: the Windows side
// (tools/win/db/odbc_data_sources.h) reads the registry.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolmar::db {

// The data source an ODBC connection string connects through: the value of
// DSN when the string names no DRIVER and no FILEDSN (which would be used
// instead); nullopt otherwise or when the value is empty.
std::optional<std::wstring> NamedDataSource(std::wstring_view odbcString);

// Whether a failed connection's SQLSTATEs say the data source or its driver
// could not be found or loaded (IM002, IM003, IM014).
bool DataSourceOrDriverMissing(const std::vector<std::wstring>& sqlStates);

// What the registry holds about one data source, in this program's own view
// and in the other one (the 32-bit view for a 64-bit program).
struct DataSourceRegistration {
    bool systemOwn = false;    // HKLM\SOFTWARE\ODBC\ODBC.INI, own view
    bool systemOther = false;  // HKLM\SOFTWARE\ODBC\ODBC.INI, the other view
    // Whether it is a per-user data source (HKCU\SOFTWARE\ODBC\ODBC.INI),
    // and the driver the per-user list ("ODBC Data Sources") names for it
    // ("" when not listed).
    bool user = false;
    std::wstring userDriver;
    bool userDriverOwn = false;    // that driver in HKLM\SOFTWARE\ODBC\ODBCINST.INI, own view
    bool userDriverOther = false;  // ... the other view
};

// The message of a failed connection to `dataSource` when it exists only for
// programs of the other bitness: a per-user data source whose driver is
// registered for the other bitness alone, or (with no per-user data source of
// that name) a machine data source defined in the other view alone. nullopt
// in every other case, where the driver manager's own text stands.
// `programBits` is 64 or 32.
std::optional<std::wstring> OtherBitnessDataSourceText(std::wstring_view dataSource,
                                                       const DataSourceRegistration& registration, int programBits);

}  // namespace tolmar::db
