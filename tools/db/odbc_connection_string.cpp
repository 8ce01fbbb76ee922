#include "tools/db/odbc_connection_string.h"

#include <optional>

#include "tools/error.h"
#include "tools/text.h"

namespace tolmar::db {
namespace {

// Keywords, provider and driver names are ASCII; they compare by ASCII folding.
wchar_t FoldAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCase(std::wstring_view text, std::wstring_view suffix) {
    return text.size() >= suffix.size() && EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

bool IsDigits(std::wstring_view text) {
    if (text.empty()) return false;
    for (wchar_t c : text)
        if (c < L'0' || c > L'9') return false;
    return true;
}

// "11.0" -> {11, 0}; nullopt unless made of digit groups separated by dots.
std::optional<std::vector<unsigned long>> ParseVersion(std::wstring_view text) {
    std::vector<unsigned long> parts;
    size_t start = 0;
    while (true) {
        const size_t dot = text.find(L'.', start);
        const std::wstring_view part = text.substr(start, dot == std::wstring_view::npos ? text.npos : dot - start);
        if (!IsDigits(part) || part.size() > 9) return std::nullopt;
        parts.push_back(std::stoul(std::wstring(part)));
        if (dot == std::wstring_view::npos) return parts;
        start = dot + 1;
    }
}

size_t SkipBlanks(std::wstring_view text, size_t i) {
    while (i < text.size() && IsBlankChar(text[i])) ++i;
    return i;
}

enum class Quoting { OleDb, Odbc };

// name=value pairs separated by ";". An OLE DB value may be enclosed in
// double or single quotes, an ODBC value in braces; inside, the closing
// character doubled stands for itself.
std::vector<ConnectionPair> ParsePairs(std::wstring_view text, Quoting quoting) {
    std::vector<ConnectionPair> pairs;
    size_t i = 0;
    while (i < text.size()) {
        const size_t equals = text.find(L'=', i);
        const size_t semicolon = text.find(L';', i);
        if (equals == std::wstring_view::npos || (semicolon != std::wstring_view::npos && semicolon < equals)) {
            if (semicolon == std::wstring_view::npos) break;
            i = semicolon + 1;  // a piece without "=": skipped
            continue;
        }
        ConnectionPair pair{Trim(text.substr(i, equals - i)), {}};
        size_t v = SkipBlanks(text, equals + 1);
        wchar_t close = 0;
        if (v < text.size()) {
            if (quoting == Quoting::OleDb && (text[v] == L'"' || text[v] == L'\'')) close = text[v];
            if (quoting == Quoting::Odbc && text[v] == L'{') close = L'}';
        }
        if (close) {
            for (++v; v < text.size(); ++v) {
                if (text[v] != close) {
                    pair.value += text[v];
                } else if (v + 1 < text.size() && text[v + 1] == close) {
                    pair.value += close;
                    ++v;
                } else {
                    ++v;
                    break;
                }
            }
            const size_t next = text.find(L';', v);
            i = next == std::wstring_view::npos ? text.size() : next + 1;
        } else {
            const size_t next = text.find(L';', v);
            pair.value = Trim(text.substr(v, next == std::wstring_view::npos ? text.npos : next - v));
            i = next == std::wstring_view::npos ? text.size() : next + 1;
        }
        if (!pair.name.empty()) pairs.push_back(std::move(pair));
    }
    return pairs;
}

bool IsTrue(std::wstring_view value) {
    const std::wstring v = Trim(value);
    return EqualsNoCase(v, L"true") || EqualsNoCase(v, L"yes") || EqualsNoCase(v, L"sspi");
}

bool IsFalse(std::wstring_view value) {
    const std::wstring v = Trim(value);
    return EqualsNoCase(v, L"false") || EqualsNoCase(v, L"no");
}

void Append(std::wstring& odbc, std::wstring_view name, std::wstring_view value) {
    if (!odbc.empty() && odbc.back() != L';') odbc += L';';
    odbc += name;
    odbc += L'=';
    odbc += OdbcValue(value);
}

const std::wstring* NonEmpty(const std::vector<ConnectionPair>& pairs, std::wstring_view name) {
    const std::wstring* value = FindValue(pairs, name);
    return value && !value->empty() ? value : nullptr;
}

// The ODBC driver number of "ODBC Driver N for SQL Server", else nullopt.
std::optional<unsigned long> OdbcDriverNumber(std::wstring_view name) {
    constexpr std::wstring_view kPrefix = L"ODBC Driver ", kSuffix = L" for SQL Server";
    if (!StartsWithNoCase(name, kPrefix) || !EndsWithNoCase(name, kSuffix) ||
        name.size() <= kPrefix.size() + kSuffix.size())
        return std::nullopt;
    const std::wstring_view number = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
    if (!IsDigits(number) || number.size() > 9) return std::nullopt;
    return std::stoul(std::wstring(number));
}

std::wstring SqlServerString(std::wstring_view provider, const std::vector<ConnectionPair>& pairs,
                             const std::vector<std::wstring>& installedDrivers) {
    const std::wstring driver = ChooseSqlServerDriver(installedDrivers);
    if (driver.empty())
        throw Error(L"Ingen ODBC-drivrutin för SQL Server är installerad på datorn. Datalänkfilens "
                    L"databasleverantör \"" +
                    std::wstring(provider) +
                    L"\" kräver en (ODBC Driver for SQL Server, SQL Server Native Client eller SQL Server).");
    std::wstring odbc = L"Driver={" + driver + L"}";
    if (const std::wstring* server = NonEmpty(pairs, L"Data Source")) Append(odbc, L"Server", *server);
    if (const std::wstring* database = NonEmpty(pairs, L"Initial Catalog")) Append(odbc, L"Database", *database);
    const std::wstring* integrated = FindValue(pairs, L"Integrated Security");
    if (integrated && IsTrue(*integrated)) {
        Append(odbc, L"Trusted_Connection", L"Yes");
    } else {
        if (const std::wstring* user = FindValue(pairs, L"User ID")) Append(odbc, L"UID", *user);
        if (const std::wstring* password = FindValue(pairs, L"Password")) Append(odbc, L"PWD", *password);
    }
    // The OLE DB providers this replaces connect without encryption unless the
    // data link asks for it; ODBC Driver 18 and later encrypt by default and
    // would refuse a server without a trusted certificate.
    if (const std::wstring* encrypt = FindValue(pairs, L"Use Encryption for Data")) {
        Append(odbc, L"Encrypt", IsTrue(*encrypt) ? L"yes" : IsFalse(*encrypt) ? L"no" : Trim(*encrypt));
    } else if (const auto number = OdbcDriverNumber(driver); number && *number >= 18) {
        Append(odbc, L"Encrypt", L"no");
    }
    if (const std::wstring* trust = FindValue(pairs, L"Trust Server Certificate"))
        Append(odbc, L"TrustServerCertificate", IsTrue(*trust) ? L"yes" : L"no");
    return odbc;
}

std::wstring OdbcProviderString(std::wstring_view provider, const std::vector<ConnectionPair>& pairs) {
    std::wstring odbc;
    const std::wstring* extended = FindValue(pairs, L"Extended Properties");
    if (extended && !IsBlank(*extended)) {
        odbc = Trim(*extended);
    } else if (const std::wstring* dataSource = NonEmpty(pairs, L"Data Source")) {
        odbc = L"DSN=" + OdbcValue(*dataSource);
    } else {
        throw Error(L"Datalänkfilen med databasleverantören \"" + std::wstring(provider) +
                    L"\" anger varken en ODBC-anslutning (Extended Properties) eller en datakälla (Data Source).");
    }
    // The catalog and the login of the data link, where the ODBC string does
    // not name its own, as the ODBC provider passes them on.
    const std::vector<ConnectionPair> own = ParseOdbcString(odbc);
    struct Mapping {
        std::wstring_view oleDb, odbc;
    };
    for (const Mapping m : {Mapping{L"Initial Catalog", L"DATABASE"}, Mapping{L"User ID", L"UID"},
                            Mapping{L"Password", L"PWD"}}) {
        const std::wstring* value = NonEmpty(pairs, m.oleDb);
        if (value && !FindValue(own, m.odbc)) Append(odbc, m.odbc, *value);
    }
    return odbc;
}

}  // namespace

std::vector<ConnectionPair> ParseOleDbString(std::wstring_view text) { return ParsePairs(text, Quoting::OleDb); }

std::vector<ConnectionPair> ParseOdbcString(std::wstring_view text) { return ParsePairs(text, Quoting::Odbc); }

const std::wstring* FindValue(const std::vector<ConnectionPair>& pairs, std::wstring_view name) {
    for (const ConnectionPair& pair : pairs)
        if (EqualsNoCase(pair.name, name)) return &pair.value;
    return nullptr;
}

std::wstring OdbcValue(std::wstring_view value) {
    const bool braces = value.find_first_of(L";{}") != std::wstring_view::npos ||
                        (!value.empty() && (IsBlankChar(value.front()) || IsBlankChar(value.back())));
    if (!braces) return std::wstring(value);
    std::wstring out = L"{";
    for (wchar_t c : value) {
        out += c;
        if (c == L'}') out += L'}';
    }
    out += L'}';
    return out;
}

std::wstring ChooseSqlServerDriver(const std::vector<std::wstring>& installedDrivers) {
    const std::wstring* best = nullptr;
    unsigned long bestNumber = 0;
    for (const std::wstring& name : installedDrivers) {
        const auto number = OdbcDriverNumber(name);
        if (number && (!best || *number > bestNumber)) {
            best = &name;
            bestNumber = *number;
        }
    }
    if (best) return *best;

    constexpr std::wstring_view kNativeClient = L"SQL Server Native Client ";
    std::vector<unsigned long> bestVersion;
    for (const std::wstring& name : installedDrivers) {
        if (!StartsWithNoCase(name, kNativeClient)) continue;
        const auto version = ParseVersion(std::wstring_view(name).substr(kNativeClient.size()));
        if (version && (!best || *version > bestVersion)) {
            best = &name;
            bestVersion = *version;
        }
    }
    if (best) return *best;

    for (const std::wstring& name : installedDrivers)
        if (EqualsNoCase(name, L"SQL Server")) return name;
    return {};
}

bool IsSqlServerProvider(std::wstring_view provider) {
    if (EqualsNoCase(provider, L"SQLOLEDB")) return true;
    if (StartsWithNoCase(provider, L"SQLOLEDB.")) return IsDigits(provider.substr(9));
    return StartsWithNoCase(provider, L"SQLNCLI") || StartsWithNoCase(provider, L"MSOLEDBSQL");
}

bool IsOdbcProvider(std::wstring_view provider) {
    return EqualsNoCase(provider, L"MSDASQL") ||
           (StartsWithNoCase(provider, L"MSDASQL.") && IsDigits(provider.substr(8)));
}

std::wstring OdbcConnectionString(std::wstring_view oleDbString,
                                  const std::vector<std::wstring>& installedDrivers) {
    const std::vector<ConnectionPair> pairs = ParseOleDbString(oleDbString);
    const std::wstring* providerValue = FindValue(pairs, L"Provider");
    const std::wstring provider = providerValue ? Trim(*providerValue) : std::wstring();
    if (provider.empty())
        throw Error(L"Datalänkfilen anger ingen databasleverantör (Provider).");
    if (IsSqlServerProvider(provider)) return SqlServerString(provider, pairs, installedDrivers);
    if (IsOdbcProvider(provider)) return OdbcProviderString(provider, pairs);
    throw Error(L"Databasleverantören \"" + provider +
                L"\" i datalänkfilen kan inte användas. Programmet når databasen med ODBC och "
                L"kan använda leverantörerna för SQL Server (SQLOLEDB, SQLNCLI, MSOLEDBSQL) och "
                L"för ODBC (MSDASQL).");
}

}  // namespace tolmar::db
