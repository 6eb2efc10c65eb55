#include "correction/correction_run.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <exception>
#include <memory>
#include <stdexcept>

#include "correction/chunk_mover.h"
#include "correction/date_rules.h"
#include "correction/selection_reader.h"
#include "correction/sql_dialect.h"
#include "correction/suite_tables.h"

namespace tovrik {

namespace {

using namespace correction;
using SteadyClock = std::chrono::steady_clock;

constexpr char kCaption[] = "Nuvral日付修正";
constexpr char kErrorIntro[] = "処理中にエラーが発生しました。\r\n";
constexpr char kCounting[] = "件数確認中";
constexpr char kNoData[] = "修正が必要なデータはありません";
constexpr char kFinished[] = "件の修正が終了しました";
constexpr char kStartLabel[] = "開始：";
constexpr char kEndLabel[] = "終了：";

// The run's transaction: whole chunks, rolled back unless committed. Once the front end has
// closed the connection it is never touched again.
class RunTransaction {
public:
    explicit RunTransaction(db::Connection& connection) : connection_(connection) {}
    ~RunTransaction() { Rollback(); }
    RunTransaction(const RunTransaction&) = delete;
    RunTransaction& operator=(const RunTransaction&) = delete;

    void EnsureOpen() {
        if (open_) return;
        connection_.BeginTransaction();
        open_ = true;
        work_ = Duration::zero();
        opened_ = SteadyClock::now();
    }
    bool IsOpen() const { return open_; }
    // Server work done in the open transaction.
    Duration Work() const { return work_; }
    Duration Age() const { return SteadyClock::now() - opened_; }
    void AddWork(Duration work) { work_ += work; }
    void Commit() {
        connection_.Commit();
        open_ = false;
    }
    void Rollback() noexcept {
        if (!open_) return;
        open_ = false;
        if (!connection_.IsOpen()) return;  // closing the connection rolled it back
        try {
            connection_.Rollback();
        } catch (const db::DbError&) {
            // The connection is lost or broken, or the server has already ended the transaction.
        }
    }

private:
    db::Connection& connection_;
    bool open_ = false;
    Duration work_{};
    SteadyClock::time_point opened_{};
};

struct Progress {
    int Committed = 0;      // operations moved and committed
    std::int64_t Rows = 0;  // their rows
    int Uncommitted = 0;    // operations moved in the open transaction
    std::int64_t UncommittedRows = 0;

    void Commit() {
        Committed += Uncommitted;
        Rows += UncommittedRows;
        Uncommitted = 0;
        UncommittedRows = 0;
    }
    int Finished() const { return Committed + Uncommitted; }
};

// The front end is closing, or the run was cancelled: no box, only what was committed counts.
class Abandon {};

// "2019/04": the month of a date.
std::string MonthText(const DateTime& value) { return FormatShortDate(value).substr(0, 7); }

class Run {
public:
    Run(db::Connection& connection, CorrectionView& view, const RunPacing& pacing,
        const JournalSetup* journalSetup, const DateTime& start)
        : connection_(connection),
          view_(view),
          pacing_(pacing),
          sizer_(pacing),
          journalSetup_(journalSetup),
          start_(start) {}

