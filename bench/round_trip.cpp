// The bare cost the update run cannot avoid, measured with the same
// transport and driver the program uses: for each patient one GetPerson
// round trip to the register and one row update, committed every 101 rows.
// With "read", each row is also read before its update, as the run must
// (to compare it and to journal what it held): across a network that read
// is a database round trip the run cannot leave out.
//
//   round_trip.exe ENDPOINT ODBC_CONNECTION_STRING COUNT [read]
//
// Prints "round trips: N in S s" for the patients PATIENTNR 1..COUNT.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "register/soap_request.h"
#include "register/win/http_transport.h"
#include "tools/error.h"
#include "tools/win/db/odbc.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 && !(argc == 5 && std::wstring(argv[4]) == L"read")) {
        std::fwprintf(stderr, L"usage: round_trip ENDPOINT ODBC_CONNECTION_STRING COUNT [read]\n");
        return 2;
    }
    const std::wstring endpoint = argv[1], connectionString = argv[2];
    const int count = _wtoi(argv[3]);
    const bool readRow = argc == 5;
    try {
        tolmar::win::odbc::Connection db = tolmar::win::odbc::Connection::Open(connectionString);
        // The patients' numbers, read before the clock starts.
        std::vector<std::pair<std::wstring, std::wstring>> patients;
        {
            tolmar::win::odbc::Statement list(db);
            list.ExecuteDirect(L"SELECT PATIENTNR, PERSONNR FROM KUNDER ORDER BY PATIENTNR");
            while (list.Fetch() && static_cast<int>(patients.size()) < count) {
                std::wstring key = list.Text(1).value_or(L"");
                std::wstring number = list.Text(2).value_or(L"");
                if (const size_t hyphen = number.find(L'-'); hyphen != std::wstring::npos) number.erase(hyphen, 1);
                patients.emplace_back(std::move(key), std::move(number));
            }
        }
        tolmar::Login login;
        login.SetUserName(L"demo");
        login.SetPassword(L"demo");
        tolmar::win::HttpSession http;
        const auto start = std::chrono::steady_clock::now();
        db.BeginTransaction();
        int i = 0;
        for (const auto& [key, number] : patients) {
            ++i;
            // A fresh transport per lookup, as the program makes one.
            tolmar::win::HttpTransport transport(http, endpoint);
            const std::string request = tolmar::BuildGetPersonRequest(login, number, false);
            const auto reply = transport.Post(tolmar::ContentTypeOf(L"GetPerson"), request, tolmar::ActionOf(L"GetPerson"));
            if (reply.status != 200) throw tolmar::Error(L"register answered " + std::to_wstring(reply.status));
            if (readRow) {
                tolmar::win::odbc::Statement row(db);
                row.ExecuteDirect(L"SELECT * FROM KUNDER WHERE PATIENTNR = " + key);
                const SQLSMALLINT columns = row.ColumnCount();
                while (row.Fetch())
                    for (SQLSMALLINT c = 1; c <= columns; ++c) row.Text(static_cast<SQLUSMALLINT>(c));
            }
            tolmar::win::odbc::Statement update(db);
            update.ExecuteDirect(L"UPDATE KUNDER SET TEL2 = '" + std::to_wstring(i) + L"' WHERE PATIENTNR = " + key);
            if (i % 101 == 0) {
                db.EndTransaction(true);
                db.BeginTransaction();
            }
        }
        db.EndTransaction(true);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::wprintf(L"round trips: %d in %.3f s\n", i, seconds);
        return 0;
    } catch (const tolmar::Error& e) {
        std::fwprintf(stderr, L"round_trip: %ls\n", e.message().c_str());
        return 1;
    }
}
