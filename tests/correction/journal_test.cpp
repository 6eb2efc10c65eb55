// The journal of a run, the undo that reads it, and the scan of affected months: checked against
// the database itself.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

#include "correction/date_rules.h"
#include "correction/month_scan.h"
#include "correction/run_fixture.h"
#include "correction/sql_dialect.h"
#include "correction/chunk_committer.h"
#include "correction/undo_run.h"

namespace tovrik::test {
namespace {

using sampledata::SampleData;

class Journals : public BackendTest {
protected:
    Journals() { setup_ = {(folder_.Path() / "TovrikJournal").string(), "operator", "office-pc",
                           "SuiteDb", "NUVRAL"}; }

    RunResult Run(const RunPacing& pacing = ChunksOfEight()) {
        RunRecord record;
        TwoTimesClock clock({2019, 4, 10, 9, 5, 12, 0}, {2019, 4, 10, 9, 6, 3, 0});
        record.Result = RunCorrection(Conn(), record.Events, clock, kApril2019,
                                      kPickerEnd, pacing, &setup_);
        return record.Result;
    }

    UndoReport Undo(const std::string& path, RunEvents* events = nullptr) {
        RunEvents quiet;
        return RunUndo(Conn(), ReadJournal(path), path, setup_, {2019, 4, 11, 8, 0, 0, 0},
                       events != nullptr ? *events : quiet, [](const UndoItem&) {});
    }

    // Another copy changes an operation: its Date, or one more EventLog row.
    void ChangeDate(std::int64_t id) {
        Conn().Execute("UPDATE General SET Date={ts '2019-06-01 00:00:00'} WHERE ID=" +
                       std::to_string(id));
    }
    void AddEventLogRow(std::int64_t id) {
        Conn().Execute("INSERT INTO EventLog (GeneralID,SeqNo,Date) VALUES (" +
                       std::to_string(id) + ",999,{ts '2019-04-02 00:00:00'})");
    }
    void RemoveEventLogRow(std::int64_t id) {
        Conn().Execute("DELETE FROM EventLog WHERE SeqNo=999 AND GeneralID=" + std::to_string(id));
    }

    // Affected operations of 2019/04 with fractions and NULLs, and one without dependent rows.
    SampleData MakeData(int affected) {
        SampleData data = MakeSuite(Conn(), affected, 4, 3, 2, 3, 1);
        Conn().Execute(
            "INSERT INTO General (ID,InputDate,Date,StartTime,EndTime) VALUES (900,{ts "
            "'2019-04-20 09:00:00'},{ts '1999-09-04 07:30:15.125'},NULL,{ts '1999-09-04 "
            "23:59:59.999'})");
        data.AffectedIds.push_back(900);
        return data;
    }

    // The number of rows of each dependent table per operation, counted one by one.
    std::map<std::int64_t, std::array<std::int64_t, 3>> DependentRows() {
        std::map<std::int64_t, std::array<std::int64_t, 3>> rows;
        const char* tables[] = {"DriversTime", "EventLog", "OpData"};
        for (std::size_t i = 0; i < 3; ++i) {
            auto statement = Conn().Prepare(std::string("SELECT GeneralID FROM ") + tables[i]);
            statement.Execute();
            while (statement.Fetch()) ++rows[*statement.GetInt("GeneralID")][i];
        }
        return rows;
    }

    std::string OnlyJournal() const {
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(setup_.Folder)) {
            files.push_back(entry.path().string());
        }
        EXPECT_EQ(files.size(), 1u);
        return files.empty() ? "" : files.front();
    }