    // Selects and moves; returns the number of operations selected (0: nothing to do).
    std::int64_t Execute(const DateTime& inputDate, const DateTime& inputEnd) {
        DateTime rangeEnd, rangeStart;
        GetInputMonthRange(inputDate, inputEnd, rangeEnd, rangeStart);
        // The table check reads no rows: its time tells how far away the server is. (The
        // selection's count is no measure of that: on a large table it is real work, and taking
        // it for waiting made every chunk look free, so a run was never committed before its end.)
        const auto checking = SteadyClock::now();
        const std::uint64_t sentBeforeCheck = connection_.StatementsSent();
        CheckSuiteTables(connection_);
        sizer_.ObserveRoundTrip(SteadyClock::now() - checking,
                                connection_.StatementsSent() - sentBeforeCheck);
        const Dialect dialect = DialectOf(connection_);
        const std::string condition = SelectionCondition(dialect, rangeStart, rangeEnd);
        const SelectionSize size = MeasureSelection(connection_, condition);
        if (size.Count < 1) return 0;
        if (journalSetup_ != nullptr) {
            // Before anything moves: a run whose journal cannot be written changes nothing.
            journal_ = std::make_unique<JournalWriter>(
                *journalSetup_, JournalKind::Correction, start_,
                MonthText(rangeStart) + "\t" + MonthText(AddMonthsToMonthStart(rangeEnd, -1)));
        }
        maximum_ = static_cast<int>(std::min<std::int64_t>(size.Count, INT32_MAX));
        view_.SetProgressMaximum(maximum_);

        SelectionReader reader(connection_, SelectedColumns(dialect), condition, size);
        ChunkMover mover(connection_, dialect, MoveStatementsFor(dialect, connection_));
        RunTransaction transaction(connection_);
        std::deque<SelectedOperation> pending;
        const bool commitEveryChunk = pacing_.CommitInterval.count() <= 0;
        for (;;) {
            if (!commitEveryChunk && transaction.IsOpen() &&
                (transaction.Work() >= pacing_.CommitInterval ||
                 transaction.Age() >= pacing_.CommitAfter)) {
                Commit(transaction);
                // A close between the commit and the next chunk loses nothing.
                if (!view_.ProcessEvents()) throw Abandon{};
            }
            const auto started = SteadyClock::now();
            const std::uint64_t sentBefore = connection_.StatementsSent();
            const std::size_t chunkSize = sizer_.Next();
            if (pending.size() < chunkSize) {
                // Reading ahead for the next, larger chunks saves their reads' round trips.
                const std::size_t ahead = std::min(5 * chunkSize, 2 * pacing_.MaxChunk);
                reader.Read(std::max(ahead, chunkSize) - pending.size(), [&](db::Statement& row) {
                    pending.push_back(SelectedFrom(dialect, row));
                });
            }
            if (pending.empty()) break;
            const auto take = static_cast<std::ptrdiff_t>(std::min(chunkSize, pending.size()));
            const std::vector<SelectedOperation> chunk(pending.begin(), pending.begin() + take);
            transaction.EnsureOpen();
            std::vector<MovedOperation> moved;
            try {
                moved = mover.Move(chunk);
                Record(chunk, moved);
            } catch (const ChunkMover::GuardFailure&) {
                transaction.Rollback();
                if (connection_.CancelRequested()) throw Abandon{};
                throw std::runtime_error(mover.Describe(chunk, nullptr));
            } catch (const db::DbError& error) {
                transaction.Rollback();
                if (connection_.CancelRequested()) throw Abandon{};
                throw std::runtime_error(mover.Describe(chunk, &error));
            }
            pending.erase(pending.begin(), pending.begin() + take);
            progress_.Uncommitted += static_cast<int>(take);
            for (const MovedOperation& operation : moved) {
                progress_.UncommittedRows += 1 + operation.DependentRows[0] +
                                             operation.DependentRows[1] +
                                             operation.DependentRows[2];
            }
            transaction.AddWork(sizer_.ObserveChunk(chunk.size(), SteadyClock::now() - started,
                                                    connection_.StatementsSent() - sentBefore));
            if (commitEveryChunk) Commit(transaction);
            ShowProgress();
            if (!view_.ProcessEvents()) throw Abandon{};
        }
        if (transaction.IsOpen()) Commit(transaction);
        return size.Count;
    }

    const Progress& Done() const { return progress_; }

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
    void Commit(RunTransaction& transaction) {
        if (journal_) {
            try {
                journal_->Sync();  // the transaction's lines are on the disk before it commits
            } catch (const JournalError& error) {
                transaction.Rollback();
                throw std::runtime_error(error.what());
            }
        }
        const auto started = SteadyClock::now();
        transaction.Commit();
        sizer_.ObserveRoundTrip(SteadyClock::now() - started);
        progress_.Commit();
        if (journal_) journal_->MarkCommitted();
    }

