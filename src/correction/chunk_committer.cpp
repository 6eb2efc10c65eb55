#include "correction/chunk_committer.h"

#include <string>

namespace tovrik::correction {

namespace {

using Kind = RunError::Kind;

void RollBack(db::Connection& connection) noexcept {
    try {
        if (connection.InTransaction()) connection.Rollback();
    } catch (const db::DbError&) {
        // The server has ended the transaction already, or the connection is lost.
    }
}

}  // namespace

ChunkCommitter::ChunkCommitter(db::Connection& connection, Dialect dialect, int days)
    : connection_(connection),
      days_(days),
      mover_(connection, dialect, MoveStatementsFor(dialect, connection), days) {}

std::vector<MovedOperation> ChunkCommitter::Commit(
    const std::vector<SelectedOperation>& chunk,
    const std::vector<std::array<std::int64_t, 3>>* expectedRows) {
    db::Transaction transaction(connection_);
    std::vector<MovedOperation> moved;
    try {
        moved = mover_.Move(chunk);
    } catch (const ChunkMover::GuardFailure&) {
        RollBack(connection_);  // the description reads what is committed
        if (connection_.CancelRequested()) throw db::DbError("cancelled", {});
        throw ChunkError(Kind::Changed, mover_.Describe(chunk, nullptr));
    } catch (const db::DbError& error) {
        RollBack(connection_);
        if (connection_.CancelRequested()) throw;
        throw ChunkError(Kind::Database, mover_.Describe(chunk, &error));
    }
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        if (i >= moved.size() || moved[i].Id != chunk[i].Id) {
            throw ChunkError(Kind::Changed, "General の ID=" + std::to_string(chunk[i].Id) +
                                                " の行が、読み込んだ後にほかの処理で変更されました。"
                                                "この運行は修正していません。");
        }
        if (expectedRows != nullptr && moved[i].DependentRows != (*expectedRows)[i]) {
            throw ChunkError(Kind::Changed, "ID=" + std::to_string(chunk[i].Id) +
                                                " の運行の行が、確かめた後にほかの処理で変更されました。"
                                                "この運行は元に戻していません。");
        }
    }
    if (journal_ != nullptr) {
        try {
            journal_->Add(Lines(chunk, moved));
            journal_->Sync();  // the chunk's lines are on the disk before it commits
        } catch (const JournalError& error) {
            throw ChunkError(Kind::Journal, error.what());  // the transaction rolls back
        }
    }
    try {
        transaction.Commit();
    } catch (const db::DbError& error) {
        if (connection_.CancelRequested()) throw;
        throw ChunkError(Kind::Database, error.what());
    }
    if (journal_ != nullptr) {
        try {
            journal_->MarkCommitted();
        } catch (const JournalError& error) {
            throw ChunkError(Kind::Journal, error.what());  // says the chunk is committed
        }
    }
    return moved;
}

std::int64_t ChunkCommitter::RowsOf(const std::vector<MovedOperation>& moved) {
    std::int64_t rows = 0;
    for (const MovedOperation& operation : moved) {
        rows += 1 + operation.DependentRows[0] + operation.DependentRows[1] +
                operation.DependentRows[2];
    }
    return rows;
}

std::vector<JournalEntry> ChunkCommitter::Lines(const std::vector<SelectedOperation>& chunk,
                                                const std::vector<MovedOperation>& moved) const {
    std::vector<JournalEntry> lines;
    lines.reserve(chunk.size());
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        JournalEntry line;
        line.Id = chunk[i].Id;
        line.InputDate = chunk[i].InputDateText;
        line.DateBefore = chunk[i].DateText;
        line.DateAfter = ShiftedDateText(chunk[i].DateText, days_);
        line.DependentRows = moved[i].DependentRows;
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace tovrik::correction
