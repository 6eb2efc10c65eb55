#include "startup/db_login.h"

#include <cstdint>
#include <optional>
#include <string>

#include "settings/ini_settings.h"
#include "settings/setting_numbers.h"
#include "startup/program_settings.h"

namespace tovrik {

namespace {

constexpr char kApplication[] = "ZuzurodeZoz";
constexpr char kLoginSection[] = "Login";

// The port as a 32-bit integer: any number the text spells (blanks around it allowed), halves
// rounded to even; nothing for empty text, text that is no number, or a value out of range.
std::optional<std::int32_t> PortNumber(const std::string& text) {
    const std::optional<double> number = NumberFromText(text);
    if (!number) return std::nullopt;
    const double rounded = RoundHalfEven(*number);
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) return std::nullopt;
    return static_cast<std::int32_t>(rounded);
}

std::string LoginSetting(const StartState& state, const char* key) {
    return GetIniSetting(state.Settings, kApplication, kLoginSection, key, "");
}

// "設定ファイル <path> の [AllUser\ZuzurodeZoz\Login]".
std::string LoginSectionText(const StartState& state) {
    return "設定ファイル " + state.Settings.FilePath() + " の [" + state.Settings.SettingsUser +
           "\\" + kApplication + "\\" + kLoginSection + "]";
}

}  // namespace

void LoadDbLoginSettings(StartState& state) {
    DbLoginRecord& login = state.DbLogin;
    if (state.ServerFileMode) {
        login.Server = "tcp:" + state.ServerFileHost;
        const std::optional<std::int32_t> port = PortNumber(state.ServerFilePort);
        // A port that does not convert ends the routine quietly: the fields not yet assigned
        // keep their values and start-up goes on to open the connection with what is there.
        if (!port) return;
        if (*port > 0) login.Server.append(",").append(std::to_string(*port));
        login.Database = state.ServerFileDbName;
    } else {
        login.Server = LoginSetting(state, "DSN");
        login.Database = LoginSetting(state, "DBN");
    }
    login.UserId = LoginSetting(state, "UID");
    login.Password = LoginSetting(state, "PWD");
}

std::string MissingLoginSetting(const StartState& state, const std::string& programFolder) {
    if (state.ServerFileMode) {
        if (!state.ServerFileHost.empty()) return {};
        return "サーバー設定ファイル " + ServerFilePath(programFolder) +
               " の [Data] に Data01 (サーバー名) がありません";
    }
    if (!state.DbLogin.Server.empty()) return {};
    return LoginSectionText(state) + " に DSN (ODBC データソース名) がありません";
}

std::string DescribeLoginSource(const StartState& state, const std::string& programFolder) {
    const bool server = state.ServerFileMode;
    std::string text =
        (server ? "接続先: サーバー " : "接続先: データソース ") + state.DbLogin.Server;
    if (!state.DbLogin.Database.empty()) text += " データベース " + state.DbLogin.Database;
    if (server) return text + " (サーバー設定ファイル " + ServerFilePath(programFolder) + ")";
    return text + " (" + LoginSectionText(state) + " の DSN)";
}

std::string DescribeConnectionRoute(const StartState& state, const ConnectionRoute& route,
                                    bool connected) {
    if (!route.Advice.empty()) return route.Advice;
    if (route.Driver32.empty()) return {};
    return "32 ビット側のデータソース " + state.DbLogin.Server + " の設定で" +
           (connected ? "接続しました" : "も接続できません") + " (ドライバー " + route.Driver32 +
           ")";
}

}  // namespace tovrik
