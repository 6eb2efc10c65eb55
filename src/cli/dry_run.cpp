#include "cli/dry_run.h"

namespace tovrik::cli {

void DryRunPrinter::Add(const PlannedOperation& operation) {
    out_ << "ID " << operation.Id << "  InputDate "
         << (operation.InputDate ? FormatDateTime(*operation.InputDate) : operation.InputDateText)
         << "  Date " << FormatDateTime(operation.Date) << " → "
         << FormatDateTime(operation.MovedDate) << "  DriversTime " << operation.DriversTimeRows
         << "  EventLog " << operation.EventLogRows << "  OpData " << operation.OpDataRows << '\n';
    ++operations_;
    driversTimeRows_ += operation.DriversTimeRows;
    eventLogRows_ += operation.EventLogRows;
    opDataRows_ += operation.OpDataRows;
}

std::int64_t DryRunPrinter::Rows() const {
    return operations_ + driversTimeRows_ + eventLogRows_ + opDataRows_;
}

void DryRunPrinter::PrintTotals() {
    if (operations_ == 0) {
        out_ << "修正が必要なデータはありません\n";
    } else {
        out_ << "修正対象: " << operations_ << "件, " << Rows() << "行 (General " << operations_
             << ", DriversTime " << driversTimeRows_ << ", EventLog " << eventLogRows_
             << ", OpData " << opDataRows_ << ")\n";
    }
    out_ << "ドライラン: データベースは変更していません\n";
    out_.flush();
}

}  // namespace tovrik::cli
