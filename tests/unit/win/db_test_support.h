// Support for the database tests under Wine: the real engines through ODBC
// (SQLite in a temporary folder, the PostgreSQL server that scripts/test
// starts), the SQL scripts of db/, and a driver for modal windows that acts
// as the user.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "data_link.h"
#include "tools/win/unique.h"
#include "sql_script.h"
#include "temp_folder.h"
#include "tools/db/connect_database.h"
#include "tools/environment.h"
#include "tools/error.h"
#include "tools/win/db/odbc.h"

namespace tolmar::test {


// The ODBC connection string of an SQLite database file (created on first use).
std::wstring SqliteConnectionString(const std::wstring& databaseFile);

// TOLMAR_PG_ODBC and TOLMAR_PG_DSN, set by scripts/test when it starts the
// test server; "" when missing.
std::wstring PostgresConnectionString();
std::wstring PostgresDsn();
inline constexpr const char* kNoPostgres =
    "TOLMAR_PG_ODBC / TOLMAR_PG_DSN are not set: these tests need the PostgreSQL server that scripts/test "
    "starts (scripts/postgres.sh, start_postgres)";

// Runs one of the scripts in db/ ("schema.sql", ...) statement by statement.
void RunSqlScript(const win::odbc::Connection& connection, const std::wstring& scriptName);

// Runs one statement that returns no rows.
void Execute(const win::odbc::Connection& connection, const std::wstring& sql);

// The first column of the first row of a query; nullopt for NULL or no row.
std::optional<std::wstring> QueryText(const win::odbc::Connection& connection, const std::wstring& sql);

// The message of the Error that f() throws; "<no error>" when it throws none.
template <typename F>
std::wstring ErrorText(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.message();
    }
    return L"<no error>";
}

// Plays the user for modal windows shown on the test thread. A hook on the
// test thread reports every window that becomes active; a second thread runs
// the script, which waits for windows (bounded) and clicks and types into
// them. Whatever happens, every window the test left open is closed again.
class UiDriver {
public:
    UiDriver();
    ~UiDriver();
    UiDriver(const UiDriver&) = delete;
    UiDriver& operator=(const UiDriver&) = delete;

    // Runs `modal` on this thread and `script` on a second one; returns when
    // both are done. A failure of the script becomes a test failure.
    void Run(const std::function<void()>& modal, const std::function<void(UiDriver&)>& script);

    // A window of the test thread to own the modal windows.
    HWND owner() const { return owner_.get(); }

    // --- for the script -----------------------------------------------------
    // The next window with this caption to become active (waiting at most
    // timeoutMs), once it has handled everything up to now. Throws on timeout.
    HWND WaitForWindow(const std::wstring& caption, DWORD timeoutMs = 10000);
    // Waits until the window's thread has handled every message sent or
    // posted to it so far (or is waiting in a modal window of a handler).
    void Settle(HWND window);
    // Waits (bounded) until the window is being destroyed. Throws on timeout.
    void WaitForClose(HWND window, DWORD timeoutMs = 10000);
    // A click on the control `id` of a dialog, as the button sends it.
    void Click(HWND dialog, int id);
    // Sets the text of the control `id`.
    void Type(HWND dialog, int id, const std::wstring& text);
    std::wstring Text(HWND window);
    std::wstring ControlText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }
    // Message boxes: their text, and an answer (IDOK, IDYES, IDNO), which
    // returns once the box is closing.
    std::wstring BoxText(HWND box) { return ControlText(box, 0xFFFF); }
    void Answer(HWND box, int button);
    // List boxes: rows, selected row (-1 for none), selecting a row as a
    // click does.
    std::vector<std::wstring> Rows(HWND list);
    int Selection(HWND list);
    void Select(HWND list, int row);

private:
    static LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam);
    void CloseEverything();

    DWORD modalThread_;
    win::UniqueWindow owner_;
    win::UniqueHook hook_;
    win::UniqueHook messageHook_;
    UINT marker_ = 0;
    unsigned markersPosted_ = 0, markersSeen_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<HWND> windows_;    // activated, not yet taken by WaitForWindow
    std::vector<HWND> destroyed_;  // being destroyed
};

}  // namespace tolmar::test
