// Few statements whatever the distance to the server, and a front end that stays in charge
// while a statement is in flight.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <iterator>
#include <map>
#include <thread>

#include "correction/background_run.h"
#include "correction/chunk_mover.h"
#include "correction/run_fixture.h"
#include "correction/run_pacing.h"
#ifndef _WIN32
#include "delayproxy/delay_proxy.h"
#endif

namespace tovrik::test {
namespace {

using namespace std::chrono_literals;
using correction::ChunkSizer;
using correction::Dialect;
using correction::MoveStatements;

// One chunk observed by a sizer that starts at 8 with a 100 ms target and at most 1000.
struct SizingCase {
    const char* Name;
    Duration RoundTrip;      // what the quickest statement took (none when zero)
    std::size_t Operations;  // in the chunk observed
    Duration Took;
    std::uint64_t Statements;
    std::size_t Expected;  // the next chunk
};
void PrintTo(const SizingCase& c, std::ostream* out) { *out << c.Name; }

class ChunkSizing : public testing::TestWithParam<SizingCase> {};

TEST_P(ChunkSizing, FollowsTheServersWorkWithinBounds) {
    RunPacing pacing;
    pacing.ChunkTarget = 100ms;
    pacing.FirstChunk = 8;
    pacing.MaxChunk = 1000;
    ChunkSizer sizer(pacing);
    EXPECT_EQ(sizer.Next(), 8U);
    if (GetParam().RoundTrip > Duration::zero()) sizer.ObserveRoundTrip(GetParam().RoundTrip);
    sizer.ObserveChunk(GetParam().Operations, GetParam().Took, GetParam().Statements);
    EXPECT_EQ(sizer.Next(), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChunkSizing,
    testing::Values(SizingCase{"HalfTheTargetDoubles", {}, 100, 50ms, 2, 200},
                    SizingCase{"ThreeTimesTheTargetShrinks", {}, 300, 300ms, 2, 100},
                    SizingCase{"GrowsAtMostFourfold", {}, 100, 1ms, 2, 400},
                    SizingCase{"NoMeasurableWorkGrowsFourfold", {}, 100, Duration::zero(), 2, 400},
                    SizingCase{"ShrinksAtMostFourfold", {}, 100, 10s, 2, 25},
                    SizingCase{"NeverEmpty", {}, 1, 10s, 2, 1},
                    SizingCase{"NeverAboveTheMaximum", {}, 900, 1ms, 2, 1000},
                    // 40 ms round trips: three of them are waiting, not work; the size is that of a
                    // server next door doing the same 50 ms of work.
                    SizingCase{"RoundTripsAreNotWork", 40ms, 100, 170ms, 3, 200},
                    SizingCase{"AServerSuddenlySlowShrinksTheChunk", 1ms, 400, 4s, 3, 100}),
    RowName{});

// How many statements one chunk of 20 operations takes, by the way its updates are sent, on
// servers that can run the dialect's text (where the updates cannot tell the rows of each
// operation, one count goes first), and the rows each operation had: 2, 3 and 1, but none in
// one table or another, one fewer, or none at all for a few.
struct MoverCase {
    const char* Name;
    Backend On;
    Dialect Text;
    MoveStatements Sent;
    std::uint64_t Statements;
};
void PrintTo(const MoverCase& c, std::ostream* out) { *out << c.Name; }

class ChunkStatements : public testing::TestWithParam<MoverCase> {};

TEST_P(ChunkStatements, MoveAChunkWholeInTheirNumberOfStatements) {
    const MoverCase& c = GetParam();
    auto db = MakeSuiteDb(c.On);
    auto connection = db->Connect();
    sampledata::SampleData data;
    TOVRIK_ASSERT_DB(data = MakeSuite(*connection, 20, 3, 0, 2, 3, 1));
    const auto& ids = data.AffectedIds;
    std::map<std::int64_t, std::array<std::int64_t, 3>> expected;
    for (std::int64_t id : ids) expected[id] = {2, 3, 1};
    auto remove = [&](const char* table, std::int64_t id, const std::string& more = "") {
        TOVRIK_ASSERT_DB(connection->Execute(std::string("DELETE FROM ") + table +
                                             " WHERE GeneralID=" + std::to_string(id) + more));
    };
    remove("EventLog", ids[0]);
    expected[ids[0]] = {2, 0, 1};
    remove("DriversTime", ids[1], " AND DriverID=2");
    expected[ids[1]] = {1, 3, 1};
    remove("OpData", ids[2]);
    expected[ids[2]] = {2, 3, 0};
    for (const char* table : {"DriversTime", "EventLog", "OpData"}) remove(table, ids[19]);
    expected[ids[19]] = {0, 0, 0};
    if (c.Sent == MoveStatements::Batch) {
        ASSERT_TRUE(connection->CountsEveryBatchStatement());
    }
    const Snapshot before = TakeSnapshot(*connection);
    std::vector<correction::SelectedOperation> chunk;
    {
        auto read = connection->Prepare("SELECT " + correction::SelectedColumns(c.Text) +
                                        " FROM General WHERE ID IN (" +
                                        correction::IdList(data.AffectedIds) + ") ORDER BY ID");
        read.Execute();
        while (read.Fetch()) chunk.push_back(correction::SelectedFrom(c.Text, read));
    }
    correction::ChunkMover mover(*connection, c.Text, c.Sent);
    const std::uint64_t sent = connection->StatementsSent();
    std::vector<correction::MovedOperation> moved;
    TOVRIK_ASSERT_DB(moved = mover.Move(chunk));
    EXPECT_EQ(connection->StatementsSent() - sent, c.Statements);
    ASSERT_EQ(moved.size(), chunk.size());
    for (std::size_t i = 0; i < moved.size(); ++i) {
        EXPECT_EQ(moved[i].Id, chunk[i].Id);
        EXPECT_EQ(moved[i].DependentRows, expected[moved[i].Id]) << moved[i].Id;
    }
    const Snapshot after = TakeSnapshot(*connection);
    for (std::int64_t id : OperationIds(before)) {
        const bool affected = std::find(data.AffectedIds.begin(), data.AffectedIds.end(), id) !=
                              data.AffectedIds.end();
        EXPECT_EQ(StateOf(before, after, id),
                  affected ? OperationState::Moved : OperationState::Untouched)
            << id;
    }
}

INSTANTIATE_TEST_SUITE_P(Dialects, ChunkStatements,
                         testing::Values(MoverCase{"SQLite", Backend::Sqlite, Dialect::SQLite,
                                                   MoveStatements::Separate, 5},
                                         MoverCase{"PostgreSQL", Backend::Postgres,
                                                   Dialect::PostgreSQL, MoveStatements::Single, 1},
                                         MoverCase{"OdbcEscapesAsOneBatch", Backend::Postgres,
                                                   Dialect::Other, MoveStatements::Batch, 2},
                                         MoverCase{"OdbcEscapesOneByOne", Backend::Postgres,
                                                   Dialect::Other, MoveStatements::Separate, 5}),
                         RowName{});

// Every update of EventLog waits on the server, as if it were far away or busy. On PostgreSQL
// the wait outlasts the test's own time limit, so only a cancelled statement lets the run end.
void SlowEventLogUpdates(db::Connection& connection, Backend backend) {
    if (backend == Backend::Sqlite) {
        // A busy statement: a long computation in a trigger per updated row.
        connection.Execute(
            "CREATE TRIGGER SlowEventLog BEFORE UPDATE ON EventLog BEGIN SELECT COUNT(*) FROM "
            "(WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<1000000) "
            "SELECT i FROM n); END");
        return;
    }
    connection.Execute(
        "CREATE FUNCTION slow_event_log() RETURNS trigger LANGUAGE plpgsql AS $$ "
        "BEGIN PERFORM pg_sleep(3600); RETURN NULL; END $$");
    connection.Execute(
        "CREATE TRIGGER SlowEventLog BEFORE UPDATE ON EventLog FOR EACH STATEMENT "
        "EXECUTE FUNCTION slow_event_log()");
}

class BackgroundRun : public BackendTest {};

// The front end keeps processing events while a statement runs, and closing it then cancels
// the statement: the run ends at once, every operation whole, and a rerun finishes the work.
TEST_P(BackgroundRun, ClosingWhileAStatementIsInFlightCancelsItAndLeavesEveryOperationWhole) {
    TOVRIK_ASSERT_DB(MakeSuite(Conn(), 30, 2, 0, 1, 2, 1));
    const Snapshot before = TakeSnapshot(Conn());
    TOVRIK_ASSERT_DB(SlowEventLogUpdates(Conn(), GetParam()));

    RunRecord run;
    // Rounds 1 and 2 are the run's own (counting; the first chunk is slow); the ones after the
    // run's first come every 50 ms while that chunk's statement is in flight.
    run.Events.OnEvents = [&](int round) { return round < 4; };
    RunPacing pacing;  // SQLite's statements are not interrupted: small chunks of slow rows
    pacing.FirstChunk = pacing.MaxChunk = 4;
    RunAprilInBackground(Conn(), run, pacing);

    EXPECT_EQ(run.Result.Outcome, RunOutcome::Abandoned);
    EXPECT_EQ(run.Result.Operations, 0);
    EXPECT_EQ(run.Events.Calls.back(), "events");
    EXPECT_FALSE(Conn().CancelRequested());
    EXPECT_EQ(TakeSnapshot(Conn()).at("General"), before.at("General"));

    Conn().Execute(IsPostgres() ? "DROP TRIGGER SlowEventLog ON EventLog"
                                : "DROP TRIGGER SlowEventLog");
    RunRecord rerun;
    RunApril(Conn(), rerun);
    ASSERT_EQ(rerun.Result.Outcome, RunOutcome::Corrected) << rerun.Result.Error.Text;
    EXPECT_EQ(rerun.Result.Operations, 30);
}

// The front end hears, on its own thread, exactly the events a run on that thread would make,
// and what the job throws is thrown again there.
TEST_P(BackgroundRun, RelaysEveryEventInOrderAndWhatTheJobThrows) {
    sampledata::SampleData data;
    TOVRIK_ASSERT_DB(data = MakeSuite(Conn(), 3, 1, 0));
    TOVRIK_ASSERT_DB(RefuseEventLogUpdate(Conn(), GetParam(), data.AffectedIds[1]));
    const std::thread::id front = std::this_thread::get_id();
    RunRecord run;
    bool elsewhere = false;
    run.Events.OnEvents = [&](int) {
        elsewhere = elsewhere || std::this_thread::get_id() != front;
        return true;
    };
    RunAprilInBackground(Conn(), run);

    EXPECT_FALSE(elsewhere);
    ASSERT_EQ(run.Result.Outcome, RunOutcome::Failed);
    EXPECT_EQ(run.Result.Error.What, RunError::Kind::Database);
    EXPECT_EQ(run.Events.Changes(), (std::vector<std::string>{"counting", "selected:3"}));

    EXPECT_THROW(RunInBackground(Conn(), run.Events,
                                 [](RunEvents&) { throw std::runtime_error("out of memory"); }),
                 std::runtime_error);
}

TOVRIK_BACKEND_TEST_SUITE(BackgroundRun);

#ifndef _WIN32
// A server 150 ms away: the front end processes its events every 50 ms while each statement
// waits for the network, and a close in the middle of the run cancels the statement in flight.
TEST(BackgroundRunAtADistance, StaysResponsiveAndStopsWholeWhenClosedMidRun) {
    PgSuiteDb db;
    TOVRIK_ASSERT_DB(MakeSuite(*db.Connect(), 120, 2, 0, 1, 30, 2));
    const Snapshot before = TakeSnapshot(*db.Connect());
    const PgServer& server = PgServerInfo();
    delayproxy::DelayProxy proxy(server.Host, server.Port, 150ms);
    db::Connection distant;
    TOVRIK_ASSERT_DB(distant.Open(
        "Driver={PostgreSQL Unicode};Servername=127.0.0.1;Port=" + std::to_string(proxy.Port()) +
        ";Database=" + db.Name() + ";UID=" + server.User + ";PWD=" + server.Password + ";"));

    RunRecord run;
    std::uint64_t statementsAtClose = 0;
    run.Events.OnEvents = [&](int round) {
        if (round < 12) return true;
        statementsAtClose = distant.StatementsSent();
        return false;
    };
    RunPacing pacing;
    pacing.FirstChunk = pacing.MaxChunk = 10;
    RunAprilInBackground(distant, run, pacing);

    EXPECT_EQ(run.Result.Outcome, RunOutcome::Abandoned);
    // Each statement waits at least 150 ms: a front end that waited for them would have had
    // fewer event rounds than statements.
    EXPECT_GT(12U, statementsAtClose) << "events waited for the statements";
    distant.Close();
    auto direct = db.Connect();
    const Snapshot after = TakeSnapshot(*direct);
    int moved = 0;
    for (std::int64_t id : OperationIds(before)) {
        const OperationState state = StateOf(before, after, id);
        EXPECT_NE(state, OperationState::HalfMoved) << id;
        moved += state == OperationState::Moved ? 1 : 0;
    }
    EXPECT_EQ(moved, run.Result.Operations);
    EXPECT_LT(moved, 120);
    RunRecord rest;
    RunApril(*direct, rest);
    ASSERT_EQ(rest.Result.Outcome, RunOutcome::Corrected) << rest.Result.Error.Text;
    EXPECT_EQ(rest.Result.Operations + moved, 120);
}
#endif

}  // namespace
}  // namespace tovrik::test
