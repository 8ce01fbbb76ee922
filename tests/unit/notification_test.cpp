#include <gtest/gtest.h>

#include "app/notification.h"
#include "tools/text.h"

using namespace tolmar;

TEST(Notification, NineFieldsEachFollowedByTheSeparator) {
    PersonRecord p;
    p.FirstName = L"Anna Maria";
    p.MiddleName = L"never sent";
    p.Surname = L"Lindqvist";
    p.Address2 = L"Storgatan 12 B";
    p.Address1 = L"c/o Berg";
    p.PostNumber = L"90325";
    p.PostTown = L"UMEÅ";
    p.Status = L"";
    p.Sex = L"K";
    p.Relation = L"<Rel/>";
    p.AllaNamn = L"Anna Maria";
    EXPECT_EQ(NotificationRecord(L"194501011234", p),
              FromUtf8("194501011234¤Anna Maria¤Lindqvist¤Storgatan 12 B¤c/o Berg¤90325¤UMEÅ¤¤K¤"));
}

TEST(Notification, DeceasedOrProtectedPersonsHaveConsecutiveSeparators) {
    PersonRecord p;
    p.FirstName = L"Karl";
    p.Surname = L"Öberg";
    p.PostTown = L"AVLIDEN";
    p.Status = L"AV";
    EXPECT_EQ(NotificationRecord(L"193212129876", p), FromUtf8("193212129876¤Karl¤Öberg¤¤¤¤AVLIDEN¤AV¤¤"));
}

TEST(Notification, AFieldEndsAtItsFirstNul) {
    PersonRecord p;
    p.FirstName = std::wstring(L"Ann\0a", 5);
    EXPECT_EQ(NotificationRecord(L"1", p), FromUtf8("1¤Ann¤¤¤¤¤¤¤¤"));
}

TEST(Notification, OnlyTextsAfterASpaceTravelInAnAtom) {
    EXPECT_FALSE(SendsAtom(L""));
    EXPECT_FALSE(SendsAtom(L" "));
    EXPECT_FALSE(SendsAtom(L"\tx"));
    EXPECT_TRUE(SendsAtom(L"  "));  // sorts after a single space
    EXPECT_TRUE(SendsAtom(L"!"));
    EXPECT_TRUE(SendsAtom(L"1¤"));
}

TEST(Notification, LookupOutcomeTexts) {
    EXPECT_EQ(NotFoundText(L"191212121212"), FromUtf8("Kunde inte hitta någon person med personnummer 191212121212!"));
    EXPECT_EQ(LookupFailedText(-400, L"boom\r\nFel i M.F: D"),
              FromUtf8("Ett fel uppstod vid sökning av person!\r\rFel: -400\rboom\r\nFel i M.F: D"));
}
