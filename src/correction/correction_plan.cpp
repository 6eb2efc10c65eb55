// The dry run: what a correction run would select, with the rows each operation carries.

#include <map>
#include <stdexcept>
#include <utility>

#include "correction/correction_run.h"
#include "correction/date_rules.h"
#include "correction/selection_reader.h"
#include "correction/sql_dialect.h"
#include "correction/suite_tables.h"

namespace tovrik {

namespace {

// Operations listed per page (one count statement per dependent table and page).
constexpr std::size_t kPage = 1000;

}  // namespace

std::string PlannedRowsQuery(const char* table, const std::vector<std::int64_t>& ids) {
    return std::string("SELECT GeneralID,COUNT(*) AS N FROM ") + table + " WHERE GeneralID IN (" +
           correction::IdList(ids) + ") GROUP BY GeneralID";
}

void PlanCorrection(db::Connection& connection, const DateTime& inputDate, const DateTime& inputEnd,
                    const std::function<void(const PlannedOperation&)>& each) {
    using namespace correction;
    DateTime rangeEnd, rangeStart;
    GetInputMonthRange(inputDate, inputEnd, rangeEnd, rangeStart);
    CheckSuiteTables(connection);
    const std::string condition = SelectionCondition(rangeStart, rangeEnd);
    SelectionReader reader(connection, kPlannedColumns, condition,
                           MeasureSelection(connection, condition));
    std::vector<PlannedOperation> page;
    while (!reader.Done()) {
        page.clear();
        reader.Read(kPage, [&](db::Statement& row) {
            PlannedOperation operation;
            operation.Id = row.GetInt("ID").value_or(0);
            operation.InputDate = row.GetDateTime("InputDate").value_or(DateTime{});
            operation.Date = row.GetDateTime("Date").value_or(DateTime{});
            try {
                operation.MovedDate = CorrectRolloverDate(operation.Date);
            } catch (const std::out_of_range& error) {
                throw db::DbError(
                    "General.Date (ID=" + std::to_string(operation.Id) + "): " + error.what(), {});
            }
            page.push_back(operation);
        });
        if (page.empty()) break;
        std::vector<std::int64_t> ids;
        for (const auto& operation : page) ids.push_back(operation.Id);
        const std::pair<const char*, std::int64_t PlannedOperation::*> counts[] = {
            {"DriversTime", &PlannedOperation::DriversTimeRows},
            {"EventLog", &PlannedOperation::EventLogRows},
            {"OpData", &PlannedOperation::OpDataRows},
        };
        for (const auto& [table, field] : counts) {
            std::map<std::int64_t, std::int64_t> perOperation;
            auto statement = connection.Query(PlannedRowsQuery(table, ids));
            statement.Execute();
            while (statement.Fetch()) {
                perOperation[statement.GetInt("GeneralID").value_or(0)] =
                    statement.GetInt("N").value_or(0);
            }
            for (auto& operation : page) {
                const auto found = perOperation.find(operation.Id);
                operation.*field = found == perOperation.end() ? 0 : found->second;
            }
        }
        for (const auto& operation : page) each(operation);
    }
}

}  // namespace tovrik
