#include "app/win/test_form.h"

#include <cstdint>

#include "app/win/resource.h"
#include "register/person_record.h"
#include "register/win/person_lookup.h"
#include "register/win/register_session.h"
#include "tools/win/layout.h"

namespace tolmar::win {
namespace {

constexpr int kFormClientWidth = 386;
constexpr int kFormClientHeight = 434;
constexpr int kViewerClientWidth = 661;
constexpr int kViewerClientHeight = 556;
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

void LayOutTestForm(HWND dialog) {
    SizeClientCentred(dialog, kFormClientWidth, kFormClientHeight);
    int label = IDC_LABEL_FIRST;
    PlaceControl(dialog, label++, 16, 19, 60, kLabelHeight);
    PlaceControl(dialog, IDC_RETURN_CODE, 80, 16, 201, kEditHeight);
    PlaceControl(dialog, label++, 16, 51, 60, kLabelHeight);
    PlaceControl(dialog, IDC_PERSONAL_NUMBER, 80, 48, 201, kEditHeight);
    PlaceControl(dialog, IDC_SEARCH, 288, 46, 75, kButtonHeight);
    PlaceControl(dialog, IDC_PERSON_GROUP, kGroupLeft, kGroupTop, 369, 305);
    for (const PersonField& f : kPersonFields) {
        const int labelId = label++;
        PlaceControl(dialog, labelId, kGroupLeft + 16, kGroupTop + f.top + 3, 56, kLabelHeight);
        SetDlgItemTextW(dialog, labelId, f.label);
        PlaceControl(dialog, f.id, kGroupLeft + 72, kGroupTop + f.top, f.width, kEditHeight);
    }
    PlaceControl(dialog, IDC_BUTTON_RULE, 8, 392, 369, 2);
    PlaceControl(dialog, IDC_SHOW_XML, 15, 403, 75, kButtonHeight);
    PlaceControl(dialog, IDC_QUIT, 288, 403, 75, kButtonHeight);
    SetDlgItemTextW(dialog, IDC_SEARCH, L"&Sök");
    SetDlgItemTextW(dialog, IDC_QUIT, L"&Avsluta");
    SetDlgItemTextW(dialog, IDC_RETURN_CODE, L"<Not defined>");
}

// The search of "&Sök" (and Enter): the number exactly as typed.
// The session the form was shown with.
RegisterSession& SessionOf(HWND dialog) {
    return *reinterpret_cast<RegisterSession*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

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
            LayOutTestForm(dialog);
            SetFocus(GetDlgItem(dialog, IDC_PERSONAL_NUMBER));
            return FALSE;  // the focus is set
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_SEARCH:
                    OnSearch(dialog);
                    return TRUE;
                case IDC_SHOW_XML:
                    ShowXmlViewer(dialog, SessionOf(dialog).documents().store.Text());
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

INT_PTR CALLBACK XmlViewerProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            SizeClientCentred(dialog, kViewerClientWidth, kViewerClientHeight);
            PlaceControl(dialog, IDC_XML_TEXT, 0, 0, kViewerClientWidth, kViewerClientHeight);
            const auto* text = reinterpret_cast<const std::wstring*>(lParam);
            SetDlgItemTextW(dialog, IDC_XML_TEXT, WithCrLf(*text).c_str());
            // The text opens at its start, not all selected.
            HWND memo = GetDlgItem(dialog, IDC_XML_TEXT);
            SetFocus(memo);
            SendMessageW(memo, EM_SETSEL, 0, 0);
            return FALSE;  // the focus is set
        }
        case WM_SIZE:
            PlaceControl(dialog, IDC_XML_TEXT, 0, 0, LOWORD(lParam), HIWORD(lParam));
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

void ShowTestForm(HWND owner, RegisterSession& registerSession) {
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_TESTFORM), owner, TestFormProc,
                    reinterpret_cast<LPARAM>(&registerSession));
}

void ShowXmlViewer(HWND owner, const std::wstring& text) {
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_XMLVIEWER), owner, XmlViewerProc,
                    reinterpret_cast<LPARAM>(&text));
}

}  // namespace tolmar::win
