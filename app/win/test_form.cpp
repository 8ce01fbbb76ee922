#include "app/win/test_form.h"

#include <algorithm>
#include <cstdint>

#include "app/win/resource.h"
#include "register/person_record.h"
#include "register/win/person_lookup.h"
#include "register/win/register_session.h"
#include "tools/win/layout.h"
#include "tools/win/messages_win.h"
#include "tools/win/unique.h"

namespace tolmar::win {
namespace {

constexpr layout::Size kFormClient{386, 434};
constexpr layout::Size kViewerClient{661, 556};
constexpr int kEditHeight = 21;
constexpr int kButtonHeight = 25;
constexpr int kLabelHeight = 13;
constexpr int kGroupLeft = 8, kGroupTop = 80;

// A person field of the form: its control, label, place and record field.
struct PersonField {
    int id;
    const wchar_t* label;
    int top;
    int width;
    const std::wstring& (*value)(const PersonRecord&);
};

const PersonField kPersonFields[] = {
    {IDC_SEX, L"Kön:", 27, 73, [](const PersonRecord& r) -> const std::wstring& { return r.Sex.str(); }},
    {IDC_FIRST_NAME, L"Förnamn:", 50, 289, [](const PersonRecord& r) -> const std::wstring& { return r.FirstName.str(); }},
    {IDC_ALL_FIRST_NAMES, L"Alla fnamn:", 74, 289, [](const PersonRecord& r) -> const std::wstring& { return r.AllaNamn.str(); }},
    {IDC_MIDDLE_NAME, L"Mellan:", 97, 289, [](const PersonRecord& r) -> const std::wstring& { return r.MiddleName.str(); }},
    {IDC_SURNAME, L"Efternamn:", 120, 289, [](const PersonRecord& r) -> const std::wstring& { return r.Surname.str(); }},
    {IDC_ADDRESS, L"Adress:", 143, 289, [](const PersonRecord& r) -> const std::wstring& { return r.Address2.str(); }},
    {IDC_CO_ADDRESS, L"Co Adress:", 166, 289, [](const PersonRecord& r) -> const std::wstring& { return r.Address1.str(); }},
    {IDC_POST_NUMBER, L"Postnr:", 189, 89, [](const PersonRecord& r) -> const std::wstring& { return r.PostNumber.str(); }},
    {IDC_TOWN, L"Ort:", 212, 289, [](const PersonRecord& r) -> const std::wstring& { return r.PostTown.str(); }},
    {IDC_RELATION, L"Relation:", 235, 289, [](const PersonRecord& r) -> const std::wstring& { return r.Relation.str(); }},
    {IDC_STATUS, L"Status:", 272, 289, [](const PersonRecord& r) -> const std::wstring& { return r.Status.str(); }},
};

std::wstring TextOf(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The form's layout at 96 DPI: the return code and the number at the top,
// the person's fields in a group box, the buttons under a rule.
const layout::Form kLayout96 = [] {
    layout::Form form{kFormClient, {}};
    auto add = [&form](int id, layout::Rect r) { form.items.push_back({id, r}); };
    int label = IDC_LABEL_FIRST;
    add(label++, {16, 19, 60, kLabelHeight});
    add(IDC_RETURN_CODE, {80, 16, 201, kEditHeight});
    add(label++, {16, 51, 60, kLabelHeight});
    add(IDC_PERSONAL_NUMBER, {80, 48, 201, kEditHeight});
    add(IDC_SEARCH, {288, 46, 75, kButtonHeight});
    add(IDC_PERSON_GROUP, {kGroupLeft, kGroupTop, 369, 305});
    for (const PersonField& f : kPersonFields) {
        add(label++, {kGroupLeft + 16, kGroupTop + f.top + 3, 56, kLabelHeight});
        add(f.id, {kGroupLeft + 72, kGroupTop + f.top, f.width, kEditHeight});
    }
    add(IDC_BUTTON_RULE, {8, 392, 369, 2});
    add(IDC_SHOW_XML, {15, 403, 75, kButtonHeight});
    add(IDC_QUIT, {288, 403, 75, kButtonHeight});
    return form;
}();

// What one showing of the form works with.
struct TestFormState {
    RegisterSession& session;
    UserMessages& messages;
    UniqueFont font;  // the form's font at its DPI
};

TestFormState& StateOf(HWND dialog) {
    return *reinterpret_cast<TestFormState*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// Lays the form or the viewer out anew at `dpi` with a font made for that
// DPI, which `font` keeps while the window uses it.
void LayOut(HWND dialog, UniqueFont& font, const DialogFont& face, UINT dpi, const POINT* topLeft,
            void (*layOut)(HWND, HFONT, UINT, const POINT*)) {
    UniqueFont made = CreateDialogFont(face, dpi);
    layOut(dialog, made.get(), dpi, topLeft);
    font = std::move(made);  // the controls use the new font from here on
}

// The session the form was shown with.
RegisterSession& SessionOf(HWND dialog) { return StateOf(dialog).session; }

// The search of "&Sök" (and Enter): the number exactly as typed.
void OnSearch(HWND dialog) {
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    SetDlgItemTextW(dialog, IDC_RETURN_CODE, L"");
    PersonRecord person;
    person.PersonalNumber = TextOf(dialog, IDC_PERSONAL_NUMBER);
    std::int32_t returnCode = ReturnCode::Failure;
    std::wstring errms;
    LookUpPerson(SessionOf(dialog), person, returnCode, errms);
    if (returnCode == ReturnCode::Found)
        for (const PersonField& f : kPersonFields) SetDlgItemTextW(dialog, f.id, f.value(person).c_str());
    SetDlgItemTextW(dialog, IDC_RETURN_CODE, std::to_wstring(returnCode).c_str());
    SetCursor(previous ? previous : LoadCursorW(nullptr, IDC_ARROW));
}

INT_PTR CALLBACK TestFormProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            SetTestFormTexts(dialog);
            LayOut(dialog, StateOf(dialog).font, kTestFormFont, DpiOf(dialog), nullptr, LayOutTestForm);
            SetFocus(GetDlgItem(dialog, IDC_PERSONAL_NUMBER));
            return FALSE;  // the focus is set
        case WM_DPICHANGED: {
            // Moved to a screen of another scale: laid out anew for it, at
            // the place the system suggests.
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            const POINT topLeft{suggested->left, suggested->top};
            LayOut(dialog, StateOf(dialog).font, kTestFormFont, HIWORD(wParam), &topLeft, LayOutTestForm);
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_SEARCH:
                    OnSearch(dialog);
                    return TRUE;
                case IDC_SHOW_XML:
                    ShowXmlViewer(StateOf(dialog).messages, dialog, SessionOf(dialog).documents().store.Text());
                    return TRUE;
                case IDC_QUIT:
                    EndDialog(dialog, IDCANCEL);
                    return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

// What one showing of the viewer works with.
struct XmlViewerState {
    const std::wstring& text;
    UniqueFont font;  // the viewer's font at its DPI
};

INT_PTR CALLBACK XmlViewerProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            auto* state = reinterpret_cast<XmlViewerState*>(lParam);
            LayOut(dialog, state->font, kXmlViewerFont, DpiOf(dialog), nullptr, LayOutXmlViewer);
            SetDlgItemTextW(dialog, IDC_XML_TEXT, WithCrLf(state->text).c_str());
            // The text opens at its start, not all selected.
            HWND memo = GetDlgItem(dialog, IDC_XML_TEXT);
            SetFocus(memo);
            SendMessageW(memo, EM_SETSEL, 0, 0);
            return FALSE;  // the focus is set
        }
        case WM_DPICHANGED: {
            // The viewer can be sized: it takes the suggested rectangle as it
            // is, and its field follows in WM_SIZE.
            auto* state = reinterpret_cast<XmlViewerState*>(GetWindowLongPtrW(dialog, DWLP_USER));
            UniqueFont made = CreateDialogFont(kXmlViewerFont, HIWORD(wParam));
            SendMessageW(GetDlgItem(dialog, IDC_XML_TEXT), WM_SETFONT, reinterpret_cast<WPARAM>(made.get()), TRUE);
            state->font = std::move(made);
            const auto* r = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(dialog, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            return TRUE;
        }
        case WM_SIZE:
            PlaceControl(dialog, IDC_XML_TEXT, {0, 0, LOWORD(lParam), HIWORD(lParam)});
            InvalidateRect(dialog, nullptr, TRUE);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
                EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void SetTestFormTexts(HWND dialog) {
    int label = IDC_LABEL_FIRST + 2;
    for (const PersonField& f : kPersonFields) SetDlgItemTextW(dialog, label++, f.label);
    SetDlgItemTextW(dialog, IDC_SEARCH, L"&Sök");
    SetDlgItemTextW(dialog, IDC_QUIT, L"&Avsluta");
    SetDlgItemTextW(dialog, IDC_RETURN_CODE, L"<Not defined>");
}

void LayOutTestForm(HWND dialog, HFONT font, UINT dpi, const POINT* topLeft) {
    LayOutForDpi(dialog, kLayout96, font, dpi, topLeft);
}

void LayOutXmlViewer(HWND dialog, HFONT font, UINT dpi, const POINT* topLeft) {
    const layout::Form form96{kViewerClient, {{IDC_XML_TEXT, {0, 0, kViewerClient.w, kViewerClient.h}}}};
    LayOutForDpi(dialog, form96, font, dpi, topLeft);
    // At a large scale on a small screen the viewer would be bigger than the
    // screen: it is made to fit (it can be sized), its field filling it.
    MONITORINFO monitor{sizeof(monitor)};
    RECT frame{};
    if (!GetMonitorInfoW(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor) ||
        !GetWindowRect(dialog, &frame))
        return;
    const RECT& work = monitor.rcWork;
    const int w = static_cast<int>(std::min(frame.right - frame.left, work.right - work.left));
    const int h = static_cast<int>(std::min(frame.bottom - frame.top, work.bottom - work.top));
    if (w == frame.right - frame.left && h == frame.bottom - frame.top) return;
    const int x = topLeft ? topLeft->x : work.left + (work.right - work.left - w) / 2;
    const int y = topLeft ? topLeft->y : work.top + (work.bottom - work.top - h) / 2;
    SetWindowPos(dialog, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client{};
    GetClientRect(dialog, &client);
    PlaceControl(dialog, IDC_XML_TEXT, {0, 0, client.right, client.bottom});
}

std::wstring WithCrLf(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\r') {
            out += L"\r\n";
            if (i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        } else if (c == L'\n') {
            out += L"\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

void ShowTestForm(UserMessages& messages, RegisterSession& registerSession) {
    TestFormState state{registerSession, messages, {}};
    messages.ShowDialog(MAKEINTRESOURCEW(IDD_TESTFORM), messages.ApplicationWindow(), TestFormProc,
                        reinterpret_cast<LPARAM>(&state), kNoTestFormText);
}

void ShowXmlViewer(UserMessages& messages, HWND owner, const std::wstring& text) {
    XmlViewerState state{text, {}};
    messages.ShowDialog(MAKEINTRESOURCEW(IDD_XMLVIEWER), owner, XmlViewerProc, reinterpret_cast<LPARAM>(&state),
                        kNoTestFormText);
}

}  // namespace tolmar::win
