#include "correction/month_scan.h"

#include <map>

#include "correction/date_rules.h"
#include "correction/sql_dialect.h"
#include "correction/suite_tables.h"

namespace tovrik {

namespace {

using namespace correction;

// -1 stands for the month that cannot be read, so that it sorts and groups as a key.
constexpr int kUnknownMonth = -1;

// The dependent rows of each month, per table.
const char* const kRowCounts[] = {"C0", "C1", "C2"};
static_assert(std::size(kRowCounts) == std::size(kDependents));

}  // namespace

std::string ScanQuery(Dialect dialect, const std::optional<DateTime>& inputDate,
                      const std::optional<DateTime>& inputEnd) {
    std::string condition = SelectionCondition(dialect);
    if (inputDate && inputEnd) {
        DateTime rangeEnd, rangeStart;
        GetInputMonthRange(*inputDate, *inputEnd, rangeEnd, rangeStart);
        condition = SelectionCondition(dialect, rangeStart, rangeEnd);
    }
    const std::string month = YearMonthOf(dialect, "InputDate");
    // SQLite compares text: a Date that is no date-time is counted apart, not as a date.
    const bool sqlite = dialect == Dialect::SQLite;
    // (A "T" between date and time sorts after a blank: the earliest and latest are taken over
    // one form.)
    const std::string readableDate =
        sqlite ? "CASE WHEN " + Readable(dialect, "Date") + " THEN replace(Date,'T',' ') END"
               : "Date";
    const std::string unreadable =
        sqlite ? "CASE WHEN " + Readable(dialect, "Date") + " THEN 0 ELSE 1 END" : "0";

    // One statement: each operation's dependent rows are counted through the primary keys,
    // which lead with GeneralID, and its month is worked out once (a join would work it out
    // for every dependent row).
    std::string counts;
    std::string sums;
    for (std::size_t i = 0; i < std::size(kDependents); ++i) {
        const std::string name = kRowCounts[i];
        counts += ",(SELECT COUNT(*) FROM " + std::string(kDependents[i].Name) +
                  " WHERE GeneralID=General.ID) AS " + name;
        sums += ",SUM(" + name + ") AS " + name;
    }
    return "SELECT M,COUNT(*) AS N,MIN(D) AS Earliest,MAX(D) AS Latest,SUM(U) AS Unreadable" +
           sums + " FROM (SELECT " + month + " AS M," + readableDate + " AS D," + unreadable +
           " AS U" + counts + " FROM General " + condition + ") AS s GROUP BY M";
}

std::vector<MonthScan> ScanAffectedMonths(db::Connection& connection,
                                          const std::optional<DateTime>& inputDate,
                                          const std::optional<DateTime>& inputEnd) {
    CheckSuiteTables(connection);
    const Dialect dialect = DialectOf(connection);
    std::map<int, MonthScan> months;
    auto statement = connection.Query(ScanQuery(dialect, inputDate, inputEnd));
    statement.Execute();
    while (statement.Fetch()) {
        const int key = static_cast<int>(statement.GetInt("M").value_or(kUnknownMonth));
        MonthScan& scan = months[key];
        if (key != kUnknownMonth) scan.YearMonth = key;
        scan.Operations = statement.GetInt("N").value_or(0);
        scan.EarliestDate = ReadStoredDate(dialect, statement, "Earliest");
        scan.LatestDate = ReadStoredDate(dialect, statement, "Latest");
        scan.UnreadableDates = statement.GetInt("Unreadable").value_or(0);
        for (std::size_t i = 0; i < scan.DependentRows.size(); ++i) {
            scan.DependentRows[i] = statement.GetInt(kRowCounts[i]).value_or(0);
        }
    }
    std::vector<MonthScan> result;
    for (auto& [key, scan] : months) {
        if (key != kUnknownMonth) result.push_back(scan);
    }
    if (const auto unknown = months.find(kUnknownMonth); unknown != months.end()) {
        result.push_back(unknown->second);
    }
    return result;
}

}  // namespace tovrik
