#include "cli/command_outcome.h"

#include <exception>

#include "cli/journal_output.h"
#include "window/run_texts.h"

namespace tovrik::cli {

int ShowRunError(MessageBoxes& boxes, std::ostream& out, const std::string& description) {
    out.flush();
    boxes.Show(run_texts::ErrorBox(description.empty() ? "（エラーの説明はありません）" : description),
               run_texts::kCaption, MessageIcon::Exclamation);
    return kExitRunFailed;
}

int RunAndReportUndo(const std::function<UndoReport()>& undo,
                     const std::function<bool()>& interrupted, std::ostream& out, std::ostream& err,
                     MessageBoxes& boxes) {
    UndoReport report;
    try {
        report = undo();
    } catch (const std::exception& error) {
        if (interrupted()) {
            err << "tovrik-cli: 中断しました。戻した運行は戻し済み、途中の運行は元のままです。\n";
            return kExitInterrupted;
        }
        return ShowRunError(boxes, out, error.what());
    }
    if (!report.JournalPath.empty()) err << "tovrik-cli: 作業記録 " << report.JournalPath << '\n';
    if (report.Interrupted) {
        err << "tovrik-cli: 中断しました。戻した運行は戻し済み、残りは元のままです。"
               "同じ作業記録でもう一度 --undo すると続きを戻します。\n";
        return kExitInterrupted;
    }
    if (report.Undone == 0 && report.Skipped == 0) {
        out << "この作業記録の運行はすべて元に戻されています。何も変更していません。\n";
        return kExitDone;
    }
    PrintUndoTotals(out, "元に戻した運行: ", report);
    if (report.Undone == 0) out << "戻せる運行はありません。何も変更していません。\n";
    return kExitDone;
}

}  // namespace tovrik::cli
