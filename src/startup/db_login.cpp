#include "startup/db_login.h"

#include <cstdint>
#include <optional>
#include <string>

#include "settings/ini_settings.h"
#include "settings/setting_numbers.h"

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

}  // namespace tovrik
