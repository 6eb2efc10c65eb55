// A database that lacks a table or column the run needs: the run and the dry run stop before
// anything is read or moved, naming what is missing.

#include <gtest/gtest.h>

#include <tuple>

#include "correction/run_fixture.h"
#include "correction/suite_tables.h"

namespace tovrik::test {
namespace {

struct MissingCase {
    const char* Name;
    std::vector<std::string> Renames;  // statements that take a table or columns away
    std::string Description;           // the error's first line (the driver's text may follow)
};

void PrintTo(const MissingCase& row, std::ostream* out) { *out << row.Name; }

class MissingSuiteParts : public testing::TestWithParam<std::tuple<Backend, MissingCase>> {
protected:
    void SetUp() override {
        db_ = MakeSuiteDb(std::get<0>(GetParam()));
        connection_ = db_->Connect();
    }

    void ExpectDescription(const std::string& text) const {
        EXPECT_EQ(text.substr(0, text.find("\r\n")), std::get<1>(GetParam()).Description);
    }

    std::unique_ptr<SuiteDb> db_;
    std::unique_ptr<db::Connection> connection_;
};

TEST_P(MissingSuiteParts, StopRunAndDryRunBeforeAnythingMovesNamingWhatIsMissing) {
    TOVRIK_ASSERT_DB(MakeSuite(*connection_, 3, 1, 0));
    for (const std::string& rename : std::get<1>(GetParam()).Renames) {
        TOVRIK_ASSERT_DB(connection_->Execute(rename));
    }

    RunRecord run;
    RunApril(*connection_, run);

    ASSERT_EQ(run.Result.Outcome, RunOutcome::Failed);
    ExpectDescription(run.Result.Error.Text);

    try {
        PlanCorrection(*connection_, kApril2019, kPickerEnd,
                       [](const PlannedOperation&) { ADD_FAILURE() << "an operation was listed"; });
        ADD_FAILURE() << "the dry run went on";
    } catch (const db::DbError& error) {
        ExpectDescription(error.what());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Suite, MissingSuiteParts,
    testing::Combine(
        testing::Values(Backend::Sqlite, Backend::Postgres),
        testing::Values(
            MissingCase{"NoEventLog",
                        {"ALTER TABLE EventLog RENAME TO EventLogOld"},
                        "データベースのテーブル EventLog を読めません（テーブルがないか、読む権限が"
                        "ありません）。"},
            MissingCase{"NoRecEndInOpData",
                        {"ALTER TABLE OpData RENAME COLUMN RecEnd TO RecFinish"},
                        "データベースのテーブル OpData に列 RecEnd がありません。"},
            // The selection's columns count too, not only the moved ones; all are named at once.
            MissingCase{"NoInputDateNorEndTimeInGeneral",
                        {"ALTER TABLE General RENAME COLUMN InputDate TO ReadIn",
                         "ALTER TABLE General RENAME COLUMN EndTime TO Finish"},
                        "データベースのテーブル General に列 InputDate, EndTime がありません。"})),
    [](const testing::TestParamInfo<std::tuple<Backend, MissingCase>>& row) {
        return BackendName(std::get<0>(row.param)) + "_" + std::get<1>(row.param).Name;
    });

// On PostgreSQL the check also sets the session up, in its one round trip: no JIT compilation
// and no parallel workers for the reads that follow.
TEST(SessionSettings, ThePostgreSqlTableCheckTurnsOffJitAndParallelWorkersInItsRoundTrip) {
    PgSuiteDb db;
    auto connection = db.Connect();
    auto setting = [&](const char* name) {
        auto statement =
            connection->Query(std::string("SELECT current_setting('") + name + "') AS V");
        statement.Execute();
        return statement.Fetch() ? statement.GetText("V").value_or("") : std::string();
    };
    TOVRIK_ASSERT_DB(MakeSuite(*connection, 1, 0, 0));
    ASSERT_NE(setting("max_parallel_workers_per_gather"), "0");

    const std::uint64_t sent = connection->StatementsSent();
    TOVRIK_ASSERT_DB(correction::CheckSuiteTables(*connection));
    EXPECT_EQ(connection->StatementsSent() - sent, 1U);
    EXPECT_EQ(setting("jit"), "off");
    EXPECT_EQ(setting("max_parallel_workers_per_gather"), "0");
}

}  // namespace
}  // namespace tovrik::test
