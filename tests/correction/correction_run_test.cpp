#include <gtest/gtest.h>

#include <algorithm>

#include "correction/chunk_mover.h"
#include "correction/month_scan.h"
#include "correction/run_fixture.h"
#include "correction/selection_reader.h"
#include "correction/sql_dialect.h"

namespace tovrik::test {
namespace {

using sampledata::SampleData;

class CorrectionRun : public BackendTest {
protected:
    void Insert(std::int64_t id, const std::string& inputDate, const std::string& date) {
        Conn().Execute("INSERT INTO General (ID,InputDate,Date,StartTime,EndTime) VALUES (" +
                       std::to_string(id) + ",{ts '" + inputDate + "'},{ts '" + date + "'},{ts '" +
                       date + "'},{ts '" + date + "'})");
    }

    std::vector<std::int64_t> Planned() {
        std::vector<std::int64_t> ids;
        PlanCorrection(Conn(), kApril2019, kPickerEnd,
                       [&](const PlannedOperation& operation) { ids.push_back(operation.Id); });
        return ids;
    }
};

TEST_P(CorrectionRun, SelectsTheHalfOpenInputMonthAndDatesBefore2008) {
    TOVRIK_ASSERT_DB(sampledata::CreateSuiteSchema(Conn()));
    Insert(1, "2019-04-01 00:00:00", "1999-08-16 00:00:00");  // exactly RangeStart: in
    Insert(2, "2019-05-01 00:00:00", "1999-08-16 00:00:00");  // exactly RangeEnd: out
    Insert(3, "2019-04-15 10:00:00", "2008-01-01 00:00:00");  // exactly 2008/1/1: out
    Insert(4, "2019-04-15 10:00:00", "2007-12-31 23:59:59");  // the second before: in
    Insert(5, "2019-03-31 23:59:59", "1999-08-16 00:00:00");  // the month before: out
    Insert(6, "2019-04-30 23:59:59", "1999-09-01 12:00:00");  // last second of the month: in
    Insert(7, "2019-04-16 08:00:00", "1980-01-01 00:00:00");  // still before 2008 once moved
    const Snapshot before = TakeSnapshot(Conn());

    EXPECT_EQ(Planned(), (std::vector<std::int64_t>{1, 4, 6, 7}));
    RunRecord run;
    RunApril(Conn(), run);

    ASSERT_EQ(run.Result.Outcome, RunOutcome::Corrected) << run.Result.Error.Text;
    EXPECT_EQ(run.Result.Operations, 4);
    const Snapshot after = TakeSnapshot(Conn());
    for (std::int64_t id : {1, 4, 6, 7}) {
        EXPECT_EQ(StateOf(before, after, id), OperationState::Moved) << id;  // exactly once
    }
    for (std::int64_t id : {2, 3, 5}) {
        EXPECT_EQ(StateOf(before, after, id), OperationState::Untouched) << id;
    }
}

TEST_P(CorrectionRun, MovesEveryDateOfTheOperationsAndShowsTheReport) {
    SampleData data;
    TOVRIK_ASSERT_DB(data = MakeSuite(Conn(), 3, 2, 2));
    // An operation without dependent rows, and a dependent row already dated 2019.
    Insert(100, "2019-04-20 09:00:00", "1999-09-04 07:30:00");
    Conn().Execute("INSERT INTO DriversTime (GeneralID,DriverID,StartTime,EndTime,Date) VALUES (" +
                   std::to_string(data.AffectedIds[0]) +
                   ",9,{ts '2019-01-05 08:00:00'},NULL,{ts '2019-01-05 00:00:00'})");
    const Snapshot before = TakeSnapshot(Conn());

    std::vector<PlannedOperation> plan;
    PlanCorrection(Conn(), kPickerEnd, kApril2019,
                   [&](const PlannedOperation& operation) { plan.push_back(operation); });
    ASSERT_EQ(plan.size(), 4u);
    EXPECT_EQ(plan[0].Date, (DateTime{1999, 8, 16}));
    EXPECT_EQ(plan[0].MovedDate, (DateTime{2019, 4, 1}));
    EXPECT_EQ(plan[0].InputDate, (DateTime{2019, 4, 1}));
    EXPECT_EQ(plan[0].DriversTimeRows, 3);
    EXPECT_EQ(plan[0].EventLogRows, 4);
    EXPECT_EQ(plan[0].OpDataRows, 2);
    EXPECT_EQ(plan[3].Id, 100);
    EXPECT_EQ(plan[3].DriversTimeRows + plan[3].EventLogRows + plan[3].OpDataRows, 0);

    RunRecord run;
    RunApril(Conn(), run);

    ASSERT_EQ(run.Result.Outcome, RunOutcome::Corrected) << run.Result.Error.Text;
    EXPECT_EQ(run.Result.Operations, 4);
    EXPECT_EQ(run.Result.Rows, 4 + 3 * (2 + 4 + 2) + 1);
    const Snapshot after = TakeSnapshot(Conn());
    for (std::int64_t id : OperationIds(before)) {
        const bool selected =
            id == 100 || std::count(data.AffectedIds.begin(), data.AffectedIds.end(), id) > 0;
        EXPECT_EQ(StateOf(before, after, id),
                  selected ? OperationState::Moved : OperationState::Untouched)
            << "operation " << id;
    }
    // 1999/8/16 00:00 became 2019/4/1 00:00; times of day stayed.
    const auto& general = after.at("General").Rows.at({data.AffectedIds[0], 0});
    EXPECT_EQ(ParseDateTimeText(*general[1]), (DateTime{2019, 4, 1}));

    EXPECT_EQ(run.Events.Changes(), (std::vector<std::string>{"counting", "selected:4",
                                                             "committed:4/4"}));
    EXPECT_GE(run.Events.EventRounds, 2);  // counting, the chunk
    EXPECT_EQ(run.Result.Started, (DateTime{2019, 4, 10, 9, 5, 12, 0}));
    EXPECT_EQ(run.Result.Ended, (DateTime{2019, 4, 10, 9, 6, 3, 0}));
    EXPECT_FALSE(run.Result.Error);

    RunRecord again;
    RunApril(Conn(), again);
    EXPECT_EQ(again.Result.Outcome, RunOutcome::NoData);
}

TEST_P(CorrectionRun, NothingToCorrectEndsWithTheNoDataText) {
    SampleData data;
    TOVRIK_ASSERT_DB(data = MakeSuite(Conn(), 0, 3, 2));
    const Snapshot before = TakeSnapshot(Conn());

    RunRecord run;
    RunApril(Conn(), run);

    EXPECT_EQ(run.Result.Outcome, RunOutcome::NoData);
    EXPECT_EQ(run.Events.Changes(), (std::vector<std::string>{"counting"}));
    EXPECT_EQ(TakeSnapshot(Conn()), before);
}

TEST_P(CorrectionRun, ManyOperationsMoveInChunksWithProgressAfterEach) {
    SampleData data;
    TOVRIK_ASSERT_DB(data = MakeSuite(Conn(), 1200, 10, 5, 1, 1, 1));
    const Snapshot before = TakeSnapshot(Conn());

    RunRecord run;
    RunApril(Conn(), run);

    ASSERT_EQ(run.Result.Outcome, RunOutcome::Corrected) << run.Result.Error.Text;
    EXPECT_EQ(run.Result.Operations, 1200);
    EXPECT_EQ(run.Result.Rows, 1200 * 4);
    EXPECT_GT(run.Events.EventRounds, 3);  // more than one chunk, events after each
    int last = 0;
    for (const std::string& call : run.Events.Calls) {
        if (call.rfind("committed:", 0) != 0) continue;
        const int done = std::stoi(call.substr(10));
        EXPECT_GT(done, last);
        EXPECT_EQ(call.substr(call.find('/')), "/1200");
        last = done;
    }
    EXPECT_EQ(last, 1200);
    const Snapshot after = TakeSnapshot(Conn());
    for (std::int64_t id : data.AffectedIds) {
        ASSERT_EQ(StateOf(before, after, id), OperationState::Moved) << id;
    }
    for (std::int64_t id : data.OtherMonthIds) {
        ASSERT_EQ(StateOf(before, after, id), OperationState::Untouched) << id;
    }
}

TEST_P(CorrectionRun, FindsOperationsAcrossWideGapsBetweenIds) {
    TOVRIK_ASSERT_DB(sampledata::CreateSuiteSchema(Conn()));
    const std::vector<std::int64_t> ids = {3, 4, 700, 70000, 2000000000};
    for (std::int64_t id : ids) Insert(id, "2019-04-02 00:00:00", "1999-08-17 00:00:00");
    Insert(5000, "2019-06-02 00:00:00", "1999-08-17 00:00:00");

    EXPECT_EQ(Planned(), ids);
    RunRecord run;
    RunApril(Conn(), run);
    ASSERT_EQ(run.Result.Outcome, RunOutcome::Corrected) << run.Result.Error.Text;
    EXPECT_EQ(run.Result.Operations, 5);
}

// Where the selected operations are spread evenly among others, every read gets the rows asked
// for in one statement, so a run's reads ahead cost one round trip each.
TEST_P(CorrectionRun, ReadsEvenlySpreadOperationsInOneStatementPerRead) {
    SampleData data;
    TOVRIK_ASSERT_DB(data = MakeSuite(Conn(), 1000, 1000, 0, 0, 0, 0));
    const auto dialect = correction::DialectOf(Conn());
    const std::string condition = correction::SelectionCondition(
        dialect, {2019, 4, 1, 0, 0, 0, 0}, {2019, 5, 1, 0, 0, 0, 0});
    correction::SelectionReader reader(Conn(), correction::SelectedColumns(dialect), condition,
                                       correction::MeasureSelection(Conn(), condition));
    std::vector<std::int64_t> read;
    while (!reader.Done()) {
        const std::size_t before = read.size();
        const std::uint64_t sent = Conn().StatementsSent();
        reader.Read(300, [&](db::Statement& row) {
            read.push_back(correction::SelectedFrom(dialect, row).Id);
        });
        EXPECT_EQ(Conn().StatementsSent() - sent, 1U) << "after " << before;
        EXPECT_GE(read.size() - before, std::min<std::size_t>(300, 1000 - before));
    }
    EXPECT_TRUE(reader.Done());
    EXPECT_EQ(read, data.AffectedIds);
}

TOVRIK_BACKEND_TEST_SUITE(CorrectionRun);

// SQLite holds date-times as text in several forms; the run, the dry run and the scan must pick
// exactly the operations whose values, read as date-times, lie in 2019/04 and before 2008.
TEST(SqliteSelectionForms, RunDryRunAndScanPickWhatTheDateTimesSay) {
    struct Row {
        const char* InputDate;
        const char* Date;
        bool Selected;
    };
    const Row rows[] = {
        {"2019-05-01", "1999-08-16", false},  // read in on 1 May
        {"2019-04-01", "1999-08-16", true},   // read in on 1 April
        {"2019-04-15", "2008-01-01", false},  // not before 2008
        {"2019-04-15", "2007-12-31 23:59", true},
        {"2019-03-31 23:59", "1999-08-16", false},
        {"2019-04-30 23:59", "1999-08-16", true},
        {"2019-04-01T00:00:00", "1999-08-16", true},
        {"2019-03-31T23:59:59.9", "1999-08-16", false},
        {"2019-04-30T23:59:59.999999999", "1999-08-16", true},
        {"2019-05-01T00:00", "1999-08-16", false},
        {"2019-05-01 00:00:00.000", "1999-08-16", false},
        {"2019-04-10", "2007-12-31", true},
        {"2019-04-10", "2007-12-31T23:59:59.999999999", true},
        {"2019-04-10", "2008-01-01T00:00", false},
        {"2019-04-10", "2008-01-01 00:00:00.0", false},
        {"2019-04-10", "1999-08-16 10:00:00.1", true},
        {"2019-04-10", "1999-08-16 10:00:00.12", true},
        {"2019-04-10", "1999-08-16 10:00:00.1234", true},
        {"2019-04-10", "1999-08-16 10:00:00.123456789", true},
        {"2019-05-01x", "1999-08-16", false},  // no date-time: sorts after 1 May
        {"2019-04-10", "2008-01-01x", false},
    };
    SqliteSuiteDb db;
    auto connection = db.Connect();
    TOVRIK_ASSERT_DB(sampledata::CreateSuiteSchema(*connection));
    std::vector<std::int64_t> expected;
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto id = static_cast<std::int64_t>(i + 1);
        auto insert = connection->Prepare(
            "INSERT INTO General (ID,InputDate,Date,StartTime,EndTime) VALUES (?,?,?,?,?)");
        insert.BindInt(1, id);
        insert.BindText(2, rows[i].InputDate);
        for (int column = 3; column <= 5; ++column) insert.BindText(column, rows[i].Date);
        insert.Execute();
        if (rows[i].Selected) expected.push_back(id);
    }
    const Snapshot before = TakeSnapshot(*connection);

