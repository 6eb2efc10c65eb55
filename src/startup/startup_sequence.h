#pragma once

#include <functional>
#include <memory>
#include <string>

#include "common/message_box.h"
#include "database/open_database.h"
#include "platform/platform.h"
#include "settings/registry_source.h"
#include "startup/start_state.h"

namespace tovrik {

// What the start-up sequence needs from the machine; tests pass fakes.
struct StartupServices {
    const Environment& Env;
    const Clock& Now;
    InstanceGuard& Instance;
    RegistrySource& Registry;
    MessageBoxes& Boxes;
    std::string ProgramFolder;  // where "NUVRALsv.ini" is looked for
    std::string Machine;        // this machine's name (MachineName by default)
    std::string Account;        // the account this process runs as (ProcessUserName by default)
    // The machine-wide application-data folder (GetCommonAppDataFolder by default).
    std::function<std::string()> CommonAppDataFolder;
    // Lets the front end handle pending events once (after the permission box).
    std::function<void()> ProcessEvents;
    // Opens the shared connection and tells how it went there (OpenDatabase with the system's
    // 32-bit data sources by default).
    std::function<int(std::unique_ptr<db::Connection>&, const DbLoginRecord&, bool, MessageBoxes&,
                      ConnectionRoute&)>
        Open;
};

// The ways start-up ends.
enum class StartupOutcome {
    Ready,             // the connection is open: the front end shows its window
    PermissionDenied,  // the settings file could not be written; the message was shown
    PreviousInstance,  // another copy runs; nothing was shown
    LoginMissing,      // no data source name or host: the connection box named the setting
    ConnectionFailed,  // "データベースに接続できません" was shown
    Error,             // an error escaped a step; the same box was shown
};

// The start-up steps up to and including opening the database, in their fixed order. Fills
// `state` (JournalUser and JournalMachine with the settings, FailureDetail wherever a box alone
// does not name the path and the reason, ConnectionNote when the data source was reached other
// than by its name); every message is shown through services.Boxes.
StartupOutcome Main(StartState& state, StartupServices& services);

}  // namespace tovrik
