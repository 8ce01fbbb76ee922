// The repository's SQL scripts (db/*.sql) for the tests' own databases, and
// the paths the ODBC drivers see.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tolmar::test {

// The statements of a script: "--" lines are dropped; a statement ends with
// ";" at the end of a line.
std::vector<std::wstring> SqlStatements(std::string_view script);

// The statements of one of the repository's scripts in db/ ("schema.sql",
// ...); throws std::runtime_error when it cannot be read.
std::vector<std::wstring> SqlScript(const std::wstring& scriptName);

// A path as the ODBC drivers see it: under Wine they are the host's drivers,
// so they need the host's path of a file; on Windows the path is unchanged.
std::wstring DriverPath(const std::wstring& windowsPath);

}  // namespace tolmar::test
