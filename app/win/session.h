// The program's session: everything one start of the program keeps from its
// beginning to its end. wWinMain owns the one session, inside COM, and hands
// it to the main window, which hands it to the job; nothing of it lives in a
// global. Its members end in reverse order before COM does.
#pragma once

#include <windows.h>

#include <memory>

#include "register/win/register_session.h"
#include "tools/db/connect_database.h"
#include "tools/environment.h"
#include "tools/win/db/connect_database_win.h"
#include "tools/win/messages_win.h"

namespace tolmar::win {

struct Session {
    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // First: it registers the progress application's message before any
    // window of the program exists. It owns the boxes and knows the
    // application window and, in an unattended run, where the boxes' texts
    // go instead.
    UserMessages messages;
    // Where the program works and which data-link file it uses (filled when
    // the main window is made).
    Environment environment;
    // The patient database's login, as the connection set-up found it.
    TDBConnection login;
    // The suite's cipher of the stored login: a place kept for the suite;
    // this program has none.
    std::unique_ptr<CredentialCipher> cipher;
    // The suite's journal host, once a lookup has found it.
    HWND journalHost = nullptr;
    // The register's side: the HTTP session and its kept threads, the
    // last-error strings, the settings of "tolmar.ini" as last read and the
    // main thread's lookup documents. After the environment, which it reads
    // at each lookup.
    RegisterSession lookups{environment};

    DatabaseLogin Database() { return {environment, login, cipher.get()}; }
};

}  // namespace tolmar::win
