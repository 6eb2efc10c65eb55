#include "correction/correction_run.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <exception>
#include <map>
#include <optional>
#include <stdexcept>
#include <utility>

#include "correction/date_rules.h"

namespace tovrik {

namespace {

constexpr char kCaption[] = "Nuvral日付修正";
constexpr char kErrorIntro[] = "処理中にエラーが発生しました。\r\n";
constexpr char kCounting[] = "件数確認中";
constexpr char kNoData[] = "修正が必要なデータはありません";
constexpr char kFinished[] = "件の修正が終了しました";
constexpr char kStartLabel[] = "開始：";
constexpr char kEndLabel[] = "終了：";

constexpr int kRolloverDays = RolloverWeeks * 7;

// Operations per chunk: the first chunk is small, later ones are sized so that one chunk (with
// the selection reads before it) takes about RunPacing::ChunkTarget, keeping the front end
// responsive; the cap bounds the statement texts and the memory held.
constexpr std::size_t kFirstChunk = 8;
constexpr std::size_t kMaxChunk = 500;
// IDs covered by one read of the selection; at most this many rows are held from one read.
constexpr std::int64_t kFirstSpan = 256;
constexpr std::int64_t kMaxSpan = 4096;

enum class Dialect { SQLite, PostgreSQL, SqlServer, Other };

Dialect DialectOf(db::Connection& connection) {
    const std::string name = connection.DbmsName();
    auto startsWith = [&](const char* prefix) { return name.rfind(prefix, 0) == 0; };
    if (startsWith("SQLite")) return Dialect::SQLite;
    if (startsWith("PostgreSQL")) return Dialect::PostgreSQL;
    if (startsWith("Microsoft SQL Server")) return Dialect::SqlServer;
    return Dialect::Other;
}

struct MovedTable {
    const char* Name;
    const char* Key;  // the column naming the operation
    std::vector<const char*> Columns;
};

const MovedTable kGeneral{"General", "ID", {"Date", "StartTime", "EndTime"}};
const MovedTable kDependents[] = {
    {"DriversTime", "GeneralID", {"StartTime", "EndTime", "Date"}},
    {"EventLog", "GeneralID", {"Date"}},
    {"OpData", "GeneralID", {"RecDate", "RecStart", "RecEnd"}},
};

std::string Ts(const DateTime& value) { return "{ts '" + FormatIso(value) + "'}"; }

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted + "'";
}

// The first moment whose move by 1024 weeks lies after the year 9999.
DateTime FirstUnmovable() { return AddDays(DateTime{10000, 1, 1}, -kRolloverDays); }

// SQLite keeps date-times as text. A value counts as a date-time only in the text forms
// "yyyy-mm-dd", "yyyy-mm-dd hh:mm", "yyyy-mm-dd hh:mm:ss" and "yyyy-mm-dd hh:mm:ss.f..." (or
// with "T" between date and time) naming a real calendar day and time of day. SQLite's own date
// functions would also take time zones and julian day numbers, return NULL for the rest, and
// round fractions to milliseconds (which can carry 23:59:59.9996 into the next day), so only the
// full check gives them the date part alone.
std::string SqliteReadable(const std::string& c) {
    const std::string day = "substr(" + c + ",1,10)";
    const std::string tail = "substr(" + c + ",11)";
    return "(typeof(" + c + ")='text' AND date(" + day + ",'+0 days')=" + day + " AND (length(" +
           c + ")=10 OR (substr(" + c + ",12,2)<'24' AND (" + tail +
           " GLOB '[ T][0-9][0-9]:[0-5][0-9]' OR " + tail +
           " GLOB '[ T][0-9][0-9]:[0-5][0-9]:[0-5][0-9]' OR (" + tail +
           " GLOB '[ T][0-9][0-9]:[0-5][0-9]:[0-5][0-9].[0-9]*' AND substr(" + c +
           ",21) NOT GLOB '*[^0-9]*')))))";
}

std::string SqliteMovedDay(const std::string& c) {
    return "date(substr(" + c + ",1,10),'+" + std::to_string(kRolloverDays) + " days')";
}

// Fails the statement it is evaluated in (SQLite has no way to raise an error from a query;
// abs() of the smallest integer overflows). Mentions the column so it is evaluated per row.
std::string SqliteFail(const std::string& c) {
    return "abs(-9223372036854775807-1+0*length(" + c + "))";
}

// The value of column `c` moved by 1024 weeks, computed by the server. NULL stays NULL; a
// value that is not a date-time or whose move leaves the representable range makes the whole
// statement fail rather than write NULL or a wrong value over it.
std::string MovedValue(Dialect dialect, const std::string& c) {
    switch (dialect) {
        case Dialect::SQLite:
            // The date part is moved and the time text kept as it is, so every fraction digit
            // survives (strftime's %f would round to milliseconds). The first branch is the
            // cheap path for the form the driver writes ("yyyy-mm-dd hh:mm:ss.fff"): SQLite's
            // parser checks the digits and most ranges, the tests here the rest (the hour 24 and
            // days past the end of the month, which SQLite accepts; 29 February takes the full
            // check), and milliseconds cannot round into the next day. Everything else takes the
            // full check.
            return "CASE WHEN " + c + " LIKE '____-__-__ __:__:__.___' AND (substr(" + c +
                   ",9,2)<='28' OR substr(" + c + ",9,2)<=CASE substr(" + c +
                   ",6,2) WHEN '02' THEN '28' WHEN '04' THEN '30' WHEN '06' THEN '30' WHEN '09' "
                   "THEN '30' WHEN '11' THEN '30' ELSE '31' END) AND substr(" +
                   c + ",12,2)<'24' AND substr(" + c +
                   ",23) BETWEEN '0' AND '9' THEN coalesce(date(" + c + ",'+" +
                   std::to_string(kRolloverDays) + " days')||substr(" + c + ",11)," +
                   SqliteFail(c) + ") WHEN " + c + " IS NULL THEN NULL WHEN " + SqliteReadable(c) +
                   " THEN coalesce(" + SqliteMovedDay(c) + "||substr(" + c + ",11)," +
                   SqliteFail(c) + ") ELSE " + SqliteFail(c) + " END";
        case Dialect::PostgreSQL:
            return "CASE WHEN " + c + ">={ts '0001-01-01 00:00:00'} AND " + c + "<" +
                   Ts(FirstUnmovable()) + " THEN " + c + "+interval '" +
                   std::to_string(kRolloverDays) + " days' WHEN " + c +
                   " IS NULL THEN NULL ELSE CAST(CAST(" + c +
                   " AS text)||' cannot be moved' AS timestamp) END";
        case Dialect::SqlServer:
            return "DATEADD(day," + std::to_string(kRolloverDays) + "," + c + ")";
        case Dialect::Other:
            break;
    }
    return "{fn TIMESTAMPADD(SQL_TSI_DAY," + std::to_string(kRolloverDays) + "," + c + ")}";
}

// True for a non-NULL value of `c` that MovedValue refuses.
std::string Unmovable(Dialect dialect, const std::string& c) {
    switch (dialect) {
        case Dialect::SQLite:
            return "(" + c + " IS NOT NULL AND NOT (" + SqliteReadable(c) + " AND " +
                   SqliteMovedDay(c) + " IS NOT NULL))";
        case Dialect::PostgreSQL:
            return "(" + c + "<{ts '0001-01-01 00:00:00'} OR " + c + ">=" + Ts(FirstUnmovable()) +
                   " OR " + c + " IN ('infinity','-infinity'))";
        case Dialect::SqlServer:
        case Dialect::Other:
            break;
    }
    return "(" + c + ">=" + Ts(FirstUnmovable()) + ")";
}

// The column as text exactly as stored (SQLite), or as the driver reads it.
std::string AsStored(Dialect dialect, const std::string& c) {
    return dialect == Dialect::SQLite ? "CAST(" + c + " AS TEXT)" : c;
}

std::string IdList(const std::vector<std::int64_t>& ids) {
    std::string list;
    for (std::int64_t id : ids) {
        if (!list.empty()) list += ',';
        list += std::to_string(id);
    }
    return list;
}

// The conditions of the selection, with the dates written as ODBC escapes that every driver
// reads the same way (SQLite copies them as the text they hold, which compares correctly).
std::string SelectionCondition(const DateTime& rangeStart, const DateTime& rangeEnd) {
    return "WHERE InputDate<" + Ts(rangeEnd) + " AND InputDate>=" + Ts(rangeStart) +
           " AND Date < " + Ts(DateTime{2008, 1, 1}) + " ";
}

struct SelectionSize {
    std::int64_t Count = 0;
    std::int64_t FirstId = 0;
    std::int64_t LastId = 0;
};

SelectionSize MeasureSelection(db::Connection& connection, const std::string& condition) {
    auto statement = connection.Prepare(
        "SELECT COUNT(*) AS N,MIN(ID) AS FirstId,MAX(ID) AS LastId FROM General " + condition);
    statement.Execute();
    SelectionSize size;
    if (statement.Fetch()) {
        size.Count = statement.GetInt("N").value_or(0);
        size.FirstId = statement.GetInt("FirstId").value_or(0);
        size.LastId = statement.GetInt("LastId").value_or(0);
    }
    return size;
}

// Reads the selection in ID order, a window of IDs at a time, so that no more than one window
// of rows is held however many operations are selected. Works on every server: no LIMIT/TOP.
class SelectionReader {
public:
    SelectionReader(db::Connection& connection, std::string columns, std::string condition,
                    const SelectionSize& size)
        : connection_(connection),
          columns_(std::move(columns)),
          condition_(std::move(condition)),
          after_(size.FirstId - 1),
          lastId_(size.Count > 0 ? size.LastId : size.FirstId - 1) {}

