#pragma once

// The SQL text each kind of server needs to select the affected operations, move their
// date-times by 1024 weeks on the server, and find a value that cannot be moved.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/date_time.h"
#include "correction/date_rules.h"
#include "database/odbc.h"

namespace tovrik::correction {

enum class Dialect { SQLite, PostgreSQL, SqlServer, Other };

// The dialect of the server behind the connection, from the DBMS name its driver reports.
Dialect DialectOf(db::Connection& connection);

// A table whose date-time columns a run moves, and the column naming the operation.
struct MovedTable {
    const char* Name;
    const char* Key;
    std::vector<const char*> Columns;
};
extern const MovedTable kGeneral;
extern const MovedTable kDependents[3];  // DriversTime, EventLog, OpData

// A statement that sets the session up for the statements of a run, an undo or a scan (empty
// where nothing is needed). PostgreSQL: no JIT compilation and no parallel workers in this
// session; both take longer to start than those statements take to run (the scan of a bench
// database compiled for 0.4 s to work for 0.05 s, and an undo's check of 500 operations waited
// 0.2 s for its workers), and the updates use neither. A setting the server does not have (JIT
// before PostgreSQL 11) is left alone.
std::string SessionSettings(Dialect dialect);

// An ODBC timestamp escape, read the same way by every driver.
std::string Ts(const DateTime& value);
// A single-quoted SQL text literal.
std::string Quoted(const std::string& text);
// "1,2,3".
std::string IdList(const std::vector<std::int64_t>& ids);

// The value of column `c` moved by `days` (keeping the time of day and every fraction digit),
// computed by the server. NULL stays NULL; a value that is not a date-time or whose move leaves
// the representable range makes the whole statement fail rather than write NULL or a wrong value
// over it.
std::string MovedValue(Dialect dialect, const std::string& c, int days = kRolloverDays);
// True for a non-NULL value of `c` that MovedValue refuses.
std::string Unmovable(Dialect dialect, const std::string& c, int days = kRolloverDays);
// SQLite: true when the text of `c` is a date-time in a form the run reads. Other servers: 1.
std::string Readable(Dialect dialect, const std::string& c);
// The column as text exactly as stored (SQLite), or as the driver reads it.
std::string AsStored(Dialect dialect, const std::string& c);
// "c1=<moved c1>,c2=<moved c2>,..." for every moved column of the table.
std::string SetList(Dialect dialect, const MovedTable& table, int days = kRolloverDays);

// The input month of a date-time column as year * 100 + month (201904); NULL where it is NULL or
// (SQLite) not a readable date-time.
std::string YearMonthOf(Dialect dialect, const std::string& c);

// A midnight to compare a stored date-time against, as the dialect needs it. SQLite compares
// the stored text, so the date text alone: every form of a value of that day ("yyyy-mm-dd",
// "yyyy-mm-dd hh:mm", "yyyy-mm-ddThh:mm:ss.fff", ...) sorts at or after it and every value of
// an earlier day before it, exactly as the date-times compare (a full "yyyy-mm-dd 00:00:00"
// would sort after the date-only text of its own day). Other servers compare date-times: an
// ODBC escape, which every driver reads the same way.
std::string Midnight(Dialect dialect, const DateTime& midnight);

// The WHERE clause (ending in a blank) of every statement that picks the affected operations:
// Date before kRolloverCutoff, and, with a range, InputDate in [rangeStart, rangeEnd). No
// function around either column, so an index on InputDate still serves.
std::string SelectionCondition(Dialect dialect);
std::string SelectionCondition(Dialect dialect, const DateTime& rangeStart,
                               const DateTime& rangeEnd);

// A stored date-time text ("yyyy-mm-dd[( |T)hh:mm[:ss[.f...]]]", as SQLite holds it and as the
// journal records it) as a date-time (fractions beyond nanoseconds cut), or nothing. A trailing
// blank is an edit, not a date-time.
std::optional<DateTime> ParseStoredDate(const std::string& text);

// The literal that compares equal to exactly the stored value whose text (as the journal records
// it) is `text`: on SQLite, which compares its stored text, the text itself; elsewhere an ODBC
// escape of the date-time (NULL when the text is none).
std::string DateLiteral(Dialect dialect, const std::string& text);
// Whether a Date read back as AsStored (SQLite's text, else the driver's text of its value) is
// the value whose text is `text`.
bool SameStoredDate(Dialect dialect, const std::string& stored, const std::string& text);

// The date-time in column `c` of a row whose select list read it as AsStored(dialect, c): on
// SQLite the stored text read by ParseStoredDate (never a driver conversion of a short text).
// Nothing when it is NULL or no date-time.
std::optional<DateTime> ReadStoredDate(Dialect dialect, db::Statement& row, const std::string& c);

}  // namespace tovrik::correction
