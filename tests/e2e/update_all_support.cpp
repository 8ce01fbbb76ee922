#include "data_link.h"
#include "update_all_support.h"

#include <windows.h>

#include <algorithm>
#include <regex>
#include <sstream>

namespace e2e::upd {
namespace {

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

using tolmar::test::EnvironmentValue;
using tolmar::test::FromUtf8;

// ---- ODBC ------------------------------------------------------------------------

using tolmar::win::odbc::Connection;
using tolmar::win::odbc::Statement;

// What `step` returns; a failure is thrown again as std::runtime_error that
// begins with `what`.
template <typename Step>
auto Doing(const std::string& what, Step&& step) {
    try {
        return step();
    } catch (const std::exception& e) {
        Fail(what + ": " + e.what());
    }
}

std::wstring Literal(const std::wstring& column, const Value& value) {
    if (!value) return L"NULL";
    if (column == L"PATIENTNR") return *value;
    std::wstring out = L"'";
    for (wchar_t c : *value) {
        out += c;
        if (c == L'\'') out += L'\'';
    }
    return out + L"'";
}

// ---- texts ------------------------------------------------------------------------------

std::string Encode(std::wstring_view text, UINT codePage) {
    if (text.empty()) return {};
    const int n =
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Decode(std::string_view bytes, UINT codePage) {
    if (bytes.empty()) return {};
    const int n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
    return out;
}

std::wstring RegexEscaped(std::wstring_view text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (std::wstring_view(L"\\^$.|?*+()[]{}").find(c) != std::wstring_view::npos) out += L'\\';
        out += c;
    }
    return out;
}

std::string Describe(const Line& line) {
    std::wstring text;
    for (const Piece& p : line) text += p.kind == Piece::Kind::Literal ? p.literal : L"\x2026";  // "…": an open part
    return Printable(text);
}

}  // namespace

// ---- ODBC ------------------------------------------------------------------------------------

OdbcConnection::OdbcConnection(const std::wstring& connectionString)
    : connection_(Doing("the test's own connection (" + Utf8(connectionString) + ") failed",
                        [&] { return Connection::Open(connectionString); })) {}

void OdbcConnection::Execute(const std::wstring& sql) const {
    Doing("the statement " + Utf8(sql), [&] { Statement(connection_).ExecuteDirect(sql); });
}

void OdbcConnection::ExecuteInOneTransaction(const std::vector<std::wstring>& statements) const {
    Doing("begin", [&] { connection_.BeginTransaction(); });
    try {
        for (const std::wstring& sql : statements) Execute(sql);
        Doing("commit", [&] { connection_.EndTransaction(true); });
    } catch (...) {
        try {
            connection_.EndTransaction(false);
        } catch (const std::exception&) {
            // the first failure is the one to report
        }
        throw;
    }
}

void OdbcConnection::ExecuteAndHold(const std::wstring& sql) const {
    Doing("begin", [&] { connection_.BeginTransaction(); });
    Execute(sql);
}

void OdbcConnection::RollBack() const {
    Doing("rollback", [&] { connection_.EndTransaction(false); });
}

std::vector<std::vector<Value>> OdbcConnection::Query(const std::wstring& sql) const {
    return Doing("the query " + Utf8(sql), [&] {
        Statement statement(connection_);
        statement.ExecuteDirect(sql);
        const auto columns = static_cast<SQLUSMALLINT>(statement.ColumnCount());
        std::vector<std::vector<Value>> rows;
        while (statement.Fetch()) {
            std::vector<Value> row;
            for (SQLUSMALLINT c = 1; c <= columns; ++c) row.push_back(statement.Text(c));
            rows.push_back(std::move(row));
        }
        return rows;
    });
}

Value OdbcConnection::Scalar(const std::wstring& sql) const {
    const auto rows = Query(sql);
    if (rows.empty() || rows.front().empty()) Fail("no row from " + Utf8(sql));
    return rows.front().front();
}

void OdbcConnection::RunScript(const std::wstring& scriptName) const {
    for (const std::wstring& statement : tolmar::test::SqlScript(scriptName)) Execute(statement);
}

// ---- the patient table --------------------------------------------------------------------

std::string EngineName(Engine engine) { return engine == Engine::Sqlite ? "Sqlite" : "Postgres"; }
void PrintTo(Engine engine, std::ostream* os) { *os << EngineName(engine); }

std::wstring PostgresOdbcString() { return EnvironmentValue(L"TOLMAR_PG_ODBC"); }

Row With(Row row, const Row& changes) {
    for (const auto& [column, value] : changes) row[column] = value;
    return row;
}

const std::vector<std::wstring>& ComparedColumns() {
    static const std::vector<std::wstring> columns = {
        L"PATIENTNR", L"PERSONNR", L"F_RNAMN", L"EFTERNAMN",  L"ADRESS",     L"COADRESS", L"POSTNR", L"ORT",
        L"KON",       L"TEL1",     L"TEL3NOT", L"KONTROLLNR", L"FODELSEDAG", L"AKTIV",    L"EPOST"};
    return columns;
}

const std::vector<std::wstring>& ComparedColumnsWithoutOptional() {
    static const std::vector<std::wstring> columns = [] {
        std::vector<std::wstring> c = ComparedColumns();
        std::erase(c, L"KONTROLLNR");
        std::erase(c, L"FODELSEDAG");
        return c;
    }();
    return columns;
}

PatientTable::PatientTable(Engine engine, const TempFolder& folder, const std::wstring& schemaScript)
    : engine_(engine) {
    if (engine == Engine::Postgres) {
        odbc_ = PostgresOdbcString();
        if (odbc_.empty()) Fail(kNoPostgres);
    } else {
        if (folder.path().empty()) Fail("no working folder for the SQLite database");
        // A busy database is waited for, not failed at once.
        odbc_ = L"Driver={SQLite3};Database=" + DriverPath(folder / L"klinik.db") + L";Timeout=10000";
    }
    connection_ = std::make_unique<OdbcConnection>(odbc_);
    connection_->RunScript(schemaScript);
}

PatientTable::~PatientTable() {
    if (!serverFunction_) return;
    try {
        connection_->Execute(L"DROP FUNCTION IF EXISTS kunder_last() CASCADE");
    } catch (const std::exception& e) {
        ADD_FAILURE() << "the trigger function kunder_last() was left on the server: " << e.what();
    }
}

void PatientTable::Insert(const std::vector<Row>& rows) const {
    std::vector<std::wstring> statements;
    for (const Row& row : rows) {
        std::wstring names, values;
        for (const auto& [column, value] : row) {
            names += (names.empty() ? L"" : L", ") + column;
            values += (values.empty() ? L"" : L", ") + Literal(column, value);
        }
        statements.push_back(L"INSERT INTO KUNDER (" + names + L") VALUES (" + values + L")");
    }
    connection_->ExecuteInOneTransaction(statements);
}

std::map<int, Row> PatientTable::Rows(const std::vector<std::wstring>& columns) const {
    std::wstring list;
    for (const auto& c : columns) list += (list.empty() ? L"" : L", ") + c;
    std::map<int, Row> rows;
    for (const auto& values : connection_->Query(L"SELECT " + list + L" FROM KUNDER ORDER BY PATIENTNR")) {
        Row row;
        for (size_t i = 0; i < columns.size(); ++i) row[columns[i]] = values[i];
        rows[std::stoi(values[0].value_or(L"0"))] = std::move(row);
    }
    return rows;
}

void PatientTable::RefuseUpdatesWhereEpost(const std::wstring& mark, const std::wstring& message) const {
    if (engine_ == Engine::Sqlite) {
        connection_->Execute(L"CREATE TRIGGER KUNDER_LAST BEFORE UPDATE ON KUNDER FOR EACH ROW WHEN OLD.EPOST = " +
                             Literal(L"EPOST", mark) + L" BEGIN SELECT RAISE(ABORT, " + Literal(L"", message) +
                             L"); END");
    } else {
        connection_->Execute(
            L"CREATE OR REPLACE FUNCTION kunder_last() RETURNS trigger LANGUAGE plpgsql AS $$ "
            L"BEGIN IF OLD.EPOST = " +
            Literal(L"EPOST", mark) + L" THEN RAISE EXCEPTION " + Literal(L"", message) +
            L"; END IF; RETURN NEW; END $$");
        serverFunction_ = true;
        connection_->Execute(
            L"CREATE TRIGGER kunder_last BEFORE UPDATE ON KUNDER FOR EACH ROW EXECUTE FUNCTION kunder_last()");
    }
}

void PatientTable::RefuseCommitWhereEpost(const std::wstring& mark, const std::wstring& message) const {
    if (engine_ != Engine::Postgres) Fail("only the PostgreSQL server checks constraints at commit");
    connection_->Execute(
        L"CREATE OR REPLACE FUNCTION kunder_last() RETURNS trigger LANGUAGE plpgsql AS $$ "
        L"BEGIN IF NEW.EPOST = " +
        Literal(L"EPOST", mark) + L" THEN RAISE EXCEPTION " + Literal(L"", message) + L"; END IF; RETURN NEW; END $$");
    serverFunction_ = true;
    connection_->Execute(
        L"CREATE CONSTRAINT TRIGGER kunder_last AFTER UPDATE ON KUNDER DEFERRABLE INITIALLY DEFERRED "
        L"FOR EACH ROW EXECUTE FUNCTION kunder_last()");
}

int PatientTable::TerminateOtherSessions() const {
    if (engine_ != Engine::Postgres) Fail("only the PostgreSQL server has sessions to end");
    const Value ended = connection_->Scalar(
        L"SELECT COUNT(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE datname = current_database() "
        L"AND backend_type = 'client backend' AND pid <> pg_backend_pid()");
    return ended ? std::stoi(*ended) : 0;
}

::testing::AssertionResult SameRows(const std::map<int, Row>& actual, const std::vector<Row>& expected) {
    std::ostringstream problems;
    std::vector<int> seen;
    for (const Row& want : expected) {
        const int nr = std::stoi(want.at(L"PATIENTNR").value_or(L"0"));
        seen.push_back(nr);
        const auto found = actual.find(nr);
        if (found == actual.end()) {
            problems << "\n  patient " << nr << " is missing";
            continue;
        }
        for (const auto& [column, value] : found->second) {
            const auto w = want.find(column);
            const Value wanted = w == want.end() ? (column == L"AKTIV" ? Value(L"T") : Value()) : w->second;
            if (value != wanted)
                problems << "\n  patient " << nr << " " << Utf8(column) << ": " << (value ? Printable(*value) : "NULL")
                         << ", expected " << (wanted ? Printable(*wanted) : "NULL");
        }
    }
    for (const auto& [nr, row] : actual)
        if (std::find(seen.begin(), seen.end(), nr) == seen.end()) problems << "\n  patient " << nr << " is extra";
    if (problems.str().empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "KUNDER differs:" << problems.str();
}

// ---- files ---------------------------------------------------------------------------------------

std::wstring WriteDataLink(const TempFolder& folder, const std::wstring& name, const std::wstring& afterProvider) {
    if (!tolmar::test::WriteDataLink(folder / name, afterProvider)) Fail("cannot write " + Utf8(folder / name));
    return folder / name;
}

std::wstring OdbcDataLink(const std::wstring& odbcString) {
    return L"MSDASQL.1;Persist Security Info=False;Extended Properties=\"" + odbcString + L"\"";
}

std::string RegisterIniFor(const std::wstring& endpoint) {
    return e2e::RegisterIni{.logId = std::nullopt, .logPwd = std::nullopt, .logAddr = Utf8(endpoint)}.Text();
}

// ---- the register simulator ----------------------------------------------------------------------

Register::Register() {
    if (!Ready()) Fail(Ready().message());
}

void Register::Inject(std::wstring_view injection) const {
    if (const auto injected = SimulatorSession::Inject(injection); !injected)
        Fail("the simulator refused the injection " + Printable(injection) + ": " + injected.message());
}

// ---- the change journal ---------------------------------------------------------------------------------

std::wstring InNewestRun(const TempFolder& folder, const std::wstring& name) {
    const std::vector<std::wstring> runs = RunFolders(folder);
    return runs.empty() ? std::wstring() : L"runs\\" + runs.back() + L"\\" + name;
}

std::vector<std::string> RowsWithoutTime(const std::string& file) {
    std::vector<std::string> rows;
    std::string body = file.substr(std::min(file.size(), kJournalHead.size()));
    size_t at = 0;
    while (at < body.size()) {
        const size_t end = body.find("\r\n", at);
        const std::string row = body.substr(at, end == std::string::npos ? std::string::npos : end - at);
        const size_t comma = row.find(',');
        rows.push_back(comma == std::string::npos ? row : row.substr(comma + 1));
        if (end == std::string::npos) break;
        at = end + 2;
    }
    return rows;
}

// ---- the errors file ----------------------------------------------------------------------------------

std::wstring ErrorsFileName() {
    wchar_t date[128] = {};
    if (GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 128, nullptr) <= 0)
        Fail("today's date cannot be formatted: error " + std::to_string(GetLastError()));
    std::wstring text(date);
    std::erase(text, L'/');
    return L"errors " + text + L".txt";
}

std::vector<std::wstring> ErrorsFiles(const TempFolder& folder) {
    std::vector<std::wstring> files;
    for (const std::wstring& name : folder.Entries())
        if (name.starts_with(L"errors ") && name.ends_with(L".txt")) files.push_back(name);
    return files;
}

::testing::AssertionResult ErrorsFileHolds(const std::optional<std::string>& bytes, const std::vector<Line>& lines) {
    if (!bytes) return ::testing::AssertionFailure() << "there is no errors file " << Utf8(ErrorsFileName());
    const UINT codePage = GetACP();
    const std::wstring text = Decode(*bytes, codePage);
    std::wstring pattern, literal;
    bool open = false;
    for (const Line& line : lines) {
        for (const Piece& piece : line) {
            open = open || piece.kind != Piece::Kind::Literal;
            // An open part never holds the CR LF that ends a line.
            pattern += piece.kind == Piece::Kind::Any         ? L"(?:[^\\r]|\\r(?!\\n))+"
                       : piece.kind == Piece::Kind::AnyOrNone ? L"(?:[^\\r]|\\r(?!\\n))*"
                                                              : RegexEscaped(piece.literal);
            literal += piece.literal;
        }
        pattern += L"\r\n";
        literal += L"\r\n";
    }
    // Without open parts the bytes must be exactly these; with them, the
    // text must match and be exactly what the code page gives for it.
    const bool same = open ? std::regex_match(text, std::wregex(pattern)) && Encode(text, codePage) == *bytes
                           : Encode(literal, codePage) == *bytes;
    if (same) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure();
    failure << "the errors file (" << bytes->size() << " bytes, read in code page " << codePage << ") holds:";
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) end = text.size();
        failure << "\n    " << Printable(text.substr(start, end - start));
        start = end + 2;
    }
    if (bytes->size() >= 2 && (static_cast<unsigned char>((*bytes)[0]) >= 0xEF)) failure << "\n  (a byte-order mark?)";
    failure << "\n  expected" << (open ? " (\xE2\x80\xA6: any text)" : "") << ":";
    for (const Line& line : lines) failure << "\n    " << Describe(line);
    return failure;
}

