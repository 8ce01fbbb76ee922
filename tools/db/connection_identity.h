// A short name of a database connection, for telling the runs on one
// database apart from those on another.
#pragma once

#include <string>
#include <string_view>

namespace tolmar {

// A hash of the upper-cased connection string, in hex (16 digits).
std::wstring ConnectionIdentity(std::wstring_view connectionString);

}  // namespace tolmar
