#include "sampledata/sample_data.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <variant>

#include "correction/date_rules.h"

namespace tovrik::sampledata {

namespace {

enum class Dialect { Sqlite, Postgres, Other };

Dialect DialectOf(db::Connection& connection) {
    const std::string name = connection.DbmsName();
    if (name.find("SQLite") != std::string::npos) return Dialect::Sqlite;
    if (name.find("PostgreSQL") != std::string::npos) return Dialect::Postgres;
    return Dialect::Other;
}

constexpr std::array<const char*, 4> kTables = {"General", "DriversTime", "EventLog", "OpData"};

// Rows of one table collected and written as multi-row INSERTs: far fewer round trips than one
// statement per row, with every value bound as a parameter.
class BatchInsert {
public:
    using Value = std::variant<std::int64_t, DateTime>;

    BatchInsert(db::Connection& connection, std::string table, std::vector<std::string> columns)
        : connection_(connection), table_(std::move(table)), columns_(std::move(columns)) {
        rowsPerBatch_ = std::max<std::size_t>(1, std::min<std::size_t>(100, 900 / columns_.size()));
    }

    void Add(std::vector<Value> row) {
        pending_.push_back(std::move(row));
        ++rows_;
        if (pending_.size() == rowsPerBatch_) {
            if (!full_) full_.emplace(connection_.Prepare(Sql(rowsPerBatch_)));
            Write(*full_);
        }
    }

    void Flush() {
        if (pending_.empty()) return;
        db::Statement tail = connection_.Prepare(Sql(pending_.size()));
        Write(tail);
    }

    std::int64_t Rows() const { return rows_; }

private:
    std::string Sql(std::size_t rows) const {
        std::string sql = "INSERT INTO " + table_ + " (";
        std::string tuple = "(";
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            sql += (i == 0 ? "" : ", ") + columns_[i];
            tuple += i == 0 ? "?" : ",?";
        }
        tuple += ")";
        sql += ") VALUES ";
        for (std::size_t r = 0; r < rows; ++r) sql += (r == 0 ? "" : ",") + tuple;
        return sql;
    }

    void Write(db::Statement& statement) {
        int index = 1;
        for (const auto& row : pending_) {
            for (const auto& value : row) {
                if (const auto* number = std::get_if<std::int64_t>(&value)) {
                    statement.BindInt(index++, *number);
                } else {
                    statement.BindDateTime(index++, std::get<DateTime>(value));
                }
            }
        }
        statement.Execute();
        pending_.clear();
    }

    db::Connection& connection_;
    std::string table_;
    std::vector<std::string> columns_;
    std::size_t rowsPerBatch_ = 1;
    std::vector<std::vector<Value>> pending_;
    std::optional<db::Statement> full_;
    std::int64_t rows_ = 0;
};

DateTime AddSeconds(const DateTime& value, std::int64_t seconds) {
    std::int64_t total = value.Hour * 3600 + value.Minute * 60 + value.Second + seconds;
    std::int64_t days = total / 86400;
    total %= 86400;
    if (total < 0) {
        total += 86400;
        --days;
    }
    DateTime result = AddDays(value, days);
    result.Hour = static_cast<int>(total / 3600);
    result.Minute = static_cast<int>(total / 60 % 60);
    result.Second = static_cast<int>(total % 60);
    return result;
}

int DaysInMonth(int year, int month) {
    const DateTime first{year, month, 1, 0, 0, 0, 0};
    const DateTime next = AddMonthsToMonthStart(first, 1);
    return static_cast<int>(DaysFromCivil(next.Year, next.Month, next.Day) -
                            DaysFromCivil(year, month, 1));
}

enum class Kind { Affected, Unaffected, OtherMonth };

}  // namespace

void CreateSuiteSchema(db::Connection& connection) {
    const std::string dt = DialectOf(connection) == Dialect::Postgres ? "TIMESTAMP(3)" : "DATETIME";
    connection.Execute("CREATE TABLE General (ID INTEGER NOT NULL PRIMARY KEY, InputDate " + dt +
                       ", Date " + dt + ", StartTime " + dt + ", EndTime " + dt + ")");
    connection.Execute("CREATE INDEX IX_General_InputDate ON General (InputDate)");
    connection.Execute(
        "CREATE TABLE DriversTime (GeneralID INTEGER NOT NULL, DriverID INTEGER NOT "
        "NULL, StartTime " +
        dt + ", EndTime " + dt + ", Date " + dt + ", PRIMARY KEY (GeneralID, DriverID))");
    connection.Execute(
        "CREATE TABLE EventLog (GeneralID INTEGER NOT NULL, SeqNo INTEGER NOT NULL, "
        "Date " +
        dt + ", PRIMARY KEY (GeneralID, SeqNo))");
    connection.Execute(
        "CREATE TABLE OpData (GeneralID INTEGER NOT NULL, Page INTEGER NOT NULL, "
        "RecDate " +
        dt + ", RecStart " + dt + ", RecEnd " + dt + ", PRIMARY KEY (GeneralID, Page))");
}

