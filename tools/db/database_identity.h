// Which database an ODBC connection string reaches, told the same however
// the string spells it: one run at a time is kept per database, not per
// spelling of its connection string.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tolmar::db {

// The database's identity, in words and without any password:
//   - a file database (an SQLite driver's Database=): "fil " and the file's
//     full final path as `finalPath` gives it (the platform resolves ".",
//     "..", links and letter case), upper-cased;
//   - a database server (Server=/Servername=, with Port= when given, and
//     Database=): "server " + server + ", databas " + database, both
//     upper-cased, a PostgreSQL port of 5432 the same as none;
//   - a data source name (DSN=): "datakälla " + the name, upper-cased;
//   - anything else: "anslutning " + the string's attributes, upper-cased and
//     sorted, without those that do not choose the database (the login,
//     time-outs and the program's own tuning).
// Attributes such as Timeout, UID, PWD, or blanks and a trailing ";" never
// change the identity.
std::wstring DatabaseIdentity(std::wstring_view odbcConnectionString,
                              const std::function<std::wstring(std::wstring_view)>& finalPath);

// A short fixed-length name for the identity (16 hexadecimal digits of a
// 64-bit FNV-1a hash of its text), for a system object's name.
std::wstring IdentityHash(std::wstring_view identity);

}  // namespace tolmar::db
