#pragma once

// Moves a chunk of selected operations, each General row with all its DriversTime, EventLog and
// OpData rows, in as few statements as the server allows; and, after a failure, says in the
// error box's words what made it fail. The caller holds the transaction.

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "correction/sql_dialect.h"
#include "database/odbc.h"

namespace tovrik::correction {

struct SelectedOperation {
    std::int64_t Id = 0;
    std::string DateLiteral;  // the selected Date, as a literal that matches exactly that value
};

// The columns a selection read must return for SelectedFrom.
std::string SelectedColumns(Dialect dialect);
// The operation on the current row of a selection read.
SelectedOperation SelectedFrom(Dialect dialect, db::Statement& row);

// How a chunk's four updates reach the server.
enum class MoveStatements {
    Single,    // one statement (PostgreSQL: data-modifying WITH queries)
    Batch,     // one batch of four statements, each count read in turn
    Separate,  // four statements
};

// What the dialect and the driver allow: Single on PostgreSQL; Batch where the driver reports
// the row count of every statement of a batch; Separate elsewhere.
MoveStatements MoveStatementsFor(Dialect dialect, db::Connection& connection);

class ChunkMover {
public:
    ChunkMover(db::Connection& connection, Dialect dialect, MoveStatements statements);

    // An operation's General row no longer holds the Date that was read.
    struct GuardFailure {
        // Only when SelfContained: the operations moved whole all the same.
        int Moved = 0;
        std::int64_t Rows = 0;
        std::vector<std::int64_t> MovedIds;
    };

    // True when every Move is one atomic statement that commits by itself: the caller then
    // holds no transaction.
    bool SelfContained() const { return statements_ == MoveStatements::Single; }

    // Moves the General row and every dependent row of each operation; returns the rows moved.
    // Throws GuardFailure or db::DbError; the caller's transaction must then be rolled back.
    std::int64_t Move(const std::vector<SelectedOperation>& chunk);

    // After the rollback: what made Move fail, in the words of the error box.
    std::string Describe(const std::vector<SelectedOperation>& chunk, const std::exception* error);

private:
    std::string DescribeGuardFailure(const std::vector<SelectedOperation>& chunk,
                                     const std::string& idList);
    std::optional<std::string> DescribeUnmovableValue(const std::string& idList);

    db::Connection& connection_;
    Dialect dialect_;
    MoveStatements statements_;
    std::string generalSet_;
    std::vector<std::string> dependentSets_;
};

}  // namespace tovrik::correction