// ---- running the program ----------------------------------------------------------------------------------

Clinic::Clinic(Engine engine, const std::wstring& schema)
    : table(engine, data, schema), dataLink(WriteDataLink(data, L"klinik.udl", OdbcDataLink(table.odbcString()))) {}

RunOptions UpdateAll(const Clinic& clinic, std::vector<std::wstring> options) {
    RunOptions run{.args = {L"UPDATE_ALL", clinic.dataLink}};
    for (std::wstring& option : options) run.args.push_back(std::move(option));
    return run;
}

Row Patient(int nr, std::wstring personnr, Row columns) {
    columns[L"PATIENTNR"] = std::to_wstring(nr);
    columns[L"PERSONNR"] = std::move(personnr);
    return columns;
}

std::wstring PoDocument(const std::vector<std::pair<std::wstring, std::wstring>>& tags) {
    std::wstring doc = L"<?xml version=\"1.0\" encoding=\"utf-8\"?><PopulationManager><PersonInfo>";
    for (const auto& [tag, text] : tags) doc += L"<" + tag + L">" + text + L"</" + tag + L">";
    return doc + L"</PersonInfo><Relation></Relation></PopulationManager>";
}

::testing::AssertionResult Start(ProgramRun& run, const Register& reg) {
    if (!run.folder().WriteFile(L"tolmar.ini", RegisterIniFor(reg.Endpoint())))
        return ::testing::AssertionFailure() << "tolmar.ini could not be written";
    return run.Start();
}

