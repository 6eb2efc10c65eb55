#include <gtest/gtest.h>
#ifdef _WIN32
#include <winsock2.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "database/open_database.h"
#include "support/test_support.h"

namespace tovrik {
namespace {

using test::RecordingMessageBoxes;

constexpr const char* kPrefix = "データベースに接続できません\n";

// A loopback port that nothing listens on: bound once, never listened on, released.
int ClosedLoopbackPort() {
#ifdef _WIN32
    WSADATA winsock{};
    WSAStartup(MAKEWORD(2, 2), &winsock);
    using socklen_t = int;
    const SOCKET fd = socket(AF_INET, SOCK_STREAM, 0);
    const auto close = [](SOCKET s) { closesocket(s); };
    const bool invalid = fd == INVALID_SOCKET;
#else
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const bool invalid = fd < 0;
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (invalid || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ADD_FAILURE() << "cannot reserve a loopback port";
    }
    close(fd);
    return ntohs(address.sin_port);
}

struct Outcome {
    int status;
    double seconds;
};

// Opens and times it; the time to fail is printed so that it shows in the test log.
Outcome TimedOpen(std::unique_ptr<db::Connection>& connection, const DbLoginRecord& login,
                  bool serverFileMode, MessageBoxes& boxes, const char* what) {
    const auto started = std::chrono::steady_clock::now();
    const int status = OpenDatabase(connection, login, serverFileMode, boxes);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::printf("time to %s (%s): %.3f s\n", status == 0 ? "open" : "fail", what, took.count());
    testing::Test::RecordProperty("seconds", std::to_string(took.count()));
    return {status, took.count()};
}

// The failure path, in time: status 1, one critical box with the driver's text, nothing open.
void ExpectFailureBox(const Outcome& outcome, const std::unique_ptr<db::Connection>& connection,
                      const RecordingMessageBoxes& boxes, const std::string& driverText,
                      double maxSeconds) {
    EXPECT_EQ(outcome.status, 1);
    EXPECT_LT(outcome.seconds, maxSeconds);
    EXPECT_EQ(connection, nullptr);
    ASSERT_EQ(boxes.Shown.size(), 1u);
    const auto& box = boxes.Shown.front();
    std::printf("box: %s\n", box.Text.c_str());
    EXPECT_EQ(box.Caption, "DB接続エラー");
    EXPECT_EQ(box.Icon, MessageIcon::Critical);
    EXPECT_EQ(box.Text.rfind(kPrefix, 0), 0u) << box.Text;
    EXPECT_NE(box.Text.find(driverText), std::string::npos) << box.Text;
    EXPECT_EQ(box.Text.find('\r'), std::string::npos);
}

std::string CurrentDatabase(db::Connection& connection) {
    auto statement = connection.Prepare("SELECT current_database() AS Name");
    statement.Execute();
    EXPECT_TRUE(statement.Fetch());
    return statement.GetText("Name").value_or("");
}

TEST(OpenDatabaseTest, DataSourceFormOpensTheRegisteredSqliteFile) {
    test::SqliteSuiteDb db;
    db.Connect()->Execute("CREATE TABLE Marker (ID INTEGER); INSERT INTO Marker VALUES (42)");
    RecordingMessageBoxes boxes;
    std::unique_ptr<db::Connection> connection;
    const DbLoginRecord login = db.DsnLogin();
    ASSERT_EQ(BuildConnectionString(login, false),
              "PROVIDER=MSDASQL;DSN=" + login.Server + ";UID=;PWD=;");
    ASSERT_EQ(TimedOpen(connection, login, false, boxes, "SQLite DSN").status, 0);
    ASSERT_TRUE(connection && connection->IsOpen());
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_EQ(connection->CommandTimeout(), 180);
    auto marker = connection->Prepare("SELECT ID FROM Marker");
    marker.Execute();
    ASSERT_TRUE(marker.Fetch());
    EXPECT_EQ(marker.GetInt("ID"), 42);
}

TEST(OpenDatabaseTest, DataSourceFormOpensThePostgresDatabaseNamed) {
    test::PgSuiteDb db;
    RecordingMessageBoxes boxes;
    std::unique_ptr<db::Connection> connection;
    ASSERT_EQ(TimedOpen(connection, db.DsnLogin(), false, boxes, "PostgreSQL DSN").status, 0);
    EXPECT_EQ(CurrentDatabase(*connection), db.Name());
    EXPECT_EQ(connection->DbmsName(), "PostgreSQL");
}

// A password holding ';', '=' and '}' reaches the driver whole and cannot add keywords.
TEST(OpenDatabaseTest, SpecialCharactersInAPasswordCannotInjectKeywords) {
    test::PgSuiteDb db;
    const auto& server = test::PgServerInfo();
    const std::string role = "tovrik_q_" + db.Name().substr(9);
    const std::string password = "pw;Database=postgres}x";
    auto admin = db.Connect();
    admin->Execute("CREATE ROLE " + role + " LOGIN PASSWORD '" + password + "'");
    RecordingMessageBoxes boxes;
    std::unique_ptr<db::Connection> connection;
    const int status =
        OpenDatabase(connection, {server.Dsn, role, password, db.Name()}, false, boxes);
    if (status == 0) {
        EXPECT_EQ(CurrentDatabase(*connection), db.Name());
        connection.reset();
    }
    admin->Execute("DROP ROLE " + role);
    ASSERT_EQ(status, 0) << (boxes.Shown.empty() ? "" : boxes.Shown.front().Text);
}

TEST(OpenDatabaseTest, WrongPostgresPasswordShowsTheDriversText) {
    test::PgSuiteDb db;
    DbLoginRecord login = db.DsnLogin();
    login.Password = "wrong";
    RecordingMessageBoxes boxes;
    std::unique_ptr<db::Connection> connection;
    const auto outcome = TimedOpen(connection, login, false, boxes, "wrong password");
    ExpectFailureBox(outcome, connection, boxes, "password authentication failed", 5.0);
}

TEST(OpenDatabaseTest, MissingDataSourceShowsTheDriverManagersText) {
    RecordingMessageBoxes boxes;
    std::unique_ptr<db::Connection> connection = std::make_unique<db::Connection>();
    const auto outcome =
        TimedOpen(connection, {"NoSuchTovrikDsn", "u", "p", ""}, false, boxes, "missing DSN");
    ExpectFailureBox(outcome, connection, boxes, "Data source name not found", 5.0);
}

// The driver form through FreeTDS registered as "SQL Server" (TDS version pinned in a private
// configuration), against a loopback port where nothing listens. FreeTDS does not know the "tcp:"
// prefix that the login loader writes, so that text fails at once.
TEST(OpenDatabaseTest, SqlServerFormAgainstAClosedPortFailsWithinSeconds) {
    test::TempDir dir;
    test::WriteFile(dir.Path() / "freetds.conf",
                    "[global]\n\ttds version = 7.4\n\tconnect timeout = 5\n\ttimeout = 5\n");
    // Under Wine the driver reads the environment the process started with, so this reaches
    // it on Linux only; against a closed port FreeTDS fails at once without the pin as well.
    test::SetEnv("FREETDSCONF", (dir.Path() / "freetds.conf").string());
    const std::string address = "127.0.0.1," + std::to_string(ClosedLoopbackPort());
    for (const DbLoginRecord& login : {DbLoginRecord{address, "sa", "pw", "Nuvral"},
                                       DbLoginRecord{"tcp:" + address, "sa", "pw", ""}}) {
        SCOPED_TRACE(login.Server);
        RecordingMessageBoxes boxes;
        std::unique_ptr<db::Connection> connection;
        const auto outcome = TimedOpen(connection, login, true, boxes, login.Server.c_str());
        ExpectFailureBox(outcome, connection, boxes, "Unable to connect", 10.0);
    }
}

#ifdef _WIN32
// A data source registered on the 32-bit side of the Wine session's registry only, reached
// through the system's reader; the 64-bit side is the host's unixODBC there.
class OpenThrough32BitSideTest : public testing::Test {
protected:
    int Open(const DbLoginRecord& login) {
        return OpenDatabase(connection_, login, false, boxes_, side32_.get(), route_);
    }
    std::int64_t Marker() {
        auto marker = connection_->Prepare("SELECT ID FROM Marker");
        marker.Execute();
        EXPECT_TRUE(marker.Fetch());
        return marker.GetInt("ID").value_or(-1);
    }
    static void Mark(const std::string& connectionString, int id) {
        db::Connection connection;
        connection.Open(connectionString);
        connection.Execute("CREATE TABLE Marker (ID INTEGER); INSERT INTO Marker VALUES (" +
                           std::to_string(id) + ")");
    }

