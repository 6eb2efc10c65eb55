#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/date_time.h"
#include "correction/run_events.h"
#include "correction/run_journal.h"
#include "correction/run_pacing.h"
#include "database/odbc.h"
#include "platform/platform.h"

namespace tovrik {

// How a correction run ended.
enum class RunOutcome {
    Corrected,  // operations were selected and all of them moved
    NoData,     // nothing needed correction
    Failed,     // see Error; every operation is fully moved or untouched
    Abandoned,  // the front end closed or the user stopped (GoOn returned false, or a cancel)
};

struct RunResult {
    RunOutcome Outcome = RunOutcome::NoData;
    int Operations = 0;     // operations moved (committed)
    std::int64_t Rows = 0;  // rows moved in all four tables
    DateTime Started;       // the clock when the run started
    DateTime Ended;         // and when it ended (Corrected only)
    RunError Error;         // when Failed
    std::string JournalPath;  // the run's journal, when one was written
};

// The Start button's work: selects the operations whose InputDate lies in the month range of the
// two picker values and whose Date lies before 2008-01-01, and moves each of them, with all its
// DriversTime, EventLog and OpData rows, by 1024 weeks, chunk by chunk, each chunk committed on
// its own (operations are whole: moved or untouched). Reports to `events` (Counting, Selected,
// Committed after each chunk's commit, GoOn between chunks) on the calling thread; front ends use
// RunInBackground (background_run.h), which keeps them responsive during statements.
// With `journal`, a run that selects anything first creates its journal (run_journal.h) and
// fails before moving anything when it cannot; every chunk's lines are on the disk before it
// commits.
RunResult RunCorrection(db::Connection& connection, RunEvents& events, const Clock& clock,
                        const DateTime& inputDate, const DateTime& inputEnd,
                        const RunPacing& pacing = {}, const JournalSetup* journal = nullptr);

// One operation that a run would move, as a dry run lists it.
struct PlannedOperation {
    std::int64_t Id = 0;
    std::optional<DateTime> InputDate;  // nothing when the stored value is no date-time:
    std::string InputDateText;          // then this is what is stored
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

}  // namespace tovrik
