#include "startup/startup_sequence.h"

#include <cstdio>
#include <exception>

#include "settings/ini_settings.h"
#include "settings/registry_migration.h"
#include "settings/settings_folder.h"
#include "startup/db_login.h"
#include "startup/program_settings.h"

namespace tovrik {

namespace {

constexpr const char* kProgramTitle = "Tovrik";
constexpr const char* kConnectionMessage = "データベースに接続できません";
constexpr const char* kConnectionCaption = "DB接続エラー";

// Three sentences joined by lone carriage returns, as the suite's other programs show it.
const std::string kPermissionMessage =
    std::string("運行解析の設定書込み権限がありません。") + "\r\r" +
    "Windowsログインユーザーの権限を確認してください。" + "\r\r" +
    "運行解析を終了します。[OK] を押してください。" + "\r";

std::string FormatStamp(const DateTime& now) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", now.Hour, now.Minute, now.Second);
    return text;
}

// The folder below the shared public profile, or below the machine-wide application-data
// folder when "public" is empty. The value is joined unchanged: a trailing separator stays.
std::string ResolveSettingsFolder(StartupServices& services) {
    constexpr char sep = kPathSeparator;
    const std::string publicFolder = services.Env.Get("public").value_or("");
    if (!publicFolder.empty()) {
        return publicFolder + sep + "Documents" + sep + "TachographIni";
    }
    return services.CommonAppDataFolder() + sep + "TachographIni";
}

// The user the journals name: the Windows user, else (where USERNAME is not set, as on Linux)
// USER, LOGNAME or the account the process runs as.
std::string JournalUserOf(const std::string& loginUserName, const StartupServices& services) {
    if (!loginUserName.empty()) return loginUserName;
    for (const char* name : {"USER", "LOGNAME"}) {
        std::string value = services.Env.Get(name).value_or("");
        if (!value.empty()) return value;
    }
    return services.Account;
}

// Writes the current time under Login\TEST, reads it back and clears it again. True when the
// value read back is exactly the value written.
bool SettingsFileWritable(const SettingsContext& settings, const Clock& clock) {
    const std::string stamp = FormatStamp(clock.Now());
    SaveIniSetting(settings, "ZuzurodeZoz", "Login", "TEST", stamp);
    const std::string readBack = GetIniSetting(settings, "ZuzurodeZoz", "Login", "TEST", "");
    SaveIniSetting(settings, "ZuzurodeZoz", "Login", "TEST", "");
    return readBack == stamp;
}

// `step` says what is being done, and on which file, for the error handler's log line.
StartupOutcome RunSteps(StartState& state, StartupServices& services, std::string& step) {
    state.AllUsersMode = true;
    SettingsContext& settings = state.Settings;
    settings.LoginUserName = services.Env.Get("USERNAME").value_or("");
    state.JournalUser = JournalUserOf(settings.LoginUserName, services);
    state.JournalMachine = services.Machine;
    settings.SettingsUser = "AllUser";

    settings.SettingsFolder = ResolveSettingsFolder(services);
    EnsureFolder(settings.SettingsFolder);
    settings.SettingsFile = "TachoGraph.int";

    step = "レジストリの設定を設定ファイル " + settings.FilePath() + " に移せません";
    MigrateRegistrySettings(settings, services.Registry);

    step = "設定ファイル " + settings.FilePath() + " を確かめられません";
    if (!SettingsFileWritable(settings, services.Now)) {
        state.FailureDetail =
            DescribeUnwritableSettings(settings.SettingsFolder, settings.FilePath());
        services.Boxes.Show(kPermissionMessage, kProgramTitle, MessageIcon::None);
        if (services.ProcessEvents) services.ProcessEvents();
        return StartupOutcome::PermissionDenied;
    }

    // After the permission test on purpose: a second copy still proves the file writable.
    if (services.Instance.AnotherInstanceRunning()) return StartupOutcome::PreviousInstance;

    step = "サーバー設定ファイル " + ServerFilePath(services.ProgramFolder) + " を読めません";
    LoadProgramSettings(state, services.ProgramFolder);
    step = "接続の設定を読めません";
    LoadDbLoginSettings(state);

    // Never handed to the driver manager: an empty data source name can still reach a driver
    // there (unixODBC chose the demo's only one), and SQLite's then creates a database file
    // named after the whole connection text in the current folder.
    const std::string missing = MissingLoginSetting(state, services.ProgramFolder);
    if (!missing.empty()) {
        services.Boxes.Show(kConnectionMessage + ("\n" + missing), kConnectionCaption,
                            MessageIcon::Exclamation);
        return StartupOutcome::LoginMissing;
    }

    step = "データベースに接続できません";
    ConnectionRoute route;
    if (services.Open(state.DbConnection, state.DbLogin, state.ServerFileMode, services.Boxes,
                      route) != 0) {
        state.FailureDetail = DescribeLoginSource(state, services.ProgramFolder);
        const std::string why = DescribeConnectionRoute(state, route, false);
        if (!why.empty()) state.FailureDetail += ": " + why;
        services.Boxes.Show(kConnectionMessage, kConnectionCaption, MessageIcon::Exclamation);
        return StartupOutcome::ConnectionFailed;
    }
    state.ConnectionNote = DescribeConnectionRoute(state, route, true);
    return StartupOutcome::Ready;
}

}  // namespace

StartupOutcome Main(StartState& state, StartupServices& services) {
    // The start-up error handler: whatever escapes a step is reported like a failed connection.
    std::string step = "起動できません";
    try {
        return RunSteps(state, services, step);
    } catch (const std::exception& error) {
        state.FailureDetail = step + ": " + error.what();
    } catch (...) {
        state.FailureDetail = step;
    }
    services.Boxes.Show(kConnectionMessage, kConnectionCaption, MessageIcon::Exclamation);
    return StartupOutcome::Error;
}

}  // namespace tovrik
