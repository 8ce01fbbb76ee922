// The rules behind the data-provider chooser's list: which row is the
// default, which row to select, how a row is painted, and which names a new
// data-link file may have. The dialog itself is tools/win/db/data_providers_dialog.*.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/text.h"

namespace tolmar::db {

// Colours as 0x00BBGGRR, the layout of a Windows COLORREF.
using Rgb = std::uint32_t;
constexpr Rgb MakeRgb(unsigned r, unsigned g, unsigned b) { return r | (g << 8) | (b << 16); }
inline constexpr Rgb kDefaultRowText = MakeRgb(0, 128, 0);              // green
inline constexpr Rgb kSelectedRowBackground = MakeRgb(192, 192, 192);  // silver
inline constexpr Rgb kRowBackground = MakeRgb(255, 255, 255);          // white

// The default provider's name out of the stored setting, which may be a bare
// file name or a full path: its file-name part (after the last "\" or ":").
inline std::wstring DefaultProviderName(std::wstring_view storedSetting) {
    return FileNamePart(storedSetting, kBackslashOrColon);
}

// Row texts and names compare without regard to case (the user's locale).
bool SameProviderName(std::wstring_view a, std::wstring_view b);

// The first row equal to `name` without regard to case; nullopt when none.
std::optional<size_t> FindProviderRow(const std::vector<std::wstring>& rows, std::wstring_view name);

struct RowPaint {
    Rgb text;
    Rgb background;
    bool operator==(const RowPaint&) const = default;
};

// How a row is painted: green text for the default row, else the
// highlight-text colour when selected and the list's text colour otherwise;
// silver behind a selected row, white behind the others.
RowPaint PaintForRow(bool selected, bool isDefault, Rgb listText, Rgb highlightText);

// Why `name` + ".udl" cannot be a file name in the data-link folder (a
// character Windows does not allow in file names, a device name such as CON
// or NUL, or too long), as a message for the user; nullopt when it can.
// The empty name is allowed: it makes the file ".udl".
std::optional<std::wstring> ProviderNameProblem(std::wstring_view name);

}  // namespace tolmar::db
