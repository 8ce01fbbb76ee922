// Personal identity numbers as the program compares them: the number a row
// or a start parameter gives, and the number the register's answer names.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolmar {

// The form in which the program looks a stored or given number up: the text
// with its first hyphen removed ("19450101-1234" -> "194501011234").
std::wstring WithoutFirstHyphen(std::wstring text);

// The twelve digits of a personal number: blanks around it dropped and its
// first hyphen removed; nullopt unless exactly twelve ASCII digits remain.
std::optional<std::wstring> TwelveDigits(std::wstring_view text);

// Whether the register's answer, naming `answered`, is about the person
// asked for as `asked`. Both are compared as twelve digits; a text that is
// no twelve-digit number (a test number typed by hand, say) matches only
// the same text, blanks around it and its first hyphen aside. Nothing
// matches an empty number.
bool SamePersonalNumber(std::wstring_view asked, std::wstring_view answered);

}  // namespace tolmar
