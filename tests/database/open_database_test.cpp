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
#include <map>
#include <optional>
#include <vector>

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

// The 32-bit side of the system data sources: on Windows the registry of the Wine session,
// written as a 32-bit installer writes it, read through the system's own reader; elsewhere a
// stand-in with the same contents (the system has no such side there).
class Side32 {
public:
    void Register(const std::string& name, const std::string& driver,
                  const std::vector<std::pair<std::string, std::string>>& attributes) {
#ifdef _WIN32
        registrations_.push_back(std::make_unique<test::Registration32>(name, driver, attributes));
#else
        standIn_.Sources[name] = DataSourceDefinition{driver, attributes};
#endif
    }
    const DataSourceRegistry* Get() const {
#ifdef _WIN32
        return system_.get();
#else
        return &standIn_;
#endif
    }

private:
#ifdef _WIN32
    std::vector<std::unique_ptr<test::Registration32>> registrations_;
    std::unique_ptr<DataSourceRegistry> system_ = MakeSystemDataSourceRegistry();
#else
    struct StandIn final : DataSourceRegistry {
        std::optional<DataSourceDefinition> Find32BitSystemDataSource(
            const std::string& name) const override {
            const auto found = Sources.find(name);
            if (found == Sources.end()) return std::nullopt;
            return found->second;
        }
        std::map<std::string, DataSourceDefinition> Sources;
    } standIn_;
#endif
};

class OpenThrough32BitSideTest : public testing::Test {
protected:
    int Open(const DbLoginRecord& login) {
        return OpenDatabase(connection_, login, false, boxes_, side_.Get(), route_);
    }
    std::int64_t Marker() {
        auto marker = connection_->Prepare("SELECT ID FROM Marker");
        marker.Execute();
        EXPECT_TRUE(marker.Fetch());
        return marker.GetInt("ID").value_or(-1);
    }
    // A SQLite file whose table Marker holds the one row `id`.
    static void Mark(const test::SqliteSuiteDb& db, int id) {
        db.Connect()->Execute("CREATE TABLE Marker (ID INTEGER); INSERT INTO Marker VALUES (" +
                              std::to_string(id) + ")");
    }

    Side32 side_;
    test::RecordingMessageBoxes boxes_;
    std::unique_ptr<db::Connection> connection_;
    ConnectionRoute route_;
};

// Values with '=', blanks and Japanese reach the driver whole; the registration's DLL path does
// not reach it at all.
TEST_F(OpenThrough32BitSideTest, ADataSourceOnlyThe32BitSideHasIsReachedThroughItsRegistration) {
    test::TempDir dir;
    const auto file = dir.Path() / "運行 データ=1.db";
    test::WriteFile(file, "");
    db::Connection setUp;
    setUp.Open("Driver=SQLite3;Database=" + test::DriverPath(file) + ";");
    setUp.Execute("CREATE TABLE Marker (ID INTEGER); INSERT INTO Marker VALUES (32)");
    setUp.Close();
    const std::string name = test::UniqueName("Tovrik32Only");
    side_.Register(name, "SQLite3",
                   {{"Driver", "C:\\Windows\\SysWOW64\\sqlite3odbc.dll"},
                    {"Description", "Nuvral 運行 = 32 ビット"},
                    {"Database", test::DriverPath(file)}});

    ASSERT_EQ(Open({name, "", "", ""}), 0) << (boxes_.Shown.empty() ? "" : boxes_.Shown[0].Text);
    EXPECT_EQ(Marker(), 32);
    EXPECT_EQ(route_.Driver32, "SQLite3");
    EXPECT_EQ(route_.Advice, "");
    EXPECT_TRUE(boxes_.Shown.empty());
}

TEST_F(OpenThrough32BitSideTest, ANameOnBothSidesIsUsedAsThe64BitSideHasIt) {
    test::SqliteSuiteDb side64;
    test::SqliteSuiteDb side32;
    Mark(side64, 64);
    Mark(side32, 32);
    const DbLoginRecord login = side64.DsnLogin();
    side_.Register(login.Server, "SQLite3", {{"Database", test::DriverPath(side32.File())}});

    ASSERT_EQ(Open(login), 0);
    EXPECT_EQ(Marker(), 64);
    EXPECT_EQ(route_.Driver32, "");
}

// Item by item: what the box says after the driver manager's "not found".
TEST_F(OpenThrough32BitSideTest, A32BitOnlyDriverGetsTheAdviceAndANameRegisteredNowhereDoesNot) {
    const std::string name = test::UniqueName("Tovrik32Only");
    side_.Register(name, "Nuvral 32 ビット専用", {{"Server", "dbhost"}});
    const std::string advice = "データソース " + name +
                               " は 32 ビット側にだけ登録されていて、そのドライバー Nuvral 32 "
                               "ビット専用 には 64 ビット版がありません。32 ビット版 (x86) の "
                               "Tovrik を使ってください";
    EXPECT_EQ(Open({name, "u", "p", ""}), 1);
    EXPECT_EQ(connection_, nullptr);
    EXPECT_EQ(route_.Advice, advice);
    ASSERT_EQ(boxes_.Shown.size(), 1u);
    const std::string& text = boxes_.Shown[0].Text;
    EXPECT_EQ(text.rfind(kPrefix, 0), 0u) << text;
    EXPECT_NE(text.find("Data source name not found"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.rfind('\n') + 1), advice);

    boxes_.Shown.clear();
    EXPECT_EQ(Open({test::UniqueName("TovrikNowhere"), "u", "p", ""}), 1);
    EXPECT_EQ(route_.Driver32, "");
    EXPECT_EQ(route_.Advice, "");
    ASSERT_EQ(boxes_.Shown.size(), 1u);
    EXPECT_EQ(boxes_.Shown[0].Text.find("ビット"), std::string::npos) << boxes_.Shown[0].Text;
}

// The settings' user, password and database win over the registration's; when the second
// attempt reaches the server and fails there, the server's reason is what the box shows.
TEST_F(OpenThrough32BitSideTest, ThePostgresDriverIsReachedWithTheSettingsLogin) {
    test::PgSuiteDb db;
    const auto& server = test::PgServerInfo();
    const std::string name = test::UniqueName("Tovrik32Pg");
    side_.Register(name, "PostgreSQL Unicode",
                   {{"Servername", server.Host},
                    {"Port", std::to_string(server.Port)},
                    {"Database", server.Database},
                    {"UID", "nobody"}});

    ASSERT_EQ(Open({name, server.User, server.Password, db.Name()}), 0)
        << (boxes_.Shown.empty() ? "" : boxes_.Shown[0].Text);
    EXPECT_EQ(CurrentDatabase(*connection_), db.Name());
    EXPECT_EQ(route_.Driver32, "PostgreSQL Unicode");

    EXPECT_EQ(Open({name, server.User, "wrong", db.Name()}), 1);
    EXPECT_EQ(route_.Driver32, "PostgreSQL Unicode");
    EXPECT_EQ(route_.Advice, "");
    ASSERT_EQ(boxes_.Shown.size(), 1u);
    EXPECT_NE(boxes_.Shown[0].Text.find("password authentication failed"), std::string::npos)
        << boxes_.Shown[0].Text;
}

}  // namespace
}  // namespace tovrik
