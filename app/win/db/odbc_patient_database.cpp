#include "app/win/db/odbc_patient_database.h"

#include <algorithm>
#include <exception>
#include <map>
#include <utility>

#include "app/patient_sql.h"
#include "tools/error.h"
#include "tools/messages.h"
#include "tools/text.h"

namespace tolmar::win {

struct PreparedStatements {
    // More distinct column sets than this in one transaction start the cache anew.
    static constexpr size_t kMaxUpdates = 64;

    std::optional<odbc::Statement> row;    // SELECT * FROM KUNDER WHERE PATIENTNR = ?
    std::vector<odbc::ColumnInfo> rowColumns;  // described at its first execution
    std::map<std::wstring, odbc::Statement> updates;  // by their SQL text
};

namespace {

// A statement taken from the cache: its parameters and cursor forgotten on
// the way in, its cursor closed on the way out. A statement whose use
// failed leaves the cache, so that the next use prepares it afresh.
template <class Drop>
class Borrowed {
public:
    Borrowed(odbc::Statement& statement, Drop drop) : statement_(statement), drop_(std::move(drop)) {
        statement_.Reset();
    }
    ~Borrowed() {
        if (std::uncaught_exceptions() > exceptions_) {
            drop_();
            return;
        }
        try {
            statement_.Reset();
        } catch (...) {
            drop_();
        }
    }
    Borrowed(const Borrowed&) = delete;
    Borrowed& operator=(const Borrowed&) = delete;
    odbc::Statement* operator->() { return &statement_; }
    odbc::Statement& operator*() { return statement_; }

private:
    odbc::Statement& statement_;
    Drop drop_;
    int exceptions_ = std::uncaught_exceptions();
};

constexpr const wchar_t* kKeyColumn = L"PATIENTNR";

bool IsCharacterType(SQLSMALLINT type) {
    switch (type) {
        case SQL_CHAR:
        case SQL_VARCHAR:
        case SQL_LONGVARCHAR:
        case SQL_WCHAR:
        case SQL_WVARCHAR:
        case SQL_WLONGVARCHAR:
        case SQL_UNKNOWN_TYPE:
            return true;
        default:
            return false;
    }
}

// Binds a text for a column: converted by the driver to the column's own
// type, so that keys and dates compare as what they are.
void BindFor(odbc::Statement& statement, const odbc::ColumnInfo& column, const std::optional<std::wstring>& value) {
    if (IsCharacterType(column.sqlType)) {
        const SQLSMALLINT type = column.sqlType == SQL_UNKNOWN_TYPE ? SQL_WVARCHAR : column.sqlType;
        statement.BindText(value, type, value ? value->size() : 1);
    } else {
        statement.BindText(value, column.sqlType, column.size, column.decimalDigits);
    }
}

bool IsLongText(SQLSMALLINT type) { return type == SQL_LONGVARCHAR || type == SQL_WLONGVARCHAR; }

// How many rows of KUNDER have the key.
long long RowsWithKey(const odbc::Connection& connection, const std::wstring& quote, const odbc::ColumnInfo& key,
                      const std::optional<std::wstring>& value) {
    odbc::Statement count(connection);
    BindFor(count, key, value);
    count.ExecuteDirect(KeyCountSql(key.name, quote));
    if (!count.Fetch()) return 0;
    return std::stoll(count.Text(1).value_or(L"0"));
}

class OdbcPatientRow final : public PatientRow {
public:
    struct Column {
        odbc::ColumnInfo info;
        std::optional<std::wstring> value;  // nullopt for NULL
    };

    OdbcPatientRow(std::weak_ptr<odbc::Connection> connection, std::weak_ptr<PreparedStatements> prepared,
                   std::wstring quote, SqlDialect dialect, std::vector<Column> columns, size_t keyIndex)
        : connection_(std::move(connection)), prepared_(std::move(prepared)), quote_(std::move(quote)),
          dialect_(dialect), columns_(std::move(columns)), keyIndex_(keyIndex) {}

    bool HasColumn(std::wstring_view column) const override { return Find(column).has_value(); }

    std::wstring Text(std::wstring_view column) const override {
        return columns_[Required(column)].value.value_or(L"");
    }

    std::optional<std::wstring> Value(std::wstring_view column) const override {
        return columns_[Required(column)].value;
    }

    void SaveValues(const std::vector<ColumnValue>& changes) override { Update(changes, nullptr); }

    void SaveValuesWhere(const std::vector<ColumnValue>& changes, const std::vector<ColumnValue>& held) override {
        Update(changes, &held);
    }

