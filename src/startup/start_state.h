#pragma once

#include <memory>
#include <string>

#include "database/odbc.h"
#include "database/open_database.h"
#include "settings/ini_settings.h"

namespace tovrik {

// The values that start-up fills, in the order the start-up steps fill them, and that
// everything afterwards only reads (the window closes DbConnection when it unloads).
struct StartState {
    bool AllUsersMode = false;
    SettingsContext Settings;  // SettingsFolder, SettingsFile, SettingsUser, LoginUserName
    // Who runs and where, as the journals' headers name them: the Windows user (LoginUserName;
    // USER, LOGNAME or the process's account where that is empty), and this machine.
    std::string JournalUser;
    std::string JournalMachine;

    bool ServerFileMode = false;  // "NUVRALsv.ini" lies beside the program: hosting use
    std::string ServerFileHost;
    std::string ServerFilePort;
    std::string ServerFileDbName;

    DbLoginRecord DbLogin;
    std::unique_ptr<db::Connection> DbConnection;
    // When the data source was reached through its 32-bit registration: one line saying so,
    // for a log (the window shows nothing of it); else empty.
    std::string ConnectionNote;

    // When start-up ends without a connection: the path involved and the system's reason, one
    // line for a log (the boxes keep the suite's texts); empty when the box says it all.
    std::string FailureDetail;
};

}  // namespace tovrik
