// The program's session as the main window uses it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/win/main_form.h"
#include "app/win/session.h"

using namespace tolmar;
using namespace tolmar::win;

// An unattended run gives the session's boxes a sink that writes into the
// main window's lines; once the window has ended, the boxes must not reach it.
TEST(Session, TheMainWindowTakesBackTheUnattendedSinkWhenItEnds) {
    Session session;
    std::vector<std::wstring> told;
    {
        TolmarForm form(session);
        session.messages.SetUnattendedSink([&told](std::wstring_view text) { told.emplace_back(text); });
        ASSERT_TRUE(session.messages.TellUnattended(L"while the window lives"));
    }
    EXPECT_FALSE(session.messages.Unattended());
    EXPECT_FALSE(session.messages.TellUnattended(L"after the window"));
    EXPECT_EQ(told, std::vector<std::wstring>{L"while the window lives"});
}

// With a sink set, neither a captioned box nor a dialog is shown: their
// texts go to the sink, and the dialog counts as cancelled without its
// procedure ever running.
TEST(Session, AnUnattendedSessionShowsNoCaptionedBoxAndNoDialog) {
    Session session;
    std::vector<std::wstring> told;
    session.messages.SetUnattendedSink([&told](std::wstring_view text) { told.emplace_back(text); });
    session.messages.ShowCaptioned(L"Error!", L"the clean-up failed", MB_ICONWARNING);
    static bool procedureRan = false;
    const INT_PTR result = session.messages.ShowDialog(
        MAKEINTRESOURCEW(1), nullptr,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR {
            procedureRan = true;
            return FALSE;
        },
        0, L"no dialog unattended");
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_FALSE(procedureRan);
    EXPECT_EQ(told, (std::vector<std::wstring>{L"the clean-up failed", L"no dialog unattended"}));
}
