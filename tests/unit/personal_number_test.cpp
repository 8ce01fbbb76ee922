#include <gtest/gtest.h>

#include "register/personal_number.h"
#include "tools/text.h"

using namespace tolmar;

TEST(PersonalNumber, TheRunsFormLosesOnlyTheFirstHyphen) {
    EXPECT_EQ(WithoutFirstHyphen(L"19450101-1234"), L"194501011234");
    EXPECT_EQ(WithoutFirstHyphen(L"1945-0101-1234"), L"19450101-1234");
    EXPECT_EQ(WithoutFirstHyphen(L""), L"");
}

TEST(PersonalNumber, AnswerAndQuestionAreComparedAsTwelveDigits) {
    struct Case {
        const wchar_t* asked;
        const wchar_t* answered;
        bool same;
    } cases[] = {
        {L"194501011234", L"194501011234", true},
        {L"19450101-1234", L"194501011234", true},   // the hyphen the run removes
        {L"194501011234", L" 19450101-1234\t", true},  // blanks around the register's value
        {L"194501011234", L"194501011235", false},
        {L"194501011234", L"4501011234", false},      // ten digits name no century
        {L"194501011234", L"450101-1234", false},
        {L"194501011234", L"1945-0101-1234", false},  // a second hyphen stays
        {L"194501011234", L"19450101123", false},
        {L"194501011234", L"1945010112345", false},
        {L"194501011234", L"١٩٤٥٠١٠١١٢٣٤", false},    // digits of another script are no ASCII digits
        {L"test-1", L"test1", true},                  // typed by hand: the same text, first hyphen aside
        {L"test-1", L"TEST1", false},
        {L"4501011234", L"194501011234", false},
        {L"", L"", false},                           // nothing matches an empty number
        {L"   ", L"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SamePersonalNumber(c.asked, c.answered), c.same)
            << "asked \"" << ToUtf8(c.asked) << "\", answered \"" << ToUtf8(c.answered) << "\"";
    EXPECT_EQ(TwelveDigits(L" 19450101-1234 "), std::optional<std::wstring>(L"194501011234"));
    EXPECT_EQ(TwelveDigits(L"19450101+1234"), std::nullopt);
}
