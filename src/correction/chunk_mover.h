#pragma once

// Moves a chunk of selected operations, each General row with all its DriversTime, EventLog and
// OpData rows, in as few statements as the server allows; and, after a failure, says in the
// error box's words what made it fail. The caller holds the transaction.

#include <array>
#include <cstdint>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "correction/sql_dialect.h"
#include "database/odbc.h"

namespace tovrik::correction {

// An operation as it was read: its Date and InputDate as the journal records them (SQLite's own
// text, or the ISO text of the driver's value).
struct SelectedOperation {
    std::int64_t Id = 0;
    std::string DateText;
    std::string InputDateText;
};

// An operation moved whole, with the number of its DriversTime, EventLog and OpData rows moved.
struct MovedOperation {
    std::int64_t Id = 0;
    std::array<std::int64_t, 3> DependentRows{};
};

// The rows of each operation of `idList` ("1,2,3") in DriversTime, EventLog and OpData, in
// that order: one statement (its columns T, the table's index, K, the operation, and N), and
// what it answers. Operations without any dependent row are not in the map.
std::string DependentRowsQuery(const std::string& idList);
std::map<std::int64_t, std::array<std::int64_t, 3>> ReadDependentRows(db::Connection& connection,
                                                                      const std::string& query);

// The columns a selection read must return for SelectedFrom.
std::string SelectedColumns(Dialect dialect);
// The operation on the current row of a selection read.
SelectedOperation SelectedFrom(Dialect dialect, db::Statement& row);

// How a chunk's four updates reach the server.
enum class MoveStatements {
    Single,    // one statement (PostgreSQL: data-modifying WITH queries)
    Batch,     // a count of the dependent rows, then one batch of four updates
    Separate,  // a count of the dependent rows, then four updates
};

// What the dialect and the driver allow: Single on PostgreSQL; Batch where the driver reports
// the row count of every statement of a batch; Separate elsewhere.
MoveStatements MoveStatementsFor(Dialect dialect, db::Connection& connection);

// The text of every statement a ChunkMover sends; needs no connection.
class ChunkStatements {
public:
    ChunkStatements(Dialect dialect, MoveStatements statements, int days = kRolloverDays);

    // What Move sends for a chunk: the count of its dependent rows (empty for Single), then the
    // updates: Single's one statement, Batch's one batch, or Separate's General update followed
    // by one update per dependent table.
    struct Moves {
        std::string CountRows;
        std::vector<std::string> Updates;
    };
    Moves Move(const std::vector<SelectedOperation>& chunk) const;
    // Describe's reads for the operations in `idList`: their General rows' Date as stored now,
    // and the rows of `table` whose `column` cannot be moved.
    std::string StoredDates(const std::string& idList) const;
    std::string UnmovableValues(const MovedTable& table, const char* column,
                                const std::string& idList) const;

private:
    Dialect dialect_;
    MoveStatements statements_;
    int days_;
    std::string generalSet_;
    std::vector<std::string> dependentSets_;
};

class ChunkMover {
public:
    // `days`: kRolloverDays to correct, -kRolloverDays to undo a correction.
    ChunkMover(db::Connection& connection, Dialect dialect, MoveStatements statements,
               int days = kRolloverDays);

    // An operation's General row no longer holds the Date that was read.
    struct GuardFailure {};

    // Moves the General row and every dependent row of each operation; returns every operation
    // of the chunk, in ID order, with the dependent rows it had. Throws GuardFailure or
    // db::DbError (also when dependent rows came or went while the chunk moved); the caller's
    // transaction must then be rolled back.
    std::vector<MovedOperation> Move(const std::vector<SelectedOperation>& chunk);

    // After the rollback: what made Move fail, in the words of the error box.
    std::string Describe(const std::vector<SelectedOperation>& chunk, const std::exception* error);

private:
    std::string DescribeGuardFailure(const std::vector<SelectedOperation>& chunk,
                                     const std::string& idList);
    std::optional<std::string> DescribeUnmovableValue(const std::string& idList);

    db::Connection& connection_;
    Dialect dialect_;
    MoveStatements statements_;
    int days_;
    ChunkStatements sql_;
};

}  // namespace tovrik::correction
