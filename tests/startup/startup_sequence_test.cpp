#include "startup/startup_sequence.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "settings/ini_settings.h"
#include "startup/journal_setup.h"
#include "support/test_support.h"

namespace tovrik {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kPermissionMessage =
    "運行解析の設定書込み権限がありません。\r\r"
    "Windowsログインユーザーの権限を確認してください。\r\r"
    "運行解析を終了します。[OK] を押してください。\r";

class FakeEnvironment final : public Environment {
public:
    std::map<std::string, std::string> Values;
    std::optional<std::string> Get(const std::string& name) const override {
        const auto found = Values.find(name);
        if (found == Values.end()) return std::nullopt;
        return found->second;
    }
};

class FakeClock final : public Clock {
public:
    DateTime Value{2024, 5, 6, 9, 5, 3, 0};
    DateTime Now() const override { return Value; }
};

class FakeInstanceGuard final : public InstanceGuard {
public:
    bool Running = false;
    int Asked = 0;
    bool AnotherInstanceRunning() override {
        ++Asked;
        return Running;
    }
};

// Holds the values of "Software\VB and VBA Program Settings\<app>\<section>" of one user.
class FakeRegistry final : public RegistrySource {
public:
    std::map<std::string, std::map<std::string, std::map<std::string, std::string>>> Apps;
    int Calls = 0;

    std::optional<std::vector<std::string>> EnumKey(const std::string& keyPath) override {
        ++Calls;
        const auto app = Apps.find(AppOf(keyPath));
        if (app == Apps.end()) return std::nullopt;
        std::vector<std::string> names;
        for (const auto& section : app->second) names.push_back(section.first);
        return names;
    }
    std::optional<std::vector<std::string>> EnumValues(const std::string& keyPath) override {
        ++Calls;
        const auto slash = keyPath.rfind('\\');
        const auto app = Apps.find(AppOf(keyPath.substr(0, slash)));
        if (app == Apps.end()) return std::nullopt;
        const auto section = app->second.find(keyPath.substr(slash + 1));
        if (section == app->second.end()) return std::nullopt;
        std::vector<std::string> names;
        for (const auto& value : section->second) names.push_back(value.first);
        return names;
    }
    std::string GetSetting(const std::string& application, const std::string& section,
                           const std::string& key, const std::string& defaultValue) override {
        ++Calls;
        try {
            return Apps.at(application).at(section).at(key);
        } catch (const std::out_of_range&) {
            return defaultValue;
        }
    }

private:
    static std::string AppOf(const std::string& keyPath) {
        return keyPath.substr(keyPath.rfind('\\') + 1);
    }
};

struct ShownBox {
    std::string Text;
    std::string Caption;
    MessageIcon Icon;
};

class RecordingBoxes final : public MessageBoxes {
public:
    std::vector<ShownBox> Shown;
    void Show(const std::string& text, const std::string& caption, MessageIcon icon) override {
        Shown.push_back({text, caption, icon});
    }
};

// Everything Main talks to, with a real settings file in a temporary folder: "public" points
// at `Root()/public`, whose Documents folder exists, so the settings folder can be created.
class StartupTest : public testing::Test {
protected:
    StartupTest() {
        fs::create_directories(PublicFolder() / "Documents");
        fs::create_directories(CommonFolder());
        environment_.Values["public"] = PublicFolder().string();
        environment_.Values["USERNAME"] = "taro";
    }

    fs::path Root() const { return temp_.Path(); }
    fs::path PublicFolder() const { return Root() / "public"; }
    fs::path CommonFolder() const { return Root() / "common"; }
    fs::path SettingsFolder() const { return PublicFolder() / "Documents" / "TachographIni"; }
    fs::path SettingsFile() const { return SettingsFolder() / "TachoGraph.int"; }

    // A settings file that already went through the migration and names a data source.
    void WriteMigratedSettings(const std::string& copyMarker = "1") {
        fs::create_directories(SettingsFolder());
        WriteFile(SettingsFile(), "[AllUser\\\\]\r\nCopyFlg=" + copyMarker +
                                      "\r\n[AllUser\\ZuzurodeZoz\\Login]\r\nDSN=Demo\r\n"
                                      "DBN=SuiteDb\r\nUID=sa\r\nPWD=secret\r\n");
    }

