// Whether a file's long name fits a wildcard mask such as "*.err".
//
// The platform's wildcard search also matches a file's 8.3 short name:
// "*.err" finds "notes.error" (short name "NOTES~1.ERR") and "*.udl" finds
// "clinic.udlx". Every result of such a search is therefore checked again
// against its long name with this rule.
#pragma once

#include <string_view>

namespace tolmar {

// "*" stands for any run of characters (also none), "?" for exactly one;
// every other character stands for itself, without regard to letter case
// (the user's locale). A mask of "*" or "*.*" fits every name.
bool LongNameFitsMask(std::wstring_view name, std::wstring_view mask);

}  // namespace tolmar
