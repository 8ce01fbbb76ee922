// What the program does with its first start parameter, and the texts the
// dispatcher shows. The window side lives in app/win/main_form.*.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tolmar {

enum class Job { PersonLookup, TestMode, UpdateAll, Help };

struct StartRequest {
    Job job = Job::Help;
    // PersonLookup only: the text after "PERSONNR:", its first hyphen removed.
    std::wstring number;
    // PersonLookup only: the number has exactly 12 characters and holds no
    // "¤" or control character (otherwise the lookup judges the characters).
    bool numberValid = false;
};

inline constexpr std::wstring_view kPersonMarker = L"PERSONNR:";
inline constexpr std::wstring_view kTestModeParameter = L"TEST_MODE";
inline constexpr std::wstring_view kUpdateAllParameter = L"UPDATE_ALL";
inline constexpr size_t kPersonalNumberLength = 12;

// Parameter 1 selects the job; an absent parameter is the empty text.
StartRequest ParseStartParameter(std::wstring_view parameter1);

inline constexpr std::wstring_view kApplicationTitle = L"Norvena AB, Tolmar";
inline constexpr std::wstring_view kHelpText =
    L"Giltiga startparametrar är:\r\r"
    L"PERSONNR:########-#### - Där # är personnumret\r"
    L"UPDATE_ALL - Gör en komplett uppdatering av den valda databasen\r"
    L"TEST_MODE - Startar programmet i testläge";
inline constexpr std::wstring_view kInvalidNumberText =
    L"Felaktigt personnummer!\r\r"
    L"Kontrollera att personnumret innehåller 12 tecken och inga bindestreck!";
inline constexpr std::wstring_view kDispatchFailurePrefix =
    L"Det gick inte att söka i befolkningsregistret!\r\r";

// The errors file of an update run: appPath + "errors " + date + ".txt", the
// date in the user's short format with every "/" removed.
std::wstring ErrorsFileName(std::wstring_view appPath, std::wstring_view shortDate);

// The lines of the progress list, each followed by CR LF.
std::wstring ErrorsFileText(const std::vector<std::wstring>& lines);

}  // namespace tolmar