    bool Done() const { return after_ >= lastId_; }

    // Passes the rows of further windows to `row` until at least `wanted` rows were passed or
    // the selection is exhausted.
    void Read(std::size_t wanted, const std::function<void(db::Statement&)>& row) {
        std::size_t passed = 0;
        while (passed < wanted && !Done()) {
            const std::size_t needed = wanted - passed;
            const std::int64_t upTo = std::min(lastId_, after_ + span_);
            auto statement = connection_.Prepare(
                "SELECT " + columns_ + " FROM General " + condition_ + "AND ID>" +
                std::to_string(after_) + " AND ID<=" + std::to_string(upTo) + "  ORDER BY ID");
            statement.Execute();
            std::size_t got = 0;
            while (statement.Fetch()) {
                row(statement);
                ++got;
            }
            after_ = upTo;
            passed += got;
            if (got == 0) {
                SkipGap();
            } else if (got < needed) {
                span_ = std::min(span_ * 2, kMaxSpan);
            }
        }
    }

private:
    // Jumps over a stretch of IDs without selected operations.
    void SkipGap() {
        auto statement = connection_.Prepare("SELECT MIN(ID) AS NextId FROM General " + condition_ +
                                             "AND ID>" + std::to_string(after_));
        statement.Execute();
        std::optional<std::int64_t> next;
        if (statement.Fetch()) next = statement.GetInt("NextId");
        after_ = next && *next <= lastId_ ? *next - 1 : lastId_;
    }

