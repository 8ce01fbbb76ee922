// What the "UPDATE_ALL" tests need beside the harness: a patient table of
// their own (SQLite in the run's folder or the PostgreSQL test server), read
// and written through ODBC from this process; the data-link file and
// "tolmar.ini" that point the program at it and at the register simulator;
// control of that simulator; and the errors file the run leaves.
//
// Failures of the set-up itself (no server, a statement refused) are thrown
// as std::runtime_error with the driver's or the server's own text, which
// the test then reports as its failure.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "harness.h"
#include "sql_script.h"
#include "tools/win/db/odbc.h"

namespace e2e::upd {

// ---- ODBC from the test process ---------------------------------------------

using tolmar::test::DriverPath;

using Value = std::optional<std::wstring>;  // nullopt: NULL

// One connection of the test's own (autocommit), on the program's ODBC
// owners; a failure names what the test was doing and the driver's text.
class OdbcConnection {
public:
    explicit OdbcConnection(const std::wstring& connectionString);
    OdbcConnection(const OdbcConnection&) = delete;
    OdbcConnection& operator=(const OdbcConnection&) = delete;

    void Execute(const std::wstring& sql) const;
    // The statements as one transaction: all or none.
    void ExecuteInOneTransaction(const std::vector<std::wstring>& statements) const;
    // Turns autocommit off and runs the statement, keeping the transaction
    // (and the locks it took) open until RollBack.
    void ExecuteAndHold(const std::wstring& sql) const;
    void RollBack() const;
    // Every row, every column as text.
    std::vector<std::vector<Value>> Query(const std::wstring& sql) const;
    // The first column of the first row; throws when there is no row.
    Value Scalar(const std::wstring& sql) const;
    // One of the repository's scripts in db/, statement by statement.
    void RunScript(const std::wstring& scriptName) const;

private:
    // The test's view of the table is const; its transactions are not.
    mutable tolmar::win::odbc::Connection connection_;
};

// ---- the patient table ---------------------------------------------------------

enum class Engine { Sqlite, Postgres };
std::string EngineName(Engine engine);
void PrintTo(Engine engine, std::ostream* os);

// The PostgreSQL test server's ODBC string (TOLMAR_PG_ODBC); "" when missing.
std::wstring PostgresOdbcString();
inline constexpr const char* kNoPostgres =
    "TOLMAR_PG_ODBC is not set: this test needs the PostgreSQL server that scripts/test starts "
    "(scripts/postgres.sh, start_postgres)";

// A row of KUNDER by column name. Columns left out are NULL (AKTIV: its default).
using Row = std::map<std::wstring, Value>;
// `row` with some columns changed.
Row With(Row row, const Row& changes);

// The columns the tests compare, in the table's order.
const std::vector<std::wstring>& ComparedColumns();
const std::vector<std::wstring>& ComparedColumnsWithoutOptional();

// A fresh KUNDER (and NORVENAUSER) made by one of the scripts in db/: in the
// file "klinik.db" of `folder` for SQLite, in the test server's database for
// PostgreSQL (the table is dropped and made anew).
class PatientTable {
public:
    PatientTable(Engine engine, const TempFolder& folder, const std::wstring& schemaScript = L"schema.sql");
    // Drops the trigger function it made on the server, if any.
    ~PatientTable();
    PatientTable(const PatientTable&) = delete;
    PatientTable& operator=(const PatientTable&) = delete;

    Engine engine() const { return engine_; }
    // The ODBC connection string of the database, as the data link gives it
    // to the program.
    const std::wstring& odbcString() const { return odbc_; }
    const OdbcConnection& sql() const { return *connection_; }