    StartupOutcome RunMain() {
        StartupServices services{
            environment_, clock_,       guard_, registry_, boxes_, (Root() / "program").string(),
            "SUITE-PC",   "svc-tovrik", {},     {},        {}};
        services.CommonAppDataFolder = [this] { return CommonFolder().string(); };
        services.ProcessEvents = [this] { ++processEventsCalls_; };
        services.Open = [this](std::unique_ptr<db::Connection>&, const DbLoginRecord& login,
                               bool serverFileMode, MessageBoxes& boxes, ConnectionRoute&) {
            openedWith_ = login;
            openedServerFileMode_ = serverFileMode;
            if (openStatus_ != 0 && driverMessage_) {
                boxes.Show(*driverMessage_, "DB接続エラー", MessageIcon::Critical);
            }
            return openStatus_;
        };
        return Main(state_, services);
    }

    // `count` boxes were shown, the last one the plain connection box.
    void ExpectConnectionBoxLast(std::size_t count = 1) const {
        ASSERT_EQ(boxes_.Shown.size(), count);
        EXPECT_EQ(boxes_.Shown.back().Text, "データベースに接続できません");
        EXPECT_EQ(boxes_.Shown.back().Caption, "DB接続エラー");
        EXPECT_EQ(boxes_.Shown.back().Icon, MessageIcon::Exclamation);
    }

    std::string SettingsText() const { return ReadFile(SettingsFile()); }