    bool Holds(const std::vector<ColumnValue>& values) override {
        if (values.empty()) return true;
        const std::shared_ptr<odbc::Connection> connection = connection_.lock();
        if (!connection || !connection->connected())
            throw Error(L"Anslutningen till databasen är stängd; raden kan inte läsas.");
        std::vector<ChangedColumn> columns;
        for (const auto& [name, value] : values) {
            const odbc::ColumnInfo& info = columns_[Required(name)].info;
            columns.push_back({info.name, IsLongText(info.sqlType), !value.has_value()});
        }
        const odbc::ColumnInfo& key = columns_[keyIndex_].info;
        const std::optional<std::wstring>& keyValue = columns_[keyIndex_].value;
        odbc::Statement count(*connection);
        BindFor(count, key, keyValue);
        BindFor(count, key, keyValue);
        for (const auto& [name, value] : values)
            if (value) BindFor(count, columns_[Required(name)].info, value);
        count.ExecuteDirect(HoldsSql(columns, key.name, quote_, dialect_));
        return count.Fetch() && count.Text(1).value_or(L"0") == L"1";
    }

private:
    // The one UPDATE of a save: each changed column must hold its value in
    // `held` when given, else the value that was read.
    void Update(const std::vector<ColumnValue>& changes, const std::vector<ColumnValue>* held) {
        if (changes.empty()) return;
        // The changed columns, each once, with its last value.
        std::vector<std::pair<size_t, std::optional<std::wstring>>> sets;
        for (const auto& [name, value] : changes) {
            const size_t index = Required(name);
            auto same = std::find_if(sets.begin(), sets.end(), [&](const auto& s) { return s.first == index; });
            if (same != sets.end())
                same->second = value;
            else
                sets.emplace_back(index, value);
        }
        const std::shared_ptr<odbc::Connection> connection = connection_.lock();
        const std::shared_ptr<PreparedStatements> prepared = prepared_.lock();
        if (!connection || !connection->connected() || !prepared)
            throw Error(L"Anslutningen till databasen är stängd; raden kan inte sparas.");

        // What each changed column must hold, in the order of `sets`.
        std::vector<std::optional<std::wstring>> expected;
        for (const auto& [index, value] : sets) {
            if (!held) {
                expected.push_back(columns_[index].value);
                continue;
            }
            auto it = std::find_if(held->begin(), held->end(),
                                   [&, wanted = index](const ColumnValue& h) { return Required(h.first) == wanted; });
            if (it == held->end())
                throw Error(L"Kolumnen " + columns_[index].info.name + L" saknar värdet den ska ha före sparandet.");
            expected.push_back(it->second);
        }
        std::vector<ChangedColumn> changed;
        for (size_t i = 0; i < sets.size(); ++i)
            changed.push_back({columns_[sets[i].first].info.name, IsLongText(columns_[sets[i].first].info.sqlType),
                               !expected[i].has_value()});
        const odbc::ColumnInfo& key = columns_[keyIndex_].info;
        const std::optional<std::wstring>& keyValue = columns_[keyIndex_].value;

        const std::wstring sql = OptimisticUpdateSql(changed, key.name, quote_, dialect_);
        auto found = prepared->updates.find(sql);
        if (found == prepared->updates.end()) {
            if (prepared->updates.size() >= PreparedStatements::kMaxUpdates) prepared->updates.clear();
            odbc::Statement statement(*connection);
            statement.Prepare(sql);
            found = prepared->updates.emplace(sql, std::move(statement)).first;
        }
        SQLLEN rows = 0;
        {
            PreparedStatements& cache = *prepared;
            Borrowed update(found->second, [&cache, &sql] { cache.updates.erase(sql); });
            for (const auto& [index, value] : sets) BindFor(*update, columns_[index].info, value);
            BindFor(*update, key, keyValue);
            BindFor(*update, key, keyValue);
            for (size_t i = 0; i < sets.size(); ++i)
                if (expected[i]) BindFor(*update, columns_[sets[i].first].info, expected[i]);
            update->Execute();
            rows = update->RowCount();
        }
        if (rows == 0) {
            // Nothing matched: the key is on more than one row now, or the
            // row was changed (or deleted) by someone else.
            if (RowsWithKey(*connection, quote_, key, keyValue) > 1) throw DuplicateKeyError(keyValue.value_or(L""));
            throw Error(std::wstring(kRowNotLocatedText));
        }
        for (const auto& [index, value] : sets) columns_[index].value = value;
    }

