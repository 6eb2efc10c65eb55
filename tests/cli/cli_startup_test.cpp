// tovrik-cli before it reaches a database: bad arguments, and the start-up failures that end
// it with status 2.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "common/build_info.h"
#include "platform/platform.h"

namespace tovrik::test {
namespace {

struct UsageCase {
    const char* name;
    std::vector<std::string> arguments;
    const char* explanation;
};

void PrintTo(const UsageCase& value, std::ostream* out) { *out << value.name; }

class CliUsage : public testing::TestWithParam<UsageCase> {};

TEST_P(CliUsage, IsOneLineOnStandardErrorWithStatus64AndTouchesNothing) {
    CliSandbox sandbox;
    const CliResult result = sandbox.Run(GetParam().arguments);
    EXPECT_EQ(result.Status, 64);
    EXPECT_EQ(result.Out, "");
    EXPECT_EQ(result.Err.rfind("tovrik-cli: ", 0), 0u) << result.Err;
    EXPECT_NE(result.Err.find(GetParam().explanation), std::string::npos) << result.Err;
    EXPECT_NE(result.Err.find("使い方: tovrik-cli --from YYYY/MM --to YYYY/MM"), std::string::npos);
    EXPECT_EQ(result.Err.find('\n'), result.Err.size() - 1) << "not one line: " << result.Err;
    // Arguments are checked before start-up: not even the settings folder is created.
    EXPECT_FALSE(std::filesystem::exists(sandbox.SettingsFolder()));
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliUsage,
    testing::Values(UsageCase{"MissingTo", {"--from", "2019/04"}, "--to の月がありません"},
                    UsageCase{"MonthThirteen",
                              {"--from", "2019/13", "--to", "2019/04"},
                              "--from の値 \"2019/13\""},
                    UsageCase{"NotAMonth",
                              {"--from", "2019/04", "--to", "last month"},
                              "--to の値 \"last month\""}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(CliStartup, HelpPrintsTheUsageAndSucceeds) {
    CliSandbox sandbox;
    const CliResult result = sandbox.Run({"--help"});
    EXPECT_EQ(result.Status, 0);
    EXPECT_EQ(result.Out.rfind("使い方: tovrik-cli --from YYYY/MM --to YYYY/MM [--dry-run]\n", 0),
              0u);
    EXPECT_EQ(result.Err, "");
}

TEST(CliStartup, VersionPrintsVersionAndBuildDateBeforeAnyStartUpStep) {
    CliSandbox sandbox;
    const CliResult result = sandbox.Run({"--version"});
    EXPECT_EQ(result.Status, 0);
    EXPECT_EQ(result.Out.rfind("tovrik-cli " + std::string(ProgramVersion()) + "\n", 0), 0u)
        << result.Out;
    EXPECT_NE(result.Out.find(BuildDate()), std::string::npos) << result.Out;
    EXPECT_EQ(result.Err, "");
    EXPECT_FALSE(std::filesystem::exists(sandbox.SettingsFolder()));
}

TEST(CliStartup, AnotherCopyRunningEndsWithStatus2) {
    CliSandbox sandbox;
    sandbox.WriteLoginSettings("TovrikCliNoSuchDsn", "cliuser", "cli-Secret-4711");
    // The window holds the same guard: the lock file in the runtime folder.
    class RuntimeOnly final : public Environment {
    public:
        explicit RuntimeOnly(std::string folder) : folder_(std::move(folder)) {}
        std::optional<std::string> Get(const std::string& name) const override {
            if (name == "XDG_RUNTIME_DIR") return folder_;
            return std::nullopt;
        }

    private:
        std::string folder_;
    } environment(sandbox.RuntimeFolder());
    auto guard = MakeSystemInstanceGuard(environment);
    ASSERT_FALSE(guard->AnotherInstanceRunning());

    const CliResult result = sandbox.Run({"--from", "2019/04", "--to", "2019/04"});
    EXPECT_EQ(result.Status, 2);
    EXPECT_EQ(result.Out, "");
    EXPECT_NE(result.Err.find("既に実行中"), std::string::npos) << result.Err;
    EXPECT_EQ(result.Err.find("DB接続エラー"), std::string::npos) << "the database was tried";

    guard.reset();
    const CliResult afterwards = sandbox.Run({"--from", "2019/04", "--to", "2019/04"});
    EXPECT_EQ(afterwards.Status, 2);
    EXPECT_NE(afterwards.Err.find("DB接続エラー"), std::string::npos) << afterwards.Err;
}

struct ConnectionCase {
    const char* Name;
    std::map<std::string, std::string> DataSource;  // empty: none registered
    const char* DriverText;                         // what the driver manager says
};

void PrintTo(const ConnectionCase& value, std::ostream* out) { *out << value.Name; }

class CliConnection : public testing::TestWithParam<ConnectionCase> {};

// Without a usable data source or driver the start-up ends with status 2 after the box that
// carries the driver manager's own text.
TEST_P(CliConnection, MissingPieceEndsWithStatus2AndTheDriverManagersText) {
    CliSandbox sandbox;
    if (!GetParam().DataSource.empty()) {
        sandbox.AddDataSource("TovrikCliBroken", GetParam().DataSource);
    }
    sandbox.WriteLoginSettings("TovrikCliBroken", "cliuser", "cli-Secret-4711");
    const CliResult result = sandbox.Run({"--from", "2019/04", "--to", "2019/04"});
    EXPECT_EQ(result.Status, 2);
    EXPECT_EQ(result.Out, "");
    EXPECT_NE(result.Err.find("DB接続エラー: データベースに接続できません\n"), std::string::npos)
        << result.Err;
    EXPECT_NE(result.Err.find(GetParam().DriverText), std::string::npos) << result.Err;
    EXPECT_EQ(result.Err.find("cli-Secret-4711"), std::string::npos) << result.Err;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliConnection,
    testing::Values(ConnectionCase{"MissingDataSource", {}, "Data source name not found"},
                    // A data source whose driver library is gone (uninstalled, or a 32-bit one).
                    ConnectionCase{
                        "MissingDriver",
                        {{"Driver", "/nonexistent/libTovrikNoSuchDriver.so"}, {"Database", "x"}},
                        "libTovrikNoSuchDriver.so"}),
    [](const auto& testCase) { return std::string(testCase.param.Name); });

// A path as the program shows it: with backslashes on Windows.
std::string NativeSeparators(std::string path) {
#ifdef _WIN32
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}

// The settings cannot be written: the permission text as the window shows it, then one line
// with the path at fault and the system's reason.
struct UnwritableCase {
    const char* Name;
    void (*Arrange)(CliSandbox& sandbox);
    std::string Cause;  // "<documents>" stands for the sandbox's public/Documents folder
};

void PrintTo(const UnwritableCase& row, std::ostream* out) { *out << row.Name; }

class CliUnwritableSettings : public testing::TestWithParam<UnwritableCase> {};

TEST_P(CliUnwritableSettings, EndWithThePermissionMessageAndTheCause) {
    CliSandbox sandbox;
    GetParam().Arrange(sandbox);
    const CliResult result = sandbox.Run({"--from", "2019/04", "--to", "2019/04"});
    std::string cause = NativeSeparators(GetParam().Cause);
    const std::string documents = NativeSeparators(sandbox.Dir().Str() + "/public/Documents");
    for (auto at = cause.find("<documents>"); at != std::string::npos;
         at = cause.find("<documents>")) {
        cause.replace(at, 11, documents);
    }
    EXPECT_EQ(result.Status, 2);
    EXPECT_EQ(result.Out, "");
    EXPECT_EQ(result.Err,
              "Tovrik: 運行解析の設定書込み権限がありません。\n\n"
              "Windowsログインユーザーの権限を確認してください。\n\n"
              "運行解析を終了します。[OK] を押してください。\n"
              "tovrik-cli: " +
                  cause + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliUnwritableSettings,
    testing::Values(
        // A file where the settings folder belongs: nothing can be written there, even by root.
        UnwritableCase{"FileInPlaceOfTheFolder",
                       [](CliSandbox& sandbox) { WriteFile(sandbox.SettingsFolder(), ""); },
                       "設定フォルダー <documents>/TachographIni を作成できません: File exists"},
        UnwritableCase{"PublicWithoutDocuments",
                       [](CliSandbox& sandbox) {
                           std::filesystem::remove(sandbox.Dir().Path() / "public" / "Documents");
                       },
                       "設定フォルダー <documents>/TachographIni を作成できません: <documents>: No "
                       "such file or directory"},
        UnwritableCase{"ReadOnlySettingsFile",
                       [](CliSandbox& sandbox) {
                           sandbox.WriteLoginSettings("TovrikDemo", "", "");
                           std::filesystem::permissions(
                               sandbox.SettingsFolder() + "/TachoGraph.int",
                               std::filesystem::perms::owner_read);
                       },
                       "設定ファイル <documents>/TachographIni/TachoGraph.int は読み取り専用です"}),
    RowName{});

// Settings that name no data source, with the demo's ODBC files: one connection box naming the
// setting, status 2, and the driver manager is never asked. It used to hand the empty name to the
// demo's SQLite driver, which created a database file named after the connection text in the
// current folder, and to create a user data source file.
struct NoDataSourceCase {
    const char* Name;
    std::string Settings;  // the whole settings file
};

void PrintTo(const NoDataSourceCase& row, std::ostream* out) { *out << row.Name; }

class CliNoDataSource : public testing::TestWithParam<NoDataSourceCase> {};

TEST_P(CliNoDataSource, IsAStartUpFailureNamingTheSettingAndCreatesNothing) {
    CliSandbox sandbox;
    sandbox.UseDemoOdbcFiles();
    std::filesystem::create_directories(sandbox.SettingsFolder());
    const std::string settingsFile = sandbox.SettingsFolder() + "/TachoGraph.int";
    WriteFile(settingsFile, GetParam().Settings);

    const CliResult result = sandbox.Run({"--from", "2019/04", "--to", "2019/04"});

    EXPECT_EQ(result.Status, 2);
    EXPECT_EQ(result.Out, "");
    EXPECT_EQ(result.Err, "DB接続エラー: データベースに接続できません\n設定ファイル " +
                              NativeSeparators(settingsFile) +
                              " の [AllUser\\ZuzurodeZoz\\Login] に DSN (ODBC データソース名) "
                              "がありません\n");
    EXPECT_TRUE(std::filesystem::is_empty(sandbox.WorkFolder()));
    EXPECT_FALSE(std::filesystem::exists(sandbox.Dir().Path() / "odbc" / "user-odbc.ini"));
}

const std::string kMigrated = "[AllUser\\\\]\r\nCopyFlg=1\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cli, CliNoDataSource,
    testing::Values(NoDataSourceCase{"EmptyDsn",
                                     kMigrated + "[AllUser\\ZuzurodeZoz\\Login]\r\nDSN=\r\n"},
                    NoDataSourceCase{"NoLoginSection", kMigrated},
                    NoDataSourceCase{"GarbageFile", std::string("\x01\xfe\xff\x00=[\x80]\n", 9)}),
    RowName{});

}  // namespace
}  // namespace tovrik::test
