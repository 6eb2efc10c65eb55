#include "startup/journal_setup.h"

#include "platform/platform.h"

namespace tovrik {

std::optional<JournalSetup> JournalSetupOf(const StartState& state) {
    if (state.Settings.SettingsFolder.empty()) return std::nullopt;
    JournalSetup setup;
    setup.Folder = state.Settings.SettingsFolder + kPathSeparator + kJournalFolderName;
    setup.User = state.JournalUser;
    setup.Machine = state.JournalMachine;
    setup.DataSource = state.DbLogin.Server;
    setup.Database = state.DbLogin.Database;
    return setup;
}

}  // namespace tovrik
