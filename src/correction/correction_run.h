#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/date_time.h"
#include "common/message_box.h"
#include "correction/correction_view.h"
#include "correction/run_journal.h"
#include "correction/run_pacing.h"
#include "database/odbc.h"
#include "platform/platform.h"

namespace tovrik {

// How a correction run ended.
enum class RunOutcome {
    Corrected,  // the three-line report is shown
    NoData,     // nothing needed correction
    Failed,     // the error box was shown; every operation is fully moved or untouched
    Abandoned,  // the front end was closed while events were processed
};

struct RunResult {
    RunOutcome Outcome = RunOutcome::NoData;
    int Operations = 0;     // operations moved (committed)
    std::int64_t Rows = 0;  // rows moved in all four tables
    std::string ErrorText;  // the description shown in the error box, when Failed
    std::string JournalPath;  // the run's journal, when one was written
};

// The Start button: selects the operations whose InputDate lies in the month range of the two
// picker values and whose Date lies before 2008-01-01, and moves each of them, with all its
// DriversTime, EventLog and OpData rows, by 1024 weeks, all-or-nothing per operation. Shows
// status, progress and the final report on the view; errors in one box through `boxes`.
// Runs on the calling thread, letting the view process events between chunks; front ends use
// RunCorrectionInBackground (background_run.h), which keeps them responsive during statements.
// With `journal`, a run that selects anything first creates its journal (run_journal.h) and
// fails before moving anything when it cannot; every operation moved is written to it before
// its transaction commits.
RunResult RunCorrection(db::Connection& connection, CorrectionView& view, MessageBoxes& boxes,
                        const Clock& clock, const DateTime& inputDate, const DateTime& inputEnd,
                        const RunPacing& pacing = {}, const JournalSetup* journal = nullptr);

// One operation that a run would move, as a dry run lists it.
struct PlannedOperation {
    std::int64_t Id = 0;
    DateTime InputDate;
    DateTime Date;       // now
    DateTime MovedDate;  // after the move
    std::int64_t DriversTimeRows = 0;
    std::int64_t EventLogRows = 0;
    std::int64_t OpDataRows = 0;
};

// Selects exactly what RunCorrection would select, changing nothing; calls `each` per operation
// in ID order (nothing is held for all operations at once). Throws db::DbError on failure.
void PlanCorrection(db::Connection& connection, const DateTime& inputDate, const DateTime& inputEnd,
                    const std::function<void(const PlannedOperation&)>& each);

// The dry run's statements besides the selection: the columns it reads from each selected
// General row, and the count of one dependent table's rows per operation of a page.
inline constexpr char kPlannedColumns[] = "ID,InputDate,Date";
std::string PlannedRowsQuery(const char* table, const std::vector<std::int64_t>& ids);

}  // namespace tovrik
