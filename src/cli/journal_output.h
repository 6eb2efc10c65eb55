#pragma once

// What --scan and --undo print.

#include <ostream>
#include <vector>

#include "correction/month_scan.h"
#include "correction/undo_run.h"

namespace tovrik::cli {

// One line per month ("2019/04  運行 12  Date … 〜 …  DriversTime 24  EventLog 120  OpData 60"),
// then the total; or one line saying there is none.
void PrintScan(std::ostream& out, const std::vector<MonthScan>& months);

// One line per journal line: what undo does (or, in a dry run, would do) with it, and why not.
void PrintUndoItem(std::ostream& out, const UndoItem& item, bool dryRun);

// "<label>7件, 戻さない運行: 1件, 戻し済み: 0件": an undo's (or its dry run's) totals.
void PrintUndoTotals(std::ostream& out, const char* label, const UndoReport& report);

}  // namespace tovrik::cli
