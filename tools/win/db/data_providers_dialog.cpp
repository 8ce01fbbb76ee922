#include "tools/win/db/data_providers_dialog.h"

#include <shellapi.h>
#include <shlobj.h>

#include <optional>
#include <vector>

#include "tools/db/connect_database.h"
#include "tools/db/provider_list.h"
#include "tools/environment.h"
#include "tools/error.h"
#include "tools/file_mask.h"
#include "tools/win/db/data_providers_resource.h"
#include "tools/win/layout.h"
#include "tools/win/messages_win.h"
#include "tools/win/registry.h"
#include "tools/win/system_text.h"
#include "tools/win/unique.h"

namespace tolmar::win {
namespace {

constexpr int kRowHeight = 17;       // at 96 DPI
constexpr int kListFontHeight = 13;  // Tahoma 10 point at 96 DPI
constexpr std::wstring_view kSection = db::kDataProviderSection;
constexpr const wchar_t* kNoSelectionText = L"Välj en DataProvider först!";

// What one showing of the dialog works with.
struct DialogState {
    DataProvidersDialogData& data;
    Environment& env;
    UserMessages& messages;
    UniqueFont dialogFont;  // the dialog's font at its DPI
    UniqueFont listFont;    // the list's rows at its DPI
    // The file last added or opened for editing: the user comes back from the
    // editor to it, so it stays selected when the list is refilled.
    std::optional<std::wstring> touched;
};

HWND List(HWND dialog) { return GetDlgItem(dialog, IDC_DP_LIST); }

std::wstring RowText(HWND list, int row) {
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(row), 0);
    if (length == LB_ERR) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT got = SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got == LB_ERR ? 0 : static_cast<size_t>(got));
    return text;
}

// The default provider's name, read from the settings every time.
std::wstring DefaultName(const DialogState& state) {
    return db::DefaultProviderName(ReadSetting(state.env, kSection, state.data.IniTextPosition));
}

// Refills the list from the data-link folder and selects the row of
// `selectName`, else the row of `otherwise`, else none.
void FillProviderList(HWND dialog, const Environment& env, const std::wstring& selectName,
                      const std::wstring& otherwise = L"") {
    HWND list = List(dialog);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    std::vector<std::wstring> rows;
    WIN32_FIND_DATAW entry;
    UniqueFind entries(FindFirstFileW((env.dataLinksPath + L"*.udl").c_str(), &entry));
    if (entries) {
        do {
            // Only long names count: "clinic.udlx" matches by its short name.
            if (LongNameFitsMask(entry.cFileName, L"*.udl")) rows.emplace_back(entry.cFileName);
        } while (FindNextFileW(entries.get(), &entry));
    }
    for (const std::wstring& row : rows) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
    std::optional<size_t> selected = db::FindProviderRow(rows, selectName);
    if (!selected && !otherwise.empty()) selected = db::FindProviderRow(rows, otherwise);
    SendMessageW(list, LB_SETCURSEL, selected ? static_cast<WPARAM>(*selected) : static_cast<WPARAM>(-1), 0);
}

// The selected row, or nullopt after telling the user to select one.
std::optional<std::wstring> SelectedRow(HWND dialog, UserMessages& messages) {
    HWND list = List(dialog);
    const LRESULT row = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (row == LB_ERR) {
        messages.ShowInfo(kNoSelectionText);
        SetFocus(list);
        return std::nullopt;
    }
    return RowText(list, static_cast<int>(row));
}

// The dialog's layout at 96 DPI: the group box with the action buttons in a
// frame and the list, and OK and "Avbryt" in a frame below.
const layout::Form kLayout96{
    {209, 250},
    {
        {IDC_DP_BUTTON_PANEL, {0, 212, 209, 38}},
        {IDC_DP_OK, {54, 218, 75, 25}},
        {IDC_DP_CANCEL, {128, 218, 75, 25}},
        {IDC_DP_GROUP, {0, 0, 209, 212}},
        {IDC_DP_ACTION_PANEL, {2, 15, 205, 64}},
        {IDC_DP_ADD, {7, 19, 97, 25}},
        {IDC_DP_EDIT, {109, 19, 93, 25}},
        {IDC_DP_SET_DEFAULT, {7, 48, 97, 25}},
        {IDC_DP_DELETE, {109, 48, 93, 25}},
        {IDC_DP_LIST_LABEL, {2, 82, 205, 13}},
        {IDC_DP_LIST, {2, 96, 205, 114}},
    }};

