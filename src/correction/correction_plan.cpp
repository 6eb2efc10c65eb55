// The dry run: what a correction run would select, with the rows each operation carries.

#include <stdexcept>

#include "correction/chunk_mover.h"
#include "correction/correction_run.h"
#include "correction/date_rules.h"
#include "correction/selection_reader.h"
#include "correction/sql_dialect.h"
#include "correction/suite_tables.h"

namespace tovrik {

namespace {

// Operations listed per page (one count statement per page).
constexpr std::size_t kPage = 1000;

}  // namespace

void PlanCorrection(db::Connection& connection, const DateTime& inputDate, const DateTime& inputEnd,
                    const std::function<void(const PlannedOperation&)>& each) {
    using namespace correction;
    DateTime rangeEnd, rangeStart;
    GetInputMonthRange(inputDate, inputEnd, rangeEnd, rangeStart);
    CheckSuiteTables(connection);
    const Dialect dialect = DialectOf(connection);
    const std::string condition = SelectionCondition(dialect, rangeStart, rangeEnd);
    // The run's own selection and reading, so that the plan lists what a run would move.
    SelectionReader reader(connection, SelectedColumns(dialect), condition,
                           MeasureSelection(connection, condition));
    std::vector<PlannedOperation> page;
    while (!reader.Done()) {
        page.clear();
        reader.Read(kPage, [&](db::Statement& row) {
            const SelectedOperation selected = SelectedFrom(dialect, row);
            PlannedOperation operation;
            operation.Id = selected.Id;
            operation.InputDate = ParseStoredDate(selected.InputDateText);
            operation.InputDateText = selected.InputDateText;
            const auto date = ParseStoredDate(selected.DateText);
            const std::string where = "General.Date (ID=" + std::to_string(operation.Id) + ")";
            if (!date) {
                throw db::DbError(where + ": '" + selected.DateText + "' は日付と時刻として読めません",
                                  {});
            }
            operation.Date = *date;
            try {
                operation.MovedDate = CorrectRolloverDate(operation.Date);
            } catch (const std::out_of_range& error) {
                throw db::DbError(where + ": " + error.what(), {});
            }
            page.push_back(operation);
        });
        if (page.empty()) break;
        std::vector<std::int64_t> ids;
        for (const auto& operation : page) ids.push_back(operation.Id);
        const auto counts = ReadDependentRows(connection, DependentRowsQuery(IdList(ids)));
        for (auto& operation : page) {
            if (const auto found = counts.find(operation.Id); found != counts.end()) {
                operation.DriversTimeRows = found->second[0];
                operation.EventLogRows = found->second[1];
                operation.OpDataRows = found->second[2];
            }
            each(operation);
        }
    }
}

}  // namespace tovrik
