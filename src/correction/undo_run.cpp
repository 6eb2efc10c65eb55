#include "correction/undo_run.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <set>

#include "correction/chunk_committer.h"
#include "correction/sql_dialect.h"
#include "correction/suite_tables.h"

namespace tovrik {

namespace {

using namespace correction;

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
        } else if (row.Date && SameStoredDate(dialect, *row.Date, entry.DateAfter)) {
            item.Check = UndoCheck::Undo;
            for (std::size_t i = 0; i < row.Rows.size(); ++i) {
                if (row.Rows[i] == entry.DependentRows[i]) continue;
                item.Check = UndoCheck::Changed;
                item.Why += std::string(item.Why.empty() ? "" : ", ") + kDependents[i].Name + " " +
                            std::to_string(entry.DependentRows[i]) + "行 → 今 " +
                            std::to_string(row.Rows[i]) + "行";
            }
        } else if (row.Date && SameStoredDate(dialect, *row.Date, entry.DateBefore)) {
            item.Check = UndoCheck::AlreadyUndone;
        } else {
            item.Why = "Date が今 " + row.Date.value_or("NULL");
        }
        items.push_back(std::move(item));
    }
    return items;
}

// The lines an undo works on: every committed line, then the unmarked lines of the last
// transaction (the program was stopped before their mark, perhaps after their commit).
std::vector<JournalEntry> UndoLines(const Journal& journal) {
    std::vector<JournalEntry> lines = journal.Committed;
    lines.insert(lines.end(), journal.Uncommitted.begin(), journal.Uncommitted.end());
    return lines;
}

// An unmarked line counts only where the database shows its operation moved (the mark was lost
// after the commit); otherwise its transaction never committed and there is nothing to undo.
std::vector<UndoItem> Counted(const Journal& journal, std::vector<UndoItem> items) {
    std::set<std::int64_t> unmarked;
    for (const JournalEntry& entry : journal.Uncommitted) unmarked.insert(entry.Id);
    std::erase_if(items, [&](const UndoItem& item) {
        return item.Check != UndoCheck::Undo && unmarked.count(item.Entry.Id) != 0;
    });
    return items;
}

// The lines in chunks of kUndoChunk, for the check that changes nothing.
template <typename Chunk>
void ForEachChunk(const std::vector<JournalEntry>& entries, Chunk chunk) {
    for (std::size_t at = 0; at < entries.size(); at += kUndoChunk) {
        const auto end = entries.begin() + static_cast<std::ptrdiff_t>(
                                               std::min(entries.size(), at + kUndoChunk));
        chunk(std::vector<JournalEntry>(entries.begin() + static_cast<std::ptrdiff_t>(at), end));
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
    ForEachChunk(UndoLines(journal), [&](const std::vector<JournalEntry>& chunk) {
        for (const UndoItem& item : Counted(journal, Inspect(connection, dialect, chunk))) {
            report.Count(item.Check);
            each(item);
        }
    });
    return report;
}

UndoRefusal CheckUndoJournal(const Journal& journal, const JournalSetup& setup,
                             bool otherDataSource) {
    if (journal.Kind != JournalKind::Correction) return UndoRefusal::NotACorrection;
    if (!otherDataSource && (journal.DataSource != JournalField(setup.DataSource) ||
                             journal.Database != JournalField(setup.Database))) {
        return UndoRefusal::OtherDataSource;
    }
    return UndoRefusal::None;
}

UndoReport RunUndo(db::Connection& connection, const Journal& journal,
                   const std::string& journalPath, const JournalSetup& setup, const DateTime& start,
                   RunEvents& events, const std::function<void(const UndoItem&)>& each) {
    // Chunks sized as a run's are, from the server's work: a distant server gets no more round
    // trips than a near one.
    ChunkSizer sizer{RunPacing{}};
    CheckSuiteTables(connection, sizer);
    const Dialect dialect = DialectOf(connection);
    ChunkCommitter committer(connection, dialect, -kRolloverDays);
    UndoReport report;
    std::unique_ptr<JournalWriter> writer;
    const std::vector<JournalEntry> lines = ById(UndoLines(journal));
    const int total = static_cast<int>(lines.size());
    int done = 0;
    events.Selected(total);
    try {
        for (std::size_t at = 0; at < lines.size();) {
            if (!events.GoOn()) {
                report.Interrupted = true;
                break;
            }
            const auto started = std::chrono::steady_clock::now();
            const std::uint64_t sentBefore = connection.StatementsSent();
            const std::size_t size = std::min(sizer.Next(), lines.size() - at);
            const auto first = lines.begin() + static_cast<std::ptrdiff_t>(at);
            const std::vector<JournalEntry> entries(first,
                                                    first + static_cast<std::ptrdiff_t>(size));
            const std::vector<UndoItem> items =
                Counted(journal, Inspect(connection, dialect, entries));
            std::vector<SelectedOperation> chunk;
            std::vector<std::array<std::int64_t, 3>> rows;
            for (const UndoItem& item : items) {
                if (item.Check != UndoCheck::Undo) continue;
                chunk.push_back({item.Entry.Id, item.Entry.DateAfter, item.Entry.InputDate});
                rows.push_back(item.Entry.DependentRows);
            }
            if (!chunk.empty()) {
                if (!writer) {
                    // Before anything moves: an undo whose journal cannot be written changes
                    // nothing.
                    writer = std::make_unique<JournalWriter>(setup, JournalKind::Undo, start,
                                                             journalPath);
                    report.JournalPath = writer->Path();
                    committer.JournalTo(writer.get());
                }
                // Each operation is moved back only while its Date and its dependent rows are
                // still what was just checked.
                committer.Commit(chunk, &rows);
            }
            for (const UndoItem& item : items) {
                report.Count(item.Check);
                each(item);
            }
            sizer.ObserveChunk(size, std::chrono::steady_clock::now() - started,
                               connection.StatementsSent() - sentBefore);
            at += size;
            done += static_cast<int>(size);
            events.Committed(done, total);
        }
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
