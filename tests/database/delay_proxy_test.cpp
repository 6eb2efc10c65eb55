#include "delayproxy/delay_proxy.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "database/odbc.h"
#include "support/test_support.h"

namespace tovrik::delayproxy {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// 200,000 rows of about 50 bytes on the wire: some 10 MB, over 150 reads of 64 KiB at most.
constexpr const char* kLargeResult =
    "SELECT g AS N, md5(g::text) AS H FROM generate_series(1, 200000) g ORDER BY g";

// The private PostgreSQL server behind a proxy, and connections to a fresh database through it.
class DelayProxyTest : public testing::Test {
protected:
    std::unique_ptr<db::Connection> Connect(const DelayProxy& through,
                                            int loginTimeout = 15) const {
        const test::PgServer& server = test::PgServerInfo();
        auto connection = std::make_unique<db::Connection>();
        connection->SetLoginTimeout(loginTimeout);
        connection->Open("Driver={PostgreSQL Unicode};Servername=127.0.0.1;Port=" +
                         std::to_string(through.Port()) + ";Database=" + db_.Name() +
                         ";UID=" + server.User + ";PWD=" + server.Password + ";");
        return connection;
    }
    // Whether a statement containing `text` is running on the server.
    bool Running(const std::string& text) {
        auto statement = direct_->Prepare(
            "SELECT COUNT(*) AS N FROM pg_stat_activity WHERE state = 'active' AND "
            "pid <> pg_backend_pid() AND query LIKE ?");
        statement.BindText(1, "%" + text + "%");
        statement.Execute();
        return statement.Fetch() && statement.GetInt("N").value_or(0) > 0;
    }