    TempDir temp_;
    FakeEnvironment environment_;
    FakeClock clock_;
    FakeInstanceGuard guard_;
    FakeRegistry registry_;
    RecordingBoxes boxes_;
    StartState state_;
    int processEventsCalls_ = 0;
    int openStatus_ = 0;
    std::optional<std::string> driverMessage_;
    std::optional<DbLoginRecord> openedWith_;
    bool openedServerFileMode_ = true;
};

TEST_F(StartupTest, OpensTheDatabaseWithTheLoginFromTheSettingsFile) {
    WriteMigratedSettings();

    EXPECT_EQ(RunMain(), StartupOutcome::Ready);

    EXPECT_TRUE(boxes_.Shown.empty());
    ASSERT_TRUE(openedWith_.has_value());
    EXPECT_EQ(openedWith_->Server, "Demo");
    EXPECT_EQ(openedWith_->Database, "SuiteDb");
    EXPECT_EQ(openedWith_->UserId, "sa");
    EXPECT_EQ(openedWith_->Password, "secret");
    EXPECT_FALSE(openedServerFileMode_);
    EXPECT_TRUE(state_.AllUsersMode);
    EXPECT_EQ(state_.Settings.LoginUserName, "taro");
    EXPECT_EQ(state_.Settings.SettingsUser, "AllUser");
    EXPECT_EQ(state_.Settings.SettingsFile, "TachoGraph.int");
    EXPECT_EQ(guard_.Asked, 1);
    EXPECT_EQ(registry_.Calls, 0) << "the copy marker says the registry was copied";
    EXPECT_EQ(processEventsCalls_, 0);
    // The write test's value was cleared again: the key stays, empty.
    EXPECT_NE(SettingsText().find("TEST="), std::string::npos);
    EXPECT_EQ(GetIniSetting(state_.Settings, "ZuzurodeZoz", "Login", "TEST", "none"), "none");
}

TEST_F(StartupTest, FirstStartCopiesTheRegistryLoginAndOpensWithIt) {
    registry_.Apps["ZuzurodeZoz"]["Login"] = {{"DSN", "FromRegistry"}, {"UID", "ops"}};

    EXPECT_EQ(RunMain(), StartupOutcome::Ready);

    ASSERT_TRUE(openedWith_.has_value());
    EXPECT_EQ(openedWith_->Server, "FromRegistry");
    EXPECT_EQ(openedWith_->UserId, "ops");
    EXPECT_TRUE(fs::is_directory(SettingsFolder()));
    EXPECT_EQ(GetIniSetting(state_.Settings, "", "", "CopyFlg", ""), "1");
    EXPECT_EQ(ReadProfileString(SettingsFile().string(), "Config", "TachographIni", ""), "True");
}

TEST_F(StartupTest, UnwritableSettingsFolderShowsThePermissionMessageAndStops) {
    // "public" without a Documents folder: the settings folder cannot be created (one level
    // only), so nothing can be written whatever the process may do.
    environment_.Values["public"] = (Root() / "no-documents").string();

    EXPECT_EQ(RunMain(), StartupOutcome::PermissionDenied);

    ASSERT_EQ(boxes_.Shown.size(), 1u);
    EXPECT_EQ(boxes_.Shown[0].Text, kPermissionMessage);
    EXPECT_EQ(boxes_.Shown[0].Caption, "Tovrik");
    EXPECT_EQ(boxes_.Shown[0].Icon, MessageIcon::None);
    EXPECT_EQ(processEventsCalls_, 1);
    EXPECT_EQ(guard_.Asked, 0);
    EXPECT_FALSE(openedWith_.has_value());
    EXPECT_FALSE(fs::exists(Root() / "no-documents"));
}

TEST_F(StartupTest, SecondCopyEndsSilentlyAfterThePermissionTest) {
    guard_.Running = true;

    EXPECT_EQ(RunMain(), StartupOutcome::PreviousInstance);

    EXPECT_TRUE(boxes_.Shown.empty());
    EXPECT_FALSE(openedWith_.has_value());
    EXPECT_EQ(processEventsCalls_, 0);
    // Folder, migration and the write test have run before the guard was asked.
    EXPECT_EQ(GetIniSetting(state_.Settings, "", "", "CopyFlg", ""), "1");
    EXPECT_NE(SettingsText().find("TEST="), std::string::npos);
}

TEST_F(StartupTest, FailedConnectionShowsTheBoxAfterTheDriversOwn) {
    WriteMigratedSettings();
    openStatus_ = 1;
    driverMessage_ = "データベースに接続できません\nno such data source";

    EXPECT_EQ(RunMain(), StartupOutcome::ConnectionFailed);

    ASSERT_NO_FATAL_FAILURE(ExpectConnectionBoxLast(2));
    EXPECT_EQ(boxes_.Shown[0].Text, *driverMessage_);
    EXPECT_EQ(boxes_.Shown[0].Icon, MessageIcon::Critical);
    EXPECT_EQ(state_.FailureDetail,
              "接続先: データソース Demo データベース SuiteDb (設定ファイル " +
                  SettingsFile().string() + " の [AllUser\\ZuzurodeZoz\\Login] の DSN)");
}

TEST_F(StartupTest, FailedConnectionWithoutDriverDiagnosticsShowsOneBox) {
    WriteMigratedSettings();
    openStatus_ = 1;

    EXPECT_EQ(RunMain(), StartupOutcome::ConnectionFailed);

    ExpectConnectionBoxLast();
}

TEST_F(StartupTest, CopyMarkerThatIsNoNumberIsReportedAsConnectionError) {
    WriteMigratedSettings("abc");

    EXPECT_EQ(RunMain(), StartupOutcome::Error);

    ExpectConnectionBoxLast();
    EXPECT_EQ(guard_.Asked, 0);
    EXPECT_FALSE(openedWith_.has_value());
    EXPECT_NE(SettingsText().find("CopyFlg=abc"), std::string::npos);
    EXPECT_EQ(state_.FailureDetail, "レジストリの設定を設定ファイル " + SettingsFile().string() +
                                        " に移せません: the registry copy marker \"abc\" is not "
                                        "a number");
}

TEST_F(StartupTest, MalformedServerFileIsReportedAsConnectionError) {
    WriteMigratedSettings();
    fs::create_directories(Root() / "program");
    // "9e9" reads as a number far outside 16 bits.
    WriteFile(Root() / "program" / "NUVRALsv.ini", "[Data]\r\nData01=9e9\r\n");

    EXPECT_EQ(RunMain(), StartupOutcome::Error);

    ExpectConnectionBoxLast();
    EXPECT_FALSE(openedWith_.has_value());
    EXPECT_TRUE(state_.ServerFileMode);
    EXPECT_EQ(state_.FailureDetail.rfind("サーバー設定ファイル " +
                                             (Root() / "program" / "NUVRALsv.ini").string() +
                                             " を読めません: ",
                                         0),
              0u)
        << state_.FailureDetail;
}

// A server file without a host: "tcp:,<port>" would reach the driver. The one connection box
// names the missing value instead, and nothing is opened. (The settings file without a data source
// name is the same way out; the command-line tests cover it.)
TEST_F(StartupTest, ServerFileWithoutHostShowsTheConnectionBoxNamingItAndNeverOpens) {
    WriteMigratedSettings();
    fs::create_directories(Root() / "program");
    WriteFile(Root() / "program" / "NUVRALsv.ini", "[Data]\r\nData01=\r\nData02=050054054055\r\n");

    EXPECT_EQ(RunMain(), StartupOutcome::LoginMissing);

    EXPECT_FALSE(openedWith_.has_value());
    ASSERT_EQ(boxes_.Shown.size(), 1u);
    EXPECT_EQ(boxes_.Shown[0].Text, "データベースに接続できません\nサーバー設定ファイル " +
                                        (Root() / "program" / "NUVRALsv.ini").string() +
                                        " の [Data] に Data01 (サーバー名) がありません");
    EXPECT_EQ(boxes_.Shown[0].Caption, "DB接続エラー");
    EXPECT_EQ(boxes_.Shown[0].Icon, MessageIcon::Exclamation);
}

TEST_F(StartupTest, MissingUserNameLeavesLoginUserNameEmpty) {
    environment_.Values.erase("USERNAME");
    WriteMigratedSettings();

    EXPECT_EQ(RunMain(), StartupOutcome::Ready);

    EXPECT_EQ(state_.Settings.LoginUserName, "");
    EXPECT_EQ(state_.Settings.SettingsUser, "AllUser");
}

// Who the journals name as the user, from the environment variables set (all others unset).
struct JournalUserCase {
    const char* Name;
    std::map<std::string, std::string> Variables;
    std::string Expected;
};

void PrintTo(const JournalUserCase& row, std::ostream* out) { *out << row.Name; }

class JournalIdentityTest : public StartupTest,
                            public testing::WithParamInterface<JournalUserCase> {};

TEST_P(JournalIdentityTest, NamesTheWindowsUserElseTheLinuxOnesElseTheAccount) {
    environment_.Values.erase("USERNAME");
    for (const auto& [name, value] : GetParam().Variables) environment_.Values[name] = value;
    WriteMigratedSettings();

    EXPECT_EQ(RunMain(), StartupOutcome::Ready);

    const std::optional<JournalSetup> setup = JournalSetupOf(state_);
    ASSERT_TRUE(setup.has_value());
    EXPECT_EQ(setup->User, GetParam().Expected);
    EXPECT_EQ(setup->Machine, "SUITE-PC");
    EXPECT_EQ(setup->Folder, SettingsFolder().string() + kPathSeparator + "TovrikJournal");
}

INSTANTIATE_TEST_SUITE_P(
    Variables, JournalIdentityTest,
    testing::Values(JournalUserCase{"WindowsUserFirst",
                                    {{"USERNAME", "taro"}, {"USER", "root"}, {"LOGNAME", "root"}},
                                    "taro"},
                    JournalUserCase{"UserWhereUsernameIsEmpty",
                                    {{"USERNAME", ""}, {"USER", "jiro"}, {"LOGNAME", "saburo"}},
                                    "jiro"},
                    JournalUserCase{
                        "LognameWhereUserIsEmpty", {{"USER", ""}, {"LOGNAME", "saburo"}}, "saburo"},
                    JournalUserCase{"AccountWhereNoneIsSet", {}, "svc-tovrik"}),
    [](const testing::TestParamInfo<JournalUserCase>& row) { return std::string(row.param.Name); });

// Where the settings folder is built from: the value of "public" (null: not set) and the
// folder expected below the test's root folder.
struct FolderCase {
    const char* Name;
    std::optional<std::string> Public;  // relative to the root; "" stays empty
    std::string Expected;               // relative to the root
};

void PrintTo(const FolderCase& row, std::ostream* out) { *out << row.Name; }

class SettingsFolderTest : public StartupTest, public testing::WithParamInterface<FolderCase> {};

// The rows write '/'; the platform's separator is put in its place.
std::string Native(std::string path) {
    std::replace(path.begin(), path.end(), '/', kPathSeparator);
    return path;
}

TEST_P(SettingsFolderTest, ResolvesAndCreatesTheSettingsFolder) {
    const FolderCase& c = GetParam();
    const std::string root = Root().string() + kPathSeparator;
    if (c.Public) {
        environment_.Values["public"] = c.Public->empty() ? "" : root + Native(*c.Public);
    } else {
        environment_.Values.erase("public");
    }
    registry_.Apps["ZuzurodeZoz"]["Login"] = {{"DSN", "Demo"}};

    EXPECT_EQ(RunMain(), StartupOutcome::Ready);

    EXPECT_EQ(state_.Settings.SettingsFolder, root + Native(c.Expected));
    EXPECT_TRUE(fs::exists(fs::path(root + Native(c.Expected)) / "TachoGraph.int"));
}

INSTANTIATE_TEST_SUITE_P(
    Public, SettingsFolderTest,
    testing::Values(FolderCase{"Set", "public", "public/Documents/TachographIni"},
                    FolderCase{"Unset", std::nullopt, "common/TachographIni"},
                    FolderCase{"Empty", "", "common/TachographIni"},
                    FolderCase{"EndingInSeparator", "public/", "public//Documents/TachographIni"}),
    [](const testing::TestParamInfo<FolderCase>& row) { return std::string(row.param.Name); });

}  // namespace
}  // namespace tovrik
