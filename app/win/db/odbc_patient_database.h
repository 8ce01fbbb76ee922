// The patient database over ODBC: KUNDER read and written as text, a save
// being one UPDATE by PATIENTNR that also requires every changed column to
// still hold the value that was read, so that no one else's edit is ever
// overwritten.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/patient_database.h"
#include "app/patient_sql.h"
#include "tools/win/db/odbc.h"

namespace tolmar::win {

// The statements a run executes for every patient, prepared once: the row
// SELECT, and the optimistic UPDATE of each set of changed columns.
struct PreparedStatements;

class OdbcPatientDatabase final : public PatientDatabase {
public:
    // How long a statement waits for a lock that someone else holds.
    static constexpr std::chrono::seconds kLockWait{30};

    OdbcPatientDatabase();
    ~OdbcPatientDatabase() override;
    OdbcPatientDatabase(const OdbcPatientDatabase&) = delete;
    OdbcPatientDatabase& operator=(const OdbcPatientDatabase&) = delete;

    // Throws Error with the driver's diagnostics when it cannot connect; an
    // earlier connection is closed first (an open transaction rolled back).
    // For PostgreSQL and SQLite the connection string gets what the save
    // path relies on (PinnedForPostgreSql, WithBoundedBusyWait): Additions()
    // says what.
    void Connect(const std::wstring& connectionString) override;
    ConnectionAdditions Additions() const override { return additions_; }
    void BeginTransaction() override;
    void Commit() override;
    void Rollback() override;
    bool InTransaction() const override { return inTransaction_; }
    PatientList PatientKeys(const std::wstring& listSql) override;
    // The row stays usable while this connection does; after Connect or the
    // database's end its Save throws Error.
    std::unique_ptr<PatientRow> OpenPatient(const std::wstring& patientKey) override;

private:
    odbc::Connection& Open();
    void ForgetPreparedStatements() noexcept;
    const odbc::ColumnInfo& KeyColumn();

    std::shared_ptr<odbc::Connection> connection_;
    // The statements prepared on connection_ (freed before it: declared
    // after it), dropped at every commit and rollback.
    std::shared_ptr<PreparedStatements> prepared_;
    std::wstring quote_;  // the driver's identifier quote
    SqlDialect dialect_ = SqlDialect::Generic;
    bool inTransaction_ = false;
    std::optional<odbc::ColumnInfo> keyColumn_;  // PATIENTNR as the table has it
    ConnectionAdditions additions_;
};

}  // namespace tolmar::win
