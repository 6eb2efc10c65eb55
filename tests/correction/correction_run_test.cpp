#include <gtest/gtest.h>

#include <algorithm>

#include "correction/run_fixture.h"

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

    ASSERT_EQ(run.Result.Outcome, RunOutcome::Corrected) << run.Result.ErrorText;
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

    ASSERT_EQ(run.Result.Outcome, RunOutcome::Corrected) << run.Result.ErrorText;
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

    EXPECT_EQ(run.View.Texts,
              (std::vector<std::string>{"", "件数確認中", "4/4", "4件の修正が終了しました",
                                        "4件の修正が終了しました\r\n開始：2019/04/10 9:05:12\r\n"
                                        "終了：2019/04/10 9:06:03"}));
    EXPECT_FALSE(run.View.ButtonsOnWhileProcessing);
    EXPECT_GE(run.View.EventRounds, 2);  // counting, the chunk (and a commit, if slow)
    EXPECT_EQ(run.View.Maximum, 4);
    EXPECT_EQ(run.View.Value, 4);
    EXPECT_TRUE(run.View.StartEnabled && run.View.EndEnabled);
    // The start button is always switched before the close button.
    const auto& calls = run.View.Calls;
    EXPECT_EQ(std::find(calls.begin(), calls.end(), "start:off") + 1,
              std::find(calls.begin(), calls.end(), "end:off"));
    EXPECT_EQ(calls[calls.size() - 2], "start:on");
    EXPECT_EQ(calls.back(), "end:on");
    EXPECT_TRUE(run.Boxes.Shown.empty());

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
    EXPECT_EQ(run.View.Texts,
              (std::vector<std::string>{"", "件数確認中", "修正が必要なデータはありません"}));
    EXPECT_EQ(run.View.Value, 0);
    EXPECT_EQ(std::count(run.View.Calls.begin(), run.View.Calls.end(), "value:0"), 1);
    EXPECT_TRUE(run.View.StartEnabled && run.View.EndEnabled);
    EXPECT_FALSE(run.View.ButtonsOnWhileProcessing);
    EXPECT_EQ(TakeSnapshot(Conn()), before);
}

TEST_P(CorrectionRun, ManyOperationsMoveInChunksWithProgressAfterEach) {
    SampleData data;
    TOVRIK_ASSERT_DB(data = MakeSuite(Conn(), 1200, 10, 5, 1, 1, 1));
    const Snapshot before = TakeSnapshot(Conn());

    RunRecord run;
    RunApril(Conn(), run);

    ASSERT_EQ(run.Result.Outcome, RunOutcome::Corrected) << run.Result.ErrorText;
    EXPECT_EQ(run.Result.Operations, 1200);
    EXPECT_EQ(run.Result.Rows, 1200 * 4);
    EXPECT_GT(run.View.EventRounds, 3);  // more than one chunk, events after each
    EXPECT_FALSE(run.View.ButtonsOnWhileProcessing);
    int last = 0;
    for (const std::string& call : run.View.Calls) {
        if (call.rfind("value:", 0) != 0) continue;
        const int value = std::stoi(call.substr(6));
        EXPECT_GE(value, last);
        last = value;
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
    ASSERT_EQ(run.Result.Outcome, RunOutcome::Corrected) << run.Result.ErrorText;
    EXPECT_EQ(run.Result.Operations, 5);
}

TOVRIK_BACKEND_TEST_SUITE(CorrectionRun);

}  // namespace
}  // namespace tovrik::test