    db::Connection& connection_;
    std::string columns_;
    std::string condition_;
    std::int64_t after_;
    std::int64_t lastId_;
    std::int64_t span_ = kFirstSpan;
};

struct SelectedOperation {
    std::int64_t Id = 0;
    std::string DateLiteral;  // the selected Date, as a literal that matches exactly that value
};

// The statements that move chunks of selected operations, and the descriptions of what made
// them fail. The caller holds the transaction.
class ChunkMover {
public:
    ChunkMover(db::Connection& connection, Dialect dialect)
        : connection_(connection), dialect_(dialect) {
        generalSet_ = SetList(kGeneral);
        for (const auto& table : kDependents) dependentSets_.push_back(SetList(table));
    }

    // An operation's General row no longer holds the Date that was read.
    struct GuardFailure {};

    // Moves the General row and every dependent row of each operation; returns the rows moved.
    // Throws GuardFailure or db::DbError; the transaction must then be rolled back.
    std::int64_t Move(const std::vector<SelectedOperation>& chunk) {
        const std::string idList = ChunkIds(chunk);
        // The General rows first, each only while its Date is still the one selected: a row
        // that another run (or anyone) changed meanwhile makes the count fall short.
        std::string guard = "CASE ID";
        for (const auto& operation : chunk) {
            guard += " WHEN " + std::to_string(operation.Id) + " THEN " + operation.DateLiteral;
        }
        guard += " END";
        const std::string general =
            "UPDATE General SET " + generalSet_ + " WHERE ID IN (" + idList + ") AND Date=" + guard;
        std::vector<std::string> dependents;
        for (std::size_t i = 0; i < std::size(kDependents); ++i) {
            dependents.push_back(std::string("UPDATE ") + kDependents[i].Name + " SET " +
                                 dependentSets_[i] + " WHERE GeneralID IN (" + idList + ")");
        }
        if (dialect_ == Dialect::PostgreSQL) return MoveInOneStatement(chunk, general, dependents);

        const std::int64_t moved = connection_.Execute(general);
        CheckGuard(moved, chunk);
        std::int64_t rows = std::max<std::int64_t>(moved, 0);
        for (const std::string& update : dependents) {
            rows += std::max<std::int64_t>(connection_.Execute(update), 0);
        }
        return rows;
    }

