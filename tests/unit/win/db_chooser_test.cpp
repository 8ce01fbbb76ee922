// The data-provider chooser, shown modally on the test thread while a second
// thread plays the user: it finds the windows, clicks, types and answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <type_traits>

#include "db_test_support.h"
#include "tools/db/provider_list.h"
#include "tools/text.h"
#include "tools/win/db/data_providers_dialog.h"
#include "tools/win/db/data_providers_resource.h"
#include "tools/win/layout.h"
#include "tools/win/registry.h"
#include "tools/win/system_text.h"
#include "win_test_support.h"

using namespace tolmar;
using namespace tolmar::test;
using tolmar::win::DataProvidersDialogData;

namespace {

const std::wstring kNoSelection = L"Välj en DataProvider först!";

std::vector<std::wstring> Sorted(std::vector<std::wstring> rows) {
    std::sort(rows.begin(), rows.end());
    return rows;
}

// A data-link folder of the test's own, an AppKey of its own, and a chooser
// whose editor only records what it was asked to open.
class DbChooser : public testing::Test {
protected:
    DbChooser() {
        env_.dataLinksPath = links_.FolderPath();
        env_.providerPart = L"Provider=SQLOLEDB.1;Data Source=S";
        data_.IniTextPosition = L"DefaultDataProvider";
        data_.openEditor = [this](HWND, const std::wstring& path, const std::wstring& folder) {
            EXPECT_EQ(folder, env_.dataLinksPath);
            opened_.push_back(path);
        };
    }

    void Write(const std::wstring& name, const std::string& bytes = "[oledb]\r\nProvider=SQLOLEDB.1\r\n") {
        links_.WriteFile(name, bytes);
    }
    void StoreDefault(const std::wstring& value) { WriteSetting(env_, L"DataProvider", L"DefaultDataProvider", value); }

    // Shows the chooser with `script` as the user; the dialog's result.
    INT_PTR Show(const std::function<void(UiDriver&, HWND dialog, HWND list)>& script) {
        INT_PTR result = -2;
        UiDriver driver;
        driver.Run([&] { result = win::ShowDataProvidersDialog(driver.owner(), env_, messages_, data_); },
                   [&](UiDriver& ui) {
                       HWND dialog = ui.WaitForWindow(L"DataProviders");
                       script(ui, dialog, GetDlgItem(dialog, IDC_DP_LIST));
                   });
        return result;
    }

    TestAppKey appKey_;
    TempFolder links_;
    Environment env_ = EnvironmentOf(appKey_);
    UserMessages messages_;
    DataProvidersDialogData data_;
    std::vector<std::wstring> opened_;
};

// The colours of a row as the list paints it: the background near its right
// end, and whether any of its text is green.
struct RowOnScreen {
    COLORREF background;
    bool greenText;
    bool darkText;
};

// The list paints itself, on its own thread and before this returns, into a
// bitmap of ours (WM_PRINTCLIENT), so what is read is what the rows look like
// now and never a screen the window has not yet caught up with.
RowOnScreen ReadRow(HWND list, int row) {
    RECT rect{}, client{};
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(list, LB_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect),
                             SMTO_NORMAL, 10000, &ignored) ||
        !GetClientRect(list, &client))
        throw std::runtime_error("the list does not answer");
    const win::UniqueWindowDc screen(list);
    struct DcDeleter {
        void operator()(HDC dc) const { DeleteDC(dc); }
    };
    struct BitmapDeleter {
        void operator()(HBITMAP bitmap) const { DeleteObject(bitmap); }
    };
    const std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter> dc(CreateCompatibleDC(screen.get()));
    const std::unique_ptr<std::remove_pointer_t<HBITMAP>, BitmapDeleter> bitmap(
        CreateCompatibleBitmap(screen.get(), client.right, client.bottom));
    if (!dc || !bitmap) throw std::runtime_error("no bitmap to paint the list into");
    const win::SelectedObject selected(dc.get(), bitmap.get());
    if (!SendMessageTimeoutW(list, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.get()), PRF_CLIENT | PRF_ERASEBKGND,
                             SMTO_NORMAL, 10000, &ignored))
        throw std::runtime_error("the list does not paint");
    RowOnScreen seen{GetPixel(dc.get(), rect.right - 4, (rect.top + rect.bottom) / 2), false, false};
    for (int y = rect.top + 2; y < rect.bottom - 2; ++y) {
        for (int x = rect.left + 2; x < rect.left + 60; ++x) {
            const COLORREF c = GetPixel(dc.get(), x, y);
            const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
            if (g > r + 40 && g > b + 40) seen.greenText = true;
            if (r + g + b < 200) seen.darkText = true;
        }
    }
    return seen;
}

