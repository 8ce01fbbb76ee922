// The data-link (.udl) file describes the patient database with an OLE DB
// initialisation string; the program reaches the database through ODBC. This
// module turns the one into the other:
//   - SQL Server providers (SQLOLEDB, SQLNCLI*, MSOLEDBSQL*) become the newest
//     SQL Server ODBC driver installed, with the server, database and login
//     of the data link;
//   - the ODBC provider (MSDASQL) becomes its "Extended Properties" string,
//     or DSN=<Data Source>;
//   - any other provider is refused with an Error naming it.
// Portable: the caller passes the names of the installed ODBC drivers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tolmar::db {

struct ConnectionPair {
    std::wstring name;
    std::wstring value;
    bool operator==(const ConnectionPair&) const = default;
};

// Splits an OLE DB initialisation string into name=value pairs, in order.
// Names and unquoted values are trimmed; a value may be enclosed in double or
// single quotes (the quote doubled inside stands for itself), which keeps any
// ";" in it. Pieces without "=" are skipped.
std::vector<ConnectionPair> ParseOleDbString(std::wstring_view text);

// Splits an ODBC connection string into attribute=value pairs, in order. A
// value may be enclosed in braces ("}}" inside stands for "}").
std::vector<ConnectionPair> ParseOdbcString(std::wstring_view text);

// The value of the first pair named `name` (without regard to case), or
// nullptr when there is none.
const std::wstring* FindValue(const std::vector<ConnectionPair>& pairs, std::wstring_view name);

// `value` as an ODBC attribute value: in braces when it holds ";", "{", "}"
// or blanks at either end, with every "}" doubled.
std::wstring OdbcValue(std::wstring_view value);

// The SQL Server driver to use out of the installed ones: "ODBC Driver N for
// SQL Server" with the highest N, else "SQL Server Native Client V" with the
// highest version V, else "SQL Server"; "" when none is installed. Names are
// compared without regard to case.
std::wstring ChooseSqlServerDriver(const std::vector<std::wstring>& installedDrivers);

// Whether the provider name belongs to one of the SQL Server providers, or to
// the ODBC provider.
bool IsSqlServerProvider(std::wstring_view provider);
bool IsOdbcProvider(std::wstring_view provider);

// The ODBC connection string for an OLE DB initialisation string such as
// ProviderPart. Throws Error when the provider has no ODBC counterpart, when
// no SQL Server driver is installed for a SQL Server provider, or when an
// MSDASQL data link names neither an ODBC string nor a data source.
std::wstring OdbcConnectionString(std::wstring_view oleDbString,
                                  const std::vector<std::wstring>& installedDrivers);

}  // namespace tolmar::db
