// The texts and rules behind the program's message boxes. The boxes
// themselves are shown by tools/win/messages_win.*.
#pragma once

#include <string>
#include <string_view>

namespace tolmar {

enum class BoxKind { Information, Warning, Confirmation };

// The database's wording for a row that someone else changed since it was
// read, in English and Swedish. ShowError replaces either by advice.
inline constexpr std::wstring_view kRowNotLocatedText =
    L"Row cannot be located for updating. Some values may have been changed since it was last read";
inline constexpr std::wstring_view kRowNotLocatedTextSv =
    L"Det gick inte att hitta raden för uppdatering. Vissa värden kan ha ändrats sedan den lästes sist";
inline constexpr std::wstring_view kConcurrencyAdvice =
    L"Uppgifterna kan ha ändrats av en annan användare.\r"
    L"Om möjligt, kopiera dina ändringar till klippbordet.\r\r"
    L"Tryck sedan Ångra för att se de aktuella uppgifterna.";

// Name of the message that asks the suite's progress window to step back.
inline constexpr std::wstring_view kInactivateProgressMessageName = L"NV_INACTIVATE_PROGRESSAPP";
inline constexpr std::wstring_view kProgressWindowClass = L"TProgressFormG4";

struct BoxContent {
    BoxKind kind;
    std::wstring text;
};

// What ShowError shows for `text`: the first row-not-located sentence
// (English searched first, then Swedish) replaced by the advice, as a
// warning; any other text unchanged, as information.
BoxContent ComposeErrorBox(std::wstring_view text);

// The platform's standard caption of each box kind.
std::wstring_view BoxCaption(BoxKind kind);

}  // namespace tolmar
