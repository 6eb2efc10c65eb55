#pragma once

// The suite's four tables and deterministic sample operations in them, shared by the tests, the
// demo and the benchmark.

#include <cstdint>
#include <vector>

#include "common/date_time.h"
#include "database/odbc.h"

namespace tovrik::sampledata {

// Creates General, DriversTime, EventLog and OpData with unquoted names, their primary keys and
// an index on General.InputDate. Date-time columns are DATETIME (SQLite, SQL Server) or
// TIMESTAMP(3) (PostgreSQL). Throws db::DbError, e.g. when a table exists already.
void CreateSuiteSchema(db::Connection& connection);
// Drops the four tables where they exist.
void DropSuiteSchema(db::Connection& connection);

// What FillSampleData writes. Operations of the three kinds are interleaved in ID order.
struct SampleSpec {
    int Year = 2019;  // the input month: InputDate of affected and unaffected operations
    int Month = 4;
    int Affected = 10;            // Date 1024 weeks early (before 2008), input in the month
    int Unaffected = 10;          // correct Date, input in the month
    int AffectedOtherMonth = 0;   // Date 1024 weeks early, input in the month after
    int DriversPerOperation = 2;  // DriversTime rows, DriverID 1..n
    int EventsPerOperation = 10;  // EventLog rows, SeqNo 1..n
    int OpDataPerOperation = 5;   // OpData rows, Page 1..n
    std::int64_t FirstId = 1;     // General.ID of the first operation; IDs are consecutive
};

struct SampleData {
    std::vector<std::int64_t> AffectedIds;  // ascending
    std::vector<std::int64_t> UnaffectedIds;
    std::vector<std::int64_t> OtherMonthIds;
    std::int64_t Rows = 0;  // rows inserted into all four tables
};

// Inserts the operations and their dependent rows in one transaction (or in the caller's, when
// one is open). The same spec always gives the same rows. Some StartTime and EventLog values
// carry millisecond fractions; the first affected operation's InputDate is exactly the first
// moment of the month.
SampleData FillSampleData(db::Connection& connection, const SampleSpec& spec);

}  // namespace tovrik::sampledata