    std::unique_ptr<DataSourceRegistry> side32_ = MakeSystemDataSourceRegistry();
    test::RecordingMessageBoxes boxes_;
    std::unique_ptr<db::Connection> connection_;
    ConnectionRoute route_;
};

// Values with '=', blanks and Japanese reach the driver whole; the registration's DLL path does
// not reach it at all.
TEST_F(OpenThrough32BitSideTest, ADataSourceOnlyThe32BitSideHasIsReachedThroughItsRegistration) {
    test::TempDir dir;
    const std::string file = test::DriverPath(dir.Path() / "運行 データ=1.db");
    Mark("Driver=SQLite3;Database=" + file + ";", 32);
    const std::string name = test::UniqueName("Tovrik32Only");
    test::Register32BitSystemDsn(name, "SQLite3",
                                 {{"Driver", "C:\\Windows\\SysWOW64\\sqlite3odbc.dll"},
                                  {"Description", "Nuvral 運行 = 32 ビット"},
                                  {"Database", file}});

    ASSERT_EQ(Open({name, "", "", ""}), 0) << (boxes_.Shown.empty() ? "" : boxes_.Shown[0].Text);
    EXPECT_EQ(Marker(), 32);
    EXPECT_EQ(route_.Driver32, "SQLite3");
    EXPECT_TRUE(boxes_.Shown.empty());
}

TEST_F(OpenThrough32BitSideTest, ANameOnBothSidesIsUsedAsThe64BitSideHasIt) {
    test::SqliteSuiteDb side64;
    test::SqliteSuiteDb side32;
    Mark(side64.ConnectionString(), 64);
    Mark(side32.ConnectionString(), 32);
    const DbLoginRecord login = side64.DsnLogin();
    test::Register32BitSystemDsn(login.Server, "SQLite3",
                                 {{"Database", test::DriverPath(side32.File())}});

    ASSERT_EQ(Open(login), 0);
    EXPECT_EQ(Marker(), 64);
    EXPECT_EQ(route_.Driver32, "");
}
#endif

}  // namespace
}  // namespace tovrik
