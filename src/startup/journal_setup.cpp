#include "startup/journal_setup.h"

#include "platform/platform.h"

namespace tovrik {

std::optional<JournalSetup> JournalSetupOf(const StartState& state) {
    if (state.Settings.SettingsFolder.empty()) return std::nullopt;
    JournalSetup setup;
    setup.Folder = state.Settings.SettingsFolder + kPathSeparator + kJournalFolderName;
    setup.User = state.Settings.LoginUserName;
    const ProcessEnvironment environment;
    for (const char* name : {"USER", "LOGNAME"}) {
        if (!setup.User.empty()) break;
        setup.User = environment.Get(name).value_or("");
    }
    if (setup.User.empty()) setup.User = ProcessUserName();
    setup.Machine = MachineName();
    setup.DataSource = state.DbLogin.Server;
    setup.Database = state.DbLogin.Database;
    return setup;
}

}  // namespace tovrik
