// What the program shows, word for word, as its users see it.
#pragma once

#include <string>

namespace e2e::texts {

inline const std::wstring kHelp =
    L"Giltiga startparametrar är:\r\r"
    L"PERSONNR:########-#### - Där # är personnumret\r"
    L"UPDATE_ALL - Gör en komplett uppdatering av den valda databasen\r"
    L"TEST_MODE - Startar programmet i testläge";

inline const std::wstring kInvalidNumber =
    L"Felaktigt personnummer!\r\r"
    L"Kontrollera att personnumret innehåller 12 tecken och inga bindestreck!";

// A lookup that failed with code -400 (the register could not be reached),
// followed by the lookup's error text.
inline const std::wstring kLookupFailedPrefix = L"Ett fel uppstod vid sökning av person!\r\rFel: -400\r";

inline const std::wstring kKunderSqlOrg = L"SELECT PATIENTNR, PERSONNR FROM KUNDER ORDER BY PERSONNR";
inline const std::wstring kKunderSqlAktiva =
    L"SELECT KUNDER.PATIENTNR, KUNDER.PERSONNR FROM KUNDER, PATREG, BEHUPPG "
    L"WHERE KUNDER.PATIENTNR = PATREG.PATIENTNR AND PATREG.LOPNR = BEHUPPG.BEHNR "
    L"AND BEHUPPG.AVREG IS NULL ORDER BY PERSONNR";

inline const std::wstring kApplicationTitle = L"Norvena AB, Tolmar";
inline const std::wstring kMainCaption = L"Loggar in...";
inline const std::wstring kSearchingCaption = L"Söker...";
inline const std::wstring kVersion = L"Version: 1.00.4 Websvc";
inline const std::wstring kSearchingText =
    std::wstring(12, L' ') + L"Söker efter personer i Mirell." + std::wstring(34, L' ') + L"Vänta...";

inline const std::wstring kDeleteFailed = L"An error occured while deleting: ";

}  // namespace e2e::texts
