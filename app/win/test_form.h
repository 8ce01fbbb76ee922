// Test mode: the operator's lookup form `TForm1` and the returned-XML viewer
// `TfrmXML`.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "tools/win/layout.h"

namespace tolmar {
class UserMessages;
}

namespace tolmar::win {

class RegisterSession;

// Shows the lookup form modally (owned by the application window); returns
// when the operator closes it. Its lookups are the session's, and its viewer
// shows the session's store. An unattended start never shows them.
void ShowTestForm(UserMessages& messages, RegisterSession& registerSession);

// Shows `text` (the returned-XML store's) in the viewer, modally.
void ShowXmlViewer(UserMessages& messages, HWND owner, const std::wstring& text);

inline constexpr std::wstring_view kNoTestFormText = L"Testläget visas inte i obevakat läge.";

// The fonts of the form and the viewer, as their dialog templates name them.
inline constexpr DialogFont kTestFormFont{L"MS Sans Serif", 8};
inline constexpr DialogFont kXmlViewerFont{L"Tahoma", 8};

// Place the controls of the form (IDD_TESTFORM, its texts set) and of the
// viewer (IDD_XMLVIEWER) and size the window for `dpi`, with `font` (made
// for that DPI): the 96-DPI layout scaled, and widened where a text needs
// it. Centred on the screen, or with the top left at `*topLeft`.
void LayOutTestForm(HWND dialog, HFONT font, UINT dpi, const POINT* topLeft = nullptr);
void LayOutXmlViewer(HWND dialog, HFONT font, UINT dpi, const POINT* topLeft = nullptr);
// Sets the form's texts that its template leaves empty.
void SetTestFormTexts(HWND dialog);

// The text as a multi-line edit field shows it: every line break as CR LF.
std::wstring WithCrLf(const std::wstring& text);

}  // namespace tolmar::win
