#pragma once

#include <cstdint>
#include <ostream>

#include "correction/correction_run.h"

namespace tovrik::cli {

// Prints what a run would move: one line per operation as PlanCorrection delivers it, then the
// totals (or the no-data text when there was none).
class DryRunPrinter {
public:
    explicit DryRunPrinter(std::ostream& out) : out_(out) {}

    // "ID 12  InputDate 2019/04/03 10:00:00  Date 1999/08/16 9:15:00 → 2019/04/01 9:15:00
    //  DriversTime 2  EventLog 5  OpData 3" on one line.
    void Add(const PlannedOperation& operation);
    // The operations and rows a run would move, by table, and that nothing was changed.
    void PrintTotals();

    int Operations() const { return operations_; }
    // Rows in all four tables, the General rows included.
    std::int64_t Rows() const;

private:
    std::ostream& out_;
    int operations_ = 0;
    std::int64_t driversTimeRows_ = 0;
    std::int64_t eventLogRows_ = 0;
    std::int64_t opDataRows_ = 0;
};

}  // namespace tovrik::cli
