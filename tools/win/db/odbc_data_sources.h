// The registry's side of tools/db/odbc_data_sources.h: where a data source
// and its driver are registered, in this program's own registry view and in
// the other one.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/db/odbc_data_sources.h"

namespace tolmar::win::odbc {

// The registrations of `dataSource`; all false for a name that cannot be a
// data source (empty, too long, or with "\").
db::DataSourceRegistration ReadDataSourceRegistration(const std::wstring& dataSource);

// The text that replaces the driver manager's when a connection through
// `connectionString` failed with `sqlStates` because the data source it names
// exists only for programs of the other bitness; nullopt otherwise.
std::optional<std::wstring> OtherBitnessFailureText(const std::wstring& connectionString,
                                                    const std::vector<std::wstring>& sqlStates);

}  // namespace tolmar::win::odbc