    std::vector<std::int64_t> planned;
    PlanCorrection(*connection, kApril2019, kPickerEnd,
                   [&](const PlannedOperation& operation) { planned.push_back(operation.Id); });
    EXPECT_EQ(planned, expected);
    std::int64_t scanned = 0;
    for (const auto& month : ScanAffectedMonths(*connection, kApril2019, kPickerEnd)) {
        scanned += month.Operations;
    }
    EXPECT_EQ(scanned, static_cast<std::int64_t>(expected.size()));

    RunRecord run;
    RunApril(*connection, run);
    ASSERT_EQ(run.Result.Outcome, RunOutcome::Corrected) << run.Result.Error.Text;
    const Snapshot after = TakeSnapshot(*connection);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(StateOf(before, after, static_cast<std::int64_t>(i + 1)),
                  rows[i].Selected ? OperationState::Moved : OperationState::Untouched)
            << rows[i].InputDate << " " << rows[i].Date;
    }
}

// A selected Date that is no date-time stops the dry run as it stops the run, naming it; the scan
// counts it apart.
TEST(SqliteSelectionForms, AnUnreadableSelectedDateStopsRunAndDryRunAlike) {
    SqliteSuiteDb db;
    auto connection = db.Connect();
    TOVRIK_ASSERT_DB(sampledata::CreateSuiteSchema(*connection));
    connection->Execute(
        "INSERT INTO General (ID,InputDate,Date) VALUES (7,'2019-04-02','2007-12-31x')");

    try {
        PlanCorrection(*connection, kApril2019, kPickerEnd, [](const PlannedOperation&) {});
        ADD_FAILURE() << "the dry run went through";
    } catch (const db::DbError& error) {
        EXPECT_NE(std::string(error.what()).find("General.Date (ID=7): '2007-12-31x'"),
                  std::string::npos)
            << error.what();
    }
    const auto scan = ScanAffectedMonths(*connection, kApril2019, kPickerEnd);
    ASSERT_EQ(scan.size(), 1u);
    EXPECT_EQ(scan[0].UnreadableDates, 1);
    RunRecord run;
    RunApril(*connection, run);
    EXPECT_EQ(run.Result.Outcome, RunOutcome::Failed);
    EXPECT_NE(run.Result.Error.Text.find("General.Date"), std::string::npos)
        << run.Result.Error.Text;
}

}  // namespace
}  // namespace tovrik::test