    std::optional<size_t> Find(std::wstring_view column) const {
        const std::wstring wanted = UpperLocale(column);
        for (size_t i = 0; i < columns_.size(); ++i)
            if (UpperLocale(columns_[i].info.name) == wanted) return i;
        return std::nullopt;
    }

    size_t Required(std::wstring_view column) const {
        const std::optional<size_t> index = Find(column);
        if (!index) throw Error(L"Tabellen KUNDER saknar kolumnen " + std::wstring(column) + L".");
        return *index;
    }

    std::weak_ptr<odbc::Connection> connection_;
    std::weak_ptr<PreparedStatements> prepared_;
    std::wstring quote_;
    SqlDialect dialect_;
    std::vector<Column> columns_;
    size_t keyIndex_;
};

}  // namespace

OdbcPatientDatabase::OdbcPatientDatabase() = default;
OdbcPatientDatabase::~OdbcPatientDatabase() { prepared_.reset(); }

void OdbcPatientDatabase::Connect(const std::wstring& connectionString) {
    prepared_.reset();
    connection_.reset();
    inTransaction_ = false;
    keyColumn_.reset();
    additions_ = {};
    std::wstring tuned = WithBoundedBusyWait(connectionString, kLockWait);
    if (const std::wstring bounded = BoundedBusyWaitSetting(tuned); !bounded.empty())
        additions_.settings.push_back(bounded);
    const auto pin = [this, &tuned] {
        PinnedConnectionString pinned = PinnedForPostgreSql(tuned);
        tuned = std::move(pinned.connectionString);
        additions_.settings.insert(additions_.settings.end(), pinned.added.begin(), pinned.added.end());
        additions_.replacedLevel = std::move(pinned.replacedLevel);
    };
    const bool pinnedFirst = NamesPostgreSqlDriver(tuned);
    if (pinnedFirst) pin();
    auto connection = std::make_shared<odbc::Connection>(odbc::Connection::Open(tuned));
    dialect_ = DialectOfDbms(connection->DbmsName());
    // A data source (DSN=) names no driver: when it turns out to be
    // PostgreSQL, the connection is made again with the settings pinned
    // (the connection string's attributes go over the data source's).
    if (dialect_ == SqlDialect::PostgreSql && !pinnedFirst) {
        connection.reset();
        pin();
        connection = std::make_shared<odbc::Connection>(odbc::Connection::Open(tuned));
        dialect_ = DialectOfDbms(connection->DbmsName());
    }
    quote_ = connection->IdentifierQuote();
    for (const std::wstring& sql : SessionSettingsSql(dialect_, kLockWait)) {
        odbc::Statement set(*connection);
        set.ExecuteDirect(sql);
    }
    connection_ = std::move(connection);
    prepared_ = std::make_shared<PreparedStatements>();
}

odbc::Connection& OdbcPatientDatabase::Open() {
    if (!connection_ || !connection_->connected())
        throw Error(L"Det finns ingen anslutning till databasen.");
    return *connection_;
}

void OdbcPatientDatabase::BeginTransaction() {
    Open().BeginTransaction();
    inTransaction_ = true;
}

// A driver may discard its prepared statements when a transaction ends
// (SQL_CB_DELETE): each transaction prepares its own. They are freed only
// once the transaction has ended: freeing one first may let a driver find
// a lost connection and then report the commit that follows as done.
void OdbcPatientDatabase::ForgetPreparedStatements() noexcept {
    if (prepared_) *prepared_ = PreparedStatements{};
}

namespace {
template <class F>
struct AtScopeEnd {
    F f;
    ~AtScopeEnd() { f(); }
};
template <class F>
AtScopeEnd(F) -> AtScopeEnd<F>;
}  // namespace

void OdbcPatientDatabase::Commit() {
    if (!inTransaction_) throw Error(L"Ingen transaktion är pågående.");
    odbc::Connection& connection = Open();
    const AtScopeEnd forget{[this]() noexcept { ForgetPreparedStatements(); }};
    try {
        // PostgreSQL ends a transaction that a failed statement left aborted
        // with a rollback, and the driver reports its COMMIT as done. With
        // the statement-level rollback pinned no statement leaves it so,
        // but a transaction found aborted here is a failed commit all the
        // same: nothing of the batch is kept, and the run must say so.
        if (dialect_ == SqlDialect::PostgreSql) {
            try {
                odbc::Statement probe(connection);
                probe.ExecuteDirect(L"SELECT 1");
            } catch (const Error& e) {
                throw Error(MessageOf(e) + L" Transaktionen hade redan avbrutits i databasen och kan inte sparas.");
            }
        }
        connection.EndTransaction(true);
    } catch (const Error&) {
        // A refused commit leaves the transaction to the client on some
        // databases (SQLite keeps it open) and ends it on others; a lost
        // connection has ended it on the server. It is rolled back here so
        // that none of it is kept later by chance, and the connection is
        // back in autocommit; a rollback that fails (the connection is gone)
        // changes neither.
        try {
            connection.EndTransaction(false);
        } catch (const Error&) {
        }
        inTransaction_ = false;
        throw;
    }
    inTransaction_ = false;
}

void OdbcPatientDatabase::Rollback() {
    if (!inTransaction_) throw Error(L"Ingen transaktion är pågående.");
    odbc::Connection& connection = Open();
    const AtScopeEnd forget{[this]() noexcept { ForgetPreparedStatements(); }};
    connection.EndTransaction(false);
    inTransaction_ = false;
}

PatientList OdbcPatientDatabase::PatientKeys(const std::wstring& listSql) {
    odbc::Statement list(Open());
    list.MakeForwardOnlyReadOnly();
    list.ExecuteDirect(listSql);
    const SQLUSMALLINT column = list.FindColumn(kKeyColumn);
    if (column == 0) throw Error(L"Frågan ger ingen kolumn PATIENTNR: " + listSql);
    const SQLUSMALLINT numberColumn = list.FindColumn(L"PERSONNR");
    PatientList patients;
    if (numberColumn != 0) patients.numbers.emplace();
    auto number = [&list, numberColumn] {
        std::wstring text = list.Text(numberColumn).value_or(L"");
        return text.size() <= PatientList::kMostNumberChars ? text : std::wstring();
    };
    // A driver may read a row's columns only in their order.
    const bool numberFirst = numberColumn != 0 && numberColumn < column;
    while (list.Fetch()) {
        std::wstring listed;
        if (numberFirst) listed = number();
        patients.keys.push_back(list.Text(column).value_or(L""));
        if (!patients.numbers) continue;
        if (!numberFirst) listed = number();
        patients.numbers->push_back(std::move(listed));
    }
    patients.keys.shrink_to_fit();
    if (patients.numbers) patients.numbers->shrink_to_fit();
    return patients;
}

const odbc::ColumnInfo& OdbcPatientDatabase::KeyColumn() {
    if (!keyColumn_) {
        odbc::Statement probe(Open());
        probe.ExecuteDirect(L"SELECT PATIENTNR FROM KUNDER WHERE 1 = 0");
        keyColumn_ = probe.Describe(1);
    }
    return *keyColumn_;
}

std::unique_ptr<PatientRow> OdbcPatientDatabase::OpenPatient(const std::wstring& patientKey) {
    const odbc::ColumnInfo key = KeyColumn();
    odbc::Connection& connection = Open();
    PreparedStatements& prepared = *prepared_;
    if (!prepared.row) {
        odbc::Statement statement(connection);
        statement.MakeForwardOnlyReadOnly();
        statement.Prepare(L"SELECT * FROM KUNDER WHERE PATIENTNR = ?");
        prepared.row = std::move(statement);
        prepared.rowColumns.clear();
    }
    Borrowed query(*prepared.row, [&prepared] {
        prepared.row.reset();
        prepared.rowColumns.clear();
    });
    BindFor(*query, key, patientKey);
    query->Execute();
    // The shape of the prepared statement's rows is read once.
    if (prepared.rowColumns.empty()) {
        const auto count = static_cast<size_t>(query->ColumnCount());
        for (size_t i = 0; i < count; ++i) prepared.rowColumns.push_back(query->Describe(static_cast<SQLUSMALLINT>(i + 1)));
    }
    std::vector<OdbcPatientRow::Column> columns(prepared.rowColumns.size());
    std::optional<size_t> keyIndex;
    for (size_t i = 0; i < columns.size(); ++i) {
        columns[i].info = prepared.rowColumns[i];
        if (!keyIndex && UpperLocale(columns[i].info.name) == kKeyColumn) keyIndex = i;
    }
    if (!keyIndex) throw Error(L"Tabellen KUNDER saknar kolumnen PATIENTNR.");
    if (!query->Fetch()) return nullptr;
    for (size_t i = 0; i < columns.size(); ++i) columns[i].value = query->Text(static_cast<SQLUSMALLINT>(i + 1));
    if (query->Fetch()) throw DuplicateKeyError(patientKey);
    return std::make_unique<OdbcPatientRow>(connection_, prepared_, quote_, dialect_, std::move(columns), *keyIndex);
}

}  // namespace tolmar::win
