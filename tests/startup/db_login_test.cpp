#include "startup/db_login.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace tovrik {
namespace {

class DbLoginTest : public testing::Test {
protected:
    void SetUp() override {
        state_.Settings.SettingsFolder = dir_.Str();
        state_.Settings.LoginUserName = "taro";
    }

    void SaveLogin(const std::string& key, const std::string& value) {
        SaveIniSetting(state_.Settings, "ZuzurodeZoz", "Login", key, value);
    }

    void UseServerFile(const std::string& host, const std::string& port) {
        state_.ServerFileMode = true;
        state_.ServerFileHost = host;
        state_.ServerFilePort = port;
        state_.ServerFileDbName = "DB1";
    }

    test::TempDir dir_;
    StartState state_;
};

TEST_F(DbLoginTest, WithoutServerFileTheSettingsGiveAllFour) {
    SaveLogin("DSN", "NuvralDSN");
    SaveLogin("DBN", "NUVRAL");
    SaveLogin("UID", "運行");
    SaveLogin("PWD", "pw");
    LoadDbLoginSettings(state_);
    EXPECT_EQ(state_.DbLogin.Server, "NuvralDSN");
    EXPECT_EQ(state_.DbLogin.Database, "NUVRAL");
    EXPECT_EQ(state_.DbLogin.UserId, "運行");
    EXPECT_EQ(state_.DbLogin.Password, "pw");
}

TEST_F(DbLoginTest, NoSettingsAtAllLeaveAllFourEmpty) {
    LoadDbLoginSettings(state_);
    EXPECT_EQ(state_.DbLogin.Server, "");
    EXPECT_EQ(state_.DbLogin.Database, "");
    EXPECT_EQ(state_.DbLogin.UserId, "");
    EXPECT_EQ(state_.DbLogin.Password, "");
}

TEST_F(DbLoginTest, EmptyHostKeepsThePrefixAndPort) {
    UseServerFile("", "1433");
    LoadDbLoginSettings(state_);
    EXPECT_EQ(state_.DbLogin.Server, "tcp:,1433");
}

struct PortCase {
    const char* Name;
    std::string Port;
    std::string Server;  // empty: the conversion fails
};

void PrintTo(const PortCase& row, std::ostream* out) { *out << row.Name; }

class PortTest : public DbLoginTest, public testing::WithParamInterface<PortCase> {};

// With a server file, host, port and database come from it (the settings' DSN and DBN are
// ignored) and the user from the settings.
TEST_P(PortTest, PortConvertsOrEndsTheRoutineQuietly) {
    SaveLogin("UID", "sa");
    SaveLogin("PWD", "secret");
    SaveLogin("DSN", "NuvralDSN");
    SaveLogin("DBN", "OtherDB");
    state_.DbLogin.Password = "earlier";
    UseServerFile("dbhost", GetParam().Port);
    LoadDbLoginSettings(state_);
    if (GetParam().Server.empty()) {
        // The fields after the port keep what they held.
        EXPECT_EQ(state_.DbLogin.Server, "tcp:dbhost");
        EXPECT_EQ(state_.DbLogin.Database, "");
        EXPECT_EQ(state_.DbLogin.UserId, "");
        EXPECT_EQ(state_.DbLogin.Password, "earlier");
    } else {
        EXPECT_EQ(state_.DbLogin.Server, GetParam().Server);
        EXPECT_EQ(state_.DbLogin.Database, "DB1");
        EXPECT_EQ(state_.DbLogin.UserId, "sa");
        EXPECT_EQ(state_.DbLogin.Password, "secret");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ports, PortTest,
    testing::Values(PortCase{"Plain", "1433", "tcp:dbhost,1433"},
                    PortCase{"Zero", "0", "tcp:dbhost"}, PortCase{"Negative", "-5", "tcp:dbhost"},
                    PortCase{"Empty", "", ""}, PortCase{"Letters", "abc", ""},
                    PortCase{"BlanksAndHalfToEven", " 1433.5 ", "tcp:dbhost,1434"},
                    PortCase{"HalfDownToEven", "1434.5", "tcp:dbhost,1434"},
                    PortCase{"Tabs", "\t1433\t", "tcp:dbhost,1433"},
                    PortCase{"Plus", "+1433", "tcp:dbhost,1433"},
                    PortCase{"Exponent", "1.433E3", "tcp:dbhost,1433"},
                    PortCase{"Hex", "&H599", "tcp:dbhost,1433"},
                    PortCase{"Largest", "2147483647", "tcp:dbhost,2147483647"},
                    PortCase{"TooLarge", "2147483648", ""},
                    PortCase{"RoundsOutOfRange", "2147483647.5", ""},
                    PortCase{"Smallest", "-2147483648.5", "tcp:dbhost"},
                    PortCase{"TrailingText", "1433x", ""}, PortCase{"BlankInside", "14 33", ""},
                    PortCase{"BlanksOnly", "   ", ""}, PortCase{"PointOnly", ".", ""}),
    [](const testing::TestParamInfo<PortCase>& row) { return row.param.Name; });

}  // namespace
}  // namespace tovrik