    void Insert(const std::vector<Row>& rows) const;
    // The compared columns of every row, by PATIENTNR.
    std::map<int, Row> Rows(const std::vector<std::wstring>& columns = ComparedColumns()) const;
    // A trigger that refuses every update of a row whose EPOST is `mark`,
    // with the server's error carrying `message`.
    void RefuseUpdatesWhereEpost(const std::wstring& mark, const std::wstring& message) const;
    // A deferred constraint trigger (PostgreSQL only) that lets every update
    // through but refuses the commit of a transaction that updated a row
    // whose EPOST is `mark`.
    void RefuseCommitWhereEpost(const std::wstring& mark, const std::wstring& message) const;
    // Ends every other connection's session on the test server (PostgreSQL
    // only); the number of sessions ended.
    int TerminateOtherSessions() const;

private:
    Engine engine_;
    std::wstring odbc_;
    std::unique_ptr<OdbcConnection> connection_;
    mutable bool serverFunction_ = false;
};

// EXPECT_TRUE(SameRows(table.Rows(), expected)): every row and column, with
// every difference named.
::testing::AssertionResult SameRows(const std::map<int, Row>& actual, const std::vector<Row>& expected);

// ---- the files the program reads ---------------------------------------------------

// Writes `name` into the folder as the platform's data-link editor does
// (UTF-16 with a byte-order mark); returns its full path.
std::wstring WriteDataLink(const TempFolder& folder, const std::wstring& name, const std::wstring& afterProvider);
// What follows "Provider=" in a data link for an ODBC connection string:
// the ODBC provider with the string as its extended properties.
std::wstring OdbcDataLink(const std::wstring& odbcString);
// "tolmar.ini" with the register's endpoint.
std::string RegisterIniFor(const std::wstring& endpoint);

// ---- the register simulator ---------------------------------------------------------

// The simulator that scripts/test starts, clean for this test (a
// SimulatorSession); made without a simulator, it throws.
class Register : public SimulatorSession {
public:
    Register();
    // POST /control/fault; throws when the simulator refuses it.
    void Inject(std::wstring_view injection) const;
};

// The action the program sends with every lookup.
inline const std::wstring kGetPersonAction = L"http://popman.mirell.example/HCW/PopulationManager/GetPerson";

// ---- the errors file -------------------------------------------------------------------

// "errors " + today in the user's short date format without "/" + ".txt".
std::wstring ErrorsFileName();
// The names of the errors files in the folder.
std::vector<std::wstring> ErrorsFiles(const TempFolder& folder);

// ---- the change journal ------------------------------------------------------------------

// A run's journal and a preview's file, in its run folder.
inline const std::wstring kChanges = L"changes.csv", kPreview = L"preview.csv";
// "runs\<folder>\<name>" for the newest run folder; "" when there is none.
std::wstring InNewestRun(const TempFolder& folder, const std::wstring& name);

inline const std::string kJournalHead =
    "\xEF\xBB\xBFTid,PATIENTNR,PERSONNR,Kolumn,Gammalt v\xC3\xA4rde,Nytt v\xC3\xA4rde,Format\r\n";

// The rows of a journal without their time (the first field), in order.
std::vector<std::string> RowsWithoutTime(const std::string& file);

// One expected line of the errors file: literal text, with `Any()` for a
// part the driver or the platform words (one or more characters, which may
// hold a lone CR or LF, as drivers' messages do, but not the CR LF that ends
// a line), and `AnyOrNone()` for such a part that may also be empty.
struct Piece {
    std::wstring literal;
    enum class Kind { Literal, Any, AnyOrNone } kind = Kind::Literal;
};
using Line = std::vector<Piece>;
inline Piece Lit(std::wstring text) { return {std::move(text)}; }
inline Piece Any() { return {L"", Piece::Kind::Any}; }
inline Piece AnyOrNone() { return {L"", Piece::Kind::AnyOrNone}; }
inline Line Text(std::wstring text) { return {Lit(std::move(text))}; }

// The file's bytes are the lines, each followed by CR LF, in the ANSI code
// page without a byte-order mark.
::testing::AssertionResult ErrorsFileHolds(const std::optional<std::string>& bytes, const std::vector<Line>& lines);

// ---- a clinic: a patient table, its data link and the register -------------------------------

// A patient table in a folder of its own with the data link to it, and the
// register simulator, clean for this test.
struct Clinic {
    explicit Clinic(Engine engine, const std::wstring& schema = L"schema.sql");

    Register reg;
    TempFolder data{L"tolmar-upd"};
    PatientTable table;
    std::wstring dataLink;
};

// "UPDATE_ALL" with the clinic's data link, and any options after it.
RunOptions UpdateAll(const Clinic& clinic, std::vector<std::wstring> options = {});

// A KUNDER row with its key and personal number.
Row Patient(int nr, std::wstring personnr, Row columns = {});

// A register document of the PO family for the simulator's `result` injection.
std::wstring PoDocument(const std::vector<std::pair<std::wstring, std::wstring>>& tags);

// ---- running the program ----------------------------------------------------------------

// Writes "tolmar.ini" for the register into the run's folder, then starts it.
::testing::AssertionResult Start(ProgramRun& run, const Register& reg);

// The run's errors file, if it wrote one.
std::optional<std::string> ErrorsFile(ProgramRun& run);

// The run folders in the working folder's "runs", in the order of their names.
std::vector<std::wstring> RunFolders(const TempFolder& folder);
// The log of the newest run folder that has one ("runs\<time>\log.txt"), if there is one.
std::optional<std::string> RunLog(const TempFolder& folder);
// The run's own lines in that log, after their times, in the errors file's
// form (each line CR LF, the ANSI code page), so that ErrorsFileHolds reads
// them: without the log's header and closing lines, a continuation line
// joined back to its line with the CR it stood for.
std::optional<std::string> RunLogLines(const TempFolder& folder);

// Waits for the program to end on its own without showing anything, with
// `exitCode` when given; the failure names what it showed instead.
::testing::AssertionResult EndsWithoutBoxes(ProgramRun& run, Ms timeout, std::optional<DWORD> exitCode = {});

}  // namespace e2e::upd
