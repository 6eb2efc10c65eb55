#include "cli/journal_output.h"

#include <string>

#include "window/run_texts.h"

namespace tovrik::cli {

namespace {

void PrintRows(std::ostream& out, const std::array<std::int64_t, 3>& rows) {
    out << "DriversTime " << rows[0] << "  EventLog " << rows[1] << "  OpData " << rows[2];
}

}  // namespace

void PrintScan(std::ostream& out, const std::vector<MonthScan>& months) {
    if (months.empty()) {
        out << run_texts::kNothingToCorrect << '\n';
        return;
    }
    std::int64_t operations = 0;
    std::int64_t unreadable = 0;
    std::array<std::int64_t, 3> rows{};
    for (const MonthScan& scan : months) {
        out << run_texts::MonthText(scan) << "  運行 " << scan.Operations << "  Date ";
        if (scan.EarliestDate && scan.LatestDate) {
            out << FormatDateTime(*scan.EarliestDate) << " 〜 " << FormatDateTime(*scan.LatestDate);
        } else {
            out << "-";
        }
        out << "  ";
        PrintRows(out, scan.DependentRows);
        if (scan.UnreadableDates > 0) out << "  読めない Date " << scan.UnreadableDates;
        out << '\n';
        operations += scan.Operations;
        unreadable += scan.UnreadableDates;
        for (std::size_t i = 0; i < rows.size(); ++i) rows[i] += scan.DependentRows[i];
    }
    out << "合計: " << months.size() << "か月, 運行 " << operations << "件  ";
    PrintRows(out, rows);
    if (unreadable > 0) out << "  (うち Date が読めない運行 " << unreadable << "件)";
    out << '\n';
}

void PrintUndoItem(std::ostream& out, const UndoItem& item, bool dryRun) {
    const JournalEntry& entry = item.Entry;
    switch (item.Check) {
        case UndoCheck::Undo:
            out << (dryRun ? "戻す      " : "戻した    ") << "ID " << entry.Id << "  Date "
                << entry.DateAfter << " → " << entry.DateBefore << "  ";
            PrintRows(out, entry.DependentRows);
            break;
        case UndoCheck::AlreadyUndone:
            out << "戻し済み  ID " << entry.Id << "  Date " << entry.DateBefore;
            break;
        case UndoCheck::Changed:
        case UndoCheck::Missing:
            out << "戻さない  ID " << entry.Id << "  修正後に変更されています: " << item.Why;
            break;
    }
    out << '\n';
}

void PrintUndoTotals(std::ostream& out, const char* label, const UndoReport& report) {
    out << label << report.Undone << "件, 戻さない運行: " << report.Skipped
        << "件, 戻し済み: " << report.AlreadyUndone << "件\n";
}

}  // namespace tovrik::cli
