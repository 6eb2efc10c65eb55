#include "correction/sql_dialect.h"

namespace tovrik::correction {

namespace {

// "+7168 days", "-7168 days": a SQLite date modifier.
std::string DaysModifier(int days) {
    std::string modifier = days < 0 ? "'" : "'+";
    return modifier.append(std::to_string(days)).append(" days'");
}

// The first moment whose move lies after the year 9999 (days > 0), or the first moment whose move
// does not lie before the year 1 (days < 0).
DateTime MovableLimit(int days) {
    return days >= 0 ? AddDays(DateTime{10000, 1, 1}, -days) : AddDays(DateTime{1, 1, 1}, -days);
}

// The PostgreSQL condition for a value MovedValue can move.
std::string PgMovable(const std::string& c, int days) {
    return days >= 0 ? c + ">={ts '0001-01-01 00:00:00'} AND " + c + "<" + Ts(MovableLimit(days))
                     : c + ">=" + Ts(MovableLimit(days)) + " AND " + c + "<'infinity'";
}

// SQLite keeps date-times as text. A value counts as a date-time only in the text forms
// "yyyy-mm-dd", "yyyy-mm-dd hh:mm", "yyyy-mm-dd hh:mm:ss" and "yyyy-mm-dd hh:mm:ss.f..." (or
// with "T" between date and time) naming a real calendar day and time of day. SQLite's own date
// functions would also take time zones and julian day numbers, return NULL for the rest, and
// round fractions to milliseconds (which can carry 23:59:59.9996 into the next day), so only the
// full check gives them the date part alone.
std::string SqliteReadable(const std::string& c) {
    const std::string day = "substr(" + c + ",1,10)";
    const std::string tail = "substr(" + c + ",11)";
    return "(typeof(" + c + ")='text' AND date(" + day + ",'+0 days')=" + day + " AND (length(" +
           c + ")=10 OR (substr(" + c + ",12,2)<'24' AND (" + tail +
           " GLOB '[ T][0-9][0-9]:[0-5][0-9]' OR " + tail +
           " GLOB '[ T][0-9][0-9]:[0-5][0-9]:[0-5][0-9]' OR (" + tail +
           " GLOB '[ T][0-9][0-9]:[0-5][0-9]:[0-5][0-9].[0-9]*' AND substr(" + c +
           ",21) NOT GLOB '*[^0-9]*')))))";
}

std::string SqliteMovedDay(const std::string& c, int days) {
    return "date(substr(" + c + ",1,10)," + DaysModifier(days) + ")";
}

// Fails the statement it is evaluated in (SQLite has no way to raise an error from a query;
// abs() of the smallest integer overflows). Mentions the column so it is evaluated per row.
std::string SqliteFail(const std::string& c) {
    return "abs(-9223372036854775807-1+0*length(" + c + "))";
}

}  // namespace

const MovedTable kGeneral{"General", "ID", {"Date", "StartTime", "EndTime"}};
const MovedTable kDependents[3] = {
    {"DriversTime", "GeneralID", {"StartTime", "EndTime", "Date"}},
    {"EventLog", "GeneralID", {"Date"}},
    {"OpData", "GeneralID", {"RecDate", "RecStart", "RecEnd"}},
};

Dialect DialectOf(db::Connection& connection) {
    const std::string name = connection.DbmsName();
    auto startsWith = [&](const char* prefix) { return name.rfind(prefix, 0) == 0; };
    if (startsWith("SQLite")) return Dialect::SQLite;
    if (startsWith("PostgreSQL")) return Dialect::PostgreSQL;
    if (startsWith("Microsoft SQL Server")) return Dialect::SqlServer;
    return Dialect::Other;
}

std::string SessionSettings(Dialect dialect) {
    if (dialect != Dialect::PostgreSQL) return {};
    return "SELECT set_config(name,CASE name WHEN 'jit' THEN 'off' ELSE '0' END,false) FROM "
           "pg_settings WHERE name IN ('jit','max_parallel_workers_per_gather')";
}

std::string Ts(const DateTime& value) { return "{ts '" + FormatIso(value) + "'}"; }

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted + "'";
}

std::string IdList(const std::vector<std::int64_t>& ids) {
    std::string list;
    for (std::int64_t id : ids) {
        if (!list.empty()) list += ',';
        list += std::to_string(id);
    }
    return list;
}

