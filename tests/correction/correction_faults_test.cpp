#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "correction/run_fixture.h"

namespace tovrik::test {
namespace {

using sampledata::SampleData;


// Every operation is either fully moved or untouched; returns how many were moved.
int CountWholeMoves(const Snapshot& before, const Snapshot& after) {
    int moved = 0;
    for (std::int64_t id : OperationIds(before)) {
        const OperationState state = StateOf(before, after, id);
        EXPECT_NE(state, OperationState::HalfMoved) << "operation " << id;
        if (state == OperationState::Moved) ++moved;
    }
    return moved;
}

void ExpectFailure(const RunRecord& run, const std::string& mentions) {
    ASSERT_EQ(run.Result.Outcome, RunOutcome::Failed);
    EXPECT_NE(run.Result.Error.Text.find(mentions), std::string::npos) << run.Result.Error.Text;
}

class CorrectionFaults : public BackendTest {};

TEST_P(CorrectionFaults, AFailingStatementLeavesEveryOperationWholeAndARerunCompletes) {
    SampleData data;
    TOVRIK_ASSERT_DB(data = MakeSuite(Conn(), 30, 5, 5));
    const std::int64_t refused = data.AffectedIds[20];
    RefuseEventLogUpdate(Conn(), GetParam(), refused);
    const Snapshot original = TakeSnapshot(Conn());

    RunRecord failed;
    RunApril(Conn(), failed);

    ExpectFailure(failed, "event log row refused");
    const Snapshot afterFailure = TakeSnapshot(Conn());
    EXPECT_EQ(CountWholeMoves(original, afterFailure), failed.Result.Operations);
    EXPECT_LT(failed.Result.Operations, 20);
    EXPECT_EQ(StateOf(original, afterFailure, refused), OperationState::Untouched);

    AllowEventLogUpdates(Conn(), GetParam());
    RunRecord rerun;
    RunApril(Conn(), rerun);
    ASSERT_EQ(rerun.Result.Outcome, RunOutcome::Corrected) << rerun.Result.Error.Text;
    EXPECT_EQ(failed.Result.Operations + rerun.Result.Operations, 30);
    const Snapshot done = TakeSnapshot(Conn());
    for (std::int64_t id : data.AffectedIds) {
        EXPECT_EQ(StateOf(original, done, id), OperationState::Moved) << id;
    }
}

TEST_P(CorrectionFaults, AnOperationChangedAfterItWasReadStopsTheRunUntouched) {
    SampleData data;
    TOVRIK_ASSERT_DB(data = MakeSuite(Conn(), 20, 2, 0));
    const std::int64_t changed = data.AffectedIds[12];
    const Snapshot original = TakeSnapshot(Conn());
    auto other = Db().Connect();

    RunRecord run;
    run.Events.OnEvents = [&](int round) {
        if (round == 2) {  // after the first chunk: another copy moves one operation's Date
            auto update = other->Prepare("UPDATE General SET Date=? WHERE ID=?");
            update.BindDateTime(1, {2019, 4, 20, 0, 0, 0, 0});
            update.BindInt(2, changed);
            update.Execute();
        }
        return true;
    };
    RunApril(Conn(), run, ChunksOfEight());

    ExpectFailure(run, "ID=" + std::to_string(changed));
    EXPECT_NE(run.Result.Error.Text.find("General"), std::string::npos);
    const Snapshot after = TakeSnapshot(Conn());
    // Its chunk is rolled back whole: the operations after it stay untouched.
    EXPECT_GE(run.Result.Operations, 1);
    EXPECT_LT(run.Result.Operations, 13);
    // Its dependent rows and other General columns were left alone.
    Snapshot withoutChanged = after;
    withoutChanged["General"].Rows.erase({changed, 0});
    Snapshot originalWithoutChanged = original;
    originalWithoutChanged["General"].Rows.erase({changed, 0});
    EXPECT_EQ(CountWholeMoves(originalWithoutChanged, withoutChanged), run.Result.Operations);
    EXPECT_EQ(StateOf(originalWithoutChanged, withoutChanged, changed), OperationState::Untouched);
    const auto& row = after.at("General").Rows.at({changed, 0});
    EXPECT_EQ(row[2], original.at("General").Rows.at({changed, 0})[2]);  // StartTime
}

TEST_P(CorrectionFaults, NullDatesStayNullAndTheRunGoesOn) {
    SampleData data;
    TOVRIK_ASSERT_DB(data = MakeSuite(Conn(), 3, 1, 0));
    const std::string a = std::to_string(data.AffectedIds[0]);
    const std::string b = std::to_string(data.AffectedIds[1]);
    const std::string c = std::to_string(data.AffectedIds[2]);
    Conn().Execute("UPDATE General SET EndTime=NULL WHERE ID=" + a);
    Conn().Execute("UPDATE General SET StartTime=NULL,EndTime=NULL WHERE ID=" + c);
    Conn().Execute("UPDATE DriversTime SET EndTime=NULL,Date=NULL WHERE GeneralID=" + b);
    Conn().Execute("UPDATE EventLog SET Date=NULL WHERE SeqNo=3");
    Conn().Execute("UPDATE OpData SET RecDate=NULL,RecStart=NULL,RecEnd=NULL WHERE GeneralID=" + c);
    const Snapshot before = TakeSnapshot(Conn());

    RunRecord run;
    RunApril(Conn(), run);

    ASSERT_EQ(run.Result.Outcome, RunOutcome::Corrected) << run.Result.Error.Text;
    EXPECT_EQ(run.Result.Operations, 3);
    const Snapshot after = TakeSnapshot(Conn());
    for (std::int64_t id : data.AffectedIds) {
        EXPECT_EQ(StateOf(before, after, id), OperationState::Moved) << id;
    }
    EXPECT_FALSE(after.at("General").Rows.at({data.AffectedIds[0], 0})[3].has_value());
    EXPECT_FALSE(after.at("EventLog").Rows.at({data.AffectedIds[1], 3})[0].has_value());
}

TEST_P(CorrectionFaults, AMoveBeyondTheYear9999StopsTheRunNamingTableAndColumn) {
    SampleData data;
    TOVRIK_ASSERT_DB(data = MakeSuite(Conn(), 12, 0, 0));
    const std::int64_t bad = data.AffectedIds[9];
    Conn().Execute(
        "UPDATE DriversTime SET EndTime={ts '9990-01-01 00:00:00'} WHERE DriverID=2 "
        "AND GeneralID=" +
        std::to_string(bad));
    const Snapshot before = TakeSnapshot(Conn());

    RunRecord run;
    RunApril(Conn(), run);

    ExpectFailure(run, "DriversTime.EndTime");
    EXPECT_NE(run.Result.Error.Text.find("9990-01-01"), std::string::npos);
    EXPECT_NE(run.Result.Error.Text.find(std::to_string(bad)), std::string::npos);
    const Snapshot after = TakeSnapshot(Conn());
    EXPECT_EQ(CountWholeMoves(before, after), run.Result.Operations);
    EXPECT_EQ(StateOf(before, after, bad), OperationState::Untouched);
}

TEST_P(CorrectionFaults, ClosingTheFrontEndWhileCountingChangesNothing) {
    SampleData data;
    TOVRIK_ASSERT_DB(data = MakeSuite(Conn(), 5, 0, 0));
    const Snapshot before = TakeSnapshot(Conn());

    RunRecord run;
    run.Events.OnEvents = [&](int) {
        Conn().Close();  // what the window's unload does
        return false;
    };
    RunApril(Conn(), run);

    EXPECT_EQ(run.Result.Outcome, RunOutcome::Abandoned);
    EXPECT_EQ(run.Events.Calls.back(), "events");
    EXPECT_EQ(TakeSnapshot(*Db().Connect()), before);
}

// Every chunk commits before the front end hears of it: what it last showed as done is exactly
// what a close keeps, whenever the close comes.
TEST_P(CorrectionFaults, ClosingTheFrontEndMidRunKeepsWhatItShowedAsDone) {
    for (const int closeAt : {2, 3, 7}) {
        RunPacing pacing;  // small chunks, so that the run has many event rounds
        pacing.FirstChunk = pacing.MaxChunk = 5;
        auto db = MakeSuiteDb(GetParam());
        auto connection = db->Connect();
        TOVRIK_ASSERT_DB(MakeSuite(*connection, 200, 5, 0, 1, 2, 1));
        const Snapshot before = TakeSnapshot(*connection);

        RunRecord run;
        run.Events.OnEvents = [&](int round) {
            if (round < closeAt) return true;
            connection->Close();  // what the window's unload does
            return false;
        };
        RunApril(*connection, run, pacing);

        EXPECT_EQ(run.Result.Outcome, RunOutcome::Abandoned);
        EXPECT_EQ(run.Events.Calls.back(), "events");
        EXPECT_EQ(run.Result.Operations, run.Events.Done) << "closed at round " << closeAt;
        EXPECT_EQ(run.Events.Done, 5 * (closeAt - 1));
        auto reopened = db->Connect();
        EXPECT_EQ(CountWholeMoves(before, TakeSnapshot(*reopened)), run.Events.Done);

        RunRecord rest;
        RunApril(*reopened, rest);
        ASSERT_EQ(rest.Result.Outcome, RunOutcome::Corrected) << rest.Result.Error.Text;
        EXPECT_EQ(run.Result.Operations + rest.Result.Operations, 200);
    }
}

TOVRIK_BACKEND_TEST_SUITE(CorrectionFaults);

// SQLite keeps date-times as text; anything that is not a date-time in the forms drivers write
// must stop the run rather than be overwritten.
struct UnreadableCase {
    const char* name;
    const char* value;
};
void PrintTo(const UnreadableCase& c, std::ostream* out) { *out << c.name; }

class UnreadableSqliteText : public testing::TestWithParam<UnreadableCase> {};

TEST_P(UnreadableSqliteText, StopsTheRunAndChangesNothingOfThatOperation) {
    SqliteSuiteDb db;
    auto connection = db.Connect();
    SampleData data;
    TOVRIK_ASSERT_DB(data = MakeSuite(*connection, 20, 0, 0));
    const std::int64_t bad = data.AffectedIds[15];
    auto update = connection->Prepare("UPDATE OpData SET RecStart=? WHERE Page=2 AND GeneralID=?");
    update.BindText(1, GetParam().value);
    update.BindInt(2, bad);
    update.Execute();
    const Snapshot before = TakeSnapshot(*connection);

    RunRecord run;
    RunApril(*connection, run);

    ExpectFailure(run, "OpData.RecStart");
    EXPECT_NE(run.Result.Error.Text.find("GeneralID=" + std::to_string(bad)), std::string::npos);
    const Snapshot after = TakeSnapshot(*connection);
    EXPECT_EQ(StateOf(before, after, bad), OperationState::Untouched);
    EXPECT_EQ(CountWholeMoves(before, after), run.Result.Operations);

    connection->Execute("UPDATE OpData SET RecStart=RecDate WHERE GeneralID=" +
                        std::to_string(bad));
    RunRecord rerun;
    RunApril(*connection, rerun);
    EXPECT_EQ(rerun.Result.Outcome, RunOutcome::Corrected) << rerun.Result.Error.Text;
    EXPECT_EQ(run.Result.Operations + rerun.Result.Operations, 20);
}

INSTANTIATE_TEST_SUITE_P(
    Values, UnreadableSqliteText,
    testing::Values(UnreadableCase{"Words", "not a date"},
                    UnreadableCase{"SlashForm", "1999/08/16 06:00:00"},
                    UnreadableCase{"NoSuchDay", "1999-02-30 06:00:00"},
                    UnreadableCase{"NoSuchHour", "1999-08-16 25:00:00"},
                    UnreadableCase{"DayPastMonthEnd", "1999-04-31 06:00:00.000"},
                    UnreadableCase{"Hour24", "1999-08-16 24:00:00.000"},
                    UnreadableCase{"SecondSixty", "1999-08-16 06:00:60.000"},
                    UnreadableCase{"NotLeapYear", "1999-02-29 06:00:00.000"},
                    UnreadableCase{"ZoneInFraction", "1999-08-16 06:00:00.00Z"},
                    UnreadableCase{"TimeZone", "1999-08-16 06:00:00+09:00"},
                    UnreadableCase{"TrailingText", "1999-08-16 06:00:00.5x"},
                    UnreadableCase{"Number", "2451407.5"}, UnreadableCase{"Empty", ""}),
    [](const testing::TestParamInfo<UnreadableCase>& p) { return p.param.name; });

// Every text form a date-time may have been written in moves with the time text kept as it is,
// all fraction digits included, and reads back as CorrectRolloverDate of what was read before.
TEST(SqliteTextForms, MoveKeepingTheTimeTextAndEveryFractionDigit) {
    SqliteSuiteDb db;
    auto connection = db.Connect();
    TOVRIK_ASSERT_DB(sampledata::CreateSuiteSchema(*connection));
    connection->Execute(
        "INSERT INTO General (ID,InputDate,Date) VALUES "
        "(1,'2019-04-02 00:00:00','1999-08-16 00:00:00')");
    const std::vector<std::pair<std::string, std::string>> forms = {
        {"1999-08-16 12:34:56", "2019-04-01 12:34:56"},
        {"1999-08-16 12:34:56.000", "2019-04-01 12:34:56.000"},
        {"1999-08-16 12:34:56.123456", "2019-04-01 12:34:56.123456"},
        {"1999-08-16 23:59:59.9996", "2019-04-01 23:59:59.9996"},
        {"1999-08-16T12:34:56.5", "2019-04-01T12:34:56.5"},
        {"1999-08-16 12:34", "2019-04-01 12:34"},
        {"2000-02-29", "2019-10-15"},
        {"2000-02-29 10:00:00.000", "2019-10-15 10:00:00.000"},
        {"1999-08-31 23:59:59.999", "2019-04-16 23:59:59.999"},
        {"1999-09-30 00:00:00.000", "2019-05-16 00:00:00.000"},
    };
    for (std::size_t i = 0; i < forms.size(); ++i) {
        auto insert =
            connection->Prepare("INSERT INTO EventLog (GeneralID,SeqNo,Date) VALUES (1,?,?)");
        insert.BindInt(1, static_cast<std::int64_t>(i));
        insert.BindText(2, forms[i].first);
        insert.Execute();
    }
    // As the driver reads them. Not "yyyy-mm-dd hh:mm": the SQLite ODBC driver reads past the
    // end of such a text when it converts it to a timestamp.
    auto readTyped = [&] {
        std::map<std::int64_t, std::optional<DateTime>> values;
        auto select = connection->Prepare(
            "SELECT SeqNo,Date FROM EventLog WHERE length(Date)<>16 ORDER BY SeqNo");
        select.Execute();
        while (select.Fetch()) values[*select.GetInt("SeqNo")] = select.GetDateTime("Date");
        return values;
    };
    const auto typedBefore = readTyped();

    RunRecord run;
    RunApril(*connection, run);

    ASSERT_EQ(run.Result.Outcome, RunOutcome::Corrected) << run.Result.Error.Text;
    auto select =
        connection->Prepare("SELECT CAST(Date AS TEXT) AS T FROM EventLog ORDER BY SeqNo");
    select.Execute();
    for (const auto& form : forms) {
        ASSERT_TRUE(select.Fetch());
        EXPECT_EQ(select.GetText("T"), form.second) << form.first;
    }
    select.CloseCursor();
    const auto typedAfter = readTyped();
    ASSERT_EQ(typedAfter.size(), typedBefore.size());
    for (const auto& [seqNo, value] : typedBefore) {
        const auto& form = forms[static_cast<std::size_t>(seqNo)].first;
        ASSERT_TRUE(value && typedAfter.at(seqNo)) << form;
        EXPECT_EQ(*typedAfter.at(seqNo), CorrectRolloverDate(*value)) << form;
    }
}

// Two copies on two machines over the same months: every operation is moved exactly once,
// whichever copy gets to it; a copy that finds an operation moved under it stops.
TEST(ConcurrentRuns, TwoRunsTogetherMoveEveryRowExactlyOnce) {
    PgSuiteDb db;
    SampleData data;
    {
        auto setup = db.Connect();
        TOVRIK_ASSERT_DB(data = MakeSuite(*setup, 1500, 50, 20, 1, 2, 1));
    }
    auto first = db.Connect();
    auto second = db.Connect();
    const Snapshot before = TakeSnapshot(*first);

    RunRecord runs[2];
    // Both start together. (Not std::latch: MinGW's libstdc++ 12 can lose its wake-up, and the
    // test then hangs under Wine.)
    std::mutex mutex;
    std::condition_variable ready;
    int arrived = 0;
    auto runOn = [&](db::Connection& connection, RunRecord& record) {
        {
            std::unique_lock lock(mutex);
            ++arrived;
            ready.notify_all();
            ready.wait(lock, [&] { return arrived == 2; });
        }
        RunApril(connection, record);
    };
    std::thread a(runOn, std::ref(*first), std::ref(runs[0]));
    std::thread b(runOn, std::ref(*second), std::ref(runs[1]));
    a.join();
    b.join();

    const Snapshot after = TakeSnapshot(*first);
    for (std::int64_t id : data.AffectedIds) {
        ASSERT_EQ(StateOf(before, after, id), OperationState::Moved) << id;
    }
    for (std::int64_t id : data.UnaffectedIds) {
        ASSERT_EQ(StateOf(before, after, id), OperationState::Untouched) << id;
    }
    EXPECT_EQ(runs[0].Result.Operations + runs[1].Result.Operations, 1500);
    for (const RunRecord& run : runs) {
        if (run.Result.Outcome == RunOutcome::Failed) {
            EXPECT_FALSE(run.Result.Error.Text.empty());
        } else {
            EXPECT_TRUE(run.Result.Outcome == RunOutcome::Corrected ||
                        run.Result.Outcome == RunOutcome::NoData);
        }
    }
}

}  // namespace
}  // namespace tovrik::test