void DropSuiteSchema(db::Connection& connection) {
    for (const char* table : kTables) {
        connection.Execute(std::string("DROP TABLE IF EXISTS ") + table);
    }
}

SampleData FillSampleData(db::Connection& connection, const SampleSpec& spec) {
    std::optional<db::Transaction> transaction;
    if (!connection.InTransaction()) transaction.emplace(connection);

    BatchInsert general(connection, "General", {"ID", "InputDate", "Date", "StartTime", "EndTime"});
    BatchInsert drivers(connection, "DriversTime",
                        {"GeneralID", "DriverID", "StartTime", "EndTime", "Date"});
    BatchInsert events(connection, "EventLog", {"GeneralID", "SeqNo", "Date"});
    BatchInsert opData(connection, "OpData",
                       {"GeneralID", "Page", "RecDate", "RecStart", "RecEnd"});

    const DateTime monthStart{spec.Year, spec.Month, 1, 0, 0, 0, 0};
    const DateTime nextMonthStart = AddMonthsToMonthStart(monthStart, 1);
    const int daysInMonth = DaysInMonth(spec.Year, spec.Month);
    const int daysInNextMonth = DaysInMonth(nextMonthStart.Year, nextMonthStart.Month);

    SampleData result;
    int left[3] = {std::max(spec.Affected, 0), std::max(spec.Unaffected, 0),
                   std::max(spec.AffectedOtherMonth, 0)};
    int done[3] = {0, 0, 0};
    std::int64_t id = spec.FirstId;
    for (int turn = 0; left[0] + left[1] + left[2] > 0; ++turn) {
        const int kindIndex = turn % 3;
        if (left[kindIndex] == 0) continue;
        --left[kindIndex];
        const int k = done[kindIndex]++;
        const auto kind = static_cast<Kind>(kindIndex);

        // When the data was read in: spread over the month, at office hours.
        const DateTime& inputMonth = kind == Kind::OtherMonth ? nextMonthStart : monthStart;
        const int inputDays = kind == Kind::OtherMonth ? daysInNextMonth : daysInMonth;
        DateTime inputDate =
            AddSeconds(AddDays(inputMonth, k % inputDays), 8 * 3600 + (k * 37 % 600) * 60 + k % 60);
        if (kind == Kind::Affected && k == 0) inputDate = monthStart;

        // The operation itself took place up to two days before it was read in.
        DateTime date = AddDays(inputDate, -(k % 3));
        date.Hour = date.Minute = date.Second = 0;
        date.Fraction = 0;
        if (kind != Kind::Unaffected) date = AddDays(date, -kRolloverDays);
        DateTime start = AddSeconds(date, 6 * 3600 + (k * 7 % 180) * 60 + k % 60);
        if (k % 3 == 1) start.Fraction = static_cast<std::uint32_t>(k % 1000) * 1'000'000u;
        const std::int64_t duration = 8 * 3600 + (k % 5) * 1800;
        const DateTime end = AddSeconds(start, duration);

        general.Add({id, inputDate, date, start, end});
        for (int d = 1; d <= spec.DriversPerOperation; ++d) {
            const std::int64_t share = duration / spec.DriversPerOperation;
            const DateTime from = AddSeconds(start, share * (d - 1));
            drivers.Add({id, std::int64_t{d}, from, AddSeconds(from, share), date});
        }
        for (int s = 1; s <= spec.EventsPerOperation; ++s) {
            DateTime at = AddSeconds(start, duration * s / (spec.EventsPerOperation + 1));
            at.Fraction = s % 4 == 0 ? 500'000'000u : 0u;
            events.Add({id, std::int64_t{s}, at});
        }
        for (int p = 1; p <= spec.OpDataPerOperation; ++p) {
            const std::int64_t share = duration / spec.OpDataPerOperation;
            const DateTime from = AddSeconds(start, share * (p - 1));
            opData.Add({id, std::int64_t{p}, date, from, AddSeconds(from, share)});
        }

        auto& ids = kind == Kind::Affected     ? result.AffectedIds
                    : kind == Kind::Unaffected ? result.UnaffectedIds
                                               : result.OtherMonthIds;
        ids.push_back(id);
        ++id;
    }
    general.Flush();
    drivers.Flush();
    events.Flush();
    opData.Flush();
    result.Rows = general.Rows() + drivers.Rows() + events.Rows() + opData.Rows();
    if (transaction) transaction->Commit();
    return result;
}

}  // namespace tovrik::sampledata
