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
