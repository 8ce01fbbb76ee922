#include "tools/db/database_identity.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "tools/db/odbc_connection_string.h"
#include "tools/text.h"

namespace tolmar::db {
namespace {

std::wstring Value(const std::vector<ConnectionPair>& pairs, std::wstring_view name) {
    const std::wstring* value = FindValue(pairs, name);
    return value ? UpperLocale(Trim(*value)) : std::wstring();
}

// Attributes that choose how to connect, not which database.
bool ChoosesNoDatabase(std::wstring_view name) {
    static constexpr std::wstring_view kIgnored[] = {
        L"UID", L"PWD", L"USER", L"USERNAME", L"PASSWORD", L"TIMEOUT", L"LOCK_TIMEOUT", L"CONNECTTIMEOUT",
        L"CONNECTION TIMEOUT", L"LOGIN TIMEOUT", L"APP", L"WSID", L"TRUSTED_CONNECTION", L"USESERVERSIDEPREPARE",
        L"PROTOCOL", L"SSLMODE", L"ENCRYPT", L"TRUSTSERVERCERTIFICATE", L"SYNCPRAGMA", L"STEPAPI", L"LONGNAMES",
        L"NOTXN", L"NOWCHAR", L"FKSUPPORT", L"JOURNALMODE", L"OEMCP", L"BIGINT", L"SHORTNAMES", L"LOADEXT"};
    const std::wstring upper = UpperLocale(name);
    return std::find(std::begin(kIgnored), std::end(kIgnored), upper) != std::end(kIgnored);
}

}  // namespace

std::wstring DatabaseIdentity(std::wstring_view odbcConnectionString,
                              const std::function<std::wstring(std::wstring_view)>& finalPath) {
    const std::vector<ConnectionPair> pairs = ParseOdbcString(odbcConnectionString);
    const std::wstring driver = Value(pairs, L"Driver");
    const std::wstring database = Value(pairs, L"Database");
    if (driver.find(L"SQLITE") != std::wstring::npos && !database.empty()) {
        const std::wstring* path = FindValue(pairs, L"Database");
        return L"fil " + UpperLocale(finalPath(Trim(*path)));
    }
    std::wstring server = Value(pairs, L"Server");
    if (server.empty()) server = Value(pairs, L"Servername");
    if (!server.empty() && !database.empty()) {
        const std::wstring port = Value(pairs, L"Port");
        const bool postgres = driver.find(L"POSTGRES") != std::wstring::npos;
        if (!port.empty() && !(postgres && port == L"5432")) server += L":" + port;
        return L"server " + server + L", databas " + database;
    }
    if (const std::wstring dsn = Value(pairs, L"DSN"); !dsn.empty()) return L"datakälla " + dsn;

    std::vector<std::wstring> kept;
    for (const ConnectionPair& pair : pairs)
        if (!ChoosesNoDatabase(Trim(pair.name)))
            kept.push_back(UpperLocale(Trim(pair.name)) + L"=" + UpperLocale(Trim(pair.value)));
    std::sort(kept.begin(), kept.end());
    std::wstring text = L"anslutning";
    for (const std::wstring& attribute : kept) text += L" " + attribute + L";";
    return text;
}

std::wstring IdentityHash(std::wstring_view identity) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a, 64 bits
    for (wchar_t c : identity) {
        hash ^= static_cast<std::uint16_t>(c);
        hash *= 1099511628211ull;
    }
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring text(16, L'0');
    for (int i = 15; i >= 0; --i, hash >>= 4) text[static_cast<std::size_t>(i)] = kHex[hash & 15];
    return text;
}

}  // namespace tolmar::db