std::string MovedValue(Dialect dialect, const std::string& c, int days) {
    switch (dialect) {
        case Dialect::SQLite:
            // The date part is moved and the time text kept as it is, so every fraction digit
            // survives (strftime's %f would round to milliseconds). The first branch is the
            // cheap path for the form the driver writes ("yyyy-mm-dd hh:mm:ss.fff"): SQLite's
            // parser checks the digits and most ranges, the tests here the rest (the hour 24 and
            // days past the end of the month, which SQLite accepts; 29 February takes the full
            // check), and milliseconds cannot round into the next day. Everything else takes the
            // full check.
            return "CASE WHEN " + c + " LIKE '____-__-__ __:__:__.___' AND (substr(" + c +
                   ",9,2)<='28' OR substr(" + c + ",9,2)<=CASE substr(" + c +
                   ",6,2) WHEN '02' THEN '28' WHEN '04' THEN '30' WHEN '06' THEN '30' WHEN '09' "
                   "THEN '30' WHEN '11' THEN '30' ELSE '31' END) AND substr(" +
                   c + ",12,2)<'24' AND substr(" + c +
                   ",23) BETWEEN '0' AND '9' THEN coalesce(date(" + c + "," +
                   DaysModifier(days) + ")||substr(" + c + ",11)," + SqliteFail(c) + ") WHEN " +
                   c + " IS NULL THEN NULL WHEN " + SqliteReadable(c) + " THEN coalesce(" +
                   SqliteMovedDay(c, days) + "||substr(" + c + ",11)," +
                   SqliteFail(c) + ") ELSE " + SqliteFail(c) + " END";
        case Dialect::PostgreSQL:
            return "CASE WHEN " + PgMovable(c, days) + " THEN " + c + "+interval '" +
                   std::to_string(days) + " days' WHEN " + c +
                   " IS NULL THEN NULL ELSE CAST(CAST(" + c +
                   " AS text)||' cannot be moved' AS timestamp) END";
        case Dialect::SqlServer:
            return "DATEADD(day," + std::to_string(days) + "," + c + ")";
        case Dialect::Other:
            break;
    }
    return "{fn TIMESTAMPADD(SQL_TSI_DAY," + std::to_string(days) + "," + c + ")}";
}

std::string Unmovable(Dialect dialect, const std::string& c, int days) {
    switch (dialect) {
        case Dialect::SQLite:
            return "(" + c + " IS NOT NULL AND NOT (" + SqliteReadable(c) + " AND " +
                   SqliteMovedDay(c, days) + " IS NOT NULL))";
        case Dialect::PostgreSQL:
            return "(" + c + " IS NOT NULL AND NOT (" + PgMovable(c, days) + "))";
        case Dialect::SqlServer:
        case Dialect::Other:
            break;
    }
    return days >= 0 ? "(" + c + ">=" + Ts(MovableLimit(days)) + ")"
                     : "(" + c + "<" + Ts(MovableLimit(days)) + ")";
}

std::string Readable(Dialect dialect, const std::string& c) {
    return dialect == Dialect::SQLite ? SqliteReadable(c) : "1";
}

std::string AsStored(Dialect dialect, const std::string& c) {
    return dialect == Dialect::SQLite ? "CAST(" + c + " AS TEXT)" : c;
}

std::string SetList(Dialect dialect, const MovedTable& table, int days) {
    std::string list;
    for (const char* column : table.Columns) {
        if (!list.empty()) list += ',';
        list += std::string(column) + "=" + MovedValue(dialect, column, days);
    }
    return list;
}

std::string YearMonthOf(Dialect dialect, const std::string& c) {
    if (dialect == Dialect::SQLite) {
        return "CASE WHEN " + SqliteReadable(c) + " THEN CAST(substr(" + c +
               ",1,4) AS INTEGER)*100+CAST(substr(" + c + ",6,2) AS INTEGER) END";
    }
    return "({fn YEAR(" + c + ")}*100+{fn MONTH(" + c + ")})";
}

std::string Midnight(Dialect dialect, const DateTime& midnight) {
    if (dialect == Dialect::SQLite) return "'" + FormatIso(midnight).substr(0, 10) + "'";
    return Ts(midnight);
}

namespace {

// The condition every selection ends in, with its trailing blank: Date before the cut-off.
std::string DatedBeforeCutoff(Dialect dialect) {
    return "Date < " + Midnight(dialect, kRolloverCutoff) + " ";
}

}  // namespace

std::string SelectionCondition(Dialect dialect) {
    return "WHERE " + DatedBeforeCutoff(dialect);
}

std::string SelectionCondition(Dialect dialect, const DateTime& rangeStart,
                               const DateTime& rangeEnd) {
    return "WHERE InputDate<" + Midnight(dialect, rangeEnd) + " AND InputDate>=" +
           Midnight(dialect, rangeStart) + " AND " + DatedBeforeCutoff(dialect);
}

std::optional<DateTime> ParseStoredDate(const std::string& text) {
    if (!text.empty() && text.back() == ' ') return std::nullopt;
    return ParseIsoDateTime(text);
}

std::optional<DateTime> ReadStoredDate(Dialect dialect, db::Statement& row, const std::string& c) {
    if (dialect == Dialect::SQLite) {
        const auto text = row.GetText(c);
        return text ? ParseStoredDate(*text) : std::nullopt;
    }
    return row.GetDateTime(c);
}

std::string DateLiteral(Dialect dialect, const std::string& text) {
    if (dialect == Dialect::SQLite) return Quoted(text);
    const auto value = ParseStoredDate(text);
    return value ? Ts(*value) : "NULL";
}

bool SameStoredDate(Dialect dialect, const std::string& stored, const std::string& text) {
    if (dialect == Dialect::SQLite) return stored == text;
    const auto value = ParseStoredDate(stored);
    return value && value == ParseStoredDate(text);
}

}  // namespace tovrik::correction