TEST_F(DbChooser, ListsTheFolderAndMarksTheDefaultGreen) {
    Write(L"a.udl");
    Write(L"B.udl");
    links_.MakeFolder(L"map.udl");  // folders that fit the mask are listed too
    Write(L"notes.txt");
    Write(L"clinic.udlx");  // its short name ends in ".UDL"; it is no data-link file
    // the default is stored as a full path differing from its row in case only
    StoreDefault(L"C:\\Program Files\\Common Files\\System\\Ole DB\\Data Links\\b.UDL");

    std::vector<std::wstring> rows;
    int selectedAtStart = -2;
    RowOnScreen defaultSelected{}, other{}, defaultUnselected{}, otherSelected{}, markedSelected{};
    std::wstring stored;
    const INT_PTR result = Show([&](UiDriver& ui, HWND dialog, HWND list) {
        rows = ui.Rows(list);
        selectedAtStart = ui.Selection(list);
        const int b = static_cast<int>(std::find(rows.begin(), rows.end(), L"B.udl") - rows.begin());
        const int a = static_cast<int>(std::find(rows.begin(), rows.end(), L"a.udl") - rows.begin());
        if (b >= static_cast<int>(rows.size()) || a >= static_cast<int>(rows.size()))
            throw std::runtime_error("rows missing");
        defaultSelected = ReadRow(list, b);
        other = ReadRow(list, a);
        ui.Select(list, a);
        defaultUnselected = ReadRow(list, b);
        otherSelected = ReadRow(list, a);
        // "Välj som standard" moves the green mark to the selected row at once
        ui.Click(dialog, IDC_DP_SET_DEFAULT);
        ui.Settle(dialog);
        stored = ReadSetting(env_, L"DataProvider", L"DefaultDataProvider");
        markedSelected = ReadRow(list, a);
        if (ui.Selection(list) != a) throw std::runtime_error("the selection moved");
        ui.Click(dialog, IDC_DP_CANCEL);
    });

    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(Sorted(rows), (std::vector<std::wstring>{L"B.udl", L"a.udl", L"map.udl"}));
    ASSERT_LT(selectedAtStart, static_cast<int>(rows.size()));
    ASSERT_GE(selectedAtStart, 0);
    EXPECT_EQ(rows[static_cast<size_t>(selectedAtStart)], L"B.udl");
    const COLORREF silver = RGB(192, 192, 192), white = RGB(255, 255, 255);
    EXPECT_EQ(defaultSelected.background, silver);
    EXPECT_TRUE(defaultSelected.greenText);
    EXPECT_EQ(other.background, white);
    EXPECT_FALSE(other.greenText);
    EXPECT_TRUE(other.darkText);
    EXPECT_EQ(defaultUnselected.background, white);
    EXPECT_TRUE(defaultUnselected.greenText);
    EXPECT_EQ(otherSelected.background, silver);
    EXPECT_FALSE(otherSelected.greenText);
    EXPECT_EQ(stored, L"a.udl");
    EXPECT_EQ(markedSelected.background, silver);
    EXPECT_TRUE(markedSelected.greenText);
    // "Avbryt" changes nothing
    EXPECT_EQ(env_.providerPart, L"Provider=SQLOLEDB.1;Data Source=S");
    EXPECT_TRUE(opened_.empty());
}

