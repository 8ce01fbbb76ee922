// The data-provider chooser `TfrmDataProviders`: a modal dialog listing the
// data-link (.udl) files of the data-link folder, in which the user picks
// one, marks one as the default, creates, edits or deletes one. The rules of
// its list are portable (tools/db/provider_list.h); this is the window.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "tools/environment.h"
#include "tools/win/layout.h"
#include "tools/win/messages_win.h"

namespace tolmar::win {

// Opens a data-link file in the platform's data-link editor and returns at
// once, without waiting for the editor; `folder` is the data-link folder.
using OpenInEditor = std::function<void(HWND owner, const std::wstring& path, const std::wstring& folder)>;

// ShellExecuteW "open" on the file, with the data-link folder as working
// folder; what it returns is not examined.
void OpenWithShell(HWND owner, const std::wstring& path, const std::wstring& folder);

struct DataProvidersDialogData {
    // The key in section "DataProvider" of the settings that names the
    // default data-link file ("DefaultDataProvider").
    std::wstring IniTextPosition;
    // How "Lägg till..." and "Redigera..." open a file.
    OpenInEditor openEditor = OpenWithShell;
    // After IDOK: the text of the selected row.
    std::wstring chosen;
};

// Shows the chooser modally over env.dataLinksPath, its boxes through
// `messages`. IDOK when the user pressed "OK" with a row selected
// (env.providerPart is then emptied and data.chosen set); IDCANCEL for every
// other way of closing it. Throws Error when the dialog cannot be made.
INT_PTR ShowDataProvidersDialog(HWND owner, Environment& env, UserMessages& messages, DataProvidersDialogData& data);

// The chooser's font, as its dialog template names it.
inline constexpr DialogFont kDataProvidersFont{L"Tahoma", 8};

// Places the chooser's controls (IDD_DATAPROVIDERS, its texts set) and sizes
// it for `dpi`, with `dialogFont` and the list's `listFont` (made for that
// DPI): the 96-DPI layout and row height scaled, and widened where a text
// needs it. Centred on the screen, or with its top left at `*topLeft`.
void LayOutDataProviders(HWND dialog, HFONT dialogFont, HFONT listFont, UINT dpi, const POINT* topLeft = nullptr);
// Sets the chooser's texts with Swedish letters, which its template leaves empty.
void SetDataProvidersTexts(HWND dialog);

// The text-input box: a caption, a prompt and one line of text. True when the
// user confirmed; `text` then holds what was typed, unchanged.
inline constexpr std::wstring_view kNoChooserText = L"Valet av datalänkfil visas inte i obevakat läge.";

bool InputQuery(UserMessages& messages, HWND owner, const std::wstring& caption, const std::wstring& prompt,
                std::wstring& text);

}  // namespace tolmar::win
