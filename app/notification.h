// The record handed to the suite's host program after a lookup, and the
// texts around its delivery.
#pragma once

#include <string>
#include <string_view>

#include "register/person_record.h"

namespace tolmar {

inline constexpr wchar_t kFieldSeparator = L'¤';  // "¤", after every field
inline constexpr std::wstring_view kUpdateActivePatientMessage = L"UPDATE_ACTIVE_PATIENT";
inline constexpr size_t kAtomTextLimit = 255;

// The journal host's window classes, in the order they are looked for.
inline constexpr std::wstring_view kJournalHostClasses[] = {L"TPagesDlg", L"TBokora", L"TfrmBokora"};

inline constexpr std::wstring_view kNoVimlaText =
    L"Kunde inte finna Vimla!\r\rKontrollera att Vimla körs på datorn!";
inline constexpr std::wstring_view kNoTorvikText =
    L"Kunde inte finna Torvik32/Anvik32!\r\rKontrollera att Torvik32/Anvik32 körs på datorn!";
inline constexpr std::wstring_view kNoAtomText = L"Det gick inte att skapa meddelandet!";
inline constexpr std::wstring_view kHostDidNotAnswerText =
    L"Journalprogrammet svarade inte och tog inte emot personuppgifterna!\r\r"
    L"Kontrollera att journalprogrammet fungerar och försök igen.";
inline constexpr std::wstring_view kHostTooSlowText =
    L"Journalprogrammet svarade inte i tid!\r\r"
    L"Det kan fortfarande ta emot personuppgifterna när det svarar igen. Kontrollera att rätt person "
    L"visas i journalprogrammet innan du fortsätter.";
inline constexpr std::wstring_view kHostHungText =
    L"Journalprogrammet svarar inte!\r\r"
    L"Personuppgifterna lämnades inte över. Kontrollera att journalprogrammet fungerar och försök igen.";
inline constexpr std::wstring_view kNoRegisteredMessageText =
    L"Det uppstod ett fel när kopplingen till Tolmar gjordes!\r\r"
    L"Kopplingen till Tolmar kan därför fungera dåligt. Starta om Windows.";

// number, FirstName, Surname, Address2, Address1, PostNumber, PostTown,
// Status, Sex: each followed by "¤".
std::wstring NotificationRecord(std::wstring_view number, const PersonRecord& person);

// Whether a text is sent in an atom: it must sort after a single space
// (ordinal), so "", " " and texts beginning with a control character are not.
inline bool SendsAtom(std::wstring_view text) { return text > std::wstring_view(L" "); }

// The dispatcher's texts for a lookup that found no person or failed.
std::wstring NotFoundText(std::wstring_view number);
std::wstring LookupFailedText(int returnCode, std::wstring_view errms);

}  // namespace tolmar
