#include <gtest/gtest.h>

#include "sampledata/sample_data.h"
#include "support/test_support.h"

namespace tovrik::sampledata {
namespace {

using test::BackendTest;

class SampleDataTest : public BackendTest {
protected:
    std::int64_t Scalar(const std::string& sql) {
        auto statement = Conn().Prepare(sql);
        statement.Execute();
        EXPECT_TRUE(statement.Fetch());
        return statement.GetInt("N").value_or(-1);
    }
    DateTime DateTimeOf(const std::string& sql) {
        auto statement = Conn().Prepare(sql);
        statement.Execute();
        EXPECT_TRUE(statement.Fetch());
        return statement.GetDateTime("V").value_or(DateTime{});
    }
};

TEST_P(SampleDataTest, FillsTheSuiteTablesAsSpecified) {
    SampleSpec spec;
    spec.Affected = 4;
    spec.Unaffected = 3;
    spec.AffectedOtherMonth = 2;
    spec.DriversPerOperation = 2;
    spec.EventsPerOperation = 5;
    spec.OpDataPerOperation = 3;
    spec.FirstId = 100;
    SampleData data;
    TOVRIK_ASSERT_DB(CreateSuiteSchema(Conn()));
    TOVRIK_ASSERT_DB(data = FillSampleData(Conn(), spec));
    EXPECT_FALSE(Conn().InTransaction());

    EXPECT_EQ(data.AffectedIds, (std::vector<std::int64_t>{100, 103, 106, 108}));
    EXPECT_EQ(data.UnaffectedIds, (std::vector<std::int64_t>{101, 104, 107}));
    EXPECT_EQ(data.OtherMonthIds, (std::vector<std::int64_t>{102, 105}));
    EXPECT_EQ(data.Rows, 9 * (1 + 2 + 5 + 3));
    EXPECT_EQ(Scalar("SELECT COUNT(*) AS N FROM General"), 9);
    EXPECT_EQ(Scalar("SELECT COUNT(*) AS N FROM DriversTime"), 18);
    EXPECT_EQ(Scalar("SELECT COUNT(*) AS N FROM EventLog WHERE GeneralID = 105"), 5);
    EXPECT_EQ(Scalar("SELECT COUNT(*) AS N FROM OpData"), 27);

    // The first affected operation: read in at the first moment of the month, dated 1024 weeks
    // before the day it took place.
    EXPECT_EQ(DateTimeOf("SELECT InputDate AS V FROM General WHERE ID = 100"),
              (DateTime{2019, 4, 1, 0, 0, 0, 0}));
    EXPECT_EQ(DateTimeOf("SELECT Date AS V FROM General WHERE ID = 100"),
              (DateTime{1999, 8, 16, 0, 0, 0, 0}));
    // Millisecond fractions survive the bound insert.
    EXPECT_EQ(DateTimeOf("SELECT StartTime AS V FROM General WHERE ID = 103").Fraction, 1'000'000u);
    EXPECT_EQ(
        DateTimeOf("SELECT Date AS V FROM EventLog WHERE GeneralID = 100 AND SeqNo = 4").Fraction,
        500'000'000u);
    // An unaffected operation is dated in 2019, an other-month one was read in during May.
    EXPECT_EQ(DateTimeOf("SELECT Date AS V FROM General WHERE ID = 101").Year, 2019);
    EXPECT_EQ(DateTimeOf("SELECT InputDate AS V FROM General WHERE ID = 102").Month, 5);
}

TEST_P(SampleDataTest, KeysRejectADuplicateOperation) {
    CreateSuiteSchema(Conn());
    SampleSpec spec;
    spec.Affected = 1;
    spec.Unaffected = 0;
    FillSampleData(Conn(), spec);
    EXPECT_THROW(FillSampleData(Conn(), spec), db::DbError);
    EXPECT_FALSE(Conn().InTransaction());
    EXPECT_EQ(Scalar("SELECT COUNT(*) AS N FROM EventLog"), 10);  // the failed fill left nothing
}

TOVRIK_BACKEND_TEST_SUITE(SampleDataTest);

}  // namespace
}  // namespace tovrik::sampledata