std::optional<std::string> ErrorsFile(ProgramRun& run) { return run.folder().ReadFile(ErrorsFileName()); }

std::vector<std::wstring> RunFolders(const TempFolder& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data{};
    const HANDLE find = FindFirstFileW((folder / L"runs\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> RunLog(const TempFolder& folder) {
    const std::vector<std::wstring> names = RunFolders(folder);
    for (auto name = names.rbegin(); name != names.rend(); ++name)
        if (auto log = folder.ReadFile(L"runs\\" + *name + L"\\log.txt")) return log;
    return std::nullopt;
}

std::optional<std::string> RunLogLines(const TempFolder& folder) {
    const std::optional<std::string> log = RunLog(folder);
    if (!log || log->rfind("\xEF\xBB\xBF", 0) != 0) return std::nullopt;
    const std::wstring text = Decode(log->substr(3), CP_UTF8);
    constexpr size_t kTime = 20;  // "yyyy-MM-dd HH:mm:ss "
    const std::wstring_view kOwn[] = {L"Tolmar07 version ", L"Dator ", L"Registret: ", L"Databas: ",
                                      L"Antal patienter ", L"Slut, slutkod "};
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) return std::nullopt;  // every line ends in CR LF
        const std::wstring line = text.substr(start, end - start);
        start = end + 2;
        if (line.size() < kTime) return std::nullopt;
        if (line.compare(0, kTime, std::wstring(kTime, L' ')) == 0 && !lines.empty())
            lines.back() += L"\r" + line.substr(kTime);
        else
            lines.push_back(line.substr(kTime));
    }
    std::wstring own;
    for (const std::wstring& line : lines)
        if (std::none_of(std::begin(kOwn), std::end(kOwn), [&](std::wstring_view p) { return line.starts_with(p); }))
            own += line + L"\r\n";
    return Encode(own, GetACP());
}

::testing::AssertionResult EndsWithoutBoxes(ProgramRun& run, Ms timeout, std::optional<DWORD> exitCode) {
    const Outcome out = run.Finish(IDOK, timeout);
    auto failure = ::testing::AssertionFailure();
    bool failed = false;
    if (!out.boxes.empty()) {
        failed = true;
        failure << "the program showed " << out.boxes.size() << " box(es):";
        for (const Box& box : out.boxes) failure << "\n    " << ::testing::PrintToString(box);
    }
    if (!out.exitCode) {
        failed = true;
        failure << "\nthe program did not end within " << timeout.count() << " ms";
    } else if (exitCode && out.exitCode != exitCode) {
        failed = true;
        failure << "\nthe program ended with exit code " << *out.exitCode << ", expected " << *exitCode;
    }
    if (!failed) return ::testing::AssertionSuccess();
    return failure << "\n  recorded:\n" << run.log().Dump();
}

}  // namespace e2e::upd
