// register/ is the population register: the regional register of persons
// that the program looks patients up in (SOAP, played in tests by
// register-sim), never the Windows registry (that is tools/win/registry.*).
//
// Reading the register's answer to GetPerson into a person record, and the
// error texts of a failed lookup. Nothing here talks to the register or the
// platform: the lookup itself (settings, SOAP call, XML check, returned-XML
// store) calls these with the answer text it got.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "register/person_record.h"

namespace tolmar {

// The town text in place of a protected person's town: the register's
// secrecy mark, the address lines and postal code emptied with it.
inline constexpr std::wstring_view kSecretTown = L"SEKRETESS MÄRKT";

struct PersonAnswer {
    // ReturnCode::Found, ReturnCode::NotFound, or ReturnCode::Failure when the
    // answer has a person element that names no one (`failure` says so).
    std::int32_t ReturnCode = ReturnCode::NotFound;
    std::wstring failure;
    // Filled when ReturnCode is Found, otherwise all empty. PersonalNumber is
    // the caller's input and is never set here.
    PersonRecord Record;
};

// Reads the result text R of GetPerson:
//  - Every "¤" and control character of R is made a blank before anything is
//    read from it, so no value can add or end a field of the host record.
//  - R without "PersonInfo" (exact case, anywhere) holds no person: NotFound.
//  - An answer with more than one person element (PersonInfo, in any
//    letter case) is about more than one person: Failure.
//  - Otherwise P is the text of the PersonInfo element and the relation text
//    is taken from the whole of R. A person element that holds neither a
//    surname nor a first name names no one: Failure, so that an empty or
//    mistaken answer is never taken for a person whose fields are all empty.
//    P names the tag family: the cn family when its lower-cased text
//    contains "cn_fname", the PO family otherwise.
//  - A person element that names a personal number (cn_pnr or PO_PNR, every
//    one of them) must name `askedNumber` (SamePersonalNumber): an answer
//    about another person is a Failure, never a record. The one exception
//    is a cn answer whose status code is "GN": the number asked for is an
//    old number of this person, and the answer names the new one. An answer
//    that names no number is taken as it is.
//  - The fields are cut out of P (tags matched without regard to case, their
//    text copied as it stands, character references included); the cn family
//    folds its status code into PostTown, both families fold a secrecy mark
//    "J" into PostTown ("SEKRETESS MÄRKT") and empty the address lines and
//    postal code; FirstName, MiddleName, Surname, Address1, Address2,
//    PostNumber, PostTown and Status are trimmed; Sex, Relation and AllaNamn
//    are kept as they stand. Only then are the values cut to the capacities.
//
// `workingText` follows the stage reached, for the returned-XML store's error
// text: R on entry, P once the person part has been cut out. It is updated
// before the next step runs, so it is right also when an error escapes.
PersonAnswer ReadPersonAnswer(std::wstring R, std::wstring_view askedNumber, std::wstring& workingText);

// Same, for callers that need no working text.
PersonAnswer ReadPersonAnswer(std::wstring_view R, std::wstring_view askedNumber);

// The given names in use of a PO-family answer, from the texts of PO_DNAME
// (the marking), PO_FNAME (all given names) and PO_NAME, untrimmed as cut out.
// The marking names word positions 1 to 12 of the trimmed given names; words
// end at a blank, a comma or a hyphen, but the twelfth word runs to the end.
// Without a marking, or when no marked word is found, PO_NAME is taken, or
// PO_FNAME when PO_NAME is empty.
std::wstring FirstNameFromMarking(std::wstring_view dname, std::wstring_view fname,
                                  std::wstring_view name);

// The last-error strings of the register service, as left by the most recent
// reply that carried an error header (empty when none has arrived).
struct LastErrorTexts {
    std::wstring_view Module;
    std::wstring_view Function;
    std::wstring_view Description;
};

// `errms` of a failed lookup: the error's message, CR LF, "Fel i ", module,
// ".", function, ": ", description.
std::wstring ComposeErrms(std::wstring_view message, const LastErrorTexts& lastError);

// The returned-XML store's text after a failed lookup: the working text (empty
// when the call itself failed), CR LF, then the same text as errms.
std::wstring ComposeStoreErrorText(std::wstring_view workingText, std::wstring_view message,
                                   const LastErrorTexts& lastError);

}  // namespace tolmar