// Lays the dialog out anew at `dpi`, with fonts made for it.
void LayOut(HWND dialog, DialogState& state, UINT dpi, const POINT* topLeft) {
    UniqueFont dialogFont = CreateDialogFont(kDataProvidersFont, dpi);
    UniqueFont listFont = CreatePixelFont(L"Tahoma", kListFontHeight, dpi);
    LayOutDataProviders(dialog, dialogFont.get(), listFont.get(), dpi,
                        topLeft);
    state.dialogFont = std::move(dialogFont);  // the controls use the new fonts from here on
    state.listFont = std::move(listFont);
}

void DrawRow(const DRAWITEMSTRUCT& item, const DialogState& state) {
    HDC dc = item.hDC;
    RECT rect = item.rcItem;
    if (item.itemID == static_cast<UINT>(-1)) {  // an empty list with the focus
        if (item.itemState & ODS_FOCUS) DrawFocusRect(dc, &rect);
        return;
    }
    const std::wstring text = RowText(item.hwndItem, static_cast<int>(item.itemID));
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    const db::RowPaint paint = db::PaintForRow(selected, db::SameProviderName(text, DefaultName(state)),
                                               GetSysColor(COLOR_WINDOWTEXT), GetSysColor(COLOR_HIGHLIGHTTEXT));
    const UniqueBrush brush(CreateSolidBrush(paint.background));
    FillRect(dc, &rect, brush.get());
    {
        const SelectedObject font(dc, state.listFont.get());
        SetTextColor(dc, paint.text);
        SetBkMode(dc, TRANSPARENT);
        const int inset = layout::Scale(2, static_cast<int>(DpiOf(item.hwndItem)));
        TextOutW(dc, rect.left + inset, rect.top + inset, text.c_str(), static_cast<int>(text.size()));
    }
    if (item.itemState & ODS_FOCUS) DrawFocusRect(dc, &rect);
}

// "Lägg till...": a new data-link file, opened in the editor. A name that
// exists already opens that file as it is: it is never emptied.
void AddProvider(HWND dialog, DialogState& state) {
    std::wstring name;
    if (!InputQuery(state.messages, dialog, L"Ny DataProvider", L"DataProviderns namn:", name)) return;
    if (const std::optional<std::wstring> problem = db::ProviderNameProblem(name)) {
        state.messages.ShowInfo(*problem);
        return;
    }
    std::wstring folder = state.env.dataLinksPath;
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    if (!DirectoryExists(folder)) SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    const std::wstring fileName = name + L".udl", path = state.env.dataLinksPath + fileName;
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_EXISTS) {
            state.messages.ShowError(L"Det gick inte att skapa DataProvider-filen \"" + path + L"\"!\r\r" +
                                     SystemErrorTextShort(code));
            return;
        }
    }
    file.reset();
    state.touched = fileName;
    state.data.openEditor(dialog, path, state.env.dataLinksPath);
    FillProviderList(dialog, state.env, fileName);
}

void DeleteProvider(HWND dialog, DialogState& state, const std::wstring& row) {
    if (state.messages.AskYesNo(L"Radera DataProvider-filen " + row) != IDYES) return;
    DeleteFileW((state.env.dataLinksPath + row).c_str());
    state.touched.reset();
    FillProviderList(dialog, state.env, L"");
}