TEST_F(DbChooser, OkReturnsTheSelectedRowAndEmptiesTheConnectionString) {
    Write(L"a.udl");
    Write(L"b.udl");
    const INT_PTR result = Show([&](UiDriver& ui, HWND dialog, HWND list) {
        if (ui.Selection(list) != -1) throw std::runtime_error("a row was selected without a default");
        const std::vector<std::wstring> rows = ui.Rows(list);
        ui.Select(list, static_cast<int>(std::find(rows.begin(), rows.end(), L"b.udl") - rows.begin()));
        ui.Click(dialog, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(data_.chosen, L"b.udl");
    EXPECT_EQ(env_.providerPart, L"");
}

TEST_F(DbChooser, ComingBackToTheDialogRebuildsTheListAndSelectsTheDefault) {
    Write(L"a.udl");
    Write(L"b.udl");
    StoreDefault(L"a.udl");
    // another program's window, to which the user turns meanwhile
    win::UniqueWindow elsewhere(CreateWindowExW(0, L"Static", L"editor", WS_POPUP | WS_VISIBLE, 50, 50, 60, 60, nullptr,
                                                nullptr, GetModuleHandleW(nullptr), nullptr));
    std::vector<std::wstring> rows;
    int selected = -2;
    const INT_PTR result = Show([&](UiDriver& ui, HWND dialog, HWND list) {
        const std::vector<std::wstring> before = ui.Rows(list);
        ui.Select(list, static_cast<int>(std::find(before.begin(), before.end(), L"b.udl") - before.begin()));
        SetForegroundWindow(elsewhere.get());
        ui.Settle(dialog);
        Write(L"c.udl");  // say the editor saved a new file
        SetForegroundWindow(dialog);
        ui.Settle(dialog);
        rows = ui.Rows(list);
        selected = ui.Selection(list);
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);  // the window's close command
    });
    elsewhere.reset();
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(Sorted(rows), (std::vector<std::wstring>{L"a.udl", L"b.udl", L"c.udl"}));
    ASSERT_GE(selected, 0);
    EXPECT_EQ(rows[static_cast<size_t>(selected)], L"a.udl");
    EXPECT_EQ(env_.providerPart, L"Provider=SQLOLEDB.1;Data Source=S");
}

// "Lägg till..." and "Redigera..." send the user to the data-link editor;
// coming back activates the dialog again, and the file just added or edited
// stays selected, so "OK" takes it; the default keeps its green mark.
TEST_F(DbChooser, ComingBackFromTheEditorKeepsTheFileJustAddedOrEdited) {
    Write(L"a.udl");
    Write(L"b.udl");
    StoreDefault(L"a.udl");
    // the editor: another program's window, which takes the focus
    win::UniqueWindow editor(CreateWindowExW(0, L"Static", L"editor", WS_POPUP | WS_VISIBLE, 50, 50, 60, 60, nullptr,
                                             nullptr, GetModuleHandleW(nullptr), nullptr));
    data_.openEditor = [&](HWND, const std::wstring& path, const std::wstring&) {
        opened_.push_back(path);
        SetForegroundWindow(editor.get());
    };
    std::wstring afterAdd, afterEdit;
    RowOnScreen defaultRow{};
    const INT_PTR result = Show([&](UiDriver& ui, HWND dialog, HWND list) {
        auto selectedText = [&] {
            const std::vector<std::wstring> rows = ui.Rows(list);
            const int row = ui.Selection(list);
            return row >= 0 && row < static_cast<int>(rows.size()) ? rows[static_cast<size_t>(row)] : L"<none>";
        };
        // The window system tells of focus changes late and in its own order,
        // so the dialog may already have been activated again by the time the
        // script looks; the user is put in the editor once more before coming
        // back, so the last thing the dialog sees is always a return to it.
        auto comeBack = [&] {
            ui.Settle(dialog);
            SetForegroundWindow(editor.get());
            ui.Settle(dialog);
            SetForegroundWindow(dialog);
            ui.Settle(dialog);
        };
        ui.Click(dialog, IDC_DP_ADD);  // "Lägg till..."
        HWND input = ui.WaitForWindow(L"Ny DataProvider");
        ui.Type(input, IDC_NP_EDIT, L"ny");
        ui.Click(input, IDOK);
        ui.WaitForClose(input);
        comeBack();
        afterAdd = selectedText();

        const std::vector<std::wstring> rows = ui.Rows(list);
        ui.Select(list, static_cast<int>(std::find(rows.begin(), rows.end(), L"b.udl") - rows.begin()));
        ui.Click(dialog, IDC_DP_EDIT);  // "Redigera..."
        comeBack();
        afterEdit = selectedText();
        const std::vector<std::wstring> now = ui.Rows(list);
        defaultRow = ReadRow(list, static_cast<int>(std::find(now.begin(), now.end(), L"a.udl") - now.begin()));
        ui.Click(dialog, IDOK);
    });
    editor.reset();
    EXPECT_EQ(opened_, (std::vector<std::wstring>{(links_ / L"ny.udl"), (links_ / L"b.udl")}));
    EXPECT_EQ(afterAdd, L"ny.udl");
    EXPECT_EQ(afterEdit, L"b.udl");
    EXPECT_TRUE(defaultRow.greenText) << "the default lost its mark";
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(data_.chosen, L"b.udl");
}

TEST_F(DbChooser, EveryActionNeedsASelectedRow) {
    // an empty folder: no rows, and each action asks for a selection first
    std::vector<std::wstring> rows{L"?"};
    std::vector<std::wstring> answers;
    const INT_PTR result = Show([&](UiDriver& ui, HWND dialog, HWND list) {
        rows = ui.Rows(list);
        for (int button : {IDOK, IDC_DP_SET_DEFAULT, IDC_DP_EDIT, IDC_DP_DELETE}) {
            ui.Click(dialog, button);
            HWND box = ui.WaitForWindow(L"Information");
            answers.push_back(ui.BoxText(box));
            ui.Answer(box, IDOK);
        }
        ui.Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(answers, std::vector<std::wstring>(4, kNoSelection));
    EXPECT_TRUE(opened_.empty());
    EXPECT_EQ(ReadSetting(env_, L"DataProvider", L"DefaultDataProvider"), L"ERROR");
}

TEST_F(DbChooser, AddCreatesOpensAndSelectsTheNewFile) {
    Write(L"a.udl");
    std::wstring caption, prompt;
    std::vector<std::wstring> rowsAfter;
    int selectedAfter = -2;
    const INT_PTR result = Show([&](UiDriver& ui, HWND dialog, HWND list) {
        ui.Click(dialog, IDC_DP_ADD);
        HWND input = ui.WaitForWindow(L"Ny DataProvider");
        caption = ui.Text(input);
        prompt = ui.ControlText(input, IDC_NP_PROMPT);
        ui.Click(input, IDOK);  // an empty name
        ui.WaitForClose(input);
        ui.Settle(dialog);
        rowsAfter = ui.Rows(list);
        selectedAfter = ui.Selection(list);
        ui.Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(prompt, L"DataProviderns namn:");
    EXPECT_EQ(ReadWholeFile((links_ / L".udl")), "");
    EXPECT_EQ(opened_, std::vector<std::wstring>{(links_ / L".udl")});
    EXPECT_EQ(Sorted(rowsAfter), (std::vector<std::wstring>{L".udl", L"a.udl"}));
    ASSERT_GE(selectedAfter, 0);
    EXPECT_EQ(rowsAfter[static_cast<size_t>(selectedAfter)], L".udl");
}

TEST_F(DbChooser, AddKeepsAnExistingFileAndRefusesBadNames) {
    const std::string working = "[oledb]\r\nProvider=SQLOLEDB.1;Integrated Security=SSPI;Data Source=S\r\n";
    Write(L"Klinik.udl", working);
    std::vector<std::wstring> messages;
    int selected = -2;
    std::vector<std::wstring> rows;
    const INT_PTR result = Show([&](UiDriver& ui, HWND dialog, HWND list) {
        auto add = [&](const std::wstring& name) {
            ui.Click(dialog, IDC_DP_ADD);
            HWND input = ui.WaitForWindow(L"Ny DataProvider");
            ui.Type(input, IDC_NP_EDIT, name);
            ui.Click(input, IDOK);
            ui.WaitForClose(input);
        };
        add(L"klinik");  // the name of an existing file, in another case
        ui.Settle(dialog);
        rows = ui.Rows(list);
        selected = ui.Selection(list);
        for (const wchar_t* bad : {L"a?b", L"NUL"}) {
            add(bad);
            HWND box = ui.WaitForWindow(L"Information");
            messages.push_back(ui.BoxText(box));
            ui.Answer(box, IDOK);
        }
        // the name box cancelled: nothing at all
        ui.Click(dialog, IDC_DP_ADD);
        HWND input = ui.WaitForWindow(L"Ny DataProvider");
        ui.Type(input, IDC_NP_EDIT, L"nytt");
        ui.Click(input, IDCANCEL);
        ui.WaitForClose(input);
        ui.Settle(dialog);
        ui.Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(ReadWholeFile((links_ / L"Klinik.udl")), working);  // not emptied
    EXPECT_EQ(opened_, std::vector<std::wstring>{(links_ / L"klinik.udl")});
    EXPECT_EQ(rows, std::vector<std::wstring>{L"Klinik.udl"});
    EXPECT_EQ(selected, 0);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], *db::ProviderNameProblem(L"a?b"));
    EXPECT_EQ(messages[1], *db::ProviderNameProblem(L"NUL"));
    EXPECT_FALSE(win::FileExists((links_ / L"nytt.udl")));
}

TEST_F(DbChooser, EditOpensTheSelectedFileAndDeleteAsksFirst) {
    Write(L"a.udl");
    StoreDefault(L"a.udl");
    std::wstring question;
    std::vector<std::wstring> rowsAfterNo, rowsAfterYes;
    int selectedAfterNo = -2, selectedAfterYes = -2;
    const INT_PTR result = Show([&](UiDriver& ui, HWND dialog, HWND list) {
        ui.Click(dialog, IDC_DP_EDIT);  // "Redigera..."
        ui.Settle(dialog);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_DP_LIST, LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
        ui.Settle(dialog);

        ui.Click(dialog, IDC_DP_DELETE);  // "Radera", answered No
        HWND box = ui.WaitForWindow(L"Confirm");
        question = ui.BoxText(box);
        ui.Answer(box, IDNO);
        rowsAfterNo = ui.Rows(list);
        selectedAfterNo = ui.Selection(list);

        ui.Click(dialog, IDC_DP_DELETE);  // and Yes
        ui.Answer(ui.WaitForWindow(L"Confirm"), IDYES);
        rowsAfterYes = ui.Rows(list);
        selectedAfterYes = ui.Selection(list);
        ui.Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(opened_, (std::vector<std::wstring>{(links_ / L"a.udl"), (links_ / L"a.udl")}));
    EXPECT_EQ(question, L"Radera DataProvider-filen a.udl");
    EXPECT_EQ(rowsAfterNo, std::vector<std::wstring>{L"a.udl"});
    EXPECT_EQ(selectedAfterNo, 0);
    EXPECT_TRUE(rowsAfterYes.empty());
    EXPECT_EQ(selectedAfterYes, -1);
    EXPECT_FALSE(win::FileExists((links_ / L"a.udl")));
    // the default setting keeps naming the deleted file
    EXPECT_EQ(ReadSetting(env_, L"DataProvider", L"DefaultDataProvider"), L"a.udl");
}

// Moved to a screen of 150 % and back (WM_DPICHANGED, as the system sends it
// with the rectangle it suggests): the chooser is laid out anew each time at
// the suggested place, with fonts and rows of that scale, and comes back to
// exactly the layout it had.
TEST_F(DbChooser, MovedToAScreenOfAnotherScaleItIsLaidOutAgain) {
    Write(L"a.udl");
    struct Seen {
        RECT client{}, frame{};
        LRESULT rowHeight = 0;
        LONG listFont = 0, buttonFont = 0;
    };
    auto look = [](HWND dialog, HWND list) {
        Seen seen;
        GetClientRect(dialog, &seen.client);
        GetWindowRect(dialog, &seen.frame);
        seen.rowHeight = SendMessageW(list, LB_GETITEMHEIGHT, 0, 0);
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0)), sizeof(font), &font);
        seen.listFont = font.lfHeight;
        GetObjectW(reinterpret_cast<HGDIOBJ>(SendMessageW(GetDlgItem(dialog, IDOK), WM_GETFONT, 0, 0)), sizeof(font),
                   &font);
        seen.buttonFont = font.lfHeight;
        return seen;
    };
    auto moveTo = [](HWND dialog, UINT dpi, RECT suggested) {
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutW(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested),
                                 SMTO_NORMAL, 10000, &ignored))
            throw std::runtime_error("the chooser does not answer");
    };
    Seen at96, at144, back;
    const INT_PTR result = Show([&](UiDriver& ui, HWND dialog, HWND list) {
        at96 = look(dialog, list);
        moveTo(dialog, 144, RECT{100, 50, 100 + 400, 50 + 420});
        at144 = look(dialog, list);
        moveTo(dialog, 96, at96.frame);
        back = look(dialog, list);
        ui.Click(dialog, IDC_DP_CANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(at96.rowHeight, 17);
    EXPECT_EQ(at96.listFont, -13);
    EXPECT_EQ(at96.buttonFont, -11);
    EXPECT_EQ(at144.rowHeight, 26);
    EXPECT_EQ(at144.listFont, -20);
    EXPECT_EQ(at144.buttonFont, -16);
    EXPECT_EQ(at144.frame.left, 100);
    EXPECT_EQ(at144.frame.top, 50);
    EXPECT_GE(at144.client.right, 209 * 3 / 2);
    EXPECT_GE(at144.client.bottom, 250 * 3 / 2);
    EXPECT_TRUE(EqualRect(&back.client, &at96.client));
    EXPECT_TRUE(EqualRect(&back.frame, &at96.frame));
    EXPECT_EQ(back.rowHeight, 17);
    EXPECT_EQ(back.listFont, -13);
}

}  // namespace
