// Placing windows and controls in pixels, as the forms give their sizes at
// 96 DPI, scaled to the window's DPI and widened where a text needs it (the
// arithmetic is tools/form_layout.h; here the texts are measured and the
// result applied).
#pragma once

#include <windows.h>

#include "tools/form_layout.h"
#include "tools/win/unique.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace tolmar::win {

// The window's DPI: GetDpiForWindow where the system has it (Windows 10
// 1607 and later, Wine), else the screen's LOGPIXELSY.
UINT DpiOf(HWND window);

// The window's outer size for a client area of `client` at `dpi`:
// AdjustWindowRectExForDpi where the system has it, else AdjustWindowRectEx.
SIZE FrameSizeFor(HWND window, layout::Size client, UINT dpi);

// The font a dialog template's "FONT points, face" line gives at `dpi`.
struct DialogFont {
    const wchar_t* face;
    int points;
};
UniqueFont CreateDialogFont(const DialogFont& font, UINT dpi);
// A font `pixels` high at 96 DPI (the character height), at `dpi`.
UniqueFont CreatePixelFont(const wchar_t* face, int pixels, UINT dpi);

// Each side of a push button keeps this much (96-DPI pixels) between its
// frame and its text.
inline constexpr int kButtonTextMargin = 4;

// The width a control's text needs in its font at `dpi`: the text as shown
// (an "&" marks the next letter), plus a button's margins. 0 for controls
// without a text to fit: frames, edit fields, lists, and statics that wrap
// their text over more than one line.
int NeededTextWidth(HWND control, UINT dpi);

// Lays a dialog out at `dpi`: `font` (made for that DPI) on the dialog and
// every control, `form96` scaled, every text measured in that font and given
// room, the controls placed, and the window sized for the client area:
// centred on the screen, or with its top left at `*topLeft`. The controls
// of `form96` are the dialog's controls by id. Returns the form as placed.
layout::Form LayOutForDpi(HWND dialog, const layout::Form& form96, HFONT font, UINT dpi,
                          const POINT* topLeft = nullptr);

// Moves a dialog's control to client coordinates.
inline void PlaceControl(HWND dialog, int id, const layout::Rect& r) {
    MoveWindow(GetDlgItem(dialog, id), r.x, r.y, r.w, r.h, FALSE);
}

}  // namespace tolmar::win
