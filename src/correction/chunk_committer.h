#pragma once

// One chunk of a correction or an undo, in a transaction of its own: the move, the journal lines
// on the disk, the commit, the mark. What is committed is whole operations, and the journal
// lists every one of them before it commits.

#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "correction/chunk_mover.h"
#include "correction/run_events.h"
#include "correction/run_journal.h"
#include "correction/sql_dialect.h"
#include "database/odbc.h"

namespace tovrik::correction {

// A chunk that failed; its text says what is committed. After a database error the chunk's
// rows are as before, and the text names the value or the row that made the move fail when one
// did.
class ChunkError : public std::runtime_error {
public:
    ChunkError(RunError::Kind kind, const std::string& text)
        : std::runtime_error(text), kind_(kind) {}
    RunError::Kind Kind() const { return kind_; }
    RunError ToRunError() const { return {kind_, what()}; }

private:
    RunError::Kind kind_;
};

class ChunkCommitter {
public:
    // `days`: kRolloverDays to correct, -kRolloverDays to undo a correction.
    ChunkCommitter(db::Connection& connection, Dialect dialect, int days);

    // From now on every chunk's lines go to `journal` (the caller keeps it) before it commits.
    void JournalTo(JournalWriter* journal) { journal_ = journal; }

    // Moves each operation of `chunk` (in ID order) with all its dependent rows, writes its
    // journal lines and syncs them, commits, and marks them committed. With `expectedRows` (one
    // per operation), an operation whose dependent rows moved are not those fails the chunk as
    // Changed. Returns the operations moved with their dependent rows. Throws ChunkError; when the
    // connection's statement was cancelled, the driver's db::DbError as it is (the chunk rolled
    // back, nothing asked of the server after it).
    std::vector<MovedOperation> Commit(
        const std::vector<SelectedOperation>& chunk,
        const std::vector<std::array<std::int64_t, 3>>* expectedRows = nullptr);

    // Rows in all four tables of the operations `moved`.
    static std::int64_t RowsOf(const std::vector<MovedOperation>& moved);

private:
    std::vector<JournalEntry> Lines(const std::vector<SelectedOperation>& chunk,
                                    const std::vector<MovedOperation>& moved) const;

    db::Connection& connection_;
    int days_;
    ChunkMover mover_;
    JournalWriter* journal_ = nullptr;
};

}  // namespace tovrik::correction
