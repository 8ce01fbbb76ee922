// Placing windows and controls in pixels, as the forms give their sizes.
#pragma once

#include <windows.h>

namespace tolmar::win {

// Sizes the window so that its client area is width x height pixels and
// centres it on the screen.
inline void SizeClientCentred(HWND window, int width, int height) {
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    SetWindowPos(window, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w,
                 h, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Moves a dialog's control to client coordinates.
inline void PlaceControl(HWND dialog, int id, int x, int y, int w, int h) {
    MoveWindow(GetDlgItem(dialog, id), x, y, w, h, FALSE);
}

}  // namespace tolmar::win
