#include "correction/undo_run.h"

#include <algorithm>
#include <map>
#include <memory>

#include "correction/chunk_mover.h"
#include "correction/sql_dialect.h"
#include "correction/suite_tables.h"

namespace tovrik {

namespace {

using namespace correction;

// The literal that matches exactly the stored value of a journal's date text.
std::string LiteralOf(Dialect dialect, const std::string& text) {
    if (dialect == Dialect::SQLite) return Quoted(text);
    const auto value = ParseStoredDate(text);
    return value ? Ts(*value) : "NULL";
}

// Whether a stored Date (SQLite's text, else the ISO text of the driver's value) is the journal's
// date text.
bool SameDate(Dialect dialect, const std::optional<std::string>& stored, const std::string& text) {
    if (!stored) return false;
    if (dialect == Dialect::SQLite) return *stored == text;
    return ParseStoredDate(*stored) == ParseStoredDate(text);
}

// What the database holds for a chunk of journal lines.
std::vector<UndoItem> Inspect(db::Connection& connection, Dialect dialect,
                              const std::vector<JournalEntry>& entries) {
    std::vector<std::int64_t> ids;
    for (const JournalEntry& entry : entries) ids.push_back(entry.Id);
    struct Now {
        bool Exists = false;
        std::optional<std::string> Date;
        std::array<std::int64_t, 3> Rows{};
    };
    std::map<std::int64_t, Now> now;
    auto statement = connection.Query(UndoInspectQuery(dialect, ids));
    statement.Execute();
    while (statement.Fetch()) {
        const auto table = statement.GetInt("T").value_or(0);
        Now& row = now[statement.GetInt("K").value_or(0)];
        if (table == 3) {
            row.Exists = true;
            if (dialect == Dialect::SQLite) {
                row.Date = statement.GetText("D");
            } else if (const auto date = statement.GetDateTime("D")) {
                row.Date = FormatIso(*date);
            }
        } else if (table >= 0 && table < 3) {
            row.Rows[static_cast<std::size_t>(table)] = statement.GetInt("N").value_or(0);
        }
    }
    std::vector<UndoItem> items;
    for (const JournalEntry& entry : entries) {
        UndoItem item{entry, UndoCheck::Changed, {}};
        const Now& row = now[entry.Id];
        if (!row.Exists) {
            item.Check = UndoCheck::Missing;
            item.Why = "General の行がありません";
        } else if (SameDate(dialect, row.Date, entry.DateAfter)) {
            item.Check = UndoCheck::Undo;
            for (std::size_t i = 0; i < row.Rows.size(); ++i) {
                if (row.Rows[i] == entry.DependentRows[i]) continue;
                item.Check = UndoCheck::Changed;
                item.Why += std::string(item.Why.empty() ? "" : ", ") + kDependents[i].Name + " " +
                            std::to_string(entry.DependentRows[i]) + "行 → 今 " +
                            std::to_string(row.Rows[i]) + "行";
            }
        } else if (SameDate(dialect, row.Date, entry.DateBefore)) {
            item.Check = UndoCheck::AlreadyUndone;
        } else {
            item.Why = "Date が今 " + row.Date.value_or("NULL");
        }
        items.push_back(std::move(item));
    }
    return items;
}

void RollBack(db::Connection& connection) noexcept {
    try {
        connection.Rollback();
    } catch (const db::DbError&) {
        // The server has ended the transaction already, or the connection is lost.
    }
}

template <typename Chunk>
void ForEachChunk(const std::vector<JournalEntry>& entries, Chunk chunk) {
    for (std::size_t at = 0; at < entries.size(); at += kUndoChunk) {
        const auto end = entries.begin() + static_cast<std::ptrdiff_t>(
                                               std::min(entries.size(), at + kUndoChunk));
        if (!chunk(std::vector<JournalEntry>(entries.begin() + static_cast<std::ptrdiff_t>(at),
                                             end))) {
            return;
        }
    }
}

// Undo moves operations in ID order, as a correction does (rows locked in one order by all).
std::vector<JournalEntry> ById(std::vector<JournalEntry> entries) {
    std::sort(entries.begin(), entries.end(),
              [](const JournalEntry& a, const JournalEntry& b) { return a.Id < b.Id; });
    return entries;
}

}  // namespace

std::string UndoInspectQuery(Dialect dialect, const std::vector<std::int64_t>& ids) {
    const std::string idList = IdList(ids);
    return "SELECT 3 AS T,ID AS K," + AsStored(dialect, "Date") +
           " AS D,0 AS N FROM General WHERE ID IN (" + idList +
           ") UNION ALL SELECT T,K,NULL,N FROM (" + DependentRowsQuery(idList) + ") AS c";
}

void UndoReport::Count(UndoCheck check) {
    if (check == UndoCheck::Undo) {
        ++Undone;
    } else if (check == UndoCheck::AlreadyUndone) {
        ++AlreadyUndone;
    } else {
        ++Skipped;
    }
}

UndoReport PlanUndo(db::Connection& connection, const Journal& journal,
                    const std::function<void(const UndoItem&)>& each) {
    CheckSuiteTables(connection);
    const Dialect dialect = DialectOf(connection);
    UndoReport report;
    ForEachChunk(journal.Committed, [&](const std::vector<JournalEntry>& chunk) {
        for (const UndoItem& item : Inspect(connection, dialect, chunk)) {
            report.Count(item.Check);
            each(item);
        }
        return true;
    });
    return report;
}

UndoReport RunUndo(db::Connection& connection, const Journal& journal,
                   const std::string& journalPath, const JournalSetup& setup, const DateTime& start,
                   const std::function<void(const UndoItem&)>& each,
                   const std::function<bool()>& stop) {
    CheckSuiteTables(connection);
    const Dialect dialect = DialectOf(connection);
    ChunkMover mover(connection, dialect, MoveStatementsFor(dialect, connection), -kRolloverDays);
    UndoReport report;
    std::unique_ptr<JournalWriter> writer;
    try {
        ForEachChunk(ById(journal.Committed), [&](const std::vector<JournalEntry>& entries) {
            if (stop()) {
                report.Interrupted = true;
                return false;
            }
            db::Transaction transaction(connection);
            std::vector<UndoItem> items = Inspect(connection, dialect, entries);
            std::vector<SelectedOperation> chunk;
            std::vector<JournalEntry> lines;
            for (const UndoItem& item : items) {
                if (item.Check != UndoCheck::Undo) continue;
                chunk.push_back({item.Entry.Id, LiteralOf(dialect, item.Entry.DateAfter),
                                 item.Entry.DateAfter, item.Entry.InputDate});
                JournalEntry line = item.Entry;
                std::swap(line.DateBefore, line.DateAfter);
                lines.push_back(line);
            }
            if (!chunk.empty()) {
                if (!writer) {
                    // Before anything moves: an undo whose journal cannot be written changes
                    // nothing.
                    writer = std::make_unique<JournalWriter>(setup, JournalKind::Undo, start,
                                                             journalPath);
                    report.JournalPath = writer->Path();
                }
                std::vector<MovedOperation> moved;
                try {
                    moved = mover.Move(chunk);
                } catch (const ChunkMover::GuardFailure&) {
                    RollBack(connection);  // the description reads what is committed
                    throw db::DbError(mover.Describe(chunk, nullptr), {});
                } catch (const db::DbError& error) {
                    RollBack(connection);
                    if (connection.CancelRequested()) throw;
                    throw db::DbError(mover.Describe(chunk, &error), error.Records());
                }
                for (std::size_t i = 0; i < moved.size(); ++i) {
                    if (moved[i].DependentRows != lines[i].DependentRows) {
                        throw db::DbError("ID=" + std::to_string(lines[i].Id) +
                                              " の運行の行が、確かめた後にほかの処理で変更されました。"
                                              "この運行は元に戻していません。",
                                          {});
                    }
                }
                writer->Add(lines);
                writer->Sync();
                transaction.Commit();
                writer->MarkCommitted();
            }
            for (const UndoItem& item : items) {
                report.Count(item.Check);
                each(item);
            }
            return true;
        });
    } catch (const std::exception&) {
        if (writer) {
            try {
                writer->End("failed");
            } catch (const std::exception&) {
                // The failure itself is what the caller reports.
            }
        }
        throw;
    }
    if (writer) writer->End(report.Interrupted ? "interrupted" : "completed");
    return report;
}

}  // namespace tovrik