    // After the rollback: what made Move fail, in the words of the error box.
    std::string Describe(const std::vector<SelectedOperation>& chunk, const std::exception* error) {
        const std::string idList = ChunkIds(chunk);
        if (error == nullptr) return DescribeGuardFailure(chunk, idList);
        if (auto described = DescribeUnmovableValue(idList)) return *described;
        return error->what();
    }

private:
    static std::string ChunkIds(const std::vector<SelectedOperation>& chunk) {
        std::vector<std::int64_t> ids;
        ids.reserve(chunk.size());
        for (const auto& operation : chunk) ids.push_back(operation.Id);
        return IdList(ids);
    }

    // A driver that cannot count (-1) leaves the guard to the server's own locking.
    static void CheckGuard(std::int64_t moved, const std::vector<SelectedOperation>& chunk) {
        if (moved >= 0 && moved != static_cast<std::int64_t>(chunk.size())) throw GuardFailure{};
    }

    // PostgreSQL: the four updates as one statement (data-modifying WITH queries), one round
    // trip instead of four, each of which psqlODBC would also wrap in a savepoint.
    std::int64_t MoveInOneStatement(const std::vector<SelectedOperation>& chunk,
                                    const std::string& general,
                                    const std::vector<std::string>& dependents) {
        static const char* const kNames[] = {"d0", "d1", "d2"};
        static_assert(std::size(kNames) == std::size(kDependents));
        std::string sql = "WITH g AS (" + general + " RETURNING 1)";
        std::string counts = "SELECT (SELECT COUNT(*) FROM g) AS G";
        for (std::size_t i = 0; i < dependents.size(); ++i) {
            sql.append(",").append(kNames[i]).append(" AS (").append(dependents[i]);
            sql.append(" RETURNING 1)");
            counts.append(",(SELECT COUNT(*) FROM ").append(kNames[i]).append(") AS ");
            counts.append(kNames[i]);
        }
        auto statement = connection_.Prepare(sql + " " + counts);
        statement.Execute();
        if (!statement.Fetch()) throw GuardFailure{};
        const std::int64_t moved = statement.GetInt("G").value_or(0);
        CheckGuard(moved, chunk);
        std::int64_t rows = moved;
        for (std::size_t i = 0; i < dependents.size(); ++i) {
            rows += statement.GetInt(kNames[i]).value_or(0);
        }
        return rows;
    }

    std::string SetList(const MovedTable& table) const {
        std::string list;
        for (const char* column : table.Columns) {
            if (!list.empty()) list += ',';
            list += std::string(column) + "=" + MovedValue(dialect_, column);
        }
        return list;
    }

