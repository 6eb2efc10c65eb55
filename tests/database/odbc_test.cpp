#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <thread>

#include "database/odbc.h"
#include "support/test_support.h"

namespace tovrik::db {
namespace {

using test::BackendTest;

class OdbcTest : public BackendTest {
protected:
    void CreateTable() {
        Conn().Execute(std::string("CREATE TABLE T (ID INTEGER PRIMARY KEY, At ") +
                       (IsPostgres() ? "TIMESTAMP(3)" : "DATETIME") + ", Name VARCHAR(100))");
    }
    std::int64_t Count(const std::string& where = "1=1") {
        auto statement = Conn().Prepare("SELECT COUNT(*) AS N FROM T WHERE " + where);
        statement.Execute();
        EXPECT_TRUE(statement.Fetch());
        return statement.GetInt("N").value_or(-1);
    }
    void Insert(std::int64_t id, const std::string& name) {
        auto statement = Conn().Prepare("INSERT INTO T (ID, Name) VALUES (?, ?)");
        statement.BindInt(1, id);
        statement.BindText(2, name);
        statement.Execute();
    }
};

// Values are stored and read back as plain calendar fields, whatever the process's zone: the
// spring gap of Europe/Berlin (02:00-03:00 on 2019-03-31) does not exist in local time.
TEST_P(OdbcTest, DateTimesRoundTripExactlyUnderADstZone) {
    test::SetEnv("TZ", "Europe/Berlin");
    tzset();
    CreateTable();
    const DateTime values[] = {
        {2019, 3, 31, 2, 30, 0, 123'000'000},  // in the spring gap
        {2019, 10, 27, 2, 30, 0, 0},           // the hour that happens twice
        {1999, 8, 16, 0, 0, 0, 0},             // a rollover date
        {2000, 2, 29, 23, 59, 59, 999'000'000},
        {2008, 1, 1, 0, 0, 0, 1'000'000},
    };
    auto insert = Conn().Prepare("INSERT INTO T (ID, At) VALUES (?, ?)");
    for (int i = 0; i < 5; ++i) {
        insert.BindInt(1, i);
        insert.BindDateTime(2, values[i]);
        TOVRIK_ASSERT_DB(insert.Execute());
    }
    auto select = Conn().Prepare("SELECT ID, At FROM T ORDER BY ID");
    TOVRIK_ASSERT_DB(select.Execute());
    for (const auto& expected : values) {
        ASSERT_TRUE(select.Fetch());
        EXPECT_EQ(select.GetDateTime("At"), expected) << FormatIso(expected);
    }
    EXPECT_FALSE(select.Fetch());

    // A bound value finds its own row again, the spring-gap one included.
    auto find = Conn().Prepare("SELECT ID FROM T WHERE At = ?");
    find.BindDateTime(1, values[0]);
    find.Execute();
    ASSERT_TRUE(find.Fetch());
    EXPECT_EQ(find.GetInt("ID"), 0);
}

TEST_P(OdbcTest, ColumnsAreFoundByNameInAnyCaseAndNullIsEmpty) {
    CreateTable();
    Conn().Execute("INSERT INTO T (ID, Name) VALUES (7, 'seven')");
    auto statement = Conn().Prepare("SELECT ID, At, Name FROM T");
    statement.Execute();
    ASSERT_TRUE(statement.Fetch());
    EXPECT_EQ(statement.GetText("NAME"), "seven");
    EXPECT_EQ(statement.GetInt("id"), 7);
    EXPECT_EQ(statement.GetDateTime("at"), std::nullopt);
    EXPECT_THROW(statement.GetInt("Missing"), DbError);
    EXPECT_THROW(statement.GetDateTime("Name"), DbError);
}

TEST_P(OdbcTest, ExecuteReturnsTheRowsChanged) {
    CreateTable();
    for (int i = 1; i <= 3; ++i) Insert(i, "n");
    EXPECT_EQ(Conn().Execute("UPDATE T SET Name = 'm' WHERE ID >= 2"), 2);
    EXPECT_EQ(Conn().Execute("UPDATE T SET Name = 'm' WHERE ID > 99"), 0);
    auto update = Conn().Prepare("UPDATE T SET At = ? WHERE ID = ?");
    update.BindDateTime(1, DateTime{2019, 4, 1, 0, 0, 0, 0});
    update.BindInt(2, 1);
    EXPECT_EQ(update.Execute(), 1);
    update.BindNull(1);
    EXPECT_EQ(update.Execute(), 1);
    EXPECT_EQ(Count("At IS NULL"), 3);
}

TEST_P(OdbcTest, JapaneseTextArrivesIntact) {
    CreateTable();
    // unixODBC carries text to drivers without wide entry points (SQLite) as UCS-2, so
    // characters beyond the BMP reach only Unicode drivers intact.
    const std::string text = std::string("運行データ（修正）") + (IsPostgres() ? "𠮷" : "");
    Insert(1, text);
    Conn().Execute("INSERT INTO T (ID, Name) VALUES (2, '" + text + "')");
    auto statement = Conn().Prepare("SELECT Name FROM T ORDER BY ID");
    statement.Execute();
    ASSERT_TRUE(statement.Fetch());
    EXPECT_EQ(statement.GetText("Name"), text);
    ASSERT_TRUE(statement.Fetch());
    EXPECT_EQ(statement.GetText("Name"), text);
}

TEST_P(OdbcTest, ErrorsCarryTheDriversTrimmedTextAndCodes) {
    try {
        Conn().Execute("SELECT * FROM NoSuchTable");
        FAIL() << "no error";
    } catch (const DbError& error) {
        ASSERT_FALSE(error.Records().empty());
        const std::string text = error.what();
        EXPECT_NE(text.find(IsPostgres() ? "nosuchtable" : "NoSuchTable"), std::string::npos)
            << text;
        EXPECT_EQ(text.find("Error while executing the query"), std::string::npos) << text;
        EXPECT_NE(text.back(), '\n');
        EXPECT_NE(text.back(), ';');
        EXPECT_EQ(error.SqlState().size(), 5u);
        if (IsPostgres()) {
            EXPECT_EQ(error.SqlState(), "42P01");
        }
    }
}

TEST_P(OdbcTest, RollbackRestoresTheRows) {
    CreateTable();
    for (int i = 1; i <= 3; ++i) Insert(i, "kept");
    Conn().BeginTransaction();
    Conn().Execute("UPDATE T SET Name = 'changed'");
    Conn().Execute("DELETE FROM T WHERE ID = 2");
    Insert(4, "new");
    EXPECT_EQ(Count(), 3);
    Conn().Rollback();
    EXPECT_FALSE(Conn().InTransaction());
    EXPECT_EQ(Count("Name = 'kept'"), 3);
    EXPECT_EQ(Count(), 3);
    // Autocommit is back: a later change stays without a commit, seen from another connection.
    Insert(5, "later");
    EXPECT_EQ(Db().Connect()->Execute("UPDATE T SET Name = 'x' WHERE ID = 5"), 1);
}

TEST_P(OdbcTest, TransactionScopeRollsBackUnlessCommitted) {
    CreateTable();
    try {
        Transaction transaction(Conn());
        Insert(1, "lost");
        throw std::runtime_error("fails half-way");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(Conn().InTransaction());
    EXPECT_EQ(Count(), 0);
    {
        Transaction transaction(Conn());
        Insert(2, "kept");
        transaction.Commit();
    }
    {
        Transaction transaction(Conn());
        EXPECT_THROW({ Transaction nested(Conn()); }, DbError);  // no nesting
        Insert(3, "left without commit");
    }
    EXPECT_EQ(Count(), 1);
}

TEST_P(OdbcTest, CloseRollsBackAnOpenTransactionAndDetachesStatements) {
    CreateTable();
    Insert(1, "kept");
    auto reader = Conn().Prepare("SELECT ID FROM T");
    Conn().BeginTransaction();
    Conn().Execute("DELETE FROM T");
    Conn().Close();
    EXPECT_FALSE(Conn().IsOpen());
    EXPECT_THROW(reader.Execute(), DbError);
    Conn().Close();  // harmless twice
    EXPECT_EQ(Db().Connect()->Execute("UPDATE T SET Name = 'still here'"), 1);
}

// Cancel comes from another thread while this one waits for the server; every later statement
// is refused until the cancel is reset, and the connection stays usable for a rollback and a
// whole transaction after it. SQLite's statement runs to its end.
TEST_P(OdbcTest, CancelStopsTheStatementInFlightAndRefusesTheNextOnes) {
    CreateTable();
    Conn().BeginTransaction();
    Insert(1, "kept until the rollback");
    const std::string slow = IsPostgres()
                                 ? "SELECT pg_sleep(30)"
                                 : "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n "
                                   "WHERE i<1000000) SELECT COUNT(*) FROM n";
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Conn().Cancel();
    });
    const auto started = std::chrono::steady_clock::now();
    if (IsPostgres()) {
        EXPECT_THROW(Conn().Execute(slow), DbError);
    } else {
        EXPECT_NO_THROW(Conn().Execute(slow));
    }
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    try {
        Conn().Execute("DELETE FROM T");
        ADD_FAILURE() << "a statement ran after the cancel";
    } catch (const DbError& error) {
        EXPECT_EQ(error.SqlState(), "HY008");
    }
    EXPECT_NO_THROW(Conn().Rollback());
    Conn().ResetCancel();
    EXPECT_EQ(Count(), 0);
    {
        Transaction transaction(Conn());
        Insert(2, "rolled back with its scope");
    }
    EXPECT_EQ(Count(), 0);
}

// A batch answers with one row count per statement (each update of a chunk is checked on its
// own); a failing statement fails the batch.
TEST_P(OdbcTest, BatchesCountEachStatement) {
    CreateTable();
    for (int id = 1; id <= 5; ++id) Insert(id, "n" + std::to_string(id));
    if (!Conn().CountsEveryBatchStatement()) {
        EXPECT_FALSE(IsPostgres()) << "psqlODBC counts every statement of a batch";
        return;
    }
    std::vector<std::int64_t> counts;
    TOVRIK_ASSERT_DB(counts = Conn().ExecuteBatch("UPDATE T SET Name='a' WHERE ID<=3;\n"
                                                  "UPDATE T SET Name='b' WHERE ID>99;\n"
                                                  "UPDATE T SET Name='c' WHERE ID>=4"));
    EXPECT_EQ(counts, (std::vector<std::int64_t>{3, 0, 2}));
    EXPECT_EQ(Count("Name='c'"), 2);
    Conn().BeginTransaction();
    EXPECT_THROW(Conn().ExecuteBatch("UPDATE T SET Name='d';\nUPDATE NoSuchTable SET X=1"),
                 DbError);
    Conn().Rollback();
    EXPECT_EQ(Count("Name='d'"), 0);
}

// Every execution and every transaction end is one round trip, failed ones too; preparing,
// fetching and beginning a transaction are not counted.
TEST_P(OdbcTest, CountsEveryStatementAndTransactionEndSent) {
    CreateTable();
    const std::uint64_t before = Conn().StatementsSent();
    auto insert = Conn().Prepare("INSERT INTO T (ID, Name) VALUES (?, 'n')");
    EXPECT_EQ(Conn().StatementsSent(), before);
    Conn().BeginTransaction();
    for (int id = 1; id <= 3; ++id) {
        insert.BindInt(1, id);
        insert.Execute();
    }
    Conn().Commit();
    EXPECT_EQ(Conn().StatementsSent(), before + 4);
    EXPECT_EQ(Count(), 3);  // one more: the count's SELECT
    EXPECT_THROW(Conn().Execute("SELECT * FROM NoSuchTable"), DbError);
    { Transaction rolledBack(Conn()); }
    EXPECT_EQ(Conn().StatementsSent(), before + 7);
}

TEST_P(OdbcTest, ReportsTheKindOfServer) {
    EXPECT_EQ(Conn().DbmsName(), IsPostgres() ? "PostgreSQL" : "SQLite");
}

TOVRIK_BACKEND_TEST_SUITE(OdbcTest);

class PostgresOdbcTest : public testing::Test {
protected:
    void SetUp() override { connection_ = db_.Connect(); }
    test::PgSuiteDb db_;
    std::unique_ptr<Connection> connection_;
};

TEST_F(PostgresOdbcTest, JapaneseErrorTextArrivesIntact) {
    try {
        connection_->Execute("DO $$BEGIN RAISE EXCEPTION '運行データが見つかりません'; END$$");
        FAIL() << "no error";
    } catch (const DbError& error) {
        EXPECT_NE(std::string(error.what()).find("運行データが見つかりません"), std::string::npos)
            << test::Describe(error);
        EXPECT_EQ(error.SqlState(), "P0001");
    }
}

TEST_F(PostgresOdbcTest, CommandTimeoutCancelsALongStatement) {
    connection_->SetCommandTimeout(1);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(connection_->Execute("SELECT pg_sleep(20)"), DbError);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    connection_->SetCommandTimeout(180);
    EXPECT_NO_THROW(connection_->Execute("CREATE TABLE AfterCancel (X INTEGER)"));
}

TEST_F(PostgresOdbcTest, MicrosecondFractionsRoundTrip) {
    connection_->Execute("CREATE TABLE T (At TIMESTAMP)");
    const DateTime value{2019, 3, 31, 2, 30, 15, 123'456'000};
    auto insert = connection_->Prepare("INSERT INTO T VALUES (?)");
    insert.BindDateTime(1, value);
    insert.Execute();
    auto select = connection_->Prepare("SELECT At FROM T");
    select.Execute();
    ASSERT_TRUE(select.Fetch());
    EXPECT_EQ(select.GetDateTime("At"), value);
}

}  // namespace
}  // namespace tovrik::db
