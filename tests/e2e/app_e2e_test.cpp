// The real `tovrik` program, started as an operator would, on a demo environment of its own:
// a SQLite suite database behind a project-local ODBC data source, "public" pointing at a
// temporary folder with the suite's settings file, and a private runtime folder for the lock.

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "database/odbc.h"
#include "sampledata/sample_data.h"
#include "settings/ini_settings.h"
#include "support/test_support.h"

extern char** environ;

namespace tovrik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr uid_t kNobody = 65534;
constexpr auto kStartTimeout = 60s;

const std::string kPermissionEcho =
    "tovrik: Tovrik: 運行解析の設定書込み権限がありません。\n\n"
    "Windowsログインユーザーの権限を確認してください。\n\n"
    "運行解析を終了します。[OK] を押してください。\n";

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// One started copy of the program. A copy still running at the end of the test is killed.
class AppProcess {
public:
    AppProcess(std::string program, std::vector<std::string> arguments,
               const std::map<std::string, std::string>& environment, const fs::path& workDir,
               const fs::path& output, std::optional<uid_t> runAs = std::nullopt) {
        std::vector<std::string> entries;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text(*entry);
            if (!environment.contains(text.substr(0, text.find('=')))) entries.push_back(text);
        }
        for (const auto& [name, value] : environment) entries.push_back(name + "=" + value);
        std::vector<char*> envp;
        for (auto& entry : entries) envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::vector<char*> argv{program.data()};
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);

        pid_ = fork();
        if (pid_ != 0) return;
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out < 0 || chdir(workDir.c_str()) != 0) _exit(126);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        if (runAs && (setgroups(0, nullptr) != 0 || setgid(*runAs) != 0 || setuid(*runAs) != 0)) {
            _exit(126);
        }
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    ~AppProcess() {
        if (!exitCode_ && pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    void Signal(int signal) const { kill(pid_, signal); }

    bool Running() {
        if (exitCode_) return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    // The exit status (128 + signal for a copy that was killed), or nothing while it runs on.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout) {
        WaitUntil([this] { return !Running(); }, timeout);
        return exitCode_;
    }

    // True when the process holds `file` open (the database connection of the SQLite driver).
    bool HoldsOpen(const fs::path& file) const {
        std::error_code error;
        for (const auto& fd :
             fs::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", error)) {
            std::error_code ignored;
            if (fs::read_symlink(fd.path(), ignored) == file) return true;
        }
        return false;
    }

private:
    pid_t pid_ = -1;
    std::optional<int> exitCode_;
};

// A private X server on the first free display (scripts/xvfb-test-server), ended with this object.
class PrivateXServer {
public:
    PrivateXServer(const fs::path& folder, const std::string& screen)
        : script_(test::SourcePath("scripts/xvfb-test-server")), folder_(folder) {
        const std::string command =
            Quoted(script_) + " start " + Quoted(folder_) + " -screen 0 " + screen;
        FILE* out = popen(command.c_str(), "r");
        if (out == nullptr) return;
        std::array<char, 64> line{};
        if (fgets(line.data(), static_cast<int>(line.size()), out) != nullptr) {
            display_ = line.data();
            if (!display_.empty() && display_.back() == '\n') display_.pop_back();
        }
        if (pclose(out) != 0) display_.clear();
    }
    ~PrivateXServer() {
        const std::string command = Quoted(script_) + " stop " + Quoted(folder_);
        if (std::system(command.c_str()) != 0) ADD_FAILURE() << command;
    }
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    // ":N", or empty when the server did not start (the script said why on standard error).
    const std::string& Display() const { return display_; }

private:
    static std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

    fs::path script_;
    fs::path folder_;
    std::string display_;
};

// A demo environment in a temporary folder, readable by every user (for the copy that runs
// without root rights).
class AppEndToEndTest : public testing::Test {
protected:
    AppEndToEndTest() {
        fs::permissions(Root(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
        for (const fs::path& folder : {SettingsFolder(), OdbcFolder(), WorkFolder(), RunFolder(),
                                       Root() / "home", Root() / "wine"}) {
            fs::create_directories(folder);
        }
        fs::permissions(RunFolder(), fs::perms::owner_all);
        fs::copy_file(TOVRIK_ODBCINST_PATH, OdbcFolder() / "odbcinst.ini");
        WriteFile(OdbcFolder() / "odbc.ini",
                  "[TovrikE2E]\nDriver=SQLite3\nDatabase=" + Database().string() +
                      "\n\n[TovrikMissing]\nDriver=SQLite3\nDatabase=" +
                      MissingDatabase().string() + "\nNoCreat=1\n");
        WriteSettings("TovrikE2E");
        CreateDemoDatabase();
    }

    fs::path Root() const { return temp_.Path(); }
    fs::path PublicFolder() const { return Root() / "public"; }
    fs::path SettingsFolder() const { return PublicFolder() / "Documents" / "TachographIni"; }
    fs::path SettingsFile() const { return SettingsFolder() / "TachoGraph.int"; }
    fs::path OdbcFolder() const { return Root() / "odbc"; }
    fs::path WorkFolder() const { return Root() / "work"; }
    fs::path RunFolder() const { return Root() / "run"; }
    fs::path Database() const { return Root() / "suite.db"; }
    fs::path MissingDatabase() const { return Root() / "missing.db"; }

    void WriteSettings(const std::string& dsn) {
        WriteFile(SettingsFile(), "[AllUser\\ZuzurodeZoz\\Login]\r\nDSN=" + dsn + "\r\n");
    }

    void CreateDemoDatabase() {
        db::Connection connection;
        connection.Open("Driver=SQLite3;Database=" + Database().string() + ";");
        sampledata::CreateSuiteSchema(connection);
        sampledata::SampleSpec spec;
        spec.Affected = 3;
        spec.Unaffected = 2;
        sampledata::FillSampleData(connection, spec);
    }

    std::unique_ptr<AppProcess> Start(std::optional<uid_t> runAs = std::nullopt,
                                      const std::string& display = "") {
        std::map<std::string, std::string> environment = {
            {"public", PublicFolder().string()},        {"USERNAME", "operator"},
            {"ODBCSYSINI", OdbcFolder().string()},      {"XDG_RUNTIME_DIR", RunFolder().string()},
            {"WINEPREFIX", (Root() / "wine").string()}, {"HOME", (Root() / "home").string()},
            {"QT_QPA_PLATFORM", "offscreen"},           {"LANG", "C.UTF-8"},
        };
        if (!display.empty()) {
            environment["QT_QPA_PLATFORM"] = "xcb";
            environment["DISPLAY"] = display;
        }
        return std::make_unique<AppProcess>(TOVRIK_APP_PATH, std::vector<std::string>{},
                                            environment, WorkFolder(), Output(), runAs);
    }

    fs::path Output() const { return Root() / "output.txt"; }
    std::string OutputText() const { return ReadFile(Output()); }
    // The program's own lines: the texts of the message boxes it showed (Qt's platform plugin
    // may add warnings of its own to the output).
    int BoxesShown() const {
        int count = 0;
        const std::string text = OutputText();
        for (auto at = text.find("tovrik: "); at != std::string::npos;
             at = text.find("tovrik: ", at + 1)) {
            ++count;
        }
        return count;
    }

    // Started, connected, and still running: the window is up.
    void ExpectWindowOpen(AppProcess& app) {
        ASSERT_TRUE(
            WaitUntil([&] { return app.HoldsOpen(Database()) || !app.Running(); }, kStartTimeout));
        ASSERT_TRUE(app.Running()) << OutputText();
        std::this_thread::sleep_for(300ms);
        ASSERT_TRUE(app.Running()) << OutputText();
    }

    void ExpectEndsOnTerm(AppProcess& app, int exitCode) {
        app.Signal(SIGTERM);
        EXPECT_EQ(app.WaitForExit(kStartTimeout), exitCode) << OutputText();
    }

    TempDir temp_;
};

TEST_F(AppEndToEndTest, OpensTheWindowOnTheDemoDatabase) {
    auto app = Start();

    ExpectWindowOpen(*app);
    const std::string settings = ReadFile(SettingsFile());
    EXPECT_NE(settings.find("CopyFlg=1"), std::string::npos) << settings;
    EXPECT_NE(settings.find("TachographIni=True"), std::string::npos) << settings;
    EXPECT_EQ(ReadProfileString(SettingsFile().string(), "AllUser\\ZuzurodeZoz\\Login", "TEST",
                                "missing"),
              "missing")
        << "the write test clears its value";
    ExpectEndsOnTerm(*app, 0);

    EXPECT_EQ(BoxesShown(), 0) << OutputText();
    EXPECT_TRUE(fs::is_empty(WorkFolder()));
    std::vector<std::string> settingsFolder;
    for (const auto& entry : fs::directory_iterator(SettingsFolder())) {
        settingsFolder.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(settingsFolder, std::vector<std::string>{"TachoGraph.int"});
}

// The window itself, seen by the X server: a private Xvfb and the server's own window list.
TEST_F(AppEndToEndTest, ShowsTheMainWindowOnAnXServer) {
    if (!fs::exists("/usr/bin/Xvfb") || !fs::exists("/usr/bin/xwininfo")) {
        GTEST_SKIP() << "needs Xvfb and xwininfo";
    }
    const PrivateXServer xvfb(Root() / "xvfb", "640x480x24");
    const std::string& display = xvfb.Display();
    ASSERT_FALSE(display.empty()) << "see the messages of xvfb-test-server above";
    auto app = Start(std::nullopt, display);
    ExpectWindowOpen(*app);

    std::string windows;
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::string list = Root().string() + "/windows.txt";
            const std::string command =
                "xwininfo -root -tree -display " + display + " > " + list + " 2>&1";
            if (std::system(command.c_str()) != 0) return false;
            windows = ReadFile(list);
            return windows.find("\"Nuvral日付修正\"") != std::string::npos;
        },
        kStartTimeout))
        << windows << OutputText();
    ExpectEndsOnTerm(*app, 0);
}

TEST_F(AppEndToEndTest, ReadOnlySettingsFolderGivesThePermissionMessageOnly) {
    // The data source's file must not come into being: the database is never opened.
    WriteSettings("TovrikMissing");
    fs::permissions(SettingsFile(),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(SettingsFolder(), fs::perms::owner_read | fs::perms::owner_exec |
                                          fs::perms::group_read | fs::perms::group_exec |
                                          fs::perms::others_read | fs::perms::others_exec);
    // Root writes read-only files: run the program as an ordinary user then.
    std::optional<uid_t> runAs;
    if (geteuid() == 0) {
        runAs = kNobody;
        fs::permissions(RunFolder(), fs::perms::all);
        fs::permissions(Root() / "home", fs::perms::all);
    }
    const std::string before = ReadFile(SettingsFile());

    auto app = Start(runAs);

    // The box is modal: it waits for OK, so the text is seen on standard error first.
    ASSERT_TRUE(WaitUntil(
        [&] { return OutputText().find(kPermissionEcho) != std::string::npos || !app->Running(); },
        kStartTimeout))
        << OutputText();
    ASSERT_TRUE(app->Running()) << OutputText();
    ExpectEndsOnTerm(*app, 1);
    EXPECT_EQ(BoxesShown(), 1) << OutputText();
    EXPECT_FALSE(fs::exists(MissingDatabase()));
    EXPECT_EQ(ReadFile(SettingsFile()), before);
}

TEST_F(AppEndToEndTest, UnknownDataSourceShowsTheDriversBoxThenTheConnectionBox) {
    WriteSettings("NoSuchDataSource");

    auto app = Start();

    ASSERT_TRUE(WaitUntil(
        [&] { return OutputText().find("DB接続エラー") != std::string::npos || !app->Running(); },
        kStartTimeout))
        << OutputText();
    ExpectEndsOnTerm(*app, 1);
    const std::string output = OutputText();
    const std::string line = "tovrik: DB接続エラー: データベースに接続できません\n";
    // First the driver's box with its description on the next line, then the plain one.
    ASSERT_EQ(BoxesShown(), 2) << output;
    const auto driverBox = output.find(line);
    const auto connectionBox = output.rfind("tovrik: ");
    ASSERT_NE(driverBox, std::string::npos) << output;
    EXPECT_LT(driverBox, connectionBox) << output;
    EXPECT_NE(output.find("Data source name not found", driverBox), std::string::npos) << output;
    EXPECT_EQ(output.compare(connectionBox, line.size(), line), 0) << output;
}

TEST_F(AppEndToEndTest, SecondCopyEndsSilentlyWhileTheFirstRuns) {
    auto first = Start();
    ExpectWindowOpen(*first);

    auto second = Start();

    EXPECT_EQ(second->WaitForExit(kStartTimeout), 0);
    EXPECT_EQ(BoxesShown(), 0) << OutputText();
    EXPECT_TRUE(first->Running());
    ExpectEndsOnTerm(*first, 0);
}

TEST_F(AppEndToEndTest, KilledCopyDoesNotBlockTheNextStart) {
    auto first = Start();
    ExpectWindowOpen(*first);
    first->Signal(SIGKILL);
    ASSERT_EQ(first->WaitForExit(kStartTimeout), 128 + SIGKILL);

    auto second = Start();

    ExpectWindowOpen(*second);
    ExpectEndsOnTerm(*second, 0);
}

}  // namespace
}  // namespace tovrik