    TempDir folder_;
    JournalSetup setup_;
};

// Every line against the database: the committed lines are exactly the operations moved, with
// the dates before and after and the rows each one carried.
void ExpectJournalMatches(const Journal& journal, const Snapshot& before, const Snapshot& after,
                          const std::map<std::int64_t, std::array<std::int64_t, 3>>& rows) {
    std::set<std::int64_t> listed;
    for (const JournalEntry& entry : journal.Committed) {
        listed.insert(entry.Id);
        EXPECT_EQ(StateOf(before, after, entry.Id), OperationState::Moved) << entry.Id;
        EXPECT_EQ(correction::ParseStoredDate(entry.DateBefore),
                  ParseDateTimeText(*before.at("General").Rows.at({entry.Id, 0})[1]))
            << entry.Id;
        EXPECT_EQ(correction::ParseStoredDate(entry.DateAfter),
                  ParseDateTimeText(*after.at("General").Rows.at({entry.Id, 0})[1]))
            << entry.Id;
        const auto found = rows.find(entry.Id);
        const std::array<std::int64_t, 3> none{};
        EXPECT_EQ(entry.DependentRows, found == rows.end() ? none : found->second) << entry.Id;
    }
    for (std::int64_t id : OperationIds(before)) {
        if (listed.count(id) == 0) {
            EXPECT_EQ(StateOf(before, after, id), OperationState::Untouched) << id;
        }
    }
    for (const JournalEntry& entry : journal.Uncommitted) {
        EXPECT_EQ(StateOf(before, after, entry.Id), OperationState::Untouched) << entry.Id;
    }
}

TEST_P(Journals, AFullRunListsEveryOperationItMovedAndUndoRestoresEveryRowExactly) {
    SampleData data;
    TOVRIK_ASSERT_DB(data = MakeData(30));
    const Snapshot original = TakeSnapshot(Conn());
    const RunResult result = Run();
    ASSERT_EQ(result.Outcome, RunOutcome::Corrected) << result.Error.Text;
    EXPECT_EQ(result.JournalPath, OnlyJournal());

    const Journal journal = ReadJournal(result.JournalPath);
    EXPECT_EQ(journal.Kind, JournalKind::Correction);
    EXPECT_EQ(journal.Range, (std::vector<std::string>{"2019/04", "2019/04"}));
    EXPECT_EQ(journal.User + journal.Machine + journal.DataSource + journal.Database,
              "operatoroffice-pcSuiteDbNUVRAL");
    EXPECT_EQ(journal.Outcome, "completed");
    EXPECT_EQ(journal.Committed.size(), data.AffectedIds.size());
    EXPECT_TRUE(journal.Uncommitted.empty());
    const Snapshot corrected = TakeSnapshot(Conn());
    ExpectJournalMatches(journal, original, corrected, DependentRows());

    const UndoReport undo = Undo(result.JournalPath);
    EXPECT_EQ(undo.Undone, static_cast<int>(data.AffectedIds.size()));
    EXPECT_EQ(TakeSnapshot(Conn()), original);  // every row, every column, fractions included
    // The undo's own journal lists the same operations the other way round.
    const Journal undone = ReadJournal(undo.JournalPath);
    EXPECT_EQ(undone.Kind, JournalKind::Undo);
    ASSERT_EQ(undone.Committed.size(), journal.Committed.size());
    EXPECT_EQ(undone.Committed.front().DateAfter, journal.Committed.front().DateBefore);
}

// An undo paces its chunks as a run does: the first 128 operations commit at once (the bar
// moves), the rest follow in larger chunks, and every row of every chunk comes back.
TEST_P(Journals, AnUndoCommitsItsFirstChunkEarlyAndRestoresEveryChunkAfterIt) {
    TOVRIK_ASSERT_DB(MakeData(300));  // and one more
    const Snapshot original = TakeSnapshot(Conn());
    const RunResult result = Run(RunPacing{});
    ASSERT_EQ(result.Outcome, RunOutcome::Corrected) << result.Error.Text;

    RecordingEvents events;
    EXPECT_EQ(Undo(result.JournalPath, &events).Undone, 301);
    const std::vector<std::string> changes = events.Changes();
    ASSERT_GE(changes.size(), 3U);
    EXPECT_EQ(changes[0], "selected:301");
    EXPECT_EQ(changes[1], "committed:128/301");
    EXPECT_EQ(changes.back(), "committed:301/301");
    EXPECT_EQ(TakeSnapshot(Conn()), original);
}

TEST_P(Journals, UndoSkipsChangedOperationsWholeAndASecondUndoChangesNothing) {
    SampleData data;
    TOVRIK_ASSERT_DB(data = MakeData(12));
    const Snapshot original = TakeSnapshot(Conn());
    const RunResult result = Run();
    ASSERT_EQ(result.Outcome, RunOutcome::Corrected) << result.Error.Text;
    const Snapshot corrected = TakeSnapshot(Conn());
    const std::int64_t redated = data.AffectedIds[2];
    const std::int64_t grown = data.AffectedIds[5];
    ChangeDate(redated);
    AddEventLogRow(grown);
    const Snapshot changed = TakeSnapshot(Conn());

    std::vector<UndoItem> items;
    PlanUndo(Conn(), ReadJournal(result.JournalPath),
             [&](const UndoItem& item) { items.push_back(item); });
    EXPECT_EQ(TakeSnapshot(Conn()), changed);  // the dry run changes nothing
    std::map<std::int64_t, UndoCheck> checks;
    for (const UndoItem& item : items) checks[item.Entry.Id] = item.Check;
    EXPECT_EQ(checks[redated], UndoCheck::Changed);
    EXPECT_EQ(checks[grown], UndoCheck::Changed);
    EXPECT_EQ(checks[data.AffectedIds[0]], UndoCheck::Undo);

    UndoReport first = Undo(result.JournalPath);
    EXPECT_EQ(first.Undone, 11);
    EXPECT_EQ(first.Skipped, 2);
    const Snapshot afterUndo = TakeSnapshot(Conn());
    for (std::int64_t id : data.AffectedIds) {
        const Snapshot& expected = id == redated || id == grown ? changed : original;
        EXPECT_EQ(StateOf(expected, afterUndo, id), OperationState::Untouched) << id;
    }

    UndoReport second = Undo(result.JournalPath);
    EXPECT_EQ(second.Undone, 0);
    EXPECT_EQ(second.AlreadyUndone, 11);
    EXPECT_EQ(second.Skipped, 2);
    EXPECT_TRUE(second.JournalPath.empty());  // nothing to undo: no journal of its own
    EXPECT_EQ(TakeSnapshot(Conn()), afterUndo);

    // Once the operations are as the correction left them again, the rerun completes.
    RemoveEventLogRow(grown);
    const std::string left = *corrected.at("General").Rows.at({redated, 0})[1];
    Conn().Execute("UPDATE General SET Date=" + (IsPostgres() ? "{ts '" + left + "'}" : "'" + left + "'") +
                   " WHERE ID=" + std::to_string(redated));
    EXPECT_EQ(Undo(result.JournalPath).Undone, 2);
    EXPECT_EQ(TakeSnapshot(Conn()), original);
}

TEST_P(Journals, AFailedRunKeepsItsCommittedLinesAndTheirUndoRestoresTheDatabase) {
    SampleData data;
    TOVRIK_ASSERT_DB(data = MakeData(30));
    TOVRIK_ASSERT_DB(RefuseEventLogUpdate(Conn(), GetParam(), data.AffectedIds[20]));
    const Snapshot original = TakeSnapshot(Conn());
    const RunResult result = Run();
    ASSERT_EQ(result.Outcome, RunOutcome::Failed);

    const Journal journal = ReadJournal(result.JournalPath);
    EXPECT_EQ(journal.Outcome, "failed");
    EXPECT_EQ(static_cast<int>(journal.Committed.size()), result.Operations);
    EXPECT_GT(result.Operations, 0);
    ExpectJournalMatches(journal, original, TakeSnapshot(Conn()), DependentRows());

    AllowEventLogUpdates(Conn(), GetParam());
    EXPECT_EQ(Undo(result.JournalPath).Undone, result.Operations);
    EXPECT_EQ(TakeSnapshot(Conn()), original);
}

TEST_P(Journals, AnUndoStoppedByAFailingStatementLeavesEveryOperationWholeAndARerunFinishes) {
    SampleData data;
    TOVRIK_ASSERT_DB(data = MakeData(12));
    const Snapshot original = TakeSnapshot(Conn());
    const RunResult result = Run();
    ASSERT_EQ(result.Outcome, RunOutcome::Corrected) << result.Error.Text;
    const Snapshot corrected = TakeSnapshot(Conn());
    TOVRIK_ASSERT_DB(RefuseEventLogUpdate(Conn(), GetParam(), data.AffectedIds[7]));

    try {
        Undo(result.JournalPath);
        ADD_FAILURE() << "the undo went through";
    } catch (const correction::ChunkError& error) {
        EXPECT_EQ(error.Kind(), RunError::Kind::Database);
        EXPECT_NE(std::string(error.what()).find("event log row refused"), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(TakeSnapshot(Conn()), corrected);  // its one chunk rolled back whole

    AllowEventLogUpdates(Conn(), GetParam());
    EXPECT_EQ(Undo(result.JournalPath).Undone, static_cast<int>(data.AffectedIds.size()));
    EXPECT_EQ(TakeSnapshot(Conn()), original);
}

// Killed between a chunk's commit and its mark: the undo finds those operations moved and moves
// them back with the rest.
TEST_P(Journals, AnUndoMovesBackTheUnmarkedLinesItFindsMoved) {
    SampleData data;
    TOVRIK_ASSERT_DB(data = MakeData(12));
    const Snapshot original = TakeSnapshot(Conn());
    const RunResult result = Run();
    ASSERT_EQ(result.Outcome, RunOutcome::Corrected) << result.Error.Text;
    std::string text = ReadFile(result.JournalPath);
    WriteFile(result.JournalPath, text.substr(0, text.rfind("COMMITTED\t")));  // mark and END lost
    ASSERT_FALSE(ReadJournal(result.JournalPath).Uncommitted.empty());

    EXPECT_EQ(Undo(result.JournalPath).Undone, static_cast<int>(data.AffectedIds.size()));
    EXPECT_EQ(TakeSnapshot(Conn()), original);
}

TEST_P(Journals, AJournalThatCannotBeWrittenStopsTheRunBeforeAnythingMoves) {
    TOVRIK_ASSERT_DB(MakeData(5));
    WriteFile(setup_.Folder, "a file where the folder should be");
    const Snapshot original = TakeSnapshot(Conn());
    const RunResult result = Run();
    ASSERT_EQ(result.Outcome, RunOutcome::Failed);
    EXPECT_NE(result.Error.Text.find("作業記録"), std::string::npos) << result.Error.Text;
    EXPECT_NE(result.Error.Text.find(setup_.Folder), std::string::npos) << result.Error.Text;
    EXPECT_EQ(TakeSnapshot(Conn()), original);
}

TEST_P(Journals, TheScanCountsWhatAnIndependentCountFinds) {
    TOVRIK_ASSERT_DB(MakeData(7));  // 2019/04: 8 affected; 2019/05: 3
    Conn().Execute("INSERT INTO General (ID,InputDate,Date,StartTime,EndTime) VALUES (950,{ts "
                   "'2018-12-31 23:59:59'},{ts '2007-12-31 23:59:59'},NULL,NULL)");
    Conn().Execute("INSERT INTO OpData (GeneralID,Page,RecDate,RecStart,RecEnd) VALUES "
                   "(950,1,NULL,NULL,NULL)");

    std::map<int, std::int64_t> operations;
    std::map<int, DateTime> earliest;
    std::map<std::int64_t, int> monthOf;
    auto general = Conn().Prepare("SELECT ID,InputDate,Date FROM General");
    general.Execute();
    while (general.Fetch()) {
        const DateTime date = *general.GetDateTime("Date");
        if (date >= kRolloverCutoff) continue;
        const DateTime input = *general.GetDateTime("InputDate");
        const int month = input.Year * 100 + input.Month;
        ++operations[month];
        if (!earliest.count(month) || date < earliest[month]) earliest[month] = date;
        monthOf[*general.GetInt("ID")] = month;
    }
    std::map<int, std::array<std::int64_t, 3>> rows;
    for (const auto& [id, perTable] : DependentRows()) {
        if (!monthOf.count(id)) continue;
        for (std::size_t i = 0; i < 3; ++i) rows[monthOf[id]][i] += perTable[i];
    }

    std::vector<MonthScan> scan;
    TOVRIK_ASSERT_DB(scan = ScanAffectedMonths(Conn()));
    ASSERT_EQ(scan.size(), operations.size());
    for (const MonthScan& month : scan) {
        ASSERT_TRUE(month.YearMonth);
        EXPECT_EQ(month.Operations, operations[*month.YearMonth]) << *month.YearMonth;
        EXPECT_EQ(month.EarliestDate, earliest[*month.YearMonth]) << *month.YearMonth;
        EXPECT_EQ(month.DependentRows, rows[*month.YearMonth]) << *month.YearMonth;
        EXPECT_EQ(month.UnreadableDates, 0);
    }
    EXPECT_EQ(scan.front().YearMonth, 201812);
    // Limited to the pickers' months.
    TOVRIK_ASSERT_DB(scan = ScanAffectedMonths(Conn(), kApril2019, kPickerEnd));
    ASSERT_EQ(scan.size(), 1u);
    EXPECT_EQ(scan[0].Operations, 8);
}

TOVRIK_BACKEND_TEST_SUITE(Journals);

TEST(SqliteScan, UnreadableDateTextIsCountedApartAndTheMonthsStillListed) {
    SqliteSuiteDb db;
    auto connection = db.Connect();
    TOVRIK_ASSERT_DB(MakeSuite(*connection, 3, 1, 0));
    connection->Execute("INSERT INTO General (ID,InputDate,Date) VALUES "
                        "(800,'2019-04-03 10:00:00','1999/08/16 00:00:00'),"
                        "(801,'2019/04/03','1999-08-16 00:00:00')");
    std::vector<MonthScan> scan;
    TOVRIK_ASSERT_DB(scan = ScanAffectedMonths(*connection));
    ASSERT_EQ(scan.size(), 2u);
    EXPECT_EQ(scan[0].YearMonth, 201904);
    EXPECT_EQ(scan[0].Operations, 4);
    EXPECT_EQ(scan[0].UnreadableDates, 1);
    EXPECT_TRUE(scan[0].EarliestDate && scan[0].LatestDate);
    EXPECT_FALSE(scan[1].YearMonth);  // the input date that cannot be read
    EXPECT_EQ(scan[1].Operations, 1);
}

// A journal file that is not one, or no longer the one the run wrote: what the reader says.
struct BadJournal {
    const char* Name;
    std::function<std::string(const std::string&)> Change;  // of a good journal's text
    const char* Says;  // the line and the reason
};
void PrintTo(const BadJournal& c, std::ostream* out) { *out << c.Name; }

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

class JournalReading : public testing::TestWithParam<BadJournal> {};

TEST_P(JournalReading, RefusesWhatIsNotTheRunsJournalNamingTheLine) {
    TempDir dir;
    std::string path;
    {
        JournalWriter writer({dir.Str(), "operator", "pc", "SuiteDb", ""}, JournalKind::Correction,
                             {2026, 12, 7, 9, 15, 12, 0}, "2019/04\t2019/04");
        writer.Add({{12, "2019-04-01 00:00:00", "1999-08-16 00:00:00.125",
                     "2019-04-01 00:00:00.125", {2, 10, 5}},
                    {13, "2019-04-02 00:00:00", "1999-08-17 23:59:59", "2019-04-02 23:59:59",
                     {0, 0, 0}}});
        writer.MarkCommitted();
        writer.Add({{14, "2019-04-03 00:00:00", "1999-08-18 00:00:00", "2019-04-03 00:00:00",
                     {1, 1, 1}}});
        path = writer.Path();
    }
    const std::string good = ReadFile(path);
    const Journal journal = ReadJournal(path);
    ASSERT_EQ(journal.Committed.size(), 2u);
    ASSERT_EQ(journal.Uncommitted.size(), 1u);  // cut off before its commit: not undone
    EXPECT_EQ(journal.Committed[0].DateAfter, "2019-04-01 00:00:00.125");
    EXPECT_TRUE(journal.Outcome.empty());
    // Killed while writing its last line: that line is left out, the rest read.
    WriteFile(path, good.substr(0, good.size() - 5));
    const Journal cut = ReadJournal(path);
    EXPECT_EQ(cut.CutOffLine, 13u);
    EXPECT_EQ(cut.Committed, journal.Committed);
    EXPECT_TRUE(cut.Uncommitted.empty());

    WriteFile(path, GetParam().Change(good));
    try {
        ReadJournal(path);
        ADD_FAILURE() << "read as a journal";
    } catch (const JournalError& error) {
        EXPECT_NE(std::string(error.what()).find(GetParam().Says), std::string::npos)
            << error.what();
        EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, JournalReading,
    testing::Values(
        BadJournal{"Empty", [](const std::string&) { return std::string(); }, "1 行目: 空の"},
        BadJournal{"BinaryGarbage",
                   [](const std::string&) { return std::string("\x89PNG\r\n\x1a\n\0\0\0", 11); },
                   "1 行目: Tovrik の作業記録ではありません"},
        BadJournal{"AnotherTabSeparatedFile",
                   [](const std::string&) { return std::string("ID\tDate\n12\t1999-08-16\n"); },
                   "1 行目: Tovrik の作業記録ではありません"},
        BadJournal{"HeaderCutShort",
                   [](const std::string& text) { return text.substr(0, text.find("Months")); },
                   "8 行目: 見出しが途中で"},
        BadJournal{"HeaderLineCutShort",
                   [](const std::string& text) { return text.substr(0, text.find("\tpc")); },
                   "5 行目: 行が途中で切れています"},
        BadJournal{"IdEditedByHand",
                   [](const std::string& text) { return Replaced(text, "\n13\t", "\n31\t"); },
                   "11 行目: 検査値が合いません"},
        BadJournal{"DateEditedByHand",
                   [](const std::string& text) {
                       return Replaced(text, "1999-08-16 00:00:00.125", "1999-08-15 00:00:00.125");
                   },
                   "10 行目: 検査値が合いません"},
        BadJournal{"HeaderEditedByHand",
                   [](const std::string& text) { return Replaced(text, "SuiteDb", "OtherDb"); },
                   "6 行目: 検査値が合いません"},
        BadJournal{"LinesSwappedBeforeTheirMark",
                   [](const std::string& text) {
                       const std::size_t mark = text.find("COMMITTED");
                       const std::size_t last = text.rfind('\n', text.size() - 2) + 1;
                       return text.substr(0, mark) + text.substr(last) + text.substr(mark, last - mark);
                   },
                   "13 行目: COMMITTED の件数"}),
    RowName{});

#ifndef _WIN32
// Files of this process grow no further than `bytes` in this scope: a write beyond fails as on a
// full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(std::uintmax_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = static_cast<rlim_t>(bytes);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);  // EFBIG instead of the signal
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

// The transaction has committed when the mark is written: a mark that fails says so, in the
// words of the run that moved them.
TEST(JournalWriting, AFailedCommitMarkSaysTheOperationsAreMovedAllTheSame) {
    for (const auto& [kind, moved] : {std::pair{JournalKind::Correction, "直前の運行は修正済み"},
                                      std::pair{JournalKind::Undo, "直前の運行は元に戻し済み"}}) {
        TempDir dir;
        JournalWriter writer({dir.Str(), "operator", "pc", "SuiteDb", ""}, kind,
                             {2026, 12, 7, 9, 15, 12, 0}, "2019/04\t2019/04");
        JournalEntry entry{12, "2019-04-01 00:00:00", "1999-08-16 00:00:00",
                           "2019-04-01 00:00:00", {2, 10, 5}};
        if (kind == JournalKind::Undo) std::swap(entry.DateBefore, entry.DateAfter);
        writer.Add({entry});
        writer.Sync();
        try {
            const FileSizeLimit full(std::filesystem::file_size(writer.Path()));
            writer.MarkCommitted();
            ADD_FAILURE() << "the mark was written";
        } catch (const JournalError& error) {
            const std::string text = error.what();
            EXPECT_NE(text.find(moved), std::string::npos) << text;
            EXPECT_NE(text.find("確定の印がありません"), std::string::npos) << text;
            EXPECT_NE(text.find(writer.Path()), std::string::npos) << text;
        }
        EXPECT_EQ(ReadJournal(writer.Path()).Uncommitted.size(), 1u);
    }
}
#endif

}  // namespace
}  // namespace tovrik::test