    // Names the first operation of the chunk whose General row no longer holds what was read.
    std::string DescribeGuardFailure(const std::vector<SelectedOperation>& chunk,
                                     const std::string& idList) {
        std::map<std::int64_t, std::string> now;
        auto statement = connection_.Prepare("SELECT ID," + AsStored(dialect_, "Date") +
                                             " AS Now FROM General WHERE ID IN (" + idList + ")");
        statement.Execute();
        while (statement.Fetch()) {
            const std::int64_t id = statement.GetInt("ID").value_or(0);
            const auto date = statement.GetText("Now");
            now[id] = date ? *date : "NULL";
        }
        for (const auto& operation : chunk) {
            const auto found = now.find(operation.Id);
            if (found == now.end() || found->second != Unliteral(operation.DateLiteral)) {
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

    // The text inside a literal made by LiteralFor (for comparing with what is read back).
    static std::string Unliteral(const std::string& literal) {
        std::string_view inner = literal;
        if (inner.rfind("{ts '", 0) == 0) {
            inner = inner.substr(5, inner.size() - 7);
        } else {
            inner = inner.substr(1, inner.size() - 2);
        }
        std::string text;
        for (std::size_t i = 0; i < inner.size(); ++i) {
            text += inner[i];
            if (inner[i] == '\'') ++i;
        }
        return text;
    }

    // After a failed statement: the first value of the chunk (lowest operation ID, tables in
    // the order they are moved) that cannot be moved, or nothing when the failure lay elsewhere.
    std::optional<std::string> DescribeUnmovableValue(const std::string& idList) {
        std::optional<std::int64_t> bestId;
        std::string best;
        auto probe = [&](const MovedTable& table) {
            for (const char* column : table.Columns) {
                auto statement = connection_.Prepare(
                    std::string("SELECT ") + table.Key + " AS K," + AsStored(dialect_, column) +
                    " AS V," + (dialect_ == Dialect::SQLite ? SqliteReadable(column) : "1") +
                    " AS Readable FROM " + table.Name + " WHERE " + table.Key + " IN (" + idList +
                    ") AND " + Unmovable(dialect_, column) + " ORDER BY " + table.Key);
                statement.Execute();
                if (!statement.Fetch()) continue;
                const std::int64_t id = statement.GetInt("K").value_or(0);
                if (bestId && *bestId <= id) continue;
                bestId = id;
                const std::string value = statement.GetText("V").value_or("");
                const bool readable = statement.GetInt("Readable").value_or(0) != 0;
                best = std::string(table.Name) + "." + column + " の値 '" + value + "' " +
                       (readable ? "は 1024 週進めると日付の範囲を超えます"
                                 : "は日付と時刻として読めません") +
                       "（" + table.Key + "=" + std::to_string(id) +
                       "）。この運行は修正していません。";
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

    db::Connection& connection_;
    Dialect dialect_;
    std::string generalSet_;
    std::vector<std::string> dependentSets_;
};

// A literal that compares equal to exactly the value read: SQLite compares its stored text,
// so the text itself; other servers compare date-times, so an ODBC escape.
std::string LiteralFor(Dialect dialect, db::Statement& row) {
    if (dialect == Dialect::SQLite) return Quoted(row.GetText("DateText").value_or(""));
    const auto date = row.GetDateTime("Date");
    return date ? Ts(*date) : "NULL";
}

std::size_t NextChunkSize(std::size_t current, std::chrono::steady_clock::duration took,
                          std::chrono::milliseconds target) {
    const double ratio = std::chrono::duration<double>(target).count() /
                         std::max(std::chrono::duration<double>(took).count(), 1e-4);
    const double next = static_cast<double>(current) * std::clamp(ratio, 0.25, 4.0);
    return std::clamp<std::size_t>(static_cast<std::size_t>(next), 1, kMaxChunk);
}

// How long the next transaction stays open. A commit costs a fixed time on some servers (a
// file sync) and time in proportion to the work on others (writing the log): the interval
// shrinks while commits take longer than two chunks should, and grows back to the maximum.
std::chrono::milliseconds NextCommitInterval(std::chrono::milliseconds current,
                                             std::chrono::steady_clock::duration took,
                                             const RunPacing& pacing) {
    const auto limit = 2 * pacing.ChunkTarget;
    if (took > limit) {
        const double scale = std::chrono::duration<double>(limit).count() /
                             std::chrono::duration<double>(took).count();
        return std::max(pacing.ChunkTarget,
                        std::chrono::duration_cast<std::chrono::milliseconds>(current * scale));
    }
    if (took < pacing.ChunkTarget / 2) return std::min(current * 2, pacing.CommitInterval);
    return current;
}

// The run's transaction: whole chunks, rolled back unless committed. Once released (the front
// end was closed while events were processed) it never touches the connection again.
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
        opened_ = std::chrono::steady_clock::now();
    }
    bool IsOpen() const { return open_; }
    std::chrono::steady_clock::duration Age() const {
        return std::chrono::steady_clock::now() - opened_;
    }
    void Commit() {
        connection_.Commit();
        open_ = false;
    }
    void Rollback() noexcept {
        if (!open_) return;
        open_ = false;
        try {
            connection_.Rollback();
        } catch (const db::DbError&) {
            // The connection is lost or broken; the server discards the transaction itself.
        }
    }
    void Release() { open_ = false; }

private:
    db::Connection& connection_;
    bool open_ = false;
    std::chrono::steady_clock::time_point opened_;
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
};

RunResult Fail(CorrectionView& view, MessageBoxes& boxes, const std::string& description,
               const Progress& progress) {
    boxes.Show(kErrorIntro + description, kCaption, MessageIcon::Exclamation);
    view.SetStatusText("");
    view.SetStartEnabled(true);
    view.SetEndEnabled(true);
    return RunResult{RunOutcome::Failed, progress.Committed, progress.Rows, description};
}

}  // namespace

RunResult RunCorrection(db::Connection& connection, CorrectionView& view, MessageBoxes& boxes,
                        const Clock& clock, const DateTime& inputDate, const DateTime& inputEnd,
                        const RunPacing& pacing) {
    Progress progress;
    try {
        view.SetStatusText("");
        view.SetProgressValue(0);
        // The buttons go off before events are first processed, so that no second run can
        // start (and the window cannot close) inside this one.
        view.SetStartEnabled(false);
        view.SetEndEnabled(false);
        view.SetStatusText(kCounting);
        if (!view.ProcessEvents()) return RunResult{RunOutcome::Abandoned, 0, 0, ""};
        const std::string startText = kStartLabel + FormatDateTime(clock.Now()) + "\r\n";
        DateTime rangeEnd, rangeStart;
        GetInputMonthRange(inputDate, inputEnd, rangeEnd, rangeStart);

        const Dialect dialect = DialectOf(connection);
        const std::string condition = SelectionCondition(rangeStart, rangeEnd);
        const SelectionSize size = MeasureSelection(connection, condition);
        if (size.Count < 1) {
            view.SetStatusText(kNoData);
            view.SetStartEnabled(true);
            view.SetEndEnabled(true);
            return RunResult{RunOutcome::NoData, 0, 0, ""};
        }
        int maximum = static_cast<int>(std::min<std::int64_t>(size.Count, INT32_MAX));
        view.SetProgressMaximum(maximum);

        SelectionReader reader(
            connection,
            dialect == Dialect::SQLite ? "ID,CAST(Date AS TEXT) AS DateText" : "ID,Date", condition,
            size);
        ChunkMover mover(connection, dialect);
        RunTransaction transaction(connection);
        std::deque<SelectedOperation> pending;
        std::size_t chunkSize = kFirstChunk;
        const bool commitEveryChunk = pacing.CommitInterval.count() <= 0;
        auto commitInterval = pacing.CommitInterval;
        for (;;) {
            if (!commitEveryChunk && transaction.IsOpen() && transaction.Age() >= commitInterval) {
                // A commit gets an event round of its own: it can take as long as a chunk.
                const auto committing = std::chrono::steady_clock::now();
                transaction.Commit();
                progress.Commit();
                commitInterval = NextCommitInterval(
                    commitInterval, std::chrono::steady_clock::now() - committing, pacing);
                if (!view.ProcessEvents()) {
                    return RunResult{RunOutcome::Abandoned, progress.Committed, progress.Rows, ""};
                }
            }
            const auto started = std::chrono::steady_clock::now();
            if (pending.size() < chunkSize) {
                reader.Read(chunkSize - pending.size(), [&](db::Statement& row) {
                    pending.push_back({row.GetInt("ID").value_or(0), LiteralFor(dialect, row)});
                });
            }
            if (pending.empty()) break;
            const auto take = static_cast<std::ptrdiff_t>(std::min(chunkSize, pending.size()));
            const std::vector<SelectedOperation> chunk(pending.begin(), pending.begin() + take);
            transaction.EnsureOpen();
            try {
                progress.UncommittedRows += mover.Move(chunk);
            } catch (const ChunkMover::GuardFailure&) {
                transaction.Rollback();
                throw std::runtime_error(mover.Describe(chunk, nullptr));
            } catch (const db::DbError& error) {
                transaction.Rollback();
                throw std::runtime_error(mover.Describe(chunk, &error));
            }
            pending.erase(pending.begin(), pending.begin() + take);
            progress.Uncommitted += static_cast<int>(take);
            if (commitEveryChunk) {
                transaction.Commit();
                progress.Commit();
            }
            chunkSize = NextChunkSize(chunkSize, std::chrono::steady_clock::now() - started,
                                      pacing.ChunkTarget);

            const int finished = progress.Committed + progress.Uncommitted;
            if (finished > maximum) {  // operations added meanwhile below the last ID
                maximum = finished;
                view.SetProgressMaximum(maximum);
            }
            view.SetStatusText(std::to_string(finished) + "/" + std::to_string(maximum));
            view.SetProgressValue(finished);
            if (!view.ProcessEvents()) {
                // The front end has closed (or will close) the connection, which rolls back
                // the open transaction: only committed operations count.
                transaction.Release();
                return RunResult{RunOutcome::Abandoned, progress.Committed, progress.Rows, ""};
            }
        }
        if (transaction.IsOpen()) {
            transaction.Commit();
            progress.Commit();
        }

        view.SetStatusText(std::to_string(progress.Committed) + kFinished);
        view.SetStatusText(view.StatusText() + "\r\n" + startText + kEndLabel +
                           FormatDateTime(clock.Now()));
        view.SetStartEnabled(true);
        view.SetEndEnabled(true);
        return RunResult{RunOutcome::Corrected, progress.Committed, progress.Rows, ""};
    } catch (const std::exception& error) {
        return Fail(view, boxes, error.what(), progress);
    }
}

void PlanCorrection(db::Connection& connection, const DateTime& inputDate, const DateTime& inputEnd,
                    const std::function<void(const PlannedOperation&)>& each) {
    DateTime rangeEnd, rangeStart;
    GetInputMonthRange(inputDate, inputEnd, rangeEnd, rangeStart);
    const std::string condition = SelectionCondition(rangeStart, rangeEnd);
    SelectionReader reader(connection, "ID,InputDate,Date", condition,
                           MeasureSelection(connection, condition));
    std::vector<PlannedOperation> page;
    while (!reader.Done()) {
        page.clear();
        reader.Read(kMaxChunk, [&](db::Statement& row) {
            PlannedOperation operation;
            operation.Id = row.GetInt("ID").value_or(0);
            operation.InputDate = row.GetDateTime("InputDate").value_or(DateTime{});
            operation.Date = row.GetDateTime("Date").value_or(DateTime{});
            try {
                operation.MovedDate = CorrectRolloverDate(operation.Date);
            } catch (const std::out_of_range& error) {
                throw db::DbError(
                    "General.Date (ID=" + std::to_string(operation.Id) + "): " + error.what(), {});
            }
            page.push_back(operation);
        });
        if (page.empty()) break;
        std::vector<std::int64_t> ids;
        for (const auto& operation : page) ids.push_back(operation.Id);
        const std::pair<const char*, std::int64_t PlannedOperation::*> counts[] = {
            {"DriversTime", &PlannedOperation::DriversTimeRows},
            {"EventLog", &PlannedOperation::EventLogRows},
            {"OpData", &PlannedOperation::OpDataRows},
        };
        for (const auto& [table, field] : counts) {
            std::map<std::int64_t, std::int64_t> perOperation;
            auto statement =
                connection.Prepare(std::string("SELECT GeneralID,COUNT(*) AS N FROM ") + table +
                                   " WHERE GeneralID IN (" + IdList(ids) + ") GROUP BY GeneralID");
            statement.Execute();
            while (statement.Fetch()) {
                perOperation[statement.GetInt("GeneralID").value_or(0)] =
                    statement.GetInt("N").value_or(0);
            }
            for (auto& operation : page) {
                const auto found = perOperation.find(operation.Id);
                operation.*field = found == perOperation.end() ? 0 : found->second;
            }
        }
        for (const auto& operation : page) each(operation);
    }
}

}  // namespace tovrik