    test::PgSuiteDb db_;
    std::unique_ptr<db::Connection> direct_ = db_.Connect();
};

// Reads the large result and checks every row, so a lost, doubled or reordered byte shows.
void ExpectLargeResultIntact(db::Connection& connection, const std::vector<std::string>& hashes) {
    auto statement = connection.Prepare(kLargeResult);
    statement.Execute();
    std::size_t rows = 0;
    while (statement.Fetch()) {
        ASSERT_LT(rows, hashes.size());
        ASSERT_EQ(statement.GetInt("N"), static_cast<std::int64_t>(rows + 1));
        ASSERT_EQ(statement.GetText("H"), hashes[rows]);
        ++rows;
    }
    EXPECT_EQ(rows, hashes.size());
}

std::vector<std::string> ReadHashes(db::Connection& connection) {
    std::vector<std::string> hashes;
    auto statement = connection.Prepare(kLargeResult);
    statement.Execute();
    while (statement.Fetch()) hashes.push_back(*statement.GetText("H"));
    return hashes;
}

TEST_F(DelayProxyTest, EachRoundTripTakesAtLeastTheRttSetAtThatTime) {
    DelayProxy proxy("127.0.0.1", test::PgServerInfo().Port, 0us);
    auto connection = Connect(proxy);
    proxy.SetRtt(300ms);
    EXPECT_EQ(proxy.Rtt(), 300ms);
    const auto start = SteadyClock::now();
    TOVRIK_ASSERT_DB(connection->Execute("SELECT 1"));
    EXPECT_GE(SteadyClock::now() - start, 300ms);
    EXPECT_EQ(proxy.Accepted(), 1);
}

// The login timeout bounds the open alone: afterwards a request that is no query execution (here
// a commit) is bounded by nothing but the command timeout, however far away the server is.
// psqlODBC ignores the connection timeout, so only a driver that applies it to such requests
// (Microsoft's) fails this when the open leaves it set.
TEST_F(DelayProxyTest, ACommitSlowerThanTheLoginTimeoutSucceeds) {
    DelayProxy proxy("127.0.0.1", test::PgServerInfo().Port, 0us);
    auto connection = Connect(proxy, 1);
    direct_->Execute("CREATE TABLE T (N INTEGER)");
    db::Transaction transaction(*connection);
    TOVRIK_ASSERT_DB(connection->Execute("INSERT INTO T (N) VALUES (1)"));
    proxy.SetRtt(3s);
    TOVRIK_ASSERT_DB(transaction.Commit());
    EXPECT_EQ(direct_->Execute("UPDATE T SET N = N"), 1);
}

// Delays overlap instead of adding up: through a 200 ms RTT a result of over 150 reads arrives a
// few RTTs later than directly, not the 15 s or more it would take if each read waited behind the
// one before.
TEST_F(DelayProxyTest, LargeTransfersArriveIntactBothWaysWithoutWaitingPerRead) {
    auto start = SteadyClock::now();
    const std::vector<std::string> hashes = ReadHashes(*direct_);
    const auto direct = SteadyClock::now() - start;
    DelayProxy proxy("localhost", test::PgServerInfo().Port, 200ms);
    auto connection = Connect(proxy);

    start = SteadyClock::now();
    ExpectLargeResultIntact(*connection, hashes);
    EXPECT_LT(SteadyClock::now() - start, direct + 10s);

    // Upstream: a 3 MB parameter that the server compares with its own copy.
    std::string text;
    for (const auto& hash : hashes) {
        if (text.size() > 3'000'000) break;
        text += hash;
    }
    direct_->Execute("CREATE TABLE T (Body TEXT)");
    auto insert = connection->Prepare("INSERT INTO T (Body) VALUES (?)");
    insert.BindText(1, text);
    TOVRIK_ASSERT_DB(insert.Execute());
    auto same = direct_->Prepare(
        "SELECT COUNT(*) AS N FROM T WHERE Body = (SELECT string_agg(md5(g::text), '' ORDER BY g) "
        "FROM generate_series(1, ?) g)");
    same.BindInt(1, static_cast<std::int64_t>(text.size() / 32));
    same.Execute();
    ASSERT_TRUE(same.Fetch());
    EXPECT_EQ(same.GetInt("N"), 1);
}

TEST_F(DelayProxyTest, ConcurrentClientsEachGetTheirOwnServerConnection) {
    constexpr int kClients = 4;
    constexpr int kRowsEach = 20;
    direct_->Execute("CREATE TABLE T (Client INTEGER, N INTEGER)");
    DelayProxy proxy("127.0.0.1", test::PgServerInfo().Port, 10ms);
    std::vector<std::unique_ptr<db::Connection>> connections;
    for (int i = 0; i < kClients; ++i) connections.push_back(Connect(proxy));
    EXPECT_EQ(proxy.Accepted(), kClients);

    // All insert, then all count, then all commit: each client, a server session of its own,
    // sees its own uncommitted rows and none of the others'.
    std::barrier step(kClients);
    std::vector<std::thread> clients;
    std::vector<std::int64_t> counted(kClients, -1);
    std::vector<std::string> failures(kClients);
    for (int client = 0; client < kClients; ++client) {
        clients.emplace_back([&, client] {
            const auto index = static_cast<std::size_t>(client);
            db::Connection& connection = *connections[index];
            try {
                db::Transaction transaction(connection);
                auto insert = connection.Prepare("INSERT INTO T (Client, N) VALUES (?, ?)");
                for (int n = 0; n < kRowsEach; ++n) {
                    insert.BindInt(1, client);
                    insert.BindInt(2, n);
                    insert.Execute();
                }
                step.arrive_and_wait();
                auto count = connection.Prepare("SELECT COUNT(*) AS N FROM T");
                count.Execute();
                if (count.Fetch()) counted[index] = *count.GetInt("N");
                count.CloseCursor();
                step.arrive_and_wait();
                transaction.Commit();
            } catch (const db::DbError& error) {
                failures[index] = test::Describe(error);
                step.arrive_and_drop();  // the others go on without this client
            }
        });
    }
    for (auto& client : clients) client.join();
    EXPECT_EQ(failures, std::vector<std::string>(kClients));
    EXPECT_EQ(counted, std::vector<std::int64_t>(kClients, kRowsEach));
    EXPECT_EQ(direct_->Execute("UPDATE T SET N = N"), kClients * kRowsEach);
}

// A client waiting for a long statement and one in the middle of a large result both see their
// connection fail; the proxy's destructor waits for neither the statement nor the transfer.
TEST_F(DelayProxyTest, ShutdownWithAStatementInFlightAndATransferUnderwayDoesNotHang) {
    const std::vector<std::string> hashes = ReadHashes(*direct_);
    auto proxy = std::make_unique<DelayProxy>("127.0.0.1", test::PgServerInfo().Port, 100ms);
    auto waiting = Connect(*proxy);
    auto reading = Connect(*proxy);
    std::atomic<bool> waitingFailed{false}, readingFailed{false}, readOnce{false};
    std::thread waiter([&] {
        try {
            waiting->Execute("SELECT pg_sleep(60)");
        } catch (const db::DbError&) {
            waitingFailed = true;
        }
    });
    std::thread reader([&] {
        try {
            for (;;) {
                auto statement = reading->Prepare(kLargeResult);
                statement.Execute();
                while (statement.Fetch()) {
                }
                readOnce = true;
            }
        } catch (const db::DbError&) {
            readingFailed = true;
        }
    });
    while (!readOnce || !Running("pg_sleep(60)")) std::this_thread::sleep_for(20ms);

    const auto start = SteadyClock::now();
    proxy.reset();
    const auto closing = SteadyClock::now() - start;
    waiter.join();
    reader.join();
    EXPECT_LT(closing, 10s);
    EXPECT_TRUE(waitingFailed);
    EXPECT_TRUE(readingFailed);
    // The server itself is unaffected: a direct connection still works.
    EXPECT_NO_THROW(ExpectLargeResultIntact(*direct_, hashes));
}

}  // namespace
}  // namespace tovrik::delayproxy
