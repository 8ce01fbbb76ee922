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
    L"Det gick inte att hitta raden f\u00f6r uppdatering. Vissa v\u00e4rden kan ha \u00e4ndrats sedan den l\u00e4stes sist";
inline constexpr std::wstring_view kConcurrencyAdvice =
    L"Uppgifterna kan ha \u00e4ndrats av en annan anv\u00e4ndare.\r"
    L"Om m\u00f6jligt, kopiera dina \u00e4ndringar till klippbordet.\r\r"
    L"Tryck sedan \u00c5ngra f\u00f6r att se de aktuella uppgifterna.";

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