    // The chunk's lines, written in its transaction (and synced to the disk before the commit).
    void Record(const std::vector<SelectedOperation>& chunk,
                const std::vector<MovedOperation>& moved) {
        if (!journal_) return;
        std::vector<JournalEntry> entries;
        entries.reserve(chunk.size());
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            if (i >= moved.size() || moved[i].Id != chunk[i].Id) {
                throw db::DbError("The rows moved do not match the chunk at ID " +
                                      std::to_string(chunk[i].Id),
                                  {});
            }
            JournalEntry entry;
            entry.Id = chunk[i].Id;
            entry.InputDate = chunk[i].InputDateText;
            entry.DateBefore = chunk[i].DateText;
            entry.DateAfter = ShiftedDateText(chunk[i].DateText, kRolloverDays);
            entry.DependentRows = moved[i].DependentRows;
            entries.push_back(std::move(entry));
        }
        try {
            journal_->Add(entries);
        } catch (const JournalError& error) {
            throw db::DbError(error.what(), {});
        }
    }

    void ShowProgress() {
        const int finished = progress_.Finished();
        if (finished > maximum_) {  // operations added meanwhile below the last ID
            maximum_ = finished;
            view_.SetProgressMaximum(maximum_);
        }
        view_.SetStatusText(std::to_string(finished) + "/" + std::to_string(maximum_));
        view_.SetProgressValue(finished);
    }

    db::Connection& connection_;
    CorrectionView& view_;
    RunPacing pacing_;
    ChunkSizer sizer_;
    Progress progress_;
    int maximum_ = 0;
    const JournalSetup* journalSetup_;
    DateTime start_;
    std::unique_ptr<JournalWriter> journal_;
};

void EnableButtons(CorrectionView& view) {
    view.SetStartEnabled(true);
    view.SetEndEnabled(true);
}

}  // namespace

RunResult RunCorrection(db::Connection& connection, CorrectionView& view, MessageBoxes& boxes,
                        const Clock& clock, const DateTime& inputDate, const DateTime& inputEnd,
                        const RunPacing& pacing, const JournalSetup* journal) {
    const DateTime start = clock.Now();
    Run run(connection, view, pacing, journal, start);
    auto result = [&run](RunOutcome outcome, std::string error = {}) {
        return RunResult{outcome, run.Done().Committed, run.Done().Rows, std::move(error),
                         run.JournalPath()};
    };
    try {
        view.SetStatusText("");
        view.SetProgressValue(0);
        // The buttons go off before events are first processed, so that no second run can
        // start (and the window cannot close) inside this one.
        view.SetStartEnabled(false);
        view.SetEndEnabled(false);
        view.SetStatusText(kCounting);
        if (!view.ProcessEvents()) throw Abandon{};
        const std::string startText = kStartLabel + FormatDateTime(start) + "\r\n";

        if (run.Execute(inputDate, inputEnd) == 0) {
            view.SetStatusText(kNoData);
            EnableButtons(view);
            return result(RunOutcome::NoData);
        }
        run.EndJournal("completed");
        view.SetStatusText(std::to_string(run.Done().Committed) + kFinished);
        view.SetStatusText(view.StatusText() + "\r\n" + startText + kEndLabel +
                           FormatDateTime(clock.Now()));
        EnableButtons(view);
        return result(RunOutcome::Corrected);
    } catch (const Abandon&) {
        run.EndJournal("interrupted");
        return result(RunOutcome::Abandoned);
    } catch (const std::exception& error) {
        if (connection.CancelRequested()) {
            run.EndJournal("interrupted");
            return result(RunOutcome::Abandoned);
        }
        run.EndJournal("failed");
        boxes.Show(kErrorIntro + std::string(error.what()), kCaption, MessageIcon::Exclamation);
        view.SetStatusText("");
        EnableButtons(view);
        return result(RunOutcome::Failed, error.what());
    }
}

}  // namespace tovrik
