#include "correction/chunk_mover.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>

namespace tovrik::correction {

namespace {

std::string ChunkIds(const std::vector<SelectedOperation>& chunk) {
    std::vector<std::int64_t> ids;
    ids.reserve(chunk.size());
    for (const auto& operation : chunk) ids.push_back(operation.Id);
    return IdList(ids);
}

// A driver that cannot count (-1) leaves the guard to the server's own locking.
void CheckGuard(std::int64_t moved, const std::vector<SelectedOperation>& chunk) {
    if (moved >= 0 && moved != static_cast<std::int64_t>(chunk.size())) {
        throw ChunkMover::GuardFailure{};
    }
}

// In the answer of OneStatement, the kind (T) of a General row; 0 to 2 are the dependent tables.
constexpr std::int64_t kGeneralRow = 3;
static_assert(kGeneralRow == std::ssize(kDependents));

// PostgreSQL: the four updates as one statement (data-modifying WITH queries), one round trip.
// It answers in the columns of DependentRowsQuery: a row (T 3, K the ID) per General row moved,
// and per table the dependent rows moved of each operation, counted from what the update
// returned. The dependent rows of every operation of the chunk are moved, also of one whose
// General row the guard kept; the caller then rolls the chunk back whole. (Limiting them to the
// General rows moved, by a join to g, made the planner expect a single row from g: it walked
// each table's key once per operation and joined the counts in nested loops, which cost the chunk
// half as much again as the set-based updates, and more on a larger database.)
std::string OneStatement(const std::string& general, const std::vector<std::string>& dependents) {
    std::string sql = "WITH g AS (" + general + " RETURNING ID)";
    std::string answer = " SELECT " + std::to_string(kGeneralRow) + " AS T,ID AS K,0 AS N FROM g";
    for (std::size_t i = 0; i < dependents.size(); ++i) {
        const std::string name = "d" + std::to_string(i);
        sql += "," + name + " AS (" + dependents[i] + " RETURNING GeneralID)";
        answer += " UNION ALL SELECT " + std::to_string(i) + ",GeneralID,COUNT(*) FROM " + name +
                  " GROUP BY GeneralID";
    }
    return sql + answer;
}

std::vector<MovedOperation> MoveInOneStatement(db::Connection& connection,
                                               const std::vector<SelectedOperation>& chunk,
                                               const std::string& sql) {
    std::set<std::int64_t> general;
    std::map<std::int64_t, std::array<std::int64_t, 3>> rows;
    auto statement = connection.Query(sql);
    statement.Execute();
    while (statement.Fetch()) {
        const std::int64_t table = statement.GetInt("T").value_or(0);
        const std::int64_t id = statement.GetInt("K").value_or(0);
        if (table == kGeneralRow) {
            general.insert(id);
        } else if (table >= 0 && table < kGeneralRow) {
            rows[id][static_cast<std::size_t>(table)] = statement.GetInt("N").value_or(0);
        }
    }
    std::vector<MovedOperation> moved;
    moved.reserve(chunk.size());
    for (const SelectedOperation& operation : chunk) {
        if (general.count(operation.Id) == 0) throw ChunkMover::GuardFailure{};
        moved.push_back({operation.Id, rows[operation.Id]});
    }
    return moved;
}

}  // namespace

std::string DependentRowsQuery(const std::string& idList) {
    std::string sql;
    for (std::size_t i = 0; i < std::size(kDependents); ++i) {
        if (i > 0) sql += " UNION ALL ";
        sql += "SELECT " + std::to_string(i) + " AS T,GeneralID AS K,COUNT(*) AS N FROM " +
               kDependents[i].Name + " WHERE GeneralID IN (" + idList + ") GROUP BY GeneralID";
    }
    return sql;
}

std::map<std::int64_t, std::array<std::int64_t, 3>> ReadDependentRows(db::Connection& connection,
                                                                      const std::string& query) {
    std::map<std::int64_t, std::array<std::int64_t, 3>> counts;
    auto statement = connection.Query(query);
    statement.Execute();
    while (statement.Fetch()) {
        const auto table = static_cast<std::size_t>(statement.GetInt("T").value_or(0));
        if (table >= std::size(kDependents)) continue;
        counts[statement.GetInt("K").value_or(0)][table] = statement.GetInt("N").value_or(0);
    }
    return counts;
}

std::string SelectedColumns(Dialect dialect) {
    return dialect == Dialect::SQLite
               ? "ID,CAST(Date AS TEXT) AS DateText,CAST(InputDate AS TEXT) AS InputDateText"
               : "ID,Date,InputDate";
}

SelectedOperation SelectedFrom(Dialect dialect, db::Statement& row) {
    SelectedOperation operation;
    operation.Id = row.GetInt("ID").value_or(0);
    if (dialect == Dialect::SQLite) {
        operation.DateText = row.GetText("DateText").value_or("");
        operation.InputDateText = row.GetText("InputDateText").value_or("");
    } else {
        const auto date = row.GetDateTime("Date");
        operation.DateText = date ? FormatIso(*date) : "";
        const auto inputDate = row.GetDateTime("InputDate");
        operation.InputDateText = inputDate ? FormatIso(*inputDate) : "";
    }
    return operation;
}

MoveStatements MoveStatementsFor(Dialect dialect, db::Connection& connection) {
    if (dialect == Dialect::PostgreSQL) return MoveStatements::Single;
    if (dialect == Dialect::SQLite) return MoveStatements::Separate;
    return connection.CountsEveryBatchStatement() ? MoveStatements::Batch
                                                  : MoveStatements::Separate;
}

ChunkStatements::ChunkStatements(Dialect dialect, MoveStatements statements, int days)
    : dialect_(dialect), statements_(statements), days_(days) {
    generalSet_ = SetList(dialect_, kGeneral, days_);
    for (const auto& table : kDependents) {
        dependentSets_.push_back(SetList(dialect_, table, days_));
    }
}

ChunkStatements::Moves ChunkStatements::Move(const std::vector<SelectedOperation>& chunk) const {
    const std::string idList = ChunkIds(chunk);
    // The General rows first, each only while its Date is still the one selected: a row that
    // another run (or anyone) changed meanwhile makes the count fall short.
    std::string general = "UPDATE General SET " + generalSet_;
    if (statements_ == MoveStatements::Single) {
        // PostgreSQL joins the selected values (a hash join, linear in the chunk).
        general += " FROM (VALUES ";
        for (const auto& operation : chunk) {
            if (&operation != &chunk.front()) general += ',';
            general.append("(").append(std::to_string(operation.Id)).append(",");
            general.append(DateLiteral(dialect_, operation.DateText)).append(")");
        }
        general +=
            ") AS Selected(SelectedId,SelectedDate) WHERE ID=SelectedId AND "
            "Date=SelectedDate";
    } else {
        std::string guard = "CASE ID";
        for (const auto& operation : chunk) {
            guard += " WHEN " + std::to_string(operation.Id) + " THEN " +
                     DateLiteral(dialect_, operation.DateText);
        }
        general += " WHERE ID IN (" + idList + ") AND Date=" + guard + " END";
    }
    std::vector<std::string> dependents;
    for (std::size_t i = 0; i < std::size(kDependents); ++i) {
        dependents.push_back(std::string("UPDATE ") + kDependents[i].Name + " SET " +
                             dependentSets_[i] + " WHERE GeneralID IN (" + idList + ")");
    }

    switch (statements_) {
        case MoveStatements::Single:
            return {{}, {OneStatement(general, dependents)}};
        case MoveStatements::Batch: {
            std::string batch = general;
            for (const std::string& update : dependents) batch += ";\n" + update;
            return {DependentRowsQuery(idList), {batch}};
        }
        case MoveStatements::Separate:
            break;
    }
    dependents.insert(dependents.begin(), general);
    return {DependentRowsQuery(idList), dependents};
}

std::string ChunkStatements::StoredDates(const std::string& idList) const {
    return "SELECT ID," + AsStored(dialect_, "Date") + " AS Now FROM General WHERE ID IN (" +
           idList + ")";
}

std::string ChunkStatements::UnmovableValues(const MovedTable& table, const char* column,
                                             const std::string& idList) const {
    return std::string("SELECT ") + table.Key + " AS K," + AsStored(dialect_, column) + " AS V," +
           Readable(dialect_, column) + " AS Readable FROM " + table.Name + " WHERE " + table.Key +
           " IN (" + idList + ") AND " + Unmovable(dialect_, column, days_) + " ORDER BY " +
           table.Key;
}

ChunkMover::ChunkMover(db::Connection& connection, Dialect dialect, MoveStatements statements,
                       int days)
    : connection_(connection),
      dialect_(dialect),
      statements_(statements),
      days_(days),
      sql_(dialect, statements, days) {}

std::vector<MovedOperation> ChunkMover::Move(const std::vector<SelectedOperation>& chunk) {
    const ChunkStatements::Moves sql = sql_.Move(chunk);
    if (statements_ == MoveStatements::Single) {
        return MoveInOneStatement(connection_, chunk, sql.Updates.front());
    }
    // Read in this transaction before the updates, whose row counts must then agree with it.
    const auto before = ReadDependentRows(connection_, sql.CountRows);
    std::vector<std::int64_t> counts;
    if (statements_ == MoveStatements::Batch) {
        const std::size_t updates = std::size(kDependents) + 1;
        counts = connection_.ExecuteBatch(sql.Updates.front());
        if (counts.size() != updates) {
            throw db::DbError("The server answered the batch of " + std::to_string(updates) +
                                  " updates with " + std::to_string(counts.size()) + " row counts",
                              {});
        }
    } else {
        counts.push_back(connection_.Execute(sql.Updates.front()));
        CheckGuard(counts.front(), chunk);  // before the dependent rows are touched
        for (std::size_t i = 1; i < sql.Updates.size(); ++i) {
            counts.push_back(connection_.Execute(sql.Updates[i]));
        }
    }
    CheckGuard(counts.front(), chunk);
    std::vector<MovedOperation> moved;
    moved.reserve(chunk.size());
    std::array<std::int64_t, 3> expected{};
    for (const auto& operation : chunk) {
        MovedOperation entry{operation.Id, {}};
        if (const auto found = before.find(operation.Id); found != before.end()) {
            entry.DependentRows = found->second;
        }
        for (std::size_t i = 0; i < expected.size(); ++i) expected[i] += entry.DependentRows[i];
        moved.push_back(entry);
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (counts[i + 1] >= 0 && counts[i + 1] != expected[i]) {
            throw db::DbError(std::string(kDependents[i].Name) + " の行（GeneralID " +
                                  std::to_string(chunk.front().Id) + "～" +
                                  std::to_string(chunk.back().Id) +
                                  "）が、移す間にほかの処理で追加または削除されました。"
                                  "この運行は修正していません。",
                              {});
        }
    }
    std::sort(moved.begin(), moved.end(),
              [](const MovedOperation& a, const MovedOperation& b) { return a.Id < b.Id; });
    return moved;
}

std::string ChunkMover::Describe(const std::vector<SelectedOperation>& chunk,
                                 const std::exception* error) {
    const std::string idList = ChunkIds(chunk);
    if (error == nullptr) return DescribeGuardFailure(chunk, idList);
    if (auto described = DescribeUnmovableValue(idList)) return *described;
    return error->what();
}

// Names the first operation of the chunk whose General row no longer holds what was read.
std::string ChunkMover::DescribeGuardFailure(const std::vector<SelectedOperation>& chunk,
                                             const std::string& idList) {
    std::map<std::int64_t, std::string> now;
    auto statement = connection_.Query(sql_.StoredDates(idList));
    statement.Execute();
    while (statement.Fetch()) {
        const std::int64_t id = statement.GetInt("ID").value_or(0);
        const auto date = statement.GetText("Now");
        now[id] = date ? *date : "NULL";
    }
    for (const auto& operation : chunk) {
        const auto found = now.find(operation.Id);
        if (found == now.end() || !SameStoredDate(dialect_, found->second, operation.DateText)) {
            return "General の ID=" + std::to_string(operation.Id) +
                   " の行は、読み込んだ後にほかの処理で変更されました（Date " +
                   (found == now.end() ? std::string("行なし") : found->second) +
                   "）。この運行は修正していません。";
        }
    }
    return "General の行（ID " + std::to_string(chunk.front().Id) + "～" +
           std::to_string(chunk.back().Id) +
           "）が、読み込んだ後にほかの処理で変更されました。この運行は修正していません。";
}

// After a failed statement: the first value of the chunk (lowest operation ID, tables in the
// order they are moved) that cannot be moved, or nothing when the failure lay elsewhere.
std::optional<std::string> ChunkMover::DescribeUnmovableValue(const std::string& idList) {
    std::optional<std::int64_t> bestId;
    std::string best;
    auto probe = [&](const MovedTable& table) {
        for (const char* column : table.Columns) {
            auto statement = connection_.Query(sql_.UnmovableValues(table, column, idList));
            statement.Execute();
            if (!statement.Fetch()) continue;
            const std::int64_t id = statement.GetInt("K").value_or(0);
            if (bestId && *bestId <= id) continue;
            bestId = id;
            const std::string value = statement.GetText("V").value_or("");
            const bool readable = statement.GetInt("Readable").value_or(0) != 0;
            best = std::string(table.Name) + "." + column + " の値 '" + value + "' " +
                   (readable ? (days_ >= 0 ? "は 1024 週進めると日付の範囲を超えます"
                                          : "は 1024 週戻すと日付の範囲を超えます")
                             : "は日付と時刻として読めません") +
                   "（" + table.Key + "=" + std::to_string(id) + "）。この運行は修正していません。";
        }
    };
    try {
        probe(kGeneral);
        for (const auto& table : kDependents) probe(table);
    } catch (const db::DbError&) {
        return std::nullopt;  // the original failure is the better description then
    }
    if (!bestId) return std::nullopt;
    return best;
}

}  // namespace tovrik::correction
