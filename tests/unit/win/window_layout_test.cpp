// The program's windows laid out at 100, 125, 150 and 200 %: every label's
// and button's text, in the font the window gets at that DPI, fits its
// control, and the window is at least its 96-DPI layout scaled. The windows
// are made from the program's own dialog templates and laid out by the
// program's layout functions with the DPI given, as a screen of that scale
// would have them.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/win/main_form.h"
#include "app/win/resource.h"
#include "app/win/test_form.h"
#include "tools/form_layout.h"
#include "tools/win/db/data_providers_dialog.h"
#include "tools/win/db/data_providers_resource.h"
#include "tools/win/layout.h"
#include "tools/win/unique.h"

namespace tolmar::win {
namespace {

constexpr UINT kDpis[] = {96, 120, 144, 192};

INT_PTR CALLBACK Passive(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

struct Window {
    const char* name;
    int dialogId;
    layout::Size client96;
    DialogFont font;
    std::function<void(HWND)> setTexts;
    std::function<void(HWND, HFONT, UINT)> layOut;
};

// What one control's text needs and what it has, in the control's own font.
struct Fit {
    std::string what;
    int needWidth = 0, haveWidth = 0, needHeight = 0, haveHeight = 0;
    LONG fontHeight = 0;  // of the control's font
};

std::vector<Fit> TextsOf(HWND dialog, UINT dpi) {
    std::vector<Fit> fits;
    for (HWND control = GetWindow(dialog, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
        wchar_t cls[32] = {};
        GetClassNameW(control, cls, 32);
        const auto style = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE));
        const bool isStatic = lstrcmpiW(cls, L"Static") == 0, isButton = lstrcmpiW(cls, L"Button") == 0;
        if (!isStatic && !isButton) continue;
        if (isStatic && (style & SS_TYPEMASK) >= SS_ETCHEDHORZ) continue;  // rules and frames
        std::wstring text = WindowText(control);
        if (text.empty()) continue;
        std::wstring shown;  // as drawn: "&S" is an underlined S
        for (wchar_t c : text)
            if (c != L'&') shown += c;
        RECT r{};
        GetClientRect(control, &r);
        const UniqueWindowDc dc(control);
        const auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
        LOGFONTW logFont{};
        GetObjectW(font, sizeof(logFont), &logFont);
        const HGDIOBJ previous = SelectObject(dc.get(), font);
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc.get(), &metrics);
        Fit fit{Narrow(shown) + " (" + std::to_string(GetDlgCtrlID(control)) + ")"};
        fit.haveWidth = r.right;
        fit.haveHeight = r.bottom;
        fit.fontHeight = logFont.lfHeight;
        if (isStatic && (style & SS_TYPEMASK) != SS_LEFTNOWORDWRAP && r.bottom >= 2 * metrics.tmHeight) {
            // A text that wraps: every line within the width, and all its
            // lines within the height.
            RECT need{0, 0, r.right, 0};
            DrawTextW(dc.get(), shown.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK);
            fit.needWidth = need.right;
            fit.needHeight = need.bottom;
        } else {
            SIZE extent{};
            GetTextExtentPoint32W(dc.get(), shown.c_str(), static_cast<int>(shown.size()), &extent);
            const auto type = style & BS_TYPEMASK;
            const bool pushButton = isButton && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
            if (isButton && !pushButton && type != BS_GROUPBOX) continue;
            fit.needWidth = extent.cx + (pushButton ? 2 * layout::Scale(kButtonTextMargin, static_cast<int>(dpi)) : 0);
            // A group box's caption stands on its frame; others need a line.
            fit.needHeight = type == BS_GROUPBOX && isButton ? 0 : metrics.tmAscent;
        }
        SelectObject(dc.get(), previous);
        fits.push_back(fit);
    }
    return fits;
}

const Window kWindows[] = {
    {"the progress window",
     IDD_PROGRESS_WINDOW,
     {183, 107},
     kProgressWindowFont,
     SetProgressWindowTexts,
     [](HWND w, HFONT f, UINT dpi) { LayOutProgressWindow(w, f, dpi); }},
    {"the test form",
     IDD_TESTFORM,
     {386, 434},
     kTestFormFont,
     SetTestFormTexts,
     [](HWND w, HFONT f, UINT dpi) { LayOutTestForm(w, f, dpi); }},
    {"the XML viewer",
     IDD_XMLVIEWER,
     {661, 556},
     kXmlViewerFont,
     [](HWND) {},
     [](HWND w, HFONT f, UINT dpi) { LayOutXmlViewer(w, f, dpi); }},
    {"the data-link chooser",
     IDD_DATAPROVIDERS,
     {209, 250},
     kDataProvidersFont,
     SetDataProvidersTexts,
     [](HWND w, HFONT f, UINT dpi) {
         const UniqueFont list = CreatePixelFont(L"Tahoma", 13, dpi);
         LayOutDataProviders(w, f, list.get(), dpi);
         SendMessageW(GetDlgItem(w, IDC_DP_LIST), WM_SETFONT, 0, FALSE);  // before the font goes
     }},
};

TEST(WindowLayout, EveryTextFitsItsControlAndTheWindowScalesAtEachDpi) {
    ASSERT_TRUE(RegisterProgressWindowClass());
    for (const Window& w : kWindows) {
        for (const UINT dpi : kDpis) {
            SCOPED_TRACE(std::string(w.name) + " at " + std::to_string(dpi) + " DPI");
            const UniqueWindow dialog(
                CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(w.dialogId), nullptr, Passive, 0));
            ASSERT_TRUE(dialog) << GetLastError();
            w.setTexts(dialog.get());
            const UniqueFont font = CreateDialogFont(w.font, dpi);
            w.layOut(dialog.get(), font.get(), dpi);

            // At least the 96-DPI client area scaled, unless that is more than
            // the screen has room for (the viewer, which can be sized, at 200 %).
            RECT client{}, frame{};
            ASSERT_TRUE(GetClientRect(dialog.get(), &client));
            ASSERT_TRUE(GetWindowRect(dialog.get(), &frame));
            MONITORINFO monitor{sizeof(monitor)};
            ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(dialog.get(), MONITOR_DEFAULTTONEAREST), &monitor));
            const layout::Size scaled = layout::Scale(w.client96, static_cast<int>(dpi));
            if (frame.right - frame.left < monitor.rcWork.right - monitor.rcWork.left) {
                EXPECT_GE(client.right, scaled.w);
            }
            if (frame.bottom - frame.top < monitor.rcWork.bottom - monitor.rcWork.top) {
                EXPECT_GE(client.bottom, scaled.h);
            }
            EXPECT_GE(client.right, std::min(scaled.w, 640)) << "a screen of 1024 x 768 and more";

            for (const Fit& fit : TextsOf(dialog.get(), dpi)) {
                EXPECT_EQ(fit.fontHeight, -MulDiv(w.font.points, static_cast<int>(dpi), 72))
                    << fit.what << " has not the font of this DPI";
                EXPECT_LE(fit.needWidth, fit.haveWidth) << fit.what << " is cut across";
                EXPECT_LE(fit.needHeight, fit.haveHeight) << fit.what << " is cut below";
            }
            // Every control inside the client area.
            for (HWND c = GetWindow(dialog.get(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
                RECT r{};
                GetWindowRect(c, &r);
                MapWindowPoints(nullptr, dialog.get(), reinterpret_cast<POINT*>(&r), 2);
                if (GetWindowLongPtrW(c, GWL_STYLE) & WS_VISIBLE) {
                    EXPECT_LE(r.right, client.right) << "control " << GetDlgCtrlID(c) << " sticks out";
                }
            }
        }
    }
}

}  // namespace
}  // namespace tolmar::win
