#pragma once

// How tovrik-cli's commands end: their exit statuses, the run's error box for a failed command,
// and the undo's report.

#include <functional>
#include <ostream>
#include <string>

#include "common/message_box.h"
#include "correction/undo_run.h"

namespace tovrik::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitRunFailed = 1;
inline constexpr int kExitStartupFailed = 2;
inline constexpr int kExitUsage = 64;
inline constexpr int kExitInterrupted = 130;

// Shows the run's error box (after what `out` holds so far) for a command that failed with
// `description`, which may be empty. Returns kExitRunFailed.
int ShowRunError(MessageBoxes& boxes, std::ostream& out, const std::string& description);

// Runs `undo` and reports how it ended: its own journal, the totals or that nothing was changed.
// Every exception it throws is a failure, whatever its text; after Ctrl+C (`interrupted`) it is
// the interruption. Returns the exit status.
int RunAndReportUndo(const std::function<UndoReport()>& undo,
                     const std::function<bool()>& interrupted, std::ostream& out, std::ostream& err,
                     MessageBoxes& boxes);

}  // namespace tovrik::cli
