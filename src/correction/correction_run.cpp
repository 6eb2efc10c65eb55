#include "correction/correction_run.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <exception>
#include <memory>

#include "correction/chunk_committer.h"
#include "correction/date_rules.h"
#include "correction/selection_reader.h"
#include "correction/sql_dialect.h"
#include "correction/suite_tables.h"

namespace tovrik {

namespace {

using namespace correction;
using SteadyClock = std::chrono::steady_clock;

// The front end is closing, or the user stopped: only what was committed counts.
class Abandon {};

// "2019/04": the month of a date.
std::string MonthText(const DateTime& value) { return FormatShortDate(value).substr(0, 7); }

class Run {
public:
    Run(db::Connection& connection, RunEvents& events, const RunPacing& pacing,
        const JournalSetup* journalSetup, const DateTime& start)
        : connection_(connection),
          events_(events),
          pacing_(pacing),
          sizer_(pacing),
          journalSetup_(journalSetup),
          start_(start) {}

    // Selects and moves; returns the number of operations selected (0: nothing to do).
    std::int64_t Execute(const DateTime& inputDate, const DateTime& inputEnd) {
        DateTime rangeEnd, rangeStart;
        GetInputMonthRange(inputDate, inputEnd, rangeEnd, rangeStart);
        CheckSuiteTables(connection_, sizer_);
        const Dialect dialect = DialectOf(connection_);
        const std::string condition = SelectionCondition(dialect, rangeStart, rangeEnd);
        const SelectionSize size = MeasureSelection(connection_, condition);
        if (size.Count < 1) return 0;
        ChunkCommitter committer(connection_, dialect, kRolloverDays);
        if (journalSetup_ != nullptr) {
            // Before anything moves: a run whose journal cannot be written changes nothing.
            try {
                journal_ = std::make_unique<JournalWriter>(
                    *journalSetup_, JournalKind::Correction, start_,
                    MonthText(rangeStart) + "\t" + MonthText(AddMonthsToMonthStart(rangeEnd, -1)));
            } catch (const JournalError& error) {
                throw ChunkError(RunError::Kind::Journal, error.what());
            }
            committer.JournalTo(journal_.get());
        }
        total_ = static_cast<int>(std::min<std::int64_t>(size.Count, INT32_MAX));
        events_.Selected(total_);

        SelectionReader reader(connection_, SelectedColumns(dialect), condition, size);
        std::deque<SelectedOperation> pending;
        for (;;) {
            const auto started = SteadyClock::now();
            const std::uint64_t sentBefore = connection_.StatementsSent();
            const std::size_t chunkSize = sizer_.Next();
            if (pending.size() < chunkSize) {
                // Reading two of the largest chunks ahead saves the later chunks' reads: their
                // round trips cost more than the rows (a few thousand IDs and dates).
                const std::size_t ahead = std::max(2 * pacing_.MaxChunk, chunkSize);
                reader.Read(ahead - pending.size(), [&](db::Statement& row) {
                    pending.push_back(SelectedFrom(dialect, row));
                });
            }
            if (pending.empty()) break;
            const auto take = static_cast<std::ptrdiff_t>(std::min(chunkSize, pending.size()));
            const std::vector<SelectedOperation> chunk(pending.begin(), pending.begin() + take);
            const auto moved = committer.Commit(chunk);
            pending.erase(pending.begin(), pending.begin() + take);
            sizer_.ObserveChunk(chunk.size(), SteadyClock::now() - started,
                                connection_.StatementsSent() - sentBefore);
            operations_ += static_cast<int>(take);
            rows_ += ChunkCommitter::RowsOf(moved);
            // Operations added meanwhile below the last ID make more than were counted.
            total_ = std::max(total_, operations_);
            events_.Committed(operations_, total_);
            if (!events_.GoOn()) throw Abandon{};
        }
        return size.Count;
    }

    int Operations() const { return operations_; }
    std::int64_t Rows() const { return rows_; }
    std::string JournalPath() const { return journal_ ? journal_->Path() : std::string(); }
    // The journal's last line; a journal that cannot take it any more stays without one.
    void EndJournal(const char* outcome) noexcept {
        if (!journal_) return;
        try {
            journal_->End(outcome);
        } catch (const std::exception&) {
            // The run's own outcome is reported already; the journal then reads as cut off.
        }
    }

private:
    db::Connection& connection_;
    RunEvents& events_;
    RunPacing pacing_;
    ChunkSizer sizer_;
    int operations_ = 0;
    std::int64_t rows_ = 0;
    int total_ = 0;
    const JournalSetup* journalSetup_;
    DateTime start_;
    std::unique_ptr<JournalWriter> journal_;
};

}  // namespace

RunResult RunCorrection(db::Connection& connection, RunEvents& events, const Clock& clock,
                        const DateTime& inputDate, const DateTime& inputEnd,
                        const RunPacing& pacing, const JournalSetup* journal) {
    RunResult result;
    result.Started = clock.Now();
    Run run(connection, events, pacing, journal, result.Started);
    auto finish = [&](RunOutcome outcome, const char* journalEnd) {
        if (journalEnd != nullptr) run.EndJournal(journalEnd);
        result.Outcome = outcome;
        result.Operations = run.Operations();
        result.Rows = run.Rows();
        result.JournalPath = run.JournalPath();
        return result;
    };
    try {
        events.Counting();
        if (!events.GoOn()) throw Abandon{};
        if (run.Execute(inputDate, inputEnd) == 0) return finish(RunOutcome::NoData, nullptr);
        result.Ended = clock.Now();
        return finish(RunOutcome::Corrected, "completed");
    } catch (const Abandon&) {
        return finish(RunOutcome::Abandoned, "interrupted");
    } catch (const std::exception& error) {
        if (connection.CancelRequested()) return finish(RunOutcome::Abandoned, "interrupted");
        const auto* chunk = dynamic_cast<const ChunkError*>(&error);
        result.Error = chunk != nullptr ? chunk->ToRunError()
                                        : RunError{RunError::Kind::Database, error.what()};
        return finish(RunOutcome::Failed, "failed");
    }
}

}  // namespace tovrik
