#pragma once

// Which input months hold operations dated before 2008-01-01: what the operator needs to know
// before picking the months of a run.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/date_time.h"
#include "correction/sql_dialect.h"
#include "database/odbc.h"

namespace tovrik {

// The operations dated before 2008-01-01 that were read in during one month.
struct MonthScan {
    std::optional<int> YearMonth;  // 201904; nothing when their InputDate cannot be read (SQLite)
    std::int64_t Operations = 0;
    std::optional<DateTime> EarliestDate;  // among the Dates that can be read
    std::optional<DateTime> LatestDate;
    std::int64_t UnreadableDates = 0;  // Dates that are no date-time (SQLite text)
    std::array<std::int64_t, 3> DependentRows{};  // DriversTime, EventLog, OpData
};

// Every input month holding operations dated before 2008-01-01, in month order (the unreadable
// input dates last), limited to the months of the two picker values when given. Read-only: the
// table check and one statement whatever the size of the database (the server groups).
// Throws db::DbError.
std::vector<MonthScan> ScanAffectedMonths(db::Connection& connection,
                                          const std::optional<DateTime>& inputDate = {},
                                          const std::optional<DateTime>& inputEnd = {});

// The scan's one statement after the table check.
std::string ScanQuery(correction::Dialect dialect, const std::optional<DateTime>& inputDate = {},
                      const std::optional<DateTime>& inputEnd = {});

}  // namespace tovrik
