#include "tools/win/layout.h"

#include <string>

namespace tolmar::win {
namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

// A function of user32 that older Windows lacks; nullptr there.
template <typename Fn>
Fn User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The text as a static or a button shows it: "&" marks the next letter,
// "&&" is one "&".
std::wstring ShownText(const std::wstring& text) {
    std::wstring shown;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'&') {
            shown += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == L'&') {
            shown += L'&';
            ++i;
        }
    }
    return shown;
}

bool IsPushButton(HWND control) {
    wchar_t className[32] = {};
    GetClassNameW(control, className, 32);
    const auto type = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE)) & BS_TYPEMASK;
    return lstrcmpiW(className, L"Button") == 0 && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

SIZE Extent(HDC dc, const std::wstring& text) {
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size;
}

// The height the control's text needs when it wraps at the control's width.
int WrappedTextHeight(HWND control) {
    const std::wstring text = WindowText(control);
    if (text.empty()) return 0;
    RECT r{};
    GetClientRect(control, &r);
    const UniqueWindowDc dc(control);
    if (!dc.get()) return 0;
    const auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
    const SelectedObject selected(dc.get(), font);  // no font: the DC's own
    RECT needed{0, 0, r.right - r.left, 0};
    DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &needed, DT_CALCRECT | DT_WORDBREAK);
    return needed.bottom - needed.top;
}

}  // namespace

UINT DpiOf(HWND window) {
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow && window) {
        if (const UINT dpi = getDpiForWindow(window)) return dpi;
    }
    const UniqueWindowDc screen(nullptr);
    const int dpi = screen.get() ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : static_cast<UINT>(layout::kBaseDpi);
}

SIZE FrameSizeFor(HWND window, layout::Size client, UINT dpi) {
    static const auto adjustForDpi = User32Function<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
    RECT frame{0, 0, client.w, client.h};
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
    if (!adjustForDpi || !adjustForDpi(&frame, style, FALSE, exStyle, dpi))
        AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    return {frame.right - frame.left, frame.bottom - frame.top};
}

UniqueFont CreateDialogFont(const DialogFont& font, UINT dpi) {
    return UniqueFont(CreateFontW(-MulDiv(font.points, static_cast<int>(dpi), 72), 0, 0, 0, FW_NORMAL, FALSE,
                                       FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, font.face));
}

UniqueFont CreatePixelFont(const wchar_t* face, int pixels, UINT dpi) {
    return UniqueFont(CreateFontW(-layout::Scale(pixels, static_cast<int>(dpi)), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                       FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                       DEFAULT_PITCH | FF_SWISS, face));
}

int NeededTextWidth(HWND control, UINT dpi) {
    wchar_t className[32] = {};
    GetClassNameW(control, className, 32);
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE));
    const bool isStatic = lstrcmpiW(className, L"Static") == 0;
    const bool isButton = lstrcmpiW(className, L"Button") == 0;
    if (!isStatic && !isButton) return 0;
    int margin = 0;
    bool prefix = true;
    if (isStatic) {
        const DWORD type = style & SS_TYPEMASK;
        if (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT && type != SS_LEFTNOWORDWRAP && type != SS_SIMPLE)
            return 0;  // frames, rules, icons
        prefix = (style & SS_NOPREFIX) == 0;
    } else {
        const DWORD type = style & BS_TYPEMASK;
        if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON)
            margin = 2 * layout::Scale(kButtonTextMargin, static_cast<int>(dpi));
        else if (type == BS_GROUPBOX)
            margin = 2 * layout::Scale(kButtonTextMargin + 4,
                                       static_cast<int>(dpi));  // the frame's corner beside the caption
        else
            return 0;
    }
    const std::wstring text = WindowText(control);
    if (text.empty()) return 0;
    const std::wstring shown = prefix ? ShownText(text) : text;
    const UniqueWindowDc dc(control);
    if (!dc.get()) return 0;
    const auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
    const SelectedObject selected(dc.get(), font);  // no font: the DC's own
    const SIZE extent = Extent(dc.get(), shown);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc.get(), &metrics);
    if (isStatic) {
        // A static that wraps its text over several lines fits it by
        // wrapping; only single-line statics are widened.
        const DWORD type = style & SS_TYPEMASK;
        RECT r{};
        GetClientRect(control, &r);
        if (type != SS_LEFTNOWORDWRAP && type != SS_SIMPLE && metrics.tmHeight > 0 &&
            r.bottom - r.top >= 2 * metrics.tmHeight)
            return 0;
    }
    return static_cast<int>(extent.cx) + margin;
}

layout::Form LayOutForDpi(HWND dialog, const layout::Form& form96, HFONT font, UINT dpi, const POINT* topLeft) {
    const int scaledDpi = static_cast<int>(dpi);
    layout::Form form = layout::Scale(form96, scaledDpi);
    SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    // Measured in place: a static's wrapping depends on its height at this DPI.
    for (layout::Item& item : form.items) {
        HWND control = GetDlgItem(dialog, item.id);
        PlaceControl(dialog, item.id, item.rect);
        if (item.wrapsInto || item.growsDown)
            item.textHeight = control ? WrappedTextHeight(control) : 0;
        else
            item.textWidth = control ? NeededTextWidth(control, dpi) : 0;
        item.fixedWidth = item.fixedWidth || (control && IsPushButton(control));
    }
    form = layout::MakeRoom(std::move(form));
    for (const layout::Item& item : form.items) PlaceControl(dialog, item.id, item.rect);

    const SIZE frame = FrameSizeFor(dialog, form.client, dpi);
    const int x = topLeft ? topLeft->x : (GetSystemMetrics(SM_CXSCREEN) - frame.cx) / 2;
    const int y = topLeft ? topLeft->y : (GetSystemMetrics(SM_CYSCREEN) - frame.cy) / 2;
    SetWindowPos(dialog, nullptr, x, y, frame.cx, frame.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    // A window on the screen is drawn anew, the dialog first, then its
    // controls over it (one still hidden is drawn when it is shown).
    if (IsWindowVisible(dialog)) RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    return form;
}

}  // namespace tolmar::win