void Command(HWND dialog, DialogState& state, int id, int code) {
    switch (id) {
        case IDC_DP_OK:
            if (const auto row = SelectedRow(dialog, state.messages)) {
                state.env.providerPart.clear();
                state.data.chosen = *row;
                EndDialog(dialog, IDOK);
            }
            break;
        case IDC_DP_CANCEL:
            EndDialog(dialog, IDCANCEL);
            break;
        case IDC_DP_SET_DEFAULT:
            if (const auto row = SelectedRow(dialog, state.messages)) {
                WriteSetting(state.env, kSection, state.data.IniTextPosition, *row);
                RedrawWindow(List(dialog), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
            }
            break;
        case IDC_DP_ADD:
            AddProvider(dialog, state);
            break;
        case IDC_DP_EDIT:
            if (const auto row = SelectedRow(dialog, state.messages)) {
                state.touched = *row;
                state.data.openEditor(dialog, state.env.dataLinksPath + *row, state.env.dataLinksPath);
            }
            break;
        case IDC_DP_DELETE:
            if (const auto row = SelectedRow(dialog, state.messages)) DeleteProvider(dialog, state, *row);
            break;
        case IDC_DP_LIST:
            if (code == LBN_DBLCLK) Command(dialog, state, IDC_DP_EDIT, BN_CLICKED);
            break;
    }
}

INT_PTR CALLBACK DataProvidersProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            state = reinterpret_cast<DialogState*>(lParam);
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            SetDataProvidersTexts(dialog);
            LayOut(dialog, *state, DpiOf(dialog), nullptr);
            return TRUE;
        case WM_DPICHANGED:
            // Moved to a screen of another scale: laid out anew for it, at
            // the place the system suggests.
            if (state) {
                const auto* suggested = reinterpret_cast<const RECT*>(lParam);
                const POINT topLeft{suggested->left, suggested->top};
                LayOut(dialog, *state, HIWORD(wParam), &topLeft);
            }
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 0);
            return TRUE;
        case WM_MEASUREITEM: {  // sent while the list is created, before WM_INITDIALOG
            auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
            if (measure->CtlID != IDC_DP_LIST) return FALSE;
            measure->itemHeight = static_cast<UINT>(layout::Scale(kRowHeight, static_cast<int>(DpiOf(dialog))));
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (!state || item->CtlID != IDC_DP_LIST) return FALSE;
            DrawRow(*item, *state);
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        case WM_ACTIVATE:
            // Each activation rebuilds the list (the editor may have added or
            // changed files) and selects the file the user last added or
            // edited, else the default file.
            if (state && LOWORD(wParam) != WA_INACTIVE)
                FillProviderList(dialog, state->env, state->touched.value_or(L""), DefaultName(*state));
            return FALSE;
        case WM_COMMAND:
            if (!state) return FALSE;
            Command(dialog, *state, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        default:
            return FALSE;
    }
}

struct InputQueryData {
    const std::wstring& caption;
    const std::wstring& prompt;
    std::wstring& text;
};

INT_PTR CALLBACK InputQueryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            const auto* data = reinterpret_cast<const InputQueryData*>(lParam);
            SetWindowTextW(dialog, data->caption.c_str());
            SetDlgItemTextW(dialog, IDC_NP_PROMPT, data->prompt.c_str());
            SetDlgItemTextW(dialog, IDC_NP_EDIT, data->text.c_str());
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                auto* data = reinterpret_cast<InputQueryData*>(GetWindowLongPtrW(dialog, DWLP_USER));
                HWND edit = GetDlgItem(dialog, IDC_NP_EDIT);
                std::wstring typed(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
                typed.resize(static_cast<size_t>(GetWindowTextW(edit, typed.data(), static_cast<int>(typed.size()))));
                data->text = std::move(typed);
                EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void SetDataProvidersTexts(HWND dialog) {
    SetDlgItemTextW(dialog, IDC_DP_SET_DEFAULT, L"Välj som standard");
    SetDlgItemTextW(dialog, IDC_DP_ADD, L"Lägg till...");
}

void LayOutDataProviders(HWND dialog, HFONT dialogFont, HFONT listFont, UINT dpi, const POINT* topLeft) {
    HWND list = List(dialog);
    SendMessageW(list, LB_SETITEMHEIGHT, 0, layout::Scale(kRowHeight, static_cast<int>(dpi)));
    LayOutForDpi(dialog, kLayout96, dialogFont, dpi, topLeft);
    SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(listFont), IsWindowVisible(dialog));
}

void OpenWithShell(HWND owner, const std::wstring& path, const std::wstring& folder) {
    ShellExecuteW(owner, L"open", path.c_str(), L"", folder.c_str(), SW_SHOWNORMAL);
}

INT_PTR ShowDataProvidersDialog(HWND owner, Environment& env, UserMessages& messages, DataProvidersDialogData& data) {
    DialogState state{data, env, messages, {}, {}};
    const INT_PTR result = messages.ShowDialog(MAKEINTRESOURCEW(IDD_DATAPROVIDERS), owner, DataProvidersProc,
                                               reinterpret_cast<LPARAM>(&state), kNoChooserText);
    ThrowLastErrorIf(result == -1, L"Dialogen för DataProviders kunde inte visas: ");
    return result == IDOK ? IDOK : IDCANCEL;
}

bool InputQuery(UserMessages& messages, HWND owner, const std::wstring& caption, const std::wstring& prompt,
                std::wstring& text) {
    std::wstring typed = text;
    InputQueryData data{caption, prompt, typed};
    if (messages.ShowDialog(MAKEINTRESOURCEW(IDD_NEWPROVIDER), owner, InputQueryProc, reinterpret_cast<LPARAM>(&data),
                            kNoChooserText) != IDOK)
        return false;
    text = std::move(typed);
    return true;
}

}  // namespace tolmar::win
