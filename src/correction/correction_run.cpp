#include "correction/correction_run.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <exception>
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
    }
    bool IsOpen() const { return open_; }
    // Server work done in the open transaction.
    Duration Work() const { return work_; }
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

class Run {
public:
    Run(db::Connection& connection, CorrectionView& view, const RunPacing& pacing)
        : connection_(connection), view_(view), pacing_(pacing), sizer_(pacing) {}

    // Selects and moves; returns the number of operations selected (0: nothing to do).
    std::int64_t Execute(const DateTime& inputDate, const DateTime& inputEnd) {
        DateTime rangeEnd, rangeStart;
        GetInputMonthRange(inputDate, inputEnd, rangeEnd, rangeStart);
        CheckSuiteTables(connection_);
        const Dialect dialect = DialectOf(connection_);
        const std::string condition = SelectionCondition(rangeStart, rangeEnd);
        // One cheap statement, whose time tells how far away the server is.
        const auto measuring = SteadyClock::now();
        const SelectionSize size = MeasureSelection(connection_, condition);
        sizer_.ObserveRoundTrip(SteadyClock::now() - measuring);
        if (size.Count < 1) return 0;
        maximum_ = static_cast<int>(std::min<std::int64_t>(size.Count, INT32_MAX));
        view_.SetProgressMaximum(maximum_);

        SelectionReader reader(connection_, SelectedColumns(dialect), condition, size);
        ChunkMover mover(connection_, dialect, MoveStatementsFor(dialect, connection_));
        RunTransaction transaction(connection_);
        std::deque<SelectedOperation> pending;
        const bool commitEveryChunk = pacing_.CommitInterval.count() <= 0;
        for (;;) {
            if (!commitEveryChunk && transaction.IsOpen() &&
                transaction.Work() >= pacing_.CommitInterval) {
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
            if (!mover.SelfContained()) transaction.EnsureOpen();
            try {
                progress_.UncommittedRows += mover.Move(chunk);
            } catch (const ChunkMover::GuardFailure& failure) {
                transaction.Rollback();
                std::vector<SelectedOperation> unmoved = chunk;
                if (mover.SelfContained()) {
                    progress_.Uncommitted += failure.Moved;
                    progress_.UncommittedRows += failure.Rows;
                    progress_.Commit();
                    std::erase_if(unmoved, [&](const SelectedOperation& operation) {
                        return std::find(failure.MovedIds.begin(), failure.MovedIds.end(),
                                         operation.Id) != failure.MovedIds.end();
                    });
                }
                if (connection_.CancelRequested()) throw Abandon{};
                throw std::runtime_error(
                    mover.Describe(unmoved.empty() ? chunk : unmoved, nullptr));
            } catch (const db::DbError& error) {
                transaction.Rollback();
                if (connection_.CancelRequested()) throw Abandon{};
                throw std::runtime_error(mover.Describe(chunk, &error));
            }
            pending.erase(pending.begin(), pending.begin() + take);
            progress_.Uncommitted += static_cast<int>(take);
            transaction.AddWork(sizer_.ObserveChunk(chunk.size(), SteadyClock::now() - started,
                                                    connection_.StatementsSent() - sentBefore));
            if (mover.SelfContained()) {
                progress_.Commit();
            } else if (commitEveryChunk) {
                Commit(transaction);
            }
            ShowProgress();
            if (!view_.ProcessEvents()) throw Abandon{};
        }
        if (transaction.IsOpen()) Commit(transaction);
        return size.Count;
    }

    const Progress& Done() const { return progress_; }

private:
    void Commit(RunTransaction& transaction) {
        const auto started = SteadyClock::now();
        transaction.Commit();
        sizer_.ObserveRoundTrip(SteadyClock::now() - started);
        progress_.Commit();
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
};

void EnableButtons(CorrectionView& view) {
    view.SetStartEnabled(true);
    view.SetEndEnabled(true);
}

}  // namespace

RunResult RunCorrection(db::Connection& connection, CorrectionView& view, MessageBoxes& boxes,
                        const Clock& clock, const DateTime& inputDate, const DateTime& inputEnd,
                        const RunPacing& pacing) {
    Run run(connection, view, pacing);
    auto result = [&run](RunOutcome outcome, std::string error = {}) {
        return RunResult{outcome, run.Done().Committed, run.Done().Rows, std::move(error)};
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
        const std::string startText = kStartLabel + FormatDateTime(clock.Now()) + "\r\n";

        if (run.Execute(inputDate, inputEnd) == 0) {
            view.SetStatusText(kNoData);
            EnableButtons(view);
            return result(RunOutcome::NoData);
        }
        view.SetStatusText(std::to_string(run.Done().Committed) + kFinished);
        view.SetStatusText(view.StatusText() + "\r\n" + startText + kEndLabel +
                           FormatDateTime(clock.Now()));
        EnableButtons(view);
        return result(RunOutcome::Corrected);
    } catch (const Abandon&) {
        return result(RunOutcome::Abandoned);
    } catch (const std::exception& error) {
        if (connection.CancelRequested()) return result(RunOutcome::Abandoned);
        boxes.Show(kErrorIntro + std::string(error.what()), kCaption, MessageIcon::Exclamation);
        view.SetStatusText("");
        EnableButtons(view);
        return result(RunOutcome::Failed, error.what());
    }
}

}  // namespace tovrik
