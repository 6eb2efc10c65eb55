#pragma once

// Taking a correction back: every operation a journal lists as committed moves back by 1024
// weeks, all-or-nothing with its dependent rows, where it still is as the correction left it.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "correction/run_events.h"
#include "correction/run_journal.h"
#include "correction/sql_dialect.h"
#include "database/odbc.h"

namespace tovrik {

// What the database holds for one committed line of a journal.
enum class UndoCheck {
    Undo,           // Date as the correction left it, and the same dependent rows: undone
    AlreadyUndone,  // Date as it was before the correction
    Changed,        // anything else: skipped
    Missing,        // no General row with the ID: skipped
};

struct UndoItem {
    JournalEntry Entry;
    UndoCheck Check = UndoCheck::Changed;
    std::string Why;  // for Changed: what differs, e.g. "Date 2019-05-01 00:00:00"
};

struct UndoReport {
    int Undone = 0;         // operations moved back and committed
    int AlreadyUndone = 0;
    int Skipped = 0;        // changed or missing
    bool Interrupted = false;
    std::string JournalPath;  // the undo's own journal, when anything was to be undone

    void Count(UndoCheck check);
};

// Journal lines per statement of PlanUndo's check. (RunUndo sizes its chunks as a run does.)
inline constexpr std::size_t kUndoChunk = 500;

// What the database holds for the operations `ids`: their General rows' Date as stored, and
// their rows in each dependent table (one statement per chunk of journal lines).
std::string UndoInspectQuery(correction::Dialect dialect, const std::vector<std::int64_t>& ids);

// Checks every committed line of `journal` against the database, changing nothing (and the
// unmarked lines of its last transaction: those whose operation the database shows moved count as
// committed, their mark having been lost; the others are left out); `each` gets
// the lines in journal order. Returns what an undo would count (Undone: what it would undo).
// Throws db::DbError.
UndoReport PlanUndo(db::Connection& connection, const Journal& journal,
              const std::function<void(const UndoItem&)>& each);

// Whether a journal may be undone against the data source of `setup`: only a correction's
// journal, and only on the data source (and database) it was written for unless
// `otherDataSource` allows another.
enum class UndoRefusal { None, NotACorrection, OtherDataSource };
UndoRefusal CheckUndoJournal(const Journal& journal, const JournalSetup& setup,
                             bool otherDataSource);

// Moves back every operation that PlanUndo would find Undo, a chunk per transaction, each guarded
// in its transaction (Date and dependent row counts as the journal says). The undo's own journal
// (named after `start`, its range naming `journalPath`) is created before anything moves and gets
// every line before its transaction commits. `each` gets every line once it is decided (Undo
// after its commit). `events` hears the journal's committed lines as the total, and after each
// chunk how many are done; when GoOn, asked before each chunk, returns false the undo ends there
// (Interrupted). Throws JournalError, correction::ChunkError or db::DbError: every operation is
// then fully moved back or untouched, and a second undo of the same journal completes the work.
UndoReport RunUndo(db::Connection& connection, const Journal& journal,
                   const std::string& journalPath, const JournalSetup& setup, const DateTime& start,
                   RunEvents& events, const std::function<void(const UndoItem&)>& each);

}  // namespace tovrik
