#include <gtest/gtest.h>

#include "tools/messages.h"
#include "tools/text.h"

using namespace tolmar;

TEST(Messages, AdviceTextsAreExact) {
    EXPECT_EQ(kRowNotLocatedText.size(), 92u);
    EXPECT_EQ(kRowNotLocatedTextSv.size(), 96u);
    EXPECT_EQ(std::wstring(kConcurrencyAdvice),
              FromUtf8("Uppgifterna kan ha ändrats av en annan användare.\r"
                       "Om möjligt, kopiera dina ändringar till klippbordet.\r\r"
                       "Tryck sedan Ångra för att se de aktuella uppgifterna."));
}

TEST(Messages, ShowErrorTable) {
    const std::wstring en(kRowNotLocatedText), sv(kRowNotLocatedTextSv), advice(kConcurrencyAdvice);
    const std::wstring prefix = FromUtf8("Det gick inte att söka i befolkningsregistret!\r\r");
    struct Case {
        std::wstring text;
        BoxKind kind;
        std::wstring shown;
    };
    std::wstring lower = en;
    lower[0] = L'r';
    const Case cases[] = {
        {prefix + en, BoxKind::Warning, prefix + advice},
        {sv, BoxKind::Warning, advice},
        // both sentences: the English one, searched first, is replaced
        {sv + L" / " + en, BoxKind::Warning, sv + L" / " + advice},
        // text after the sentence stays directly after the advice
        {en + L". Provider said more.", BoxKind::Warning, advice + L". Provider said more."},
        // only the first occurrence is replaced
        {en + en, BoxKind::Warning, advice + en},
        {lower, BoxKind::Information, lower},
        {FromUtf8("Det gick inte att hämta användarnamn och lösenord till databasen!"), BoxKind::Information,
         FromUtf8("Det gick inte att hämta användarnamn och lösenord till databasen!")},
        {L"", BoxKind::Information, L""},
    };
    for (const auto& c : cases) {
        const BoxContent box = ComposeErrorBox(c.text);
        EXPECT_EQ(box.kind, c.kind) << ToUtf8(c.text);
        EXPECT_EQ(box.text, c.shown) << ToUtf8(c.text);
    }
}

TEST(Messages, Captions) {
    EXPECT_EQ(BoxCaption(BoxKind::Information), L"Information");
    EXPECT_EQ(BoxCaption(BoxKind::Warning), L"Warning");
    EXPECT_EQ(BoxCaption(BoxKind::Confirmation), L"Confirm");
}
